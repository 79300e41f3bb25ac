#include "platform/net_interfaces.h"

#include <algorithm>

namespace tw::platform {

std::vector<NetInterface> SelectBroadcastInterfaces(const std::vector<NetInterface>& all) {
  std::vector<NetInterface> out;
  for (const NetInterface& i : all) {
    if (!i.up || !i.broadcast || i.loopback || i.address == 0) continue;
    // One request per link: a second address on the same interface would only
    // make every printer behind it answer twice.
    const bool seen = std::any_of(out.begin(), out.end(), [&](const NetInterface& o) {
      return i.index != 0 ? o.index == i.index : o.name == i.name;
    });
    if (!seen) out.push_back(i);
  }
  return out;
}

std::vector<NetInterface> BroadcastInterfaces() { return SelectBroadcastInterfaces(ListIpv4Interfaces()); }

}  // namespace tw::platform
