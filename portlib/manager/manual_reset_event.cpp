#include "portlib/manager/manual_reset_event.h"

#include <chrono>

namespace tw::portwire {

void CManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void CManualResetEvent::Reset() {
  std::lock_guard<std::mutex> guard(lock_);
  signalled_ = false;
}

bool CManualResetEvent::IsSet() const {
  std::lock_guard<std::mutex> guard(lock_);
  return signalled_;
}

bool CManualResetEvent::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  if (timeoutMs == kInfinite) {
    changed_.wait(guard, [this] { return signalled_; });
    return true;
  }
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
}

}  // namespace tw::portwire
