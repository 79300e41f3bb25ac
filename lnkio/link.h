#pragma once
// An open link: a transport, the packet framer that cuts what it receives into
// whole packets, and the state that the exported functions report.
//
// The link has no thread of its own: whoever asks for packets receives. A
// caller of WaitReadable waits on the transport itself, so a packet reaches it
// straight from the device without a hand-off between threads; Read and
// IsOpen look at the transport without waiting, so a caller that only polls
// still gets what arrived and learns of a lost link. One thread at a time
// receives (`pumping_`); the others wait for the packets it queues. A link
// nobody reads from costs nothing at all.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "lnkio/packet_framer.h"
#include "lnkio/transport.h"

namespace tw::lnkio {

class Link {
 public:
  Link(std::unique_ptr<Transport> transport, int linkTimeoutMs);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Wakes every waiter and makes pending and later sends fail at once.
  // Returns without waiting for anyone.
  void Shutdown();

  // LNKIO_Read: the next packet, cut to `size` (the rest stays queued).
  int Read(std::uint8_t* buffer, std::size_t size, std::size_t* length);
  int Write(const std::uint8_t* data, std::size_t size, std::size_t* written);
  // 1 when a packet waits or the link is down, 0 after timeoutMs.
  int WaitReadable(int timeoutMs);
  bool IsOpen();
  bool IsOnline() const;
  bool SetNoFlow(bool noFlow);

 private:
  bool Ready() const { return !queue_.empty() || dropped_ || shutdown_; }
  // Receives once, waiting up to waitMs (0: only looks) or until the framer
  // can release what it holds, and queues every complete packet. Called with
  // `lock` (on mu_) held; lets go of it while it waits. Does nothing while
  // another thread receives or after the transport has ended.
  void Pump(std::unique_lock<std::mutex>& lock, int waitMs);

  std::unique_ptr<Transport> transport_;
  const int linkTimeoutMs_;
  // Owned by the receiving thread (the one that set pumping_).
  PacketFramer framer_;
  std::vector<std::uint8_t> buffer_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Packet> queue_;
  bool pumping_ = false;   // a thread is receiving
  bool ended_ = false;     // the transport reported its end: no more receiving
  bool dropped_ = false;
  bool shutdown_ = false;
  bool online_ = true;  // until an automatic status says otherwise
};

}  // namespace tw::lnkio
