// The front end's network discovery against simulated printer interfaces on
// loopback addresses 127.0.0.181 to 127.0.0.186: the broadcast is redirected
// there, as PORTWIRE_NCS_BROADCAST does for the program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "gui/discovery.h"
#include "gui/enum_port.h"
#include "netsettings/ncs_client.h"
#include "netsettings/ncs_engine.h"
#include "sim/netif/netif_sim.h"

namespace tw::gui {
namespace {

using platform::Ipv4Address;
using Clock = std::chrono::steady_clock;

void RedirectTo(std::uint32_t address, std::optional<std::chrono::milliseconds> quiet) {
  ncs::ResetState();
  ncs::Overrides o = ncs::GetOverrides();
  o.broadcastTarget = address;
  o.quietPeriod = quiet;
  ncs::SetOverrides(o);
}

std::unique_ptr<sim::NetifSimulator> StartSim(sim::NetifConfig config, std::uint32_t address) {
  config.address = address;
  auto s = std::make_unique<sim::NetifSimulator>(config);
  std::string error;
  EXPECT_TRUE(s->Start(&error)) << error;
  return s;
}

std::vector<std::string> Found() {
  std::vector<std::string> out;
  for (const auto& a : NetworkDiscoveryFinder().FindPrinters()) out.emplace_back(a.begin(), a.end());
  return out;
}

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

TEST(Discovery, NoReplyEndsWithNothingAfterTheThreeSecondQuietPeriod) {
  RedirectTo(Ipv4Address(127, 0, 0, 181), std::nullopt);
  const auto start = Clock::now();
  EXPECT_EQ(DiscoverPrinters(), 0);
  EXPECT_GE(SecondsSince(start), 2.9);
  ncs::DiscoverySummary s;
  EXPECT_EQ(GetDiscoveredDevice(0, &s), ncs::kIndexOutOfRange);
  EXPECT_EQ(GetDiscoveredDevice(0, nullptr), ncs::kInvalidArgument);
}

// Answers the first discovery request at once and again every 2 s, three
// times in all.
void AnswerEveryTwoSeconds(platform::UdpSocket& s) {
  std::uint8_t request[64];
  platform::Ipv4Endpoint from;
  if (s.WaitReadable(std::chrono::seconds(10)) != platform::WaitResult::kReadable) return;
  if (s.ReceiveFrom(request, sizeof request, &from) < 14) return;
  std::uint8_t reply[68] = {'O', 'R', 'L', 'E', 'X', 'p', 0, 0, 0, 0, 0, 0, 0, 54};
  std::memcpy(reply + 14, "QX-periodic", 11);
  for (int i = 0; i < 3; ++i) {
    if (i) std::this_thread::sleep_for(std::chrono::seconds(2));
    s.SendTo(reply, sizeof reply, from);
  }
}

TEST(Discovery, RepliesEveryTwoSecondsKeepItGoingUntilThreeQuietSeconds) {
  const auto address = Ipv4Address(127, 0, 0, 182);
  RedirectTo(address, std::nullopt);
  auto responder = platform::UdpSocket::Open(nullptr);
  ASSERT_TRUE(responder.Bind({address, ncs::GetOverrides().port}));
  std::thread t([&] { AnswerEveryTwoSeconds(responder); });
  const auto start = Clock::now();
  const auto found = Found();
  const double took = SecondsSince(start);
  t.join();
  EXPECT_EQ(found, (std::vector<std::string>{"127.0.0.182", "127.0.0.182", "127.0.0.182"}));
  EXPECT_GE(took, 6.9);   // last reply at 4 s, then the quiet 3 s
  EXPECT_LT(took, 30.0);
}

TEST(Discovery, PrinterThatAnswersTwiceIsListedTwice) {
  const auto address = Ipv4Address(127, 0, 0, 183);
  RedirectTo(address, std::chrono::milliseconds(300));
  auto sim = StartSim({}, address);
  sim::NetifFaults faults;
  faults.duplicate = true;
  sim->SetFaults(faults);
  EXPECT_EQ(Found(), (std::vector<std::string>{"127.0.0.183", "127.0.0.183"}));
  ncs::DiscoverySummary s;
  EXPECT_EQ(GetDiscoveredDevice(1, &s), ncs::kOk);
  EXPECT_EQ(s.mac[5], 0x0C);
}

TEST(Discovery, PlainRepliesMustNameAQxInterfaceExtendedOnesNeedCapabilityBit2) {
  struct Case {
    const char* name;
    bool extended;
    std::uint32_t capabilities;
    std::uint8_t last;  // last octet of its address
    bool listed;
  };
  for (const Case c : {Case{"QX-E04 plain", false, 0, 184, true}, Case{"AB-E04 plain", false, 0, 185, false},
                       Case{"AB-E04 extended", true, 4, 186, true}, Case{"QX-E04 extended", true, 3, 187, false}}) {
    const auto address = Ipv4Address(127, 0, 0, c.last);
    RedirectTo(address, std::chrono::milliseconds(300));
    sim::NetifConfig config;
    config.name = c.name;
    config.extended = c.extended;
    config.capabilities = c.capabilities;
    auto sim = StartSim(config, address);
    const auto found = Found();
    EXPECT_EQ(found.size(), c.listed ? 1u : 0u) << c.name << " capabilities " << c.capabilities;
  }
}

// Closing the select-port dialog stops a search that would go on for a
// minute: what arrived before the stop is kept, and the wait ends within a
// tenth of a second of the request.
TEST(Discovery, StopRequestEndsALongSearchAtOnce) {
  const auto address = Ipv4Address(127, 0, 0, 187);
  RedirectTo(address, std::chrono::seconds(60));
  auto sim = StartSim({}, address);
  std::stop_source stop;
  std::thread closer([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    stop.request_stop();
  });
  const auto start = Clock::now();
  std::vector<std::u16string> found = NetworkDiscoveryFinder().FindPrinters(stop.get_token());
  const double took = SecondsSince(start);
  closer.join();
  EXPECT_LT(took, 0.4 + 0.5) << took;
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(std::string(found[0].begin(), found[0].end()), "127.0.0.187");
  // A stop asked before the search begins ends it as soon as it has sent.
  const auto again = Clock::now();
  NetworkDiscoveryFinder().FindPrinters(stop.get_token());
  EXPECT_LT(SecondsSince(again), 0.5);
  RedirectTo(address, std::nullopt);
}

}  // namespace
}  // namespace tw::gui
