#include "console/adjustment_bof.h"

#include "console/printer_commands.h"
#include "console/test_manager.h"

namespace tw::console {

namespace {
constexpr int kIoTimeoutMs = 3000;
constexpr int kReadyAttempts = 10;
constexpr int kReadyRetryPauseMs = 1000;
}  // namespace

int32_t CAdjustmentBOF::SendFrame(uint8_t type, const ByteArray& data) {
  const ByteArray frame = commands::BuildFrame(type, data);
  uint32_t written = 0;
  return port_->Write(frame.data(), static_cast<uint32_t>(frame.size()), &written, kIoTimeoutMs);
}

int32_t CAdjustmentBOF::ReadLevel(uint16_t& level) {
  level = 0;
  int32_t result = SendFrame(commands::kFrameLevelRead, commands::kLevelReadData);
  if (result != 0) return result;
  result = port_->Read(reply_, kIoTimeoutMs);
  if (result != 0) return result;
  // A reply of another form carries no level; going on would store a
  // threshold derived from garbage.
  const auto parsed = commands::ParseLevelReply(reply_);
  if (!parsed) return 3;
  level = *parsed;
  return 0;
}

int32_t CAdjustmentBOF::WriteThreshold(uint8_t value) {
  return SendFrame(commands::kFrameWriteItem, {commands::kThresholdItem, value});
}

int32_t CAdjustmentBOF::WaitReady() {
  const auto& query = commands::kReadinessQuery;
  for (int attempt = 1; attempt <= kReadyAttempts; ++attempt) {
    uint32_t written = 0;
    if (port_->Write(query.data(), static_cast<uint32_t>(query.size()), &written, kIoTimeoutMs) != 0) return 3;
    if (port_->Read(reply_, kIoTimeoutMs) != 0) return 3;
    if (commands::IsReadyReply(reply_)) return 0;
    if (console_.StopRequested()) return kStopped;
    if (attempt < kReadyAttempts) console_.Sleep(kReadyRetryPauseMs);
  }
  return 3;
}

// The steps between the opening and the closing frame; the first failure ends
// them and is the run's result. A stop request ends them after the step under
// way, before the threshold is written.
int32_t CAdjustmentBOF::FramedExchange() {
  int32_t result = SendFrame(commands::kFrameOpen);
  if (result != 0) return result;
  console_.Print(".");
  if (console_.StopRequested()) return kStopped;

  uint16_t level = 0;
  result = ReadLevel(level);
  if (result != 0) return result;
  console_.Print(".");
  if (console_.StopRequested()) return kStopped;

  const uint8_t threshold = commands::ThresholdForLevel(level);
  console_.Print(".");

  result = WriteThreshold(threshold);
  if (result != 0) return result;
  console_.Print(".");

  result = SendFrame(commands::kFrameAfterWrite);
  if (result != 0) return result;
  console_.Print(".");
  return 0;
}

int32_t CAdjustmentBOF::Run(IPortwire* port) {
  if (port == nullptr) return 5;
  port_ = port;

  DrainPort(*port_, reply_);

  int32_t result = console_.StopRequested() ? kStopped : WaitReady();
  if (result == 0) {
    console_.Print(".");
    result = FramedExchange();
    // The exchange is always closed once it was opened, whatever failed inside.
    const int32_t closed = SendFrame(commands::kFrameClose);
    if (closed == 0) {
      console_.Print(".");
    } else if (result == 0) {
      result = closed;
    }
  }
  console_.Print("\n");
  return result;
}

}  // namespace tw::console
