// Clients that exit with a port open: every one must end promptly and leave no
// connection behind at the printer.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "platform/process.h"
#include "sim/printer/sim_printer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSimAddress = "127.0.0.74";
constexpr int kClients = 50;
// Generous: a client needs a few milliseconds; a hang is what this catches.
constexpr auto kClientBound = std::chrono::seconds(10);

TEST(ProcessExit, ClientsThatExitWithAnOpenPortEndAndReleaseTheConnection) {
  tw::sim::SimConfig config;
  config.tcpAddress = kSimAddress;
  config.resetMs = 0;
  tw::sim::SimPrinter sim(config);
  ASSERT_TRUE(sim.Start()) << sim.Error();
  const std::string program = (tw::platform::ExecutableFolder() / "exit_without_close").string();

  std::chrono::milliseconds slowest{0}, total{0};
  for (int i = 0; i < kClients; ++i) {
    const int before = sim.Report().connections;
    const auto start = Clock::now();
    tw::platform::ChildProcess client = tw::platform::ChildProcess::Start(program, {kSimAddress});
    ASSERT_TRUE(client.IsRunning()) << "client " << i << " did not start";
    std::optional<int> code;
    while (!(code = client.Poll()) && Clock::now() - start < kClientBound) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    ASSERT_TRUE(code.has_value()) << "client " << i << " still running after " << kClientBound.count() << " s";
    ASSERT_EQ(*code, 0) << "client " << i;
    slowest = std::max(slowest, took);
    total += took;
    // The printer saw this client connect and the connection end.
    ASSERT_TRUE(sim.WaitFor([&](const tw::sim::SimReport& r) { return r.connections > before && !r.connected; },
                            std::chrono::seconds(5)))
        << "client " << i << " left its connection open: " << sim.ReportText();
  }
  std::printf("%d clients: %lld ms in all, slowest %lld ms\n", kClients, static_cast<long long>(total.count()),
              static_cast<long long>(slowest.count()));
}

}  // namespace
