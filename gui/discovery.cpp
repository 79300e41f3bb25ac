#include "gui/discovery.h"

#include <cstdio>
#include <cstring>

#include "gui/enum_port.h"
#include "netsettings/ncs_client.h"
#include "platform/udp_socket.h"

namespace tw::gui {

int DiscoverPrinters(std::stop_token stop) {
  return ncs::ListUp(platform::Ipv4Address(255, 255, 255, 255), kDiscoveryQuietSeconds, std::move(stop));
}

int GetDiscoveredDevice(int index, ncs::DiscoverySummary* summary) { return ncs::GetNIC(index, summary); }

namespace {

class DiscoveryFinder : public INetworkFinder {
 public:
  std::vector<std::u16string> FindPrinters(std::stop_token stop) override {
    std::vector<std::u16string> found;
    ncs::WinsockStartup();
    const int count = DiscoverPrinters(std::move(stop));
    // An error lists nothing, not even what arrived before it.
    for (int i = 0; i < count; ++i) {
      ncs::DiscoverySummary s{};
      if (GetDiscoveredDevice(i, &s) != ncs::kOk) continue;
      unsigned char b[4];
      static_assert(sizeof s.address == 4);
      std::memcpy(b, &s.address, 4);
      char text[32];
      std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
      found.emplace_back(text, text + std::char_traits<char>::length(text));
    }
    ncs::WinsockCleanup();
    return found;
  }
};

}  // namespace

INetworkFinder& NetworkDiscoveryFinder() {
  static DiscoveryFinder finder;
  return finder;
}

}  // namespace tw::gui
