#pragma once
// The slip paper sensor adjustment: wait until the printer is ready, read the
// sensor level inside a framed maintenance exchange, write the threshold derived
// from it, and close the exchange (after which the printer resets).

#include "console/console_io.h"
#include "console/portwire.h"

namespace tw::console {

// Results: 0 every frame written; 3 the printer never became ready, or a write
// or read failed, or the level reply had an unexpected form (the closing frame
// is still sent once the exchange was opened), or the program was asked to
// end (the exchange under way is finished and closed first); 5 no port given.
class CAdjustmentBOF {
 public:
  static constexpr int32_t kStopped = 3;

  explicit CAdjustmentBOF(IConsole& console) : console_(console) {}
  virtual ~CAdjustmentBOF() = default;

  int32_t Run(IPortwire* port);

  int32_t SendFrame(uint8_t type, const ByteArray& data = {});
  int32_t ReadLevel(uint16_t& level);
  int32_t WriteThreshold(uint8_t value);

 private:
  int32_t WaitReady();
  int32_t FramedExchange();

  IConsole& console_;
  IPortwire* port_ = nullptr;
  ByteArray reply_;
};

}  // namespace tw::console
