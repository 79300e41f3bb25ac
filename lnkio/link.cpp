#include "lnkio/link.h"

#include <algorithm>
#include <cstring>

#include "lnkio/link_open_block.h"
#include "lnkio/lnkioapi.h"

namespace tw::lnkio {
namespace {

// Bytes taken from the transport per receive.
constexpr std::size_t kReceiveChunk = 4096;
// Longest single wait in the transport. Longer waits are made of several, so
// that a transport whose wait does not end when bytes arrive (serial ports
// under Wine end an overlapped read only when it is cancelled) still hands
// them out this soon.
constexpr int kLongestReceiveWaitMs = 200;

}  // namespace

std::chrono::milliseconds Transport::QuietGap() const { return std::chrono::milliseconds(kLnkioQuietGapMs); }

std::chrono::milliseconds SerialQuietGap(int baud, int dataBits, int parity) {
  if (baud <= 0) return std::chrono::milliseconds(kLnkioQuietGapMs);
  const int bitsPerChar = 1 + std::clamp(dataBits, 5, 8) + (parity != 0 ? 1 : 0) + 1;
  const int threeChars = (3 * bitsPerChar * 1000 + baud - 1) / baud;
  return std::chrono::milliseconds(std::max(kLnkioQuietGapMs, threeChars));
}

Link::Link(std::unique_ptr<Transport> transport, int linkTimeoutMs)
    : transport_(std::move(transport)),
      linkTimeoutMs_(EffectiveLinkTimeoutMs(linkTimeoutMs)),
      framer_(transport_->QuietGap(), std::chrono::milliseconds(kLnkioPartialPacketMs)),
      buffer_(kReceiveChunk) {}

Link::~Link() { Shutdown(); }

void Link::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    shutdown_ = true;
  }
  cv_.notify_all();
  // A thread waiting in the transport returns at once; it holds its own
  // reference to this link, so nothing goes away under it.
  transport_->Interrupt();
}

void Link::Pump(std::unique_lock<std::mutex>& lock, int waitMs) {
  if (pumping_ || ended_ || shutdown_) return;
  pumping_ = true;
  lock.unlock();

  std::vector<Packet> ready;
  const auto collect = [&](Clock::time_point now) {
    for (auto p = framer_.Next(now); p; p = framer_.Next(now)) ready.push_back(std::move(*p));
  };
  collect(Clock::now());
  int end = Transport::kNothing;
  if (ready.empty()) {
    int wait = std::clamp(waitMs, 0, kLongestReceiveWaitMs);
    if (const auto deadline = framer_.Deadline()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      wait = static_cast<int>(std::clamp<long long>(left, 0, wait));
    }
    const int n = transport_->Receive(buffer_.data(), buffer_.size(), wait);
    if (n > 0) {
      framer_.Feed(buffer_.data(), static_cast<std::size_t>(n), Clock::now());
      collect(Clock::now());
    } else if (n == Transport::kNothing) {
      collect(Clock::now());
    } else {
      // Dropped or interrupted: hand out what was received, then stop.
      end = n;
      collect(Clock::time_point::max());
    }
  }

  lock.lock();
  for (Packet& packet : ready) {
    if (packet.code == kLnkioReadStatus && packet.bytes.size() == 4) online_ = (packet.bytes[0] & 0x08) == 0;
    queue_.push_back(std::move(packet));
  }
  if (end != Transport::kNothing) {
    ended_ = true;
    if (end == Transport::kDropped) dropped_ = true;
  }
  pumping_ = false;
  cv_.notify_all();
}

int Link::Read(std::uint8_t* buffer, std::size_t size, std::size_t* length) {
  *length = 0;
  std::unique_lock<std::mutex> lock(mu_);
  if (queue_.empty()) Pump(lock, 0);
  if (queue_.empty() || size == 0) return kLnkioReadNothing;
  Packet& front = queue_.front();
  const std::size_t n = std::min(size, front.bytes.size());
  std::memcpy(buffer, front.bytes.data(), n);
  *length = n;
  const int code = n == front.bytes.size() ? front.code : kLnkioReadData;
  if (n == front.bytes.size()) {
    queue_.pop_front();
  } else {
    front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    front.code = kLnkioReadData;
  }
  return code;
}

int Link::Write(const std::uint8_t* data, std::size_t size, std::size_t* written) {
  *written = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (dropped_ || shutdown_) return kLnkioErrNotOpen;
  }
  if (size == 0) return kLnkioOk;
  return transport_->Send(data, size, linkTimeoutMs_, written);
}

int Link::WaitReadable(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    if (Ready()) return 1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int leftMs = static_cast<int>(std::max<long long>(left, 0));
    if (!pumping_) {
      Pump(lock, leftMs);
      if (Ready()) return 1;
      if (leftMs == 0 || Clock::now() >= deadline) return 0;
      continue;
    }
    // Another thread receives: wait for what it queues.
    if (leftMs == 0) return 0;
    cv_.wait_until(lock, deadline);
    if (!Ready() && Clock::now() >= deadline) return 0;
  }
}

bool Link::IsOpen() {
  std::unique_lock<std::mutex> lock(mu_);
  // A caller that only asks whether the link is up still learns of a drop.
  if (!dropped_ && !shutdown_ && queue_.empty()) Pump(lock, 0);
  return !dropped_ && !shutdown_;
}

bool Link::IsOnline() const {
  std::lock_guard<std::mutex> lock(mu_);
  return !dropped_ && !shutdown_ && online_;
}

bool Link::SetNoFlow(bool noFlow) {
  if (!IsOpen()) return false;
  return transport_->SetFlowControl(!noFlow);
}

}  // namespace tw::lnkio
