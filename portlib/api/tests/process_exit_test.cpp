// Clients that exit with a port open: every one must end promptly and leave no
// connection behind at the printer.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "sim/printer/sim_printer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSimAddress = "127.0.0.74";
constexpr int kClients = 50;
// Generous: a client needs a few milliseconds; a hang is what this catches.
constexpr auto kClientBound = std::chrono::seconds(10);

// Runs `program` and waits for it at most kClientBound: its exit code, or
// nullopt when it was still running (it is then ended).
std::optional<int> RunBounded(const std::string& program, const std::vector<std::string>& args,
                              std::chrono::milliseconds* took = nullptr) {
  const auto start = Clock::now();
  tw::platform::ChildProcess client = tw::platform::ChildProcess::Start(program, args);
  if (!client.IsRunning()) return -1;
  std::optional<int> code;
  while (!(code = client.Poll()) && Clock::now() - start < kClientBound) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (took) *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return code;
}

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
    std::chrono::milliseconds took{0};
    const std::optional<int> code = RunBounded(program, {kSimAddress}, &took);
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

// exit() while another thread of the client is inside KPC_Read, KPC_Write or
// a status callback (which calls back into the library): the process ends
// normally, neither crashing under that thread nor waiting for it, whenever
// in the thread's work the exit comes.
TEST(ProcessExit, ClientsThatExitWhileAnotherThreadIsInsideTheLibraryEndNormally) {
  tw::sim::SimConfig config;
  config.tcpAddress = kSimAddress;
  config.resetMs = 0;
  tw::sim::SimPrinter sim(config);
  ASSERT_TRUE(sim.Start()) << sim.Error();
  const std::string program = (tw::platform::ExecutableFolder() / "exit_while_busy").string();
  // In a sanitizer build the children still report every memory error; only
  // the leak check at their exit goes, which stops threads that are inside
  // the library on purpose here (and fails itself doing so).
  const std::optional<std::string> asan = tw::platform::GetEnv("ASAN_OPTIONS");
  tw::platform::SetEnv("ASAN_OPTIONS", (asan ? *asan + ":" : std::string()) + "detect_leaks=0");
  constexpr int kRunsPerMode = 12;
  for (const char* mode : {"read", "write", "callback"}) {
    std::chrono::milliseconds slowest{0};
    for (int i = 0; i < kRunsPerMode; ++i) {
      std::chrono::milliseconds took{0};
      const std::optional<int> code = RunBounded(program, {kSimAddress, mode, std::to_string(i * 3)}, &took);
      ASSERT_TRUE(code.has_value()) << mode << " client " << i << " still running after " << kClientBound.count()
                                    << " s";
      ASSERT_EQ(*code, 0) << mode << " client " << i;
      slowest = std::max(slowest, took);
    }
    std::printf("%d clients that exit during %s: slowest %lld ms\n", kRunsPerMode, mode,
                static_cast<long long>(slowest.count()));
  }
  tw::platform::SetEnv("ASAN_OPTIONS", asan);
}

// A client that frees the library with a port open and without KPC_Terminate,
// fifty times in one process: every round ends (the client's watchdog ends a
// hung one with 3) and leaves no connection open at the printer.
TEST(ProcessExit, UnloadWithAnOpenPortAndNoTerminateEndsAndReleasesTheConnection) {
  tw::sim::SimConfig config;
  config.tcpAddress = kSimAddress;
  config.resetMs = 0;
  tw::sim::SimPrinter sim(config);
  ASSERT_TRUE(sim.Start()) << sim.Error();
  const std::string program = (tw::platform::ExecutableFolder() / "unload_without_terminate").string();
  std::chrono::milliseconds took{0};
  const std::optional<int> code = RunBounded(program, {kSimAddress, "50"}, &took);
  ASSERT_TRUE(code.has_value()) << "still running after " << kClientBound.count() << " s";
  EXPECT_EQ(*code, 0);
  EXPECT_TRUE(sim.WaitFor([&](const tw::sim::SimReport& r) { return r.connections >= 50 && !r.connected; },
                          std::chrono::seconds(5)))
      << sim.ReportText();
  std::printf("50 rounds of load, open, unload without terminate: %lld ms\n", static_cast<long long>(took.count()));
}

}  // namespace
