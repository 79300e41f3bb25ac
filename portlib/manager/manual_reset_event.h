#pragma once
// A manual-reset event: stays signalled until reset. The waiting side resets it
// before it waits (after checking the condition it waits for), the producing
// side sets it after publishing data.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tw::portwire {

class CManualResetEvent {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when signalled within `timeoutMs` (kInfinite: no limit).
  bool Wait(uint32_t timeoutMs);

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

}  // namespace tw::portwire
