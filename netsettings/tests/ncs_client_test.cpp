// The network settings client against the simulated interface on 127.0.0.161
// to 127.0.0.165. Waits are shortened; nothing leaves the loopback network.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "netsettings/ncs_client.h"
#include "netsettings/ncs_engine.h"
#include "netsettings/ncs_wire.h"
#include "sim/netif/netif_sim.h"

using namespace tw::ncs;
using tw::platform::Ipv4Address;
using tw::sim::NetifConfig;
using tw::sim::NetifFaults;
using tw::sim::NetifSimulator;

namespace {

const std::uint32_t kSimAddress = Ipv4Address(127, 0, 0, 161);
const std::uint32_t kSecondSim = Ipv4Address(127, 0, 0, 162);
constexpr std::uint16_t kSnmpTestPort = 10161;
constexpr std::uint8_t kMac[6] = {0x00, 0x11, 0x62, 0x0A, 0x0B, 0x0C};

class NcsClient : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    Overrides o;
    o.attemptWait = std::chrono::milliseconds(200);
    o.quietPeriod = std::chrono::milliseconds(200);
    o.restartWait = std::chrono::milliseconds(0);
    o.snmpPort = kSnmpTestPort;
    SetOverrides(o);
  }

  NetifSimulator& StartSim(NetifConfig config = {}, std::uint32_t address = kSimAddress) {
    config.address = address;
    if (config.password.empty()) config.password = "secret";
    auto sim = std::make_unique<NetifSimulator>(config);
    std::string error;
    EXPECT_TRUE(sim->Start(&error)) << error;
    sims_.push_back(std::move(sim));
    return *sims_.back();
  }

  std::vector<std::unique_ptr<NetifSimulator>> sims_;
};

AddressSettings NewAddress() {
  AddressSettings a{};
  a.method = 2;
  const std::uint8_t ip[4] = {10, 9, 8, 7}, mask[4] = {255, 255, 0, 0}, gw[4] = {10, 9, 0, 1};
  std::memcpy(a.ip, ip, 4);
  std::memcpy(a.mask, mask, 4);
  std::memcpy(a.gateway, gw, 4);
  return a;
}

WirelessSettings NewWireless() {
  WirelessSettings w{};
  w.channel = 11;
  w.mode = 4;
  w.encryption = 1;
  w.keyIndex = 2;
  w.keyLength = 5;
  w.keys[1].present = 1;
  std::memcpy(w.keys[1].key, "ABCDE", 5);
  w.keys[3].present = 1;
  std::memcpy(w.keys[3].key, "VWXYZ", 5);
  return w;
}

}  // namespace

TEST_F(NcsClient, QueriesReadWhatTheInterfaceHolds) {
  NetifConfig config;
  config.extended = config.wireless = true;
  NetifSimulator& sim = StartSim(config);
  tw::sim::NetifSettings s = sim.Settings();
  s.method = 0;
  s.dnsServers = {Ipv4Address(1, 1, 1, 1), Ipv4Address(9, 9, 9, 9)};
  s.wirelessStatus[6] = 0x42;
  std::memcpy(s.wirelessStatus + 18, "statusnet", 9);
  sim.SetSettings(s);

  DiscoverySummary nic{};
  ASSERT_EQ(GetNICInfo(kSimAddress, &nic), kOk);
  EXPECT_EQ(0, std::memcmp(nic.mac, kMac, 6));
  EXPECT_EQ(+nic.address, kSimAddress);
  EXPECT_EQ(nic.model, 0x0400);
  EXPECT_EQ(nic.version, 0x0102);
  EXPECT_EQ(+nic.wireless, 1u);

  AddressSettings a{};
  WirelessSettings w{};
  ASSERT_EQ(GetSettingsByIP(kSimAddress, &a, &w), kOk);
  EXPECT_EQ(a.method, 0x8000);
  EXPECT_EQ(a.ip[0], 192);
  EXPECT_EQ(a.mask[0], 255);
  EXPECT_EQ(w.channel, 6);
  EXPECT_STREQ(w.ssid, "simnet");
  EXPECT_EQ(w.mode, 1);

  WirelessStatus ws{};
  ASSERT_EQ(GetWiFiStatus(kSimAddress, &ws), kOk);
  EXPECT_EQ(ws.value0, 0x42);
  EXPECT_STREQ(ws.ssid, "statusnet");

  char text[256];
  ASSERT_EQ(GetLocation(kSimAddress, text), kOk);
  EXPECT_STREQ(text, "back office");
  ASSERT_EQ(GetAdmin(kSimAddress, text), kOk);
  EXPECT_STREQ(text, "it desk");

  DnsSettings d{};
  ASSERT_EQ(GetDNS(kSimAddress, &d), kOk);
  EXPECT_STREQ(d.firstName, "printer");
  EXPECT_STREQ(d.secondName, "shop.example");
  EXPECT_EQ(d.nameValue[1], 2);
  EXPECT_EQ(d.serverCount, 2);
  EXPECT_EQ(d.servers[1][0], 9);

  AsbStatus asb{};
  ASSERT_EQ(GetASB(kSimAddress, &asb), kOk);
  EXPECT_EQ(asb.values[2][3], 12);
  char rx[32];
  ASSERT_EQ(GetRxName(kSimAddress, rx), kOk);
  EXPECT_STREQ(rx, "QX-R receiver");
  EXPECT_EQ(GetOnline(kSimAddress), 1);
  std::uint32_t first = 0, second = 0, conn = 0;
  ASSERT_EQ(GetBufferSize(kSimAddress, &first, &second), kOk);
  EXPECT_EQ(first, 4096u);
  EXPECT_EQ(second, 65536u);
  ASSERT_EQ(GetConnectionIP(kSimAddress, &conn), kOk);
  EXPECT_EQ(conn, Ipv4Address(10, 1, 2, 3));

  // Nine servers in a reply cannot be represented.
  s.rawServerCount = 9;
  sim.SetSettings(s);
  EXPECT_EQ(GetDNS(kSimAddress, &d), kUnexpected);
}

TEST_F(NcsClient, ControlCommandsAndSelfTest) {
  NetifConfig config;
  config.snmpPort = kSnmpTestPort;
  NetifSimulator& sim = StartSim(config);
  EXPECT_EQ(Reset(kSimAddress), kOk);
  EXPECT_EQ(ClearBuffer(kSimAddress), kOk);
  EXPECT_EQ(ClearTimeout(kSimAddress), kOk);
  EXPECT_EQ(ForceSend(kSimAddress, 0x37), kOk);
  const auto requests = sim.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].letter, 'C');
  EXPECT_EQ(requests[0].payload, std::vector<std::uint8_t>{0x01});
  EXPECT_EQ(requests[3].payload, std::vector<std::uint8_t>{0x37});

  EXPECT_EQ(SelfTest(kSimAddress, 5), kOk);
  const auto snmp = sim.SnmpRequests();
  ASSERT_EQ(snmp.size(), 1u);
  ASSERT_EQ(snmp[0].size(), 48u);
  EXPECT_EQ(snmp[0][47], 5);

  NetifFaults refuse;
  refuse.refuseCode = cmd::kReset;
  sim.SetFaults(refuse);
  EXPECT_EQ(Reset(kSimAddress), kBadReply);
}

TEST_F(NcsClient, NullPointersAndValidationSendNothing) {
  NetifSimulator& sim = StartSim();
  EXPECT_EQ(GetNICInfo(kSimAddress, nullptr), kInvalidArgument);
  EXPECT_EQ(GetSettingsByIP(kSimAddress, nullptr, nullptr), kInvalidArgument);
  EXPECT_EQ(GetSettingsByMAC(nullptr, kSimAddress, nullptr, nullptr), kInvalidArgument);
  EXPECT_EQ(GetWiFiStatus(kSimAddress, nullptr), kInvalidArgument);
  EXPECT_EQ(GetLocation(kSimAddress, nullptr), kInvalidArgument);
  EXPECT_EQ(GetDNS(kSimAddress, nullptr), kInvalidArgument);
  EXPECT_EQ(GetASB(kSimAddress, nullptr), kInvalidArgument);
  EXPECT_EQ(GetRxName(kSimAddress, nullptr), kInvalidArgument);
  std::uint32_t x;
  EXPECT_EQ(GetBufferSize(kSimAddress, &x, nullptr), kInvalidArgument);
  EXPECT_EQ(GetConnectionIP(kSimAddress, nullptr), kInvalidArgument);
  EXPECT_EQ(GetNIC(0, nullptr), kInvalidArgument);
  EXPECT_EQ(SetLocation(kSimAddress, nullptr, "secret"), kInvalidArgument);
  EXPECT_EQ(SetAdmin(kSimAddress, nullptr, "secret"), kInvalidArgument);
  EXPECT_EQ(SetDNS(kSimAddress, nullptr, "secret"), kInvalidArgument);
  DnsSettings nine{};
  nine.serverCount = 9;
  EXPECT_EQ(SetDNS(kSimAddress, &nine, "secret"), kInvalidArgument);
  EXPECT_EQ(SetSettingsByMAC(nullptr, kSimAddress, nullptr, nullptr, ""), kInvalidArgument);
  // No settings at all: no log-in, no store, no restart of the interface.
  EXPECT_EQ(SetSettingsByIP(kSimAddress, nullptr, nullptr, "secret"), kInvalidArgument);
  EXPECT_EQ(SetSettingsByMAC(kMac, kSimAddress, nullptr, nullptr, "secret"), kInvalidArgument);
  EXPECT_TRUE(sim.Requests().empty()) << "requests sent for a call without settings";

  const char* longPassword = "seventeen-chars!!";
  EXPECT_EQ(SetLocation(kSimAddress, "x", longPassword), kWrongPassword);
  EXPECT_EQ(ChangePassword(kSimAddress, "secret", longPassword), kWrongPassword);
  const AddressSettings valid = NewAddress();
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &valid, nullptr, longPassword), kWrongPassword);

  AddressSettings a = NewAddress();
  a.mask[0] = 254;
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "secret"), kInvalidArgument);
  a = NewAddress();
  const std::uint8_t loopback[4] = {127, 0, 0, 1}, allOnes[4] = {255, 255, 255, 255};
  std::memcpy(a.ip, loopback, 4);
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "secret"), kInvalidArgument);
  std::memcpy(a.ip, allOnes, 4);
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "secret"), kInvalidArgument);
  for (auto change : {+[](WirelessSettings& w) { w.channel = 0; }, +[](WirelessSettings& w) { w.channel = 12; },
                      +[](WirelessSettings& w) { w.mode = 2; }, +[](WirelessSettings& w) { w.encryption = 4; },
                      +[](WirelessSettings& w) { w.keyIndex = 4; }, +[](WirelessSettings& w) { w.keyLength = 7; }}) {
    WirelessSettings w = NewWireless();
    change(w);
    EXPECT_EQ(SetSettingsByIP(kSimAddress, nullptr, &w, "secret"), kInvalidArgument);
  }
  EXPECT_TRUE(sim.Requests().empty());
  EXPECT_EQ(SetMaxTimeout(0), 6);
  EXPECT_EQ(SetMaxRetry(0), 2);
  EXPECT_EQ(SetMaxTimeout(3), 3);
  EXPECT_EQ(MaxTimeout(), 3);
  EXPECT_EQ(Version(), 530);
}

TEST_F(NcsClient, SettingsAreStoredAtLogOut) {
  NetifSimulator& sim = StartSim();
  const AddressSettings a = NewAddress();
  const WirelessSettings w = NewWireless();
  ASSERT_EQ(SetSettingsByIP(kSimAddress, &a, &w, "secret"), kOk);
  tw::sim::NetifSettings s = sim.Settings();
  EXPECT_EQ(s.method, 2);
  EXPECT_EQ(s.ip[0], 10);
  EXPECT_EQ(s.mask[1], 255);
  EXPECT_EQ(s.mode, 4);
  EXPECT_EQ(s.keyIndex, 2);
  EXPECT_FALSE(s.keys[0].present);
  ASSERT_TRUE(s.keys[1].present);
  EXPECT_EQ(0, std::memcmp(s.keys[1].bytes, "ABCDE", 5));
  EXPECT_EQ(0, std::memcmp(s.keys[3].bytes, "VWXYZ", 5));
  EXPECT_EQ(sim.Restarts(), 1);

  ASSERT_EQ(SetLocation(kSimAddress, "front desk", "secret"), kOk);
  ASSERT_EQ(SetAdmin(kSimAddress, std::string(300, 'a').c_str(), "secret"), kOk);
  EXPECT_EQ(sim.Settings().location, "front desk");
  EXPECT_EQ(sim.Settings().admin, std::string(256, 'a')) << "at most 256 bytes are sent";
  EXPECT_EQ(sim.Restarts(), 1) << "texts log out without a restart";

  DnsSettings d{};
  std::strcpy(d.firstName, "till");
  std::strcpy(d.secondName, "store.example");
  d.serverCount = 1;
  d.servers[0][0] = 8;
  ASSERT_EQ(SetDNS(kSimAddress, &d, "secret"), kOk);
  EXPECT_EQ(sim.Settings().firstName, "till");
  EXPECT_EQ(sim.Settings().dnsServers.size(), 1u);

  ASSERT_EQ(ChangePassword(kSimAddress, "secret", "newpass"), kOk);
  EXPECT_EQ(sim.Password(), "newpass");
  EXPECT_EQ(SetLocation(kSimAddress, "x", "secret"), kWrongPassword);
  EXPECT_EQ(SetLocation(kSimAddress, "x", "newpass"), kOk);
}

TEST_F(NcsClient, RefusalsAndWrongPassword) {
  NetifSimulator& sim = StartSim();
  const AddressSettings a = NewAddress();
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "wrong"), kWrongPassword);

  NetifFaults f;
  f.refuseCode = cmd::kIdentity;   // identity and every login command
  sim.SetFaults(f);
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "secret"), kRefused);

  // Wireless results: 0x1000 -> -1, 0x2000 -> -7, others -> -255.
  const WirelessSettings w = NewWireless();
  for (auto [result, code] : {std::pair{0x1000, kInvalidArgument}, std::pair{0x2000, kRefused},
                              std::pair{0x3000, kUnexpected}}) {
    f = {};
    f.refuseCode = cmd::kWirelessKeys;
    f.refuseResult = static_cast<std::uint16_t>(result);
    sim.SetFaults(f);
    EXPECT_EQ(SetSettingsByIP(kSimAddress, nullptr, &w, "secret"), code);
  }
  // Encryption without a key: refused after the security command went out.
  sim.SetFaults({});
  sim.ClearRequests();
  WirelessSettings noKey = NewWireless();
  noKey.keys[1].present = noKey.keys[3].present = 0;
  EXPECT_EQ(SetSettingsByIP(kSimAddress, nullptr, &noKey, "secret"), kInvalidArgument);
  EXPECT_EQ(sim.CountRequests('S', cmd::kWirelessSecurity), 1);
  EXPECT_EQ(sim.CountRequests('S', cmd::kWirelessKeys), 0);

  // An address the interface refuses is not reported as set.
  f = {};
  f.refuseCode = cmd::kIpSettings;
  sim.SetFaults(f);
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "secret"), kBadReply);
  f.refuseCode = cmd::kLocation;
  sim.SetFaults(f);
  EXPECT_EQ(SetLocation(kSimAddress, "x", "secret"), kBadReply);
  EXPECT_EQ(sim.Restarts(), 0);
}

TEST_F(NcsClient, FailedLogOutRunsTheSequenceOnceMore) {
  NetifSimulator& sim = StartSim();
  const AddressSettings a = NewAddress();
  NetifFaults f;
  f.failLogouts = 1;
  sim.SetFaults(f);
  ASSERT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "secret"), kOk);
  EXPECT_EQ(sim.CountRequests('Q', cmd::kIdentity), 2);
  EXPECT_EQ(sim.Restarts(), 1);

  f.failLogouts = 2;
  sim.SetFaults(f);
  sim.ClearRequests();
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "secret"), kRefused);
  EXPECT_EQ(sim.CountRequests('Q', cmd::kIdentity), 2) << "once more, not more";
}

TEST_F(NcsClient, TimeoutsRetriesAndShortReplies) {
  NetifSimulator& sim = StartSim();
  NetifFaults f;
  f.silent = true;
  sim.SetFaults(f);
  DiscoverySummary nic{};
  EXPECT_EQ(GetNICInfo(kSimAddress, &nic), kNoReply);
  EXPECT_EQ(sim.CountRequests('Q', cmd::kBasicInfo), 2) << "two attempts by default";
  SetMaxRetry(3);
  sim.ClearRequests();
  EXPECT_EQ(GetOnline(kSimAddress), kNoReply);
  EXPECT_EQ(sim.CountRequests('Q', cmd::kOnline), 3);

  // The first request is lost: the repeated one gets through.
  SetMaxRetry(2);
  f = {};
  f.dropFirst = 1;
  sim.SetFaults(f);
  EXPECT_EQ(GetOnline(kSimAddress), 1);

  // Answers to other commands and scraps do not use up attempts.
  SetMaxRetry(1);
  f = {};
  f.strayFirst = true;
  sim.SetFaults(f);
  EXPECT_EQ(GetOnline(kSimAddress), 1);
  char text[256];
  EXPECT_EQ(GetLocation(kSimAddress, text), kOk);

  f = {};
  f.shortReplies = 24;
  sim.SetFaults(f);
  EXPECT_EQ(SetLocation(kSimAddress, "x", "secret"), kBadReply) << "24-byte identity reply";
  f.shortReplies = 67;
  sim.SetFaults(f);
  EXPECT_EQ(GetNICInfo(kSimAddress, &nic), kBadReply);
  f.shortReplies = 20;
  sim.SetFaults(f);
  EXPECT_EQ(GetConnectionIP(kSimAddress, reinterpret_cast<std::uint32_t*>(text)), kOk);
  f.shortReplies = 17;
  sim.SetFaults(f);
  EXPECT_EQ(GetConnectionIP(kSimAddress, reinterpret_cast<std::uint32_t*>(text)), kBadReply);

  // Duplicated replies do not confuse a whole settings sequence.
  SetMaxRetry(2);
  f = {};
  f.duplicate = true;
  sim.SetFaults(f);
  const AddressSettings a = NewAddress();
  EXPECT_EQ(SetSettingsByIP(kSimAddress, &a, nullptr, "secret"), kOk);
}

TEST_F(NcsClient, MacAddressedRequestsChangeLettersAndFilterReplies) {
  NetifSimulator& sim = StartSim();
  // Redirected like a broadcast: the target stands in for whatever address is given.
  Overrides o = GetOverrides();
  o.broadcastTarget = kSimAddress;
  SetOverrides(o);
  const std::uint32_t broadcast = Ipv4Address(255, 255, 255, 255);

  AddressSettings a{};
  ASSERT_EQ(GetSettingsByMAC(kMac, broadcast, &a, nullptr), kOk);
  EXPECT_EQ(a.ip[2], 7);
  const AddressSettings next = NewAddress();
  ASSERT_EQ(SetSettingsByMAC(kMac, broadcast, &next, nullptr, "secret"), kOk);
  EXPECT_EQ(sim.Settings().ip[0], 10);
  EXPECT_EQ(sim.CountRequests('P', cmd::kBasicInfo), 1);
  EXPECT_EQ(sim.CountRequests('P', cmd::kIpSettings), 1);
  EXPECT_EQ(sim.CountRequests('I', cmd::kIdentity), 2);   // log-in and log-out
  EXPECT_EQ(sim.CountRequests('I', cmd::kIpSettings), 1);
  EXPECT_EQ(sim.CountRequests('Q', cmd::kIdentity), 0);

  // Another interface's MAC: no reply is accepted.
  const std::uint8_t other[6] = {0x00, 0x11, 0x62, 0x0A, 0x0B, 0x0D};
  EXPECT_EQ(GetSettingsByMAC(other, broadcast, &a, nullptr), kNoReply);
  NetifFaults f;
  f.otherMac = true;
  sim.SetFaults(f);
  EXPECT_EQ(GetSettingsByMAC(kMac, broadcast, &a, nullptr), kNoReply);
}

TEST_F(NcsClient, DiscoveryListsEachAcceptedReply) {
  NetifConfig plain;
  NetifSimulator& sim = StartSim(plain);
  ASSERT_EQ(ListUp(kSimAddress, 1), 1);
  DiscoverySummary s{};
  ASSERT_EQ(GetNIC(0, &s), kOk);
  EXPECT_EQ(+s.address, kSimAddress);
  EXPECT_EQ(0, std::memcmp(s.mac, kMac, 6));
  EXPECT_EQ(GetNIC(1, &s), kIndexOutOfRange);
  EXPECT_EQ(GetNIC(-1, &s), kIndexOutOfRange);

  NetifFaults f;
  f.duplicate = true;
  sim.SetFaults(f);
  EXPECT_EQ(ListUp(kSimAddress, 1), 2) << "an interface that answers twice is listed twice";
  f = {};
  f.shortReplies = 67;
  sim.SetFaults(f);
  EXPECT_EQ(ListUp(kSimAddress, 1), 0);
  EXPECT_EQ(GetNIC(0, &s), kIndexOutOfRange) << "the list is emptied by every discovery";

  NetifConfig other;
  other.name = "ZZ-other";
  StartSim(other, kSecondSim);
  EXPECT_EQ(ListUp(kSecondSim, 1), 0) << "plain replies must name a QX interface";

  // The redirection carries a broadcast discovery to the simulator.
  sim.SetFaults({});
  Overrides o = GetOverrides();
  o.broadcastTarget = kSimAddress;
  SetOverrides(o);
  EXPECT_EQ(ListUp(Ipv4Address(255, 255, 255, 255), 1), 1);
}

TEST_F(NcsClient, ExtendedRepliesNeedTheCapabilityBit) {
  NetifConfig config;
  config.extended = config.wireless = true;
  config.capabilities = 4;
  NetifSimulator& sim = StartSim(config);
  ASSERT_EQ(ListUp(kSimAddress, 1), 1);
  DiscoverySummary s{};
  ASSERT_EQ(GetNIC(0, &s), kOk);
  EXPECT_EQ(+s.wireless, 1u);
  NetifFaults f;
  f.shortReplies = 75;
  sim.SetFaults(f);
  EXPECT_EQ(ListUp(kSimAddress, 1), 0);
  sim.Stop();

  config.capabilities = 3;
  StartSim(config, kSecondSim);
  EXPECT_EQ(ListUp(kSecondSim, 1), 0);
}

TEST_F(NcsClient, ARespondentThatNeverStopsCannotHoldTheDiscovery) {
  NetifSimulator& sim = StartSim();
  NetifFaults f;
  f.flood = true;
  sim.SetFaults(f);
  Overrides o = GetOverrides();
  o.maxDiscoveryDuration = std::chrono::milliseconds(700);
  o.maxDiscoveryRecords = 1000000;
  SetOverrides(o);
  const auto start = std::chrono::steady_clock::now();
  const int found = ListUp(kSimAddress, 1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(found, 1);
  EXPECT_LT(took, std::chrono::seconds(5));

  o.maxDiscoveryDuration = std::chrono::seconds(30);
  o.maxDiscoveryRecords = 50;
  SetOverrides(o);
  EXPECT_EQ(ListUp(kSimAddress, 1), 50);
  sim.SetFaults({});
}
