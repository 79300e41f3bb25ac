// The library's response store over an arbitrary byte stream from a printer,
// split at arbitrary points, with responses and status packets taken out in
// between as the library's readers do. Nothing may crash, read out of bounds,
// keep more bytes than were fed, or hold more than the cap for the unfinished
// packet.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "portlib/manager/store_response.h"

using tw::portwire::CStoreResponse;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

std::size_t TakeAll(CStoreResponse& store) {
  std::size_t bytes = 0;
  std::vector<std::uint8_t> packet;
  while (store.TakeResponse(packet) == 0) bytes += packet.size();
  std::int32_t kind = 0;
  while (store.TakeStatus(&kind, packet) == 0) bytes += packet.size();
  Check(store.ResponseCount() == 0 && store.StatusCount() == 0);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  CStoreResponse store;
  std::size_t fed = 0, taken = 0;
  while (in.remaining_bytes() > 0) {
    const auto piece = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(1, 128));
    if (piece.empty()) break;
    const std::int32_t rc = store.Store(piece.data(), static_cast<std::uint32_t>(piece.size()));
    Check(rc == 0 || rc == 1);
    fed += piece.size();
    Check(store.PendingBytes() <= CStoreResponse::kMaxPendingBytes);
    if (in.ConsumeBool()) taken += TakeAll(store);
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) store.Clear();
  }
  taken += TakeAll(store);
  Check(taken <= fed);
  Check(store.Store(nullptr, 1) == -1);
  return 0;
}
