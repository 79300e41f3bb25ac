// The NCS exports as an outside client uses them: the library is loaded by its
// file name and every function resolved by name. The simulated interface runs
// in this process on 127.0.0.171; CTest shortens the waits (this program and
// the test build of the library live in bin/test-waits/) and redirects
// broadcasts to it through the environment.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "netsettings/ncs_records.h"
#include "platform/module.h"
#include "sim/netif/netif_sim.h"

using namespace tw::ncs;
using tw::platform::Ipv4Address;

namespace {

const std::uint32_t kSim = Ipv4Address(127, 0, 0, 171);
const std::uint32_t kSilent = Ipv4Address(127, 0, 0, 172);
constexpr std::uint8_t kMac[6] = {0x00, 0x11, 0x62, 0x0A, 0x0B, 0x0C};

const char* const kExports[] = {
    "NCSWSAStartup",  "NCSWSACleanup",      "NCSGetVersion",       "NCSGetLastError",    "NCSGetMaxTimeout",
    "NCSSetMaxTimeout", "NCSGetMaxRetry",   "NCSSetMaxRetry",      "NCSGetNICInfo",      "NCSGetSettingsByIP",
    "NCSGetSettingsByMAC", "NCSSetSettingsByIP", "NCSSetSettingsByMAC", "NCSGetWiFiStatus", "NCSGetLocation",
    "NCSGetAdmin",    "NCSSetLocation",     "NCSSetAdmin",         "NCSGetDNS",          "NCSSetDNS",
    "NCSChangePasswd", "NCSSelfTest",       "NCSGetASB",           "NCSGetRxName",       "NCSGetOnline",
    "NCSGetBufferSize", "NCSGetConnectionIP", "NCSReset",          "NCSClearBuffer",     "NCSClearTimeout",
    "NCSForceSend",   "NCSListUp",          "NCSGetNIC"};

using NoArgs = int (*)();
using IntArg = int (*)(int);
using AddrOnly = int (*)(std::uint32_t);
using AddrInt = int (*)(std::uint32_t, int);
using NicInfo = int (*)(std::uint32_t, DiscoverySummary*);
using WifiStatus = int (*)(std::uint32_t, WirelessStatus*);
using Asb = int (*)(std::uint32_t, AsbStatus*);
using GetByIp = int (*)(std::uint32_t, AddressSettings*, WirelessSettings*);
using GetByMac = int (*)(const std::uint8_t*, std::uint32_t, AddressSettings*, WirelessSettings*);
using SetByIp = int (*)(std::uint32_t, const AddressSettings*, const WirelessSettings*, const char*);
using SetByMac = int (*)(const std::uint8_t*, std::uint32_t, const AddressSettings*, const WirelessSettings*,
                         const char*);
using Text = int (*)(std::uint32_t, char*);
using SetText = int (*)(std::uint32_t, const char*, const char*);
using GetDns = int (*)(std::uint32_t, DnsSettings*);
using SetDns = int (*)(std::uint32_t, const DnsSettings*, const char*);
using BufferSizes = int (*)(std::uint32_t, std::uint32_t*, std::uint32_t*);
using ConnIp = int (*)(std::uint32_t, std::uint32_t*);
using ListUp = int (*)(std::uint32_t, int);
using GetNic = int (*)(int, DiscoverySummary*);

class NcsExports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lib_ = new tw::platform::Module(tw::platform::Module::Load(u"Portwire.dll"));
    tw::sim::NetifConfig config;
    config.address = kSim;
    config.password = "pw";
    config.snmpPort = 10171;
    sim_ = new tw::sim::NetifSimulator(config);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
  }
  static void TearDownTestSuite() {
    delete sim_;
    delete lib_;
  }
  void SetUp() override {
    ASSERT_TRUE(lib_->IsLoaded()) << "libPortwire.so beside the test program";
    ASSERT_EQ(Fn<NoArgs>("NCSWSAStartup")(), 0);
  }
  void TearDown() override { EXPECT_EQ(Fn<NoArgs>("NCSWSACleanup")(), 0); }

  template <typename F>
  static F Fn(const char* name) {
    auto f = lib_->Function<F>(name);
    EXPECT_NE(f, nullptr) << name;
    return f;
  }

  static tw::platform::Module* lib_;
  static tw::sim::NetifSimulator* sim_;
};

tw::platform::Module* NcsExports::lib_ = nullptr;
tw::sim::NetifSimulator* NcsExports::sim_ = nullptr;

}  // namespace

TEST_F(NcsExports, EveryNameResolvesAndNothingElseLeaks) {
  for (const char* name : kExports) EXPECT_NE(lib_->Symbol(name), nullptr) << name;
  EXPECT_EQ(lib_->Symbol("_ZN2tw3ncs7VersionEv"), nullptr) << "internal functions stay hidden";
  EXPECT_EQ(Fn<NoArgs>("NCSGetVersion")(), 530);
  EXPECT_EQ(Fn<IntArg>("NCSSetMaxTimeout")(0), 6);
  EXPECT_EQ(Fn<IntArg>("NCSSetMaxRetry")(0), 2);
  EXPECT_EQ(Fn<NoArgs>("NCSGetMaxTimeout")(), 6);
  EXPECT_EQ(Fn<NoArgs>("NCSGetMaxRetry")(), 2);
}

TEST_F(NcsExports, DiscoveryAndReads) {
  // 255.255.255.255 is redirected to the simulator by the test environment.
  ASSERT_EQ(Fn<ListUp>("NCSListUp")(0xFFFFFFFFu, 1), 1);
  DiscoverySummary s{};
  ASSERT_EQ(Fn<GetNic>("NCSGetNIC")(0, &s), 0);
  EXPECT_EQ(0, std::memcmp(s.mac, kMac, 6));
  EXPECT_EQ(+s.address, kSim);
  EXPECT_EQ(Fn<GetNic>("NCSGetNIC")(1, &s), -9);
  EXPECT_EQ(Fn<GetNic>("NCSGetNIC")(0, nullptr), -1);

  ASSERT_EQ(Fn<NicInfo>("NCSGetNICInfo")(kSim, &s), 0);
  EXPECT_EQ(s.model, 0x0400);
  AddressSettings a{};
  ASSERT_EQ(Fn<GetByIp>("NCSGetSettingsByIP")(kSim, &a, nullptr), 0);
  EXPECT_EQ(a.mask[0], 255);
  EXPECT_EQ(Fn<GetByIp>("NCSGetSettingsByIP")(kSim, nullptr, nullptr), -1);
  ASSERT_EQ(Fn<GetByMac>("NCSGetSettingsByMAC")(kMac, 0xFFFFFFFFu, &a, nullptr), 0);
  WirelessStatus ws{};
  EXPECT_EQ(Fn<WifiStatus>("NCSGetWiFiStatus")(kSim, &ws), 0);
  AsbStatus asb{};
  EXPECT_EQ(Fn<Asb>("NCSGetASB")(kSim, &asb), 0);
  EXPECT_EQ(asb.values[0][0], 1);
  char rx[32];
  EXPECT_EQ(Fn<Text>("NCSGetRxName")(kSim, rx), 0);
  EXPECT_EQ(Fn<AddrOnly>("NCSGetOnline")(kSim), 1);
  std::uint32_t first = 0, second = 0;
  EXPECT_EQ(Fn<BufferSizes>("NCSGetBufferSize")(kSim, &first, &second), 0);
  EXPECT_EQ(second, 65536u);
  EXPECT_EQ(Fn<BufferSizes>("NCSGetBufferSize")(kSim, &first, nullptr), -1);
  EXPECT_EQ(Fn<ConnIp>("NCSGetConnectionIP")(kSim, &first), 0);
  EXPECT_EQ(Fn<ConnIp>("NCSGetConnectionIP")(kSim, nullptr), -1);
  for (const char* control : {"NCSReset", "NCSClearBuffer", "NCSClearTimeout"}) {
    EXPECT_EQ(Fn<AddrOnly>(control)(kSim), 0) << control;
  }
  EXPECT_EQ(Fn<AddrInt>("NCSForceSend")(kSim, 1), 0);
  EXPECT_EQ(Fn<AddrInt>("NCSSelfTest")(kSim, 3), 0);
  EXPECT_EQ(sim_->SnmpRequests().size(), 1u);
}

TEST_F(NcsExports, SettingsChangeTheInterface) {
  AddressSettings a{};
  a.method = 1;
  const std::uint8_t ip[4] = {172, 20, 1, 9}, mask[4] = {255, 255, 255, 0}, gw[4] = {172, 20, 1, 1};
  std::memcpy(a.ip, ip, 4);
  std::memcpy(a.mask, mask, 4);
  std::memcpy(a.gateway, gw, 4);
  ASSERT_EQ(Fn<SetByIp>("NCSSetSettingsByIP")(kSim, &a, nullptr, "pw"), 0);
  AddressSettings back{};
  ASSERT_EQ(Fn<GetByIp>("NCSGetSettingsByIP")(kSim, &back, nullptr), 0);
  EXPECT_EQ(0, std::memcmp(back.ip, ip, 4));
  a.ip[3] = 10;
  ASSERT_EQ(Fn<SetByMac>("NCSSetSettingsByMAC")(kMac, 0xFFFFFFFFu, &a, nullptr, "pw"), 0);
  EXPECT_EQ(sim_->Settings().ip[3], 10);
  EXPECT_EQ(Fn<SetByIp>("NCSSetSettingsByIP")(kSim, &a, nullptr, "not-the-password"), -8);
  a.mask[0] = 254;
  EXPECT_EQ(Fn<SetByIp>("NCSSetSettingsByIP")(kSim, &a, nullptr, "pw"), -1);
  // Nothing to store: refused before the interface is touched.
  const int restarts = sim_->Restarts();
  EXPECT_EQ(Fn<SetByIp>("NCSSetSettingsByIP")(kSim, nullptr, nullptr, "pw"), -1);
  EXPECT_EQ(sim_->Restarts(), restarts);

  char text[256];
  ASSERT_EQ(Fn<SetText>("NCSSetLocation")(kSim, "counter 3", "pw"), 0);
  ASSERT_EQ(Fn<Text>("NCSGetLocation")(kSim, text), 0);
  EXPECT_STREQ(text, "counter 3");
  ASSERT_EQ(Fn<SetText>("NCSSetAdmin")(kSim, "ops", "pw"), 0);
  ASSERT_EQ(Fn<Text>("NCSGetAdmin")(kSim, text), 0);
  EXPECT_STREQ(text, "ops");
  EXPECT_EQ(Fn<SetText>("NCSSetAdmin")(kSim, nullptr, "pw"), -1);

  DnsSettings d{};
  std::strcpy(d.firstName, "pos1");
  d.serverCount = 2;
  d.servers[1][3] = 53;
  ASSERT_EQ(Fn<SetDns>("NCSSetDNS")(kSim, &d, "pw"), 0);
  DnsSettings got{};
  ASSERT_EQ(Fn<GetDns>("NCSGetDNS")(kSim, &got), 0);
  EXPECT_STREQ(got.firstName, "pos1");
  EXPECT_EQ(got.serverCount, 2);
  EXPECT_EQ(got.servers[1][3], 53);
  d.serverCount = 9;
  EXPECT_EQ(Fn<SetDns>("NCSSetDNS")(kSim, &d, "pw"), -1);

  ASSERT_EQ(Fn<SetText>("NCSChangePasswd")(kSim, "pw", "pw2"), 0);
  EXPECT_EQ(sim_->Password(), "pw2");
  ASSERT_EQ(Fn<SetText>("NCSChangePasswd")(kSim, "pw2", "pw"), 0);
}

TEST_F(NcsExports, UnansweredRequestsEndWithNoReply) {
  EXPECT_EQ(Fn<AddrOnly>("NCSGetOnline")(kSilent), -3);
  EXPECT_EQ(Fn<NoArgs>("NCSGetLastError")(), 0);
}
