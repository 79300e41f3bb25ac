// A child's standard error, captured while the caller polls or waits.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <unistd.h>

#include "platform/signals.h"

namespace tw::platform {
namespace {

#ifndef _WIN32
TEST(ChildProcessErrorOutput, CapturedWhilePollingAndWaiting) {
  auto polled = ChildProcess::Start("/bin/sh", {"-c", "echo one >&2; sleep 0.2; echo two >&2; exit 3"}, true);
  ASSERT_TRUE(polled.IsRunning());
  std::optional<int> code;
  while (!(code = polled.Poll())) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(*code, 3);
  EXPECT_EQ(polled.ErrorOutput(), "one\ntwo\n");

  // More than a pipe holds: waiting must keep reading, and the tail is kept.
  auto waited = ChildProcess::Start("/bin/sh", {"-c", "head -c 200000 /dev/zero | tr '\\\\0' x >&2; echo last >&2"},
                                    true);
  EXPECT_EQ(waited.Wait(), 0);
  EXPECT_EQ(waited.ErrorOutput().size(), ChildProcess::kMaxErrorOutput);
  EXPECT_EQ(waited.ErrorOutput().substr(waited.ErrorOutput().size() - 5), "last\n");

  // Not captured: nothing collected, standard error inherited.
  auto plain = ChildProcess::Start("/bin/sh", {"-c", "exit 0"});
  EXPECT_EQ(plain.Wait(), 0);
  EXPECT_EQ(plain.ErrorOutput(), "");
}

TEST(ChildProcessErrorOutput, TerminateAsksFirstThenForces) {
  // A program that ends on SIGTERM by itself gives its own code.
  auto polite = ChildProcess::Start("/bin/sh", {"-c", "trap 'echo bye >&2; exit 3' TERM; while :; do sleep 0.05; done"},
                                    true);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(polite.Terminate(std::chrono::seconds(10)), 3);
  EXPECT_EQ(polite.ErrorOutput(), "bye\n");
  // One that ignores it is killed after the grace period.
  auto stubborn = ChildProcess::Start("/bin/sh", {"-c", "trap '' TERM; while :; do sleep 0.05; done"});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(stubborn.Terminate(std::chrono::milliseconds(300)), 128 + 9);
}

// The stop request of this process: a signal sets it, a sleep ends early.
TEST(StopRequests, SignalEndsTheSleep) {
  WatchStopRequests();
  ResetStopRequest();
  EXPECT_FALSE(StopRequested());
  EXPECT_FALSE(SleepUnlessStopped(20));
  std::thread signaller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(getpid(), SIGHUP);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(SleepUnlessStopped(20000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  signaller.join();
  EXPECT_TRUE(StopRequested());
  ResetStopRequest();
}
#endif

}  // namespace
}  // namespace tw::platform
