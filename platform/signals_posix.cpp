#include "platform/signals.h"

#include <csignal>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace tw::platform {
namespace {

// Written by the handler, so a lock-free atomic (volatile sig_atomic_t would do).
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) { stopRequested.store(true); }

}  // namespace

void WatchStopRequests() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    // Interrupted system calls resume: the step under way finishes normally
    // and the program looks at the request between steps.
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
  });
}

bool StopRequested() { return stopRequested.load(); }

bool SleepUnlessStopped(int milliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (StopRequested()) return true;
    const auto now = Clock::now();
    if (now >= end) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(20)));
  }
}

std::string StopEventName(std::uint32_t) { return {}; }

void ResetStopRequest() { stopRequested.store(false); }

}  // namespace tw::platform
