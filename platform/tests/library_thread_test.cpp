// LibraryThread outside teardown behaves like std::thread: join waits for the
// body, a thread can tell itself apart and let itself go, and one left
// joinable is joined by its destructor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/library_thread.h"

namespace {

using tw::platform::LibraryThread;

TEST(LibraryThread, JoinWaitsForTheBodyAndOnlyTheThreadIsCurrent) {
  std::atomic<bool> done{false};
  std::atomic<int> selfSeen{-1};
  LibraryThread* self = nullptr;
  std::atomic<bool> ready{false};
  LibraryThread thread([&] {
    while (!ready.load()) std::this_thread::yield();
    selfSeen.store(self->IsCurrent() ? 1 : 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    done.store(true);
  });
  self = &thread;
  ready.store(true);
  EXPECT_FALSE(thread.IsCurrent());
  EXPECT_TRUE(thread.joinable());
  thread.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(selfSeen.load(), 1);
  EXPECT_FALSE(thread.joinable());
  thread.join();  // nothing left to join
}

TEST(LibraryThread, AThreadLetsItselfGoAndTheDestructorJoinsTheRest) {
  std::atomic<bool> detached{false};
  auto self = std::make_unique<LibraryThread>();
  LibraryThread* raw = self.get();
  std::atomic<bool> ready{false};
  *self = LibraryThread([&] {
    while (!ready.load()) std::this_thread::yield();
    raw->detach();
    detached.store(true);
  });
  ready.store(true);
  while (!detached.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(self->joinable());
  self.reset();

  std::atomic<int> runs{0};
  for (int i = 0; i < 20; ++i) {
    LibraryThread t([&] { runs.fetch_add(1); });
  }
  EXPECT_EQ(runs.load(), 20);
}

}  // namespace
