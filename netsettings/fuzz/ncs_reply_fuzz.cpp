// libFuzzer target: every reply reader and the acceptance check over arbitrary
// datagrams. Build with clang (-fsanitize=fuzzer); run with a corpus folder.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "netsettings/ncs_wire.h"

using namespace tw::ncs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy: any read past the datagram is caught.
  std::vector<std::uint8_t> d(data, data + size);
  const Reply r(d.data(), d.size());
  std::uint8_t mac[6];
  BasicInfo bi;
  AddressSettings a;
  WirelessSettings w{};
  WirelessStatus ws;
  DnsSettings dns{};
  AsbStatus asb;
  char name[32], text[256];
  std::uint32_t x, y;
  ReadIdentity(r, mac);
  ReadBasicInfo(r, bi);
  ReadIpSettings(r, a);
  ReadWirelessName(r, w);
  ReadWirelessSecurity(r, w);
  ReadWirelessStatus(r, ws);
  ReadDnsNames(r, dns);
  ReadDnsServers(r, dns);
  ReadAutoStatus(r, asb);
  ReadReceiverName(r, name);
  ReadOnline(r);
  ReadBufferSizes(r, x, y);
  ReadConnectionAddress(r, x);
  ReadText256(r, text);
  if (auto rec = ReadDiscoveryReply(r, 0)) SummaryOf(*rec);
  std::uint8_t request[kBufferSize];
  BuildRequest(request, 'P', cmd::kBasicInfo, nullptr, 0);
  const std::uint8_t filter[6] = {0, 1, 2, 3, 4, 5};
  AcceptsReply(request, d.data(), d.size(), filter, size > 0 ? data[0] : 14);
  return 0;
}
