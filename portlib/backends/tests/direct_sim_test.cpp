// The direct backend over the real port-access library against the simulated
// KP-S410: TCP on loopback addresses of this file's own (127.0.0.85-89) and a
// pseudo-terminal reached as a COM port through PORTWIRE_DOSDEVICES.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "portlib/backends/direct_comm.h"
#include "portlib/manager/kp_comm.h"
#include "sim/printer/sim_printer.h"
#include "sim/printer/sim_protocol.h"

namespace tw::portwire {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

const Bytes kModelNameQuery{0x1D, 0x49, 0x43};
const Bytes kModelNameReply{0x5F, 'K', 'P', '-', 'S', '4', '1', '0', 0x00};

std::atomic<int32_t> g_lastStatus{-100};
void PORTWIRE_CALL OnStatus(int32_t status, void*) { g_lastStatus.store(status); }

struct Port {
  CDirectComm* direct = nullptr;
  std::unique_ptr<KPComm> kp;

  explicit Port(bool useWaitReadable = true) {
    DirectCommOptions options;
    options.useWaitReadable = useWaitReadable;
    auto backend = std::make_unique<CDirectComm>(std::move(options));
    direct = backend.get();
    KPCommBackends backends;
    backends.direct = std::move(backend);
    KPCommEnvironment env;
    env.isLegacyDriverInstalled = [] { return false; };
    kp = std::make_unique<KPComm>(std::move(backends), std::move(env));
    kp->EnsureInitialized();
  }
  Result Open(std::u16string_view type, std::u16string_view name) {
    PortSettings r = MakeDefaultPortSettings();
    SetText(r.portType, type);
    SetText(r.portName, name);
    r.baudRate = 38400;
    r.route = 0;
    kp->SetPort(&r);
    return kp->Open(1);
  }
  // One write and the reply to it.
  Result Exchange(const Bytes& command, Bytes& reply, int32_t timeoutMs = 2000) {
    uint32_t written = 0;
    const Result w = kp->Write(command.data(), static_cast<uint32_t>(command.size()), &written, 2000);
    if (w != kResultOk) return w;
    reply.assign(256, 0);
    uint32_t got = 0;
    const Result r = kp->Read(reply.data(), 256, &got, timeoutMs);
    reply.resize(r == kResultOk ? got : 0);
    return r;
  }
};

sim::SimConfig TcpConfig(const char* address) {
  sim::SimConfig c;
  c.tcpAddress = address;
  c.resetMs = 200;
  return c;
}

// Round trips of the model name query; prints the mean in microseconds.
void MeasureRoundTrip(Port& port, const char* label) {
  Bytes reply;
  ASSERT_EQ(port.Exchange(kModelNameQuery, reply), kResultOk);  // warm-up
  constexpr int kRounds = 40;
  const auto start = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    ASSERT_EQ(port.Exchange(kModelNameQuery, reply), kResultOk);
    ASSERT_EQ(reply, kModelNameReply);
  }
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() / kRounds;
  std::cout << "[ measure ] " << label << ": write+read round trip " << us << " us" << std::endl;
}

TEST(DirectSim, NetworkPrinterAnswersOneReplyPerReadAndReportsStatus) {
  sim::SimPrinter sim(TcpConfig("127.0.0.85"));
  ASSERT_TRUE(sim.Start()) << sim.Error();
  Port port;
  ASSERT_TRUE(port.direct->IsLoaded()) << "liblnkioapi.so not found beside the test";
  ASSERT_TRUE(port.direct->UsesWaitReadable());
  port.kp->RegisterStatusProc(&OnStatus, nullptr);
  ASSERT_EQ(port.Open(u"NET", u"127.0.0.85"), kResultOk);
  EXPECT_EQ(port.direct->LinkUp(), 1);
  ASSERT_EQ(port.kp->CurrentBackend()->Initialize(0), kResultOk);
  // The printer's automatic status (online) arrives through the monitor.
  const auto end = Clock::now() + 5s;
  while (g_lastStatus.load() != 0 && Clock::now() < end) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(g_lastStatus.load(), 0);
  MeasureRoundTrip(port, "network, readable wait");
  EXPECT_EQ(port.kp->Close(), kResultOk);
}

TEST(DirectSim, AStatusRightBehindAnOddReplyGoesToTheStatusPath) {
  auto config = TcpConfig("127.0.0.89");
  config.behaviour.faults.insert(sim::Fault::kOddReply);
  sim::SimPrinter sim(config);
  ASSERT_TRUE(sim.Start()) << sim.Error();
  Port port;
  ASSERT_EQ(port.Open(u"NET", u"127.0.0.89"), kResultOk);
  ASSERT_EQ(port.kp->Status(), kStatusLinkLost);
  Bytes reply;
  ASSERT_EQ(port.Exchange(kModelNameQuery, reply), kResultOk);
  EXPECT_EQ(reply, (Bytes{0x41, 0x42, 0x43, 0x44, 0x45})) << "the reply alone is data";
  const auto end = Clock::now() + 5s;
  while (port.kp->Status() != 0 && Clock::now() < end) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(port.kp->Status(), 0) << "the status packet behind it reached the status path";
  uint8_t more[16];
  uint32_t got = 0;
  EXPECT_EQ(port.kp->Read(more, sizeof more, &got, 200), kResultTimeout) << "nothing else was queued as data";
}

TEST(DirectSim, NetworkRoundTripWithoutReadableWait) {
  sim::SimPrinter sim(TcpConfig("127.0.0.86"));
  ASSERT_TRUE(sim.Start()) << sim.Error();
  Port port(/*useWaitReadable=*/false);
  ASSERT_EQ(port.Open(u"NET", u"127.0.0.86"), kResultOk);
  std::this_thread::sleep_for(200ms);  // the monitor sits in its idle wait
  MeasureRoundTrip(port, "network, fallback wait");
}

TEST(DirectSim, DroppedNetworkLinkIsMadeAgain) {
  auto sim = std::make_unique<sim::SimPrinter>(TcpConfig("127.0.0.87"));
  ASSERT_TRUE(sim->Start()) << sim->Error();
  Port port;
  ASSERT_EQ(port.Open(u"NET", u"127.0.0.87"), kResultOk);
  Bytes reply;
  ASSERT_EQ(port.Exchange(kModelNameQuery, reply), kResultOk);

  // The printer goes away and comes back (as after its reset).
  sim.reset();
  const auto end = Clock::now() + 5s;
  while (port.direct->LinkUp() != 0 && Clock::now() < end) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(port.direct->LinkUp(), 0);
  sim = std::make_unique<sim::SimPrinter>(TcpConfig("127.0.0.87"));
  ASSERT_TRUE(sim->Start()) << sim->Error();
  ASSERT_EQ(port.Exchange(kModelNameQuery, reply), kResultOk);
  EXPECT_EQ(reply, kModelNameReply);

  // And the console program's way: close, reopen.
  EXPECT_EQ(port.kp->Close(), kResultOk);
  ASSERT_EQ(port.Open(u"NET", u"127.0.0.87"), kResultOk);
  ASSERT_EQ(port.Exchange(kModelNameQuery, reply), kResultOk);
  EXPECT_EQ(reply, kModelNameReply);
}

TEST(DirectSim, NothingListeningMeansNoLinkYet) {
  // 127.0.0.88 answers echoes (all of 127/8 is local) but nothing listens on
  // its port 9100: the port opens without a link and the write cannot link.
  Port port;
  ASSERT_EQ(port.Open(u"NET", u"127.0.0.88"), kResultOk);
  EXPECT_EQ(port.direct->LinkUp(), 0);
  uint32_t written = 0;
  EXPECT_NE(port.kp->Write(kModelNameQuery.data(), 3, &written, 1000), kResultOk);
  EXPECT_EQ(written, 0u);
}

TEST(DirectSim, SerialPrinterOnAPseudoTerminal) {
  const auto dir = std::filesystem::temp_directory_path() / ("direct-sim-" + std::to_string(Clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir);
  platform::SetEnv("PORTWIRE_DOSDEVICES", dir.string());
  {
    sim::SimConfig c;
    c.ptyDir = dir;
    c.comNumber = 7;
    sim::SimPrinter sim(c);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    Port port;
    ASSERT_EQ(port.Open(u"COM", u"COM7"), kResultOk);
    EXPECT_EQ(port.direct->OpenBlock().serialIndex, 6);
    ASSERT_EQ(port.kp->CurrentBackend()->Initialize(0), kResultOk);
    MeasureRoundTrip(port, "serial pty, readable wait");
    EXPECT_EQ(port.kp->Close(), kResultOk);
  }
  platform::SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tw::portwire
