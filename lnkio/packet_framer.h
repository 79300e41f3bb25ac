#pragma once
// Cuts the byte stream that a transport delivers into printer packets (see the
// description of read codes in lnkioapi.h). Pure logic: the caller feeds bytes
// with their arrival time and asks for packets with the current time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tw::lnkio {

using Clock = std::chrono::steady_clock;

struct Packet {
  int code = 0;  // LnkioReadCode
  std::vector<std::uint8_t> bytes;
};

class PacketFramer {
 public:
  // quietGap ends a block of unknown shape; partialWait bounds the wait for the
  // rest of a packet of known shape.
  PacketFramer(std::chrono::milliseconds quietGap, std::chrono::milliseconds partialWait);

  void Feed(const std::uint8_t* data, std::size_t size, Clock::time_point now);
  // The next complete packet, or the pending bytes when their wait is over.
  std::optional<Packet> Next(Clock::time_point now);
  // When the pending bytes will be released without further input (none: no
  // pending bytes, or a complete packet is already available).
  std::optional<Clock::time_point> Deadline() const;
  bool HasPending() const { return !pending_.empty(); }

  // Longest packet; longer runs are cut.
  static constexpr std::size_t kMaxPacket = 65791;

 private:
  enum class Shape { kComplete, kPartial, kUnknown };
  struct Verdict {
    Shape shape;
    std::size_t length = 0;
    int code = 0;
  };
  Verdict Classify() const;
  Verdict ClassifyHead() const;  // by the first bytes alone
  Packet Take(std::size_t length, int code);

  std::chrono::milliseconds quietGap_;
  std::chrono::milliseconds partialWait_;
  std::vector<std::uint8_t> pending_;
  Clock::time_point lastByte_{};
};

}  // namespace tw::lnkio
