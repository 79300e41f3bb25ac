// libFuzzer target: every reply reader and the acceptance check over arbitrary
// datagrams. Build with clang (-fsanitize=fuzzer); run with a corpus folder.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "netsettings/fuzz/read_all_replies.h"
#include "netsettings/ncs_wire.h"

using namespace tw::ncs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy: any read past the datagram is caught.
  std::vector<std::uint8_t> d(data, data + size);
  ReadAllReplies(Reply(d.data(), d.size()));
  std::uint8_t request[kBufferSize];
  BuildRequest(request, 'P', cmd::kBasicInfo, nullptr, 0);
  const std::uint8_t filter[6] = {0, 1, 2, 3, 4, 5};
  AcceptsReply(request, d.data(), d.size(), filter, size > 0 ? data[0] : 14);
  return 0;
}
