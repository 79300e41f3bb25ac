#pragma once
// The descriptor calls that the Linux transports make, behind a seam. The
// kernel's printer drivers answer reads in ways that no machine without the
// device shows: the parallel port driver reports every port readable and
// fails a non-blocking read with EIO or EAGAIN when the printer has no back
// channel; the USB printer driver returns 0 bytes for a zero-length packet.
// Tests put a fake FdIo in place of the system's to behave like them.

#include <poll.h>
#include <sys/types.h>

#include <memory>

#include "lnkio/transport.h"
#include "platform/unique_handle.h"

namespace tw::lnkio {

class FdIo {
 public:
  virtual ~FdIo() = default;
  // As read(2), write(2), send(2) with MSG_NOSIGNAL and poll(2): results and
  // errno alike.
  virtual ssize_t Read(int fd, void* buffer, size_t size) = 0;
  virtual ssize_t Write(int fd, const void* data, size_t size) = 0;
  virtual ssize_t Send(int fd, const void* data, size_t size) = 0;
  virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;

  // The real calls.
  static FdIo& System();
};

// What stands behind a descriptor; it decides how reads are answered.
enum class FdKind {
  kSerial,      // a terminal: 0 bytes means hung up
  kParallel,    // /dev/lpN: always "readable"; reads only where the port has a back channel
  kUsbPrinter,  // /dev/usb/lpN: 0 bytes is a zero-length packet, not the end
  kSocket,      // TCP: 0 bytes means the peer closed
};

// A transport over an open non-blocking descriptor. `io` must outlive it.
// Null with *code set when no wake-up pipe can be made.
std::unique_ptr<Transport> MakeFdTransport(platform::UniqueFd fd, FdKind kind, FdIo& io, int* code);

}  // namespace tw::lnkio
