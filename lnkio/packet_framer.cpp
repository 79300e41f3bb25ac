#include "lnkio/packet_framer.h"

#include <algorithm>

#include "lnkio/lnkioapi.h"

namespace tw::lnkio {
namespace {

// Replies of the 37/5F/31 families are short; a zero byte that has not come
// within this many bytes means the bytes are not such a reply after all.
constexpr std::size_t kMaxTextReply = 256;

bool IsStatusHead(std::uint8_t b) { return (b & 0x93) == 0x10; }
bool IsStatusTail(std::uint8_t b) { return (b & 0x90) == 0x00; }

bool IsStatusAt(const std::vector<std::uint8_t>& p, std::size_t i) {
  return i + 4 <= p.size() && IsStatusHead(p[i]) && IsStatusTail(p[i + 1]) && IsStatusTail(p[i + 2]) &&
         IsStatusTail(p[i + 3]);
}

}  // namespace

PacketFramer::PacketFramer(std::chrono::milliseconds quietGap, std::chrono::milliseconds partialWait)
    : quietGap_(quietGap), partialWait_(partialWait) {}

void PacketFramer::Feed(const std::uint8_t* data, std::size_t size, Clock::time_point now) {
  if (!data || size == 0) return;
  pending_.insert(pending_.end(), data, data + size);
  lastByte_ = now;
}

PacketFramer::Verdict PacketFramer::Classify() const {
  const Verdict v = ClassifyHead();
  if (v.shape != Shape::kUnknown) return v;
  // The printer sends its automatic status whenever its state changes, also
  // right behind a reply of unknown shape: such a block ends where a whole
  // status packet begins, so the status is not swallowed as data.
  for (std::size_t i = 1; i + 4 <= pending_.size(); ++i) {
    if (IsStatusAt(pending_, i)) return {Shape::kComplete, i, kLnkioReadData};
  }
  return v;
}

PacketFramer::Verdict PacketFramer::ClassifyHead() const {
  const auto& p = pending_;
  const std::uint8_t b0 = p[0];
  if (b0 == 0x37 || b0 == 0x5F || b0 == 0x31) {
    const std::size_t limit = std::min(p.size(), kMaxTextReply);
    for (std::size_t i = 1; i < limit; ++i) {
      if (p[i] != 0x00) continue;
      const std::size_t len = i + 1;
      const bool battery = IsBatteryReport(p.data(), len);
      return {Shape::kComplete, len, battery ? kLnkioReadStatusOrBattery : kLnkioReadData};
    }
    return {p.size() < kMaxTextReply ? Shape::kPartial : Shape::kUnknown};
  }
  if (b0 == 0x35 || b0 == 0x39) {
    const bool ok = (p.size() < 2 || (p[1] & 0x40)) && (p.size() < 3 || (p[2] & 0x40)) &&
                    (p.size() < 4 || p[3] == 0x00);
    if (!ok) return {Shape::kUnknown};
    if (p.size() < 4) return {Shape::kPartial};
    return {Shape::kComplete, 4, kLnkioReadStatusOrBattery};
  }
  if (IsStatusHead(b0)) {
    const std::size_t n = std::min<std::size_t>(p.size(), 4);
    for (std::size_t i = 1; i < n; ++i) {
      if (!IsStatusTail(p[i])) return {Shape::kUnknown};
    }
    if (p.size() < 4) return {Shape::kPartial};
    return {Shape::kComplete, 4, kLnkioReadStatus};
  }
  return {Shape::kUnknown};
}

Packet PacketFramer::Take(std::size_t length, int code) {
  length = std::min({length, pending_.size(), kMaxPacket});
  Packet packet;
  packet.code = code;
  packet.bytes.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
  return packet;
}

std::optional<Packet> PacketFramer::Next(Clock::time_point now) {
  if (pending_.empty()) return std::nullopt;
  const Verdict v = Classify();
  switch (v.shape) {
    case Shape::kComplete:
      return Take(v.length, v.code);
    case Shape::kPartial:
      if (now - lastByte_ >= partialWait_) return Take(pending_.size(), kLnkioReadData);
      return std::nullopt;
    case Shape::kUnknown:
      if (now - lastByte_ >= quietGap_ || pending_.size() >= kMaxPacket) {
        return Take(pending_.size(), kLnkioReadData);
      }
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Clock::time_point> PacketFramer::Deadline() const {
  if (pending_.empty()) return std::nullopt;
  switch (Classify().shape) {
    case Shape::kComplete:
      return std::nullopt;
    case Shape::kPartial:
      return lastByte_ + partialWait_;
    case Shape::kUnknown:
      return lastByte_ + quietGap_;
  }
  return std::nullopt;
}

}  // namespace tw::lnkio
