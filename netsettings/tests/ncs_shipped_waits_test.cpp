// The shipped libPortwire.so, loaded by name from beside this program, with
// the timing variables of the test build set (CTest sets them to a few
// milliseconds): the library must keep the protocol's waits, so a user's
// environment can never shorten them, and must still follow the redirection
// variables (the broadcast goes to the simulated interface on 127.0.0.174).
// Only lower bounds on elapsed time are checked: a wait can never end early.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "netsettings/ncs_records.h"
#include "platform/module.h"
#include "sim/netif/netif_sim.h"

using namespace tw::ncs;
using tw::platform::Ipv4Address;
using Clock = std::chrono::steady_clock;

namespace {

const std::uint32_t kSim = Ipv4Address(127, 0, 0, 174);
const std::uint32_t kSilent = Ipv4Address(127, 0, 0, 175);

using NoArgs = int (*)();
using IntArg = int (*)(int);
using AddrOnly = int (*)(std::uint32_t);
using ListUp = int (*)(std::uint32_t, int);
using SetByIp = int (*)(std::uint32_t, const AddressSettings*, const WirelessSettings*, const char*);

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(NcsShippedLibrary, KeepsTheProtocolsWaitsWhateverTheEnvironment) {
  tw::platform::Module lib = tw::platform::Module::Load(u"Portwire.dll");
  ASSERT_TRUE(lib.IsLoaded()) << "libPortwire.so beside the test program";
  tw::sim::NetifConfig config;
  config.address = kSim;
  config.password = "pw";
  config.snmpPort = 10174;
  tw::sim::NetifSimulator sim(config);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;

  ASSERT_EQ(lib.Function<NoArgs>("NCSWSAStartup")(), 0);
  ASSERT_EQ(lib.Function<IntArg>("NCSSetMaxTimeout")(1), 1);
  ASSERT_EQ(lib.Function<IntArg>("NCSSetMaxRetry")(1), 1);

  // One unanswered attempt: the whole maximum wait of one second.
  auto start = Clock::now();
  EXPECT_EQ(lib.Function<AddrOnly>("NCSGetOnline")(kSilent), -3);
  EXPECT_GE(MillisecondsSince(start), 900);

  // Discovery: redirected to the simulator, ended by the caller's quiet period.
  start = Clock::now();
  EXPECT_EQ(lib.Function<ListUp>("NCSListUp")(0xFFFFFFFFu, 1), 1);
  EXPECT_GE(MillisecondsSince(start), 900);

  // Settings that restart the interface: the full pause after the store.
  AddressSettings a{};
  a.method = 1;
  const std::uint8_t ip[4] = {172, 20, 1, 9}, mask[4] = {255, 255, 255, 0};
  std::memcpy(a.ip, ip, 4);
  std::memcpy(a.mask, mask, 4);
  start = Clock::now();
  EXPECT_EQ(lib.Function<SetByIp>("NCSSetSettingsByIP")(kSim, &a, nullptr, "pw"), 0);
  EXPECT_GE(MillisecondsSince(start), 4900);
  EXPECT_EQ(sim.Restarts(), 1);
  EXPECT_EQ(lib.Function<NoArgs>("NCSWSACleanup")(), 0);
}
