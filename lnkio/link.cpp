#include "lnkio/link.h"

#include <algorithm>
#include <cstring>

#include "lnkio/lnkioapi.h"

namespace tw::lnkio {
namespace {

// Longest single wait of the reader; bounds how late it notices a deadline that
// the framer did not know of yet.
constexpr int kReaderWaitMs = 200;

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
      linkTimeoutMs_(linkTimeoutMs > 0 ? linkTimeoutMs : 2000),
      framer_(transport_->QuietGap(), std::chrono::milliseconds(kLnkioPartialPacketMs)) {
  reader_ = std::thread([this] { ReaderLoop(); });
}

Link::~Link() { Shutdown(); }

void Link::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    shutdown_ = true;
  }
  cv_.notify_all();
  transport_->Interrupt();
  if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
}

void Link::Publish(Packet packet) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (packet.code == kLnkioReadStatus && packet.bytes.size() == 4) online_ = (packet.bytes[0] & 0x08) == 0;
    queue_.push_back(std::move(packet));
  }
  cv_.notify_all();
}

void Link::ReaderLoop() {
  std::vector<std::uint8_t> buffer(4096);
  for (;;) {
    for (auto p = framer_.Next(Clock::now()); p; p = framer_.Next(Clock::now())) Publish(std::move(*p));

    int waitMs = kReaderWaitMs;
    if (const auto deadline = framer_.Deadline()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      waitMs = static_cast<int>(std::clamp<long long>(left, 0, kReaderWaitMs));
    }
    const int n = transport_->Receive(buffer.data(), buffer.size(), waitMs);
    if (n > 0) {
      framer_.Feed(buffer.data(), static_cast<std::size_t>(n), Clock::now());
      continue;
    }
    if (n == Transport::kNothing) continue;
    // Dropped or interrupted: hand out what was received, then stop.
    while (framer_.HasPending()) {
      auto p = framer_.Next(Clock::time_point::max());
      if (!p) break;
      Publish(std::move(*p));
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (n == Transport::kDropped) dropped_ = true;
    }
    cv_.notify_all();
    return;
  }
}

int Link::Read(std::uint8_t* buffer, std::size_t size, std::size_t* length) {
  *length = 0;
  std::lock_guard<std::mutex> lock(mu_);
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
  std::unique_lock<std::mutex> lock(mu_);
  const auto ready = [this] { return !queue_.empty() || dropped_ || shutdown_; };
  if (timeoutMs <= 0) return ready() ? 1 : 0;
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready) ? 1 : 0;
}

bool Link::IsOpen() const {
  std::lock_guard<std::mutex> lock(mu_);
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
