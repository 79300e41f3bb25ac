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

#include "portlib/manager/kp_comm.h"

namespace tw::portwire {

class KPCAPI_CS {
 public:
  explicit KPCAPI_CS(KPComm& manager) : lock_(manager.ApiLock()) {
    lock_.lock();
    held_ = 1;
  }
  virtual ~KPCAPI_CS() {
    lock_.unlock();
    held_ = 0;
  }
  KPCAPI_CS(const KPCAPI_CS&) = delete;
  KPCAPI_CS& operator=(const KPCAPI_CS&) = delete;

  int32_t Held() const { return held_; }

 private:
  std::recursive_mutex& lock_;
  int32_t held_ = 0;
};

}  // namespace tw::portwire
