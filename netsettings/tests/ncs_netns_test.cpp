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

#include "netsettings/ncs_client.h"
#include "netsettings/ncs_engine.h"
#include "platform/process.h"
#include "platform/udp_socket.h"

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

// Two namespaces joined by a veth pair, removed with everything in them on
// every way out.
class Namespaces {
 public:
  Namespaces() {
    std::random_device rd;
    tag_ = std::to_string(rd() % 100000);
    sim_ = "ncs-sim-" + tag_;
    client_ = "ncs-cli-" + tag_;
    dir_ = std::filesystem::temp_directory_path() / ("ncs-netns-" + tag_);
    std::filesystem::create_directories(dir_);
  }
  ~Namespaces() {
    for (const auto& pidFile : pidFiles_) Shell("kill $(cat '" + pidFile.string() + "')");
    Shell("ip netns del " + sim_);
    Shell("ip netns del " + client_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  bool Create() {
    if (Shell("ip netns add " + sim_) != 0) return false;
    created_ = true;
    const std::string va = "ncsv" + tag_ + "a", vb = "ncsv" + tag_ + "b";
    const std::string commands[] = {
        "ip netns add " + client_,
        "ip -n " + sim_ + " link add " + va + " type veth peer name " + vb + " netns " + client_,
        "ip -n " + sim_ + " addr add 10.213.7.2/24 brd + dev " + va,
        "ip -n " + client_ + " addr add 10.213.7.1/24 brd + dev " + vb,
        "ip -n " + sim_ + " link set lo up",
        "ip -n " + client_ + " link set lo up",
        "ip -n " + sim_ + " link set " + va + " up",
        "ip -n " + client_ + " link set " + vb + " up",
        "ip -n " + client_ + " route add 255.255.255.255 dev " + vb,
    };
    for (const auto& c : commands) {
      if (Shell(c) != 0) {
        error_ = c;
        return false;
      }
    }
    return true;
  }

  // Starts netif-sim inside the simulator namespace; true once it answers.
  bool StartSim(const std::string& program, const std::string& mac, const std::string& name) {
    const auto log = dir_ / (name + ".log");
    const auto pid = dir_ / (name + ".pid");
    pidFiles_.push_back(pid);
    const std::string cmd = "ip netns exec " + sim_ + " '" + program + "' --bind-any --reuse --password pw --mac " +
                            mac + " --lifetime 60 >'" + log.string() + "' 2>&1 & echo $! >'" + pid.string() + "'";
    if (std::system(cmd.c_str()) != 0) return false;
    for (int i = 0; i < 250; ++i) {
      if (ReadFile(log).find("ready") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = ReadFile(log);
    return false;
  }

  const std::string& client() const { return client_; }
  const std::string& error() const { return error_; }
  bool created() const { return created_; }

 private:
  std::string tag_, sim_, client_, error_;
  std::filesystem::path dir_;
  std::vector<std::filesystem::path> pidFiles_;
  bool created_ = false;
};

std::string IpProgram() {
  for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (std::filesystem::exists(p)) return p;
  }
  return {};
}

}  // namespace

TEST(NcsNamespace, DiscoveryAndSettingsByBroadcast) {
  if (tw::platform::GetEnv(kInnerFlag)) GTEST_SKIP() << "outer part";
  const std::string ip = IpProgram();
  if (ip.empty()) GTEST_SKIP() << "no ip program";
  Namespaces ns;
  if (!ns.Create()) {
    if (!ns.created()) GTEST_SKIP() << "network namespaces are not permitted here";
    FAIL() << "namespace set-up failed at: " << ns.error();
  }
  std::string sim = tw::platform::GetEnv("NETIF_SIM").value_or("");
  if (sim.empty()) sim = (tw::platform::ExecutableFolder() / "netif-sim").string();
  ASSERT_TRUE(ns.StartSim(sim, "00:11:62:00:00:0a", "a")) << ns.error();
  ASSERT_TRUE(ns.StartSim(sim, "00:11:62:00:00:0b", "b")) << ns.error();

  tw::platform::SetEnv(kInnerFlag, "1");
  const auto self = tw::platform::ExecutableFolder() / "ncs_netns_tests";
  const auto run = tw::platform::RunProcess(
      ip, {"netns", "exec", ns.client(), self.string(), "--gtest_filter=NcsNamespace.Inside*"}, true);
  tw::platform::SetEnv(kInnerFlag, std::nullopt);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("SKIPPED"), std::string::npos) << run.output;
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
