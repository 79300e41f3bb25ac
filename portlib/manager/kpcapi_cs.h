#pragma once
// KPCAPI_CS: scope guard of the library's API lock. Every export that runs
// under the API lock creates one on its stack before doing anything else, so
// the lock is released on every way out:
//
//   KPCAPI_CS guard(manager);
//   return manager.Open(mode);
//
// The lock is recursive (like a critical section): a client callback that calls
// a locked export on the thread that already holds it does not deadlock.
//
// A client callback on one of the library's threads that calls a locked export
// while another thread holds the lock to stop those very threads (Close,
// Terminate) does not get the lock: Held() is 0 and the export returns at once
// with a failure, so the stopping thread can finish.

#include <chrono>
#include <thread>

#include "portlib/manager/kp_comm.h"

namespace tw::portwire {

class KPCAPI_CS {
 public:
  explicit KPCAPI_CS(KPComm& manager) : lock_(manager.ApiLock()) {
    if (KPComm::InClientCallback()) {
      // Short slices, so that a stop that begins while this waits is seen.
      // (try_lock and a pause rather than a timed lock: the race detector
      // does not see timed locks being taken.)
      while (!lock_.try_lock()) {
        if (manager.StoppingThreads()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(kCallbackSliceMs));
      }
    } else {
      lock_.lock();
    }
    held_ = 1;
  }
  virtual ~KPCAPI_CS() {
    if (held_ != 0) lock_.unlock();
    held_ = 0;
  }
  KPCAPI_CS(const KPCAPI_CS&) = delete;
  KPCAPI_CS& operator=(const KPCAPI_CS&) = delete;

  int32_t Held() const { return held_; }

 private:
  static constexpr int kCallbackSliceMs = 1;
  std::recursive_timed_mutex& lock_;
  int32_t held_ = 0;
};

}  // namespace tw::portwire
