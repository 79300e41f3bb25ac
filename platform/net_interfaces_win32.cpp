#include "platform/net_interfaces.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <vector>

namespace tw::platform {

namespace {

std::uint32_t MaskOfPrefix(unsigned bits) {
  if (bits == 0) return 0;
  if (bits >= 32) return 0xFFFFFFFFu;
  return htonl(0xFFFFFFFFu << (32 - bits));
}

// Links that carry no broadcasts: loopback, tunnels, dial-up.
bool CarriesBroadcasts(DWORD type) {
  return type != IF_TYPE_SOFTWARE_LOOPBACK && type != IF_TYPE_TUNNEL && type != IF_TYPE_PPP;
}

}  // namespace

std::vector<NetInterface> ListIpv4Interfaces(int* error) {
  if (error) *error = 0;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = static_cast<ULONG>(buffer.size());
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 3 && rc == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.resize(size);
    rc = GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (rc == ERROR_NO_DATA) return {};
  if (rc != NO_ERROR) {
    if (error) *error = static_cast<int>(rc);
    return {};
  }
  std::vector<NetInterface> out;
  for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr; a = a->Next) {
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (sa == nullptr || sa->sa_family != AF_INET) continue;
      NetInterface i;
      i.name = a->AdapterName ? a->AdapterName : "";
      i.index = a->IfIndex;
      i.address = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr;
      i.netmask = MaskOfPrefix(u->OnLinkPrefixLength);
      i.up = a->OperStatus == IfOperStatusUp;
      i.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      i.broadcast = CarriesBroadcasts(a->IfType);
      out.push_back(std::move(i));
    }
  }
  return out;
}

}  // namespace tw::platform
