// The port-access library's packet framer over an arbitrary byte stream,
// delivered in arbitrary pieces at arbitrary times. Every byte fed must come
// out exactly once, in order, in packets of 1 to kMaxPacket bytes; pending
// bytes always have a deadline, and once every wait has passed nothing stays
// pending (otherwise a reader would wait for them forever).

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lnkio/packet_framer.h"

using tw::lnkio::Clock;
using tw::lnkio::PacketFramer;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void Drain(PacketFramer& framer, Clock::time_point now, std::vector<std::uint8_t>& out) {
  while (auto p = framer.Next(now)) {
    Check(!p->bytes.empty() && p->bytes.size() <= PacketFramer::kMaxPacket);
    out.insert(out.end(), p->bytes.begin(), p->bytes.end());
  }
  if (framer.HasPending()) Check(framer.Deadline().has_value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::chrono::milliseconds quiet(in.ConsumeIntegralInRange<int>(1, 50));
  const std::chrono::milliseconds partial(in.ConsumeIntegralInRange<int>(1, 500));
  PacketFramer framer(quiet, partial);
  Clock::time_point now{};
  std::vector<std::uint8_t> fed, out;
  while (in.remaining_bytes() > 0) {
    const auto piece = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(1, 64));
    framer.Feed(piece.data(), piece.size(), now);
    fed.insert(fed.end(), piece.begin(), piece.end());
    now += std::chrono::milliseconds(in.ConsumeIntegralInRange<int>(0, 600));
    Drain(framer, now, out);
  }
  now += quiet + partial;
  Drain(framer, now, out);
  Check(!framer.HasPending());
  Check(out == fed);
  return 0;
}
