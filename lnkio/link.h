#pragma once
// An open link: a transport, a reader thread that collects received bytes into
// whole packets, and the state that the exported functions report.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "lnkio/packet_framer.h"
#include "lnkio/transport.h"

namespace tw::lnkio {

class Link {
 public:
  Link(std::unique_ptr<Transport> transport, int linkTimeoutMs);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Stops the reader and makes pending and later sends fail at once.
  void Shutdown();

  // LNKIO_Read: the next packet, cut to `size` (the rest stays queued).
  int Read(std::uint8_t* buffer, std::size_t size, std::size_t* length);
  int Write(const std::uint8_t* data, std::size_t size, std::size_t* written);
  // 1 when a packet waits or the link is down, 0 after timeoutMs.
  int WaitReadable(int timeoutMs);
  bool IsOpen() const;
  bool IsOnline() const;
  bool SetNoFlow(bool noFlow);

 private:
  void ReaderLoop();
  void Publish(Packet packet);

  std::unique_ptr<Transport> transport_;
  const int linkTimeoutMs_;
  PacketFramer framer_;  // reader thread only

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Packet> queue_;
  bool dropped_ = false;
  bool shutdown_ = false;
  bool online_ = true;  // until an automatic status says otherwise
  std::thread reader_;
};

}  // namespace tw::lnkio
