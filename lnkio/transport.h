#pragma once
// One open device or connection, behind the link. Implemented per OS
// (transport_posix.cpp, transport_win32.cpp); the link (link.h) adds packet
// framing, the reader thread and the status tracking on top.
//
// Threads: Receive is called by the link's reader thread only; Send may run at
// the same time on other threads; Interrupt and SetFlowControl from any thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "lnkio/link_open_block.h"

namespace tw::lnkio {

class Transport {
 public:
  virtual ~Transport() = default;

  // Receive results besides a positive byte count.
  static constexpr int kNothing = 0;       // nothing arrived within the wait
  static constexpr int kDropped = -1;      // the peer closed or the device went away
  static constexpr int kInterrupted = -2;  // Interrupt was called

  // Waits up to timeoutMs (0: only looks) for bytes and stores up to `capacity`.
  virtual int Receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) = 0;
  // Sends until every byte is taken (kLnkioOk), the time-out passes
  // (kLnkioTimeout) or an error occurs; *written counts the bytes taken.
  virtual int Send(const std::uint8_t* data, std::size_t size, int timeoutMs, std::size_t* written) = 0;
  // Makes every wait in Receive and Send return at once, now and later.
  virtual void Interrupt() = 0;
  // obey false: the printer's flow control lines are ignored. Links without
  // flow control lines (network, USB, parallel) accept either setting.
  virtual bool SetFlowControl(bool obey) {
    (void)obey;
    return true;
  }
  // Quiet gap that ends a block of unknown shape on this link.
  virtual std::chrono::milliseconds QuietGap() const;
};

// Why an open failed, kept for LNKIO_GetOpenError: the system's error number
// (errno, GetLastError or WSAGetLastError; 0 when no system call failed) and
// the device or address that was tried.
struct OpenFailure {
  int osError = 0;
  std::string device;
  // USB: whether a listed device itself failed, or its number has no device
  // in the class that was tried.
  enum class Usb { kNone, kDevice, kNotInClass } usb = Usb::kNone;
};

// Opens the transport that the block describes; null with *code set on failure
// (kLnkioTimeout, or a negative LnkioResult) and *failure filled in.
std::unique_ptr<Transport> OpenTransport(const LinkOpenBlock& block, int* code, OpenFailure* failure);

// Quiet gap for a serial line: at least the default, at least three characters.
std::chrono::milliseconds SerialQuietGap(int baud, int dataBits, int parity);

}  // namespace tw::lnkio
