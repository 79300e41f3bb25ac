#include "platform/net_interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

namespace tw::platform {

std::vector<NetInterface> ListIpv4Interfaces(int* error) {
  if (error) *error = 0;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    if (error) *error = errno;
    return {};
  }
  const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
  std::vector<NetInterface> out;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || a->ifa_name == nullptr) continue;
    NetInterface i;
    i.name = a->ifa_name;
    i.index = ::if_nametoindex(a->ifa_name);
    i.address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
    if (a->ifa_netmask != nullptr && a->ifa_netmask->sa_family == AF_INET) {
      i.netmask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
    }
    i.up = (a->ifa_flags & IFF_UP) != 0;
    i.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    i.broadcast = (a->ifa_flags & IFF_BROADCAST) != 0 && (a->ifa_flags & IFF_POINTOPOINT) == 0;
    out.push_back(std::move(i));
  }
  return out;
}

}  // namespace tw::platform
