// The library as integrators use it, from outside: each case runs
// portwire_outside_client (outside_client_posix.cpp) in a child process with a
// watchdog, against the simulated printer on a loopback address of its own.
// The client prints what it measured; its exit code says whether every check
// held.
//
// PORTWIRE_RANDOM_SECONDS sets how long the eight-thread case runs (default 5;
// 20 gives the full soak).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs one case; the watchdog ends a client that hangs.
void RunClient(const std::vector<std::string>& args, std::chrono::seconds bound) {
  const std::string program = (tw::platform::ExecutableFolder() / "portwire_outside_client").string();
  tw::platform::ChildProcess client = tw::platform::ChildProcess::Start(program, args);
  ASSERT_TRUE(client.IsRunning()) << program;
  const auto start = Clock::now();
  std::optional<int> code;
  while (!(code = client.Poll()) && Clock::now() - start < bound) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!code) {
    client.Terminate(std::chrono::milliseconds(500));
    FAIL() << "client " << args[0] << " still running after " << bound.count() << " s (hang)";
  }
  EXPECT_EQ(*code, 0) << "client " << args[0];
}

int RandomSeconds() {
  const char* text = std::getenv("PORTWIRE_RANDOM_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 5;
}

TEST(OutsideClient, StatusCallbackThatCallsTheLibraryDoesNotDelayReads) {
  RunClient({"callback-read", "127.0.0.91", "0"}, std::chrono::seconds(60));
  RunClient({"callback-read", "127.0.0.92", "50"}, std::chrono::seconds(60));
}

TEST(OutsideClient, StatusCallbackThatCallsTheLibraryDuringTheCommunicationTest) {
  RunClient({"callback-commtest", "127.0.0.93", "0"}, std::chrono::seconds(60));
  RunClient({"callback-commtest", "127.0.0.94", "50"}, std::chrono::seconds(60));
}

TEST(OutsideClient, EightThreadsAtRandomThenTerminate) {
  const int seconds = RandomSeconds();
  RunClient({"random", "127.0.0.95", std::to_string(seconds)}, std::chrono::seconds(seconds + 60));
}

TEST(OutsideClient, PortListingTouchesOnlyTheRecordsItFills) {
  RunClient({"enum-guard"}, std::chrono::seconds(30));
}

TEST(OutsideClient, AFloodingPrinterNobodyReadsKeepsMemoryFlat) {
  RunClient({"flood", "127.0.0.96"}, std::chrono::seconds(60));
}

TEST(OutsideClient, HostileIntegratorProbe) {
  RunClient({"probe", "127.0.0.97"}, std::chrono::seconds(90));
}

}  // namespace
