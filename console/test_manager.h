#pragma once
// Communication test: does a printer answer, and is it the served model?

#include "console/console_io.h"
#include "console/portwire.h"

namespace tw::console {

// Results: 0 passed; 3 a write or read failed or the model reply was too
// short, or the program was asked to end; 6 another model answered; 5 no port
// given.
class CTestManager {
 public:
  // The result when the program was asked to end before the test was through.
  static constexpr int32_t kStopped = 3;

  explicit CTestManager(IConsole& console) : console_(console) {}
  virtual ~CTestManager() = default;

  int32_t Run(IPortwire* port);

 private:
  int32_t Exchange();
  IConsole& console_;
  IPortwire* port_ = nullptr;
  ByteArray reply_;
};

// Reads and discards whatever is waiting, so no stale reply is taken for an
// answer. A port that never stops delivering is given up on after a bounded
// number of blocks rather than holding the program forever.
void DrainPort(IPortwire& port, ByteArray& scratch);

inline constexpr int kDrainReadTimeoutMs = 100;
inline constexpr int kDrainMaxBlocks = 1000;

}  // namespace tw::console
