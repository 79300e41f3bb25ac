#include "console/test_manager.h"

#include "console/printer_commands.h"

namespace tw::console {

namespace {
constexpr int kTestTimeoutMs = 1000;
constexpr int kClearAttempts = 5;
constexpr int kClearRetryPauseMs = 500;
constexpr size_t kModelReplyMinSize = 5;
constexpr uint8_t kServedModelMark = 0x24;  // "$"
}  // namespace

void DrainPort(IPortwire& port, ByteArray& scratch) {
  for (int i = 0; i < kDrainMaxBlocks && port.Read(scratch, kDrainReadTimeoutMs) == 0; ++i) {
  }
}

int32_t CTestManager::Run(IPortwire* port) {
  if (port == nullptr) return 5;
  port_ = port;
  const int32_t result = Exchange();
  console_.Print("\n");
  return result;
}

int32_t CTestManager::Exchange() {
  if (console_.StopRequested()) return kStopped;
  DrainPort(*port_, reply_);

  // Best effort: a printer that ignores the clear still gets tested.
  for (int attempt = 0; attempt < kClearAttempts; ++attempt) {
    uint32_t written = 0;
    const auto& clear = commands::kBufferClear;
    if (port_->Write(clear.data(), static_cast<uint32_t>(clear.size()), &written, kTestTimeoutMs) == 0 &&
        port_->Read(reply_, kTestTimeoutMs) == 0) {
      break;
    }
    if (console_.StopRequested()) break;
    console_.Sleep(kClearRetryPauseMs);
  }
  console_.Print(".");
  if (console_.StopRequested()) return kStopped;

  uint32_t written = 0;
  const auto& model = commands::kModelQuery;
  int32_t result = port_->Write(model.data(), static_cast<uint32_t>(model.size()), &written, kTestTimeoutMs);
  if (result != 0) return result;
  result = port_->Read(reply_, kTestTimeoutMs);
  if (result != 0) return result;
  console_.Print(".");

  if (reply_.size() < kModelReplyMinSize) return 3;
  if (reply_[3] != kServedModelMark) return 6;
  console_.Print(".");
  if (console_.StopRequested()) return kStopped;

  const auto& second = commands::kSecondQuery;
  result = port_->Write(second.data(), static_cast<uint32_t>(second.size()), &written, kTestTimeoutMs);
  if (result != 0) return result;
  return port_->Read(reply_, kTestTimeoutMs);
}

}  // namespace tw::console
