// Discovery and MAC-addressed settings by real broadcast, inside two network
// namespaces that the test creates and joins with a veth pair: two simulated
// interfaces listen on every address of one namespace, the client runs in the
// other (this program again, started by "ip netns exec"). Needs the right to
// create namespaces (root); skipped elsewhere. Nothing leaves the namespaces.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "gui/discovery.h"
#include "gui/enum_port.h"
#include "netsettings/ncs_client.h"
#include "netsettings/ncs_engine.h"
#include "platform/module.h"
#include "platform/net_interfaces.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/udp_socket.h"
#include "include/portwire.h"

using namespace tw::ncs;
using tw::platform::Ipv4Address;

namespace {

constexpr const char* kInnerFlag = "NCS_NETNS_INNER";
constexpr std::uint8_t kMacA[6] = {0x00, 0x11, 0x62, 0x00, 0x00, 0x0A};
constexpr std::uint8_t kMacB[6] = {0x00, 0x11, 0x62, 0x00, 0x00, 0x0B};

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Network namespaces joined by veth pairs, removed with everything in them on
// every way out. Names carry a random tag so that parallel runs never meet.
class Namespaces {
 public:
  Namespaces() {
    std::random_device rd;
    tag_ = std::to_string(rd() % 100000);
    dir_ = std::filesystem::temp_directory_path() / ("ncs-netns-" + tag_);
    std::filesystem::create_directories(dir_);
  }
  ~Namespaces() {
    for (const auto& pidFile : pidFiles_) Shell("kill $(cat '" + pidFile.string() + "')");
    for (const auto& n : names_) Shell("ip netns del " + n);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // The namespace's full name for a short role ("sim", "cli").
  std::string Name(const std::string& role) const { return "ncs-" + role + "-" + tag_; }

  // Creates the namespace with its loopback up. The first failure means the
  // right to create namespaces is missing.
  bool Add(const std::string& role) {
    if (Shell("ip netns add " + Name(role)) != 0) {
      if (names_.empty()) return false;
      error_ = "ip netns add " + Name(role);
      return false;
    }
    names_.push_back(Name(role));
    return Run("ip -n " + Name(role) + " link set lo up");
  }

  // A veth pair between two namespaces, each end with its address ("a.b.c.d/24")
  // and the subnet broadcast, both up. No route beyond the subnet is added.
  bool Link(const std::string& roleA, const std::string& addrA, const std::string& roleB,
            const std::string& addrB) {
    const std::string a = "ncsv" + tag_ + char('a' + links_), b = "ncsw" + tag_ + char('a' + links_);
    ++links_;
    const std::string na = Name(roleA), nb = Name(roleB);
    return Run("ip -n " + na + " link add " + a + " type veth peer name " + b + " netns " + nb) &&
           Run("ip -n " + na + " addr add " + addrA + " brd + dev " + a) &&
           Run("ip -n " + nb + " addr add " + addrB + " brd + dev " + b) &&
           Run("ip -n " + na + " link set " + a + " up") && Run("ip -n " + nb + " link set " + b + " up");
  }
  // The client end's name of the last link (for routes).
  std::string LastLinkEnd() const { return "ncsw" + tag_ + char('a' + links_ - 1); }

  bool Run(const std::string& command) {
    if (Shell(command) == 0) return true;
    error_ = command;
    return false;
  }

  // Starts netif-sim inside a namespace; true once it answers.
  bool StartSim(const std::string& role, const std::string& program, const std::string& mac,
                const std::string& name) {
    const auto log = dir_ / (name + ".log");
    const auto pid = dir_ / (name + ".pid");
    pidFiles_.push_back(pid);
    const std::string cmd = "ip netns exec " + Name(role) + " '" + program +
                            "' --bind-any --reuse --password pw --mac " + mac + " --lifetime 60 >'" +
                            log.string() + "' 2>&1 & echo $! >'" + pid.string() + "'";
    if (std::system(cmd.c_str()) != 0) return false;
    for (int i = 0; i < 250; ++i) {
      if (ReadFile(log).find("ready") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = ReadFile(log);
    return false;
  }

  const std::string& error() const { return error_; }

 private:
  std::string tag_, error_;
  std::filesystem::path dir_;
  std::vector<std::string> names_;
  std::vector<std::filesystem::path> pidFiles_;
  int links_ = 0;
};

std::string IpProgram() {
  for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (std::filesystem::exists(p)) return p;
  }
  return {};
}

std::string SimProgram() {
  std::string sim = tw::platform::GetEnv("NETIF_SIM").value_or("");
  if (sim.empty()) sim = (tw::platform::ExecutableFolder() / "netif-sim").string();
  return sim;
}

// Runs the tests matching `filter` of this program inside the namespace.
void RunInside(const std::string& ip, const std::string& ns, const std::string& filter) {
  tw::platform::SetEnv(kInnerFlag, "1");
  const auto self = tw::platform::ExecutableFolder() / "ncs_netns_tests";
  const auto run = tw::platform::RunProcess(ip, {"netns", "exec", ns, self.string(), "--gtest_filter=" + filter}, true);
  tw::platform::SetEnv(kInnerFlag, std::nullopt);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("SKIPPED"), std::string::npos) << run.output;
}

}  // namespace

TEST(NcsNamespace, DiscoveryAndSettingsByBroadcast) {
  if (tw::platform::GetEnv(kInnerFlag)) GTEST_SKIP() << "outer part";
  const std::string ip = IpProgram();
  if (ip.empty()) GTEST_SKIP() << "no ip program";
  Namespaces ns;
  if (!ns.Add("sim")) GTEST_SKIP() << "network namespaces are not permitted here";
  ASSERT_TRUE(ns.Add("cli")) << ns.error();
  ASSERT_TRUE(ns.Link("sim", "10.213.7.2/24", "cli", "10.213.7.1/24")) << ns.error();
  ASSERT_TRUE(ns.Run("ip -n " + ns.Name("cli") + " route add 255.255.255.255 dev " + ns.LastLinkEnd())) << ns.error();
  ASSERT_TRUE(ns.StartSim("sim", SimProgram(), "00:11:62:00:00:0a", "a")) << ns.error();
  ASSERT_TRUE(ns.StartSim("sim", SimProgram(), "00:11:62:00:00:0b", "b")) << ns.error();
  RunInside(ip, ns.Name("cli"), "NcsNamespace.InsideClientNamespace");
}

// A machine with two network cards and no default route: one printer
// interface behind each card, each in a namespace of its own. The limited
// broadcast has no route, so only a request sent on each interface finds
// them; the front end's search, NCSListUp and the library's listing of
// network printers all find both.
TEST(NcsNamespace, TwoCardsWithoutDefaultRoute) {
  if (tw::platform::GetEnv(kInnerFlag)) GTEST_SKIP() << "outer part";
  const std::string ip = IpProgram();
  if (ip.empty()) GTEST_SKIP() << "no ip program";
  Namespaces ns;
  if (!ns.Add("cli")) GTEST_SKIP() << "network namespaces are not permitted here";
  ASSERT_TRUE(ns.Add("pa")) << ns.error();
  ASSERT_TRUE(ns.Add("pb")) << ns.error();
  ASSERT_TRUE(ns.Link("pa", "10.213.8.2/24", "cli", "10.213.8.1/24")) << ns.error();
  ASSERT_TRUE(ns.Link("pb", "10.213.9.2/24", "cli", "10.213.9.1/24")) << ns.error();
  ASSERT_TRUE(ns.StartSim("pa", SimProgram(), "00:11:62:00:00:0a", "a")) << ns.error();
  ASSERT_TRUE(ns.StartSim("pb", SimProgram(), "00:11:62:00:00:0b", "b")) << ns.error();
  RunInside(ip, ns.Name("cli"), "NcsNamespace.InsideTwoCards");
}

namespace {

std::set<std::string> Addresses(const std::vector<DiscoverySummary>& found) {
  std::set<std::string> out;
  for (const auto& s : found) {
    const auto* a = reinterpret_cast<const std::uint8_t*>(&s.address);
    out.insert(std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
               std::to_string(a[3]));
  }
  return out;
}

const std::set<std::string> kBothPrinters = {"10.213.8.2", "10.213.9.2"};

}  // namespace

TEST(NcsNamespace, InsideTwoCards) {
  if (!tw::platform::GetEnv(kInnerFlag)) GTEST_SKIP() << "runs inside the test's namespace only";
  ASSERT_FALSE(tw::platform::GetEnv("PORTWIRE_NCS_BROADCAST").has_value());
  EXPECT_EQ(tw::platform::BroadcastInterfaces().size(), 2u);
  Overrides o;
  o.quietPeriod = std::chrono::milliseconds(500);
  SetOverrides(o);

  // The client's discovery, as NCSListUp runs it.
  ASSERT_EQ(ListUp(Ipv4Address(255, 255, 255, 255), 1), 2);
  std::vector<DiscoverySummary> found(2);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(GetNIC(i, &found[i]), kOk);
  EXPECT_EQ(Addresses(found), kBothPrinters);

  // The front end's search and its network page list.
  ASSERT_EQ(tw::gui::DiscoverPrinters(), 2);
  std::set<std::string> listed;
  for (const auto& a : tw::gui::NetworkDiscoveryFinder().FindPrinters()) listed.insert(tw::platform::Utf16ToUtf8(a));
  EXPECT_EQ(listed, kBothPrinters);

  // The library beside this program, as an outside client: NCSListUp and the
  // "NET" listing (which keeps its 3 s quiet period).
  tw::platform::Module lib = tw::platform::Module::Load(u"Portwire.dll");
  ASSERT_TRUE(lib.IsLoaded());
  auto startup = lib.Function<int (*)()>("NCSWSAStartup");
  auto listUp = lib.Function<int (*)(std::uint32_t, int)>("NCSListUp");
  auto enumDevPort = lib.Function<decltype(&::KPC_EnumDevPort)>("KPC_EnumDevPort");
  auto terminate = lib.Function<decltype(&::KPC_Terminate)>("KPC_Terminate");
  ASSERT_TRUE(startup && listUp && enumDevPort && terminate);
  ASSERT_EQ(startup(), 0);
  EXPECT_EQ(listUp(0xFFFFFFFFu, 1), 2);
  std::vector<::PortSettings> records(8);
  std::vector<::PortSettings*> slots;
  for (auto& r : records) slots.push_back(&r);
  std::uint32_t count = 0;
  ASSERT_EQ(enumDevPort(reinterpret_cast<const std::uint16_t*>(u"NET"), slots.data(), 8, &count), PW_OK);
  ASSERT_EQ(count, 2u);
  std::set<std::string> names;
  for (std::uint32_t i = 0; i < count; ++i) names.insert(tw::platform::Utf16ToUtf8(reinterpret_cast<const char16_t*>(records[i].portName)));
  EXPECT_EQ(names, kBothPrinters);
  terminate();
}

// The client side, run inside the client namespace by the test above.
TEST(NcsNamespace, InsideClientNamespace) {
  if (!tw::platform::GetEnv(kInnerFlag)) GTEST_SKIP() << "runs inside the test's namespace only";
  Overrides o;   // no redirection: real broadcasts inside the namespace
  o.attemptWait = std::chrono::milliseconds(500);
  o.quietPeriod = std::chrono::milliseconds(500);
  o.restartWait = std::chrono::milliseconds(0);
  SetOverrides(o);
  ASSERT_FALSE(o.broadcastTarget.has_value());

  const std::uint32_t subnet = Ipv4Address(10, 213, 7, 255);
  const std::uint32_t limited = Ipv4Address(255, 255, 255, 255);
  for (std::uint32_t target : {subnet, limited}) {
    ASSERT_EQ(ListUp(target, 1), 2);
    std::set<std::uint8_t> macs;
    for (int i = 0; i < 2; ++i) {
      DiscoverySummary s{};
      ASSERT_EQ(GetNIC(i, &s), kOk);
      EXPECT_EQ(+s.address, Ipv4Address(10, 213, 7, 2));
      macs.insert(s.mac[5]);
    }
    EXPECT_EQ(macs, (std::set<std::uint8_t>{0x0A, 0x0B}));
  }

  // Settings by MAC over the broadcast address reach that interface alone.
  AddressSettings a{};
  a.method = 1;
  const std::uint8_t newIp[4] = {10, 213, 7, 50}, mask[4] = {255, 255, 255, 0};
  std::memcpy(a.ip, newIp, 4);
  std::memcpy(a.mask, mask, 4);
  ASSERT_EQ(SetSettingsByMAC(kMacB, subnet, &a, nullptr, "pw"), kOk);
  AddressSettings b{}, other{};
  ASSERT_EQ(GetSettingsByMAC(kMacB, subnet, &b, nullptr), kOk);
  ASSERT_EQ(GetSettingsByMAC(kMacA, limited, &other, nullptr), kOk);
  EXPECT_EQ(b.ip[3], 50);
  EXPECT_NE(other.ip[3], 50);
}
