#pragma once
// Runs every reply reader over one datagram: the fuzz target and the reader
// tests feed it arbitrary bytes.

#include <cstdint>

#include "netsettings/ncs_wire.h"

namespace tw::ncs {

inline void ReadAllReplies(const Reply& r) {
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
}

}  // namespace tw::ncs
