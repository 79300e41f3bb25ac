// Windows check of the NCS exports of Portwire.dll against a running simulated
// interface (scripts/wine/30-ncs.sh starts it). Usage: ncs_wine_check ADDRESS
// Exit code 0 when every step gives the expected result.

#include <cstdio>
#include <cstring>
#include <string>

#include "include/portwire.h"

#include "netsettings/ncs_records.h"
#include "platform/module.h"
#include "platform/udp_socket.h"

using namespace tw::ncs;

namespace {

int g_failures = 0;

void Check(const char* what, int got, int expected) {
  const bool ok = got == expected;
  std::printf("%-28s %6d %s\n", what, got, ok ? "ok" : "FAILED");
  if (!ok) ++g_failures;
}

// The export of that name as a __stdcall function. On x86 the NCS exports
// carry their decorated names: "_" + name + "@" + bytes of arguments.
template <typename... A>
auto Resolve(const tw::platform::Module& lib, const char* name) {
  using F = int(PORTWIRE_CALL*)(A...);
  std::string exported = name;
  if (sizeof(void*) == 4) {
    const int bytes = (0 + ... + static_cast<int>((sizeof(A) + 3) / 4 * 4));
    exported = "_" + exported + "@" + std::to_string(bytes);
  }
  return lib.Function<F>(exported.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t address = 0;
  if (argc < 2 || !tw::platform::ParseIpv4(argv[1], address)) {
    std::fprintf(stderr, "usage: ncs_wine_check ADDRESS\n");
    return 2;
  }
  tw::platform::Module lib = tw::platform::Module::Load(u"Portwire.dll");
  if (!lib.IsLoaded()) {
    std::fprintf(stderr, "Portwire.dll not loaded\n");
    return 1;
  }
  auto startup = Resolve<>(lib, "NCSWSAStartup");
  auto cleanup = Resolve<>(lib, "NCSWSACleanup");
  auto version = Resolve<>(lib, "NCSGetVersion");
  auto listUp = Resolve<std::uint32_t, int>(lib, "NCSListUp");
  auto getNic = Resolve<int, DiscoverySummary*>(lib, "NCSGetNIC");
  auto nicInfo = Resolve<std::uint32_t, DiscoverySummary*>(lib, "NCSGetNICInfo");
  auto setLocation = Resolve<std::uint32_t, const char*, const char*>(lib, "NCSSetLocation");
  auto getLocation = Resolve<std::uint32_t, char*>(lib, "NCSGetLocation");
  auto setByIp =
      Resolve<std::uint32_t, const AddressSettings*, const WirelessSettings*, const char*>(lib, "NCSSetSettingsByIP");
  auto getByIp = Resolve<std::uint32_t, AddressSettings*, WirelessSettings*>(lib, "NCSGetSettingsByIP");
  auto online = Resolve<std::uint32_t>(lib, "NCSGetOnline");
  if (!startup || !cleanup || !version || !listUp || !getNic || !nicInfo || !setLocation || !getLocation ||
      !setByIp || !getByIp || !online) {
    std::fprintf(stderr, "an NCS export is missing\n");
    return 1;
  }

  Check("NCSWSAStartup", startup(), 0);
  Check("NCSGetVersion", version(), 530);
  Check("NCSListUp", listUp(address, 1), 1);
  DiscoverySummary s{};
  Check("NCSGetNIC", getNic(0, &s), 0);
  Check("  summary address", s.address == address ? 1 : 0, 1);
  Check("NCSGetNICInfo", nicInfo(address, &s), 0);
  Check("NCSSetLocation", setLocation(address, "wine counter", "pw"), 0);
  char text[256] = {};
  Check("NCSGetLocation", getLocation(address, text), 0);
  Check("  location text", std::strcmp(text, "wine counter") == 0 ? 1 : 0, 1);
  AddressSettings a{};
  a.method = 1;
  const std::uint8_t ip[4] = {172, 16, 5, 5}, mask[4] = {255, 255, 0, 0};
  std::memcpy(a.ip, ip, 4);
  std::memcpy(a.mask, mask, 4);
  Check("NCSSetSettingsByIP", setByIp(address, &a, nullptr, "pw"), 0);
  AddressSettings back{};
  Check("NCSGetSettingsByIP", getByIp(address, &back, nullptr), 0);
  Check("  address stored", std::memcmp(back.ip, ip, 4) == 0 ? 1 : 0, 1);
  Check("NCSSetSettingsByIP bad pw", setByIp(address, &a, nullptr, "nope"), -8);
  Check("NCSGetOnline", online(address), 1);
  Check("NCSWSACleanup", cleanup(), 0);
  std::printf("%s\n", g_failures ? "FAILED" : "PASSED");
  return g_failures ? 1 : 0;
}
