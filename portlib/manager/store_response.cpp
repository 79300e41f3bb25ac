#include "portlib/manager/store_response.h"

namespace tw::portwire {
namespace {

enum State : int32_t {
  kFlowControl = 0,
  kSingleResponse = 1,    // (b & 0x93) == 0x12
  kFourByteStatus = 2,    // (b & 0x93) == 0x10
  kZeroTerminated = 3,    // (b & 0x91) == 0x11
  kSingleByte = 4,        // (b & 0x90) == 0
  kBatteryReport = 5,     // kind 3 beginning "7E"
  kFiveReport = 6,        // kind 3 beginning "5"
  kNineReport = 7,        // kind 3 beginning "9"
  kFallbackStatus = 8,    // unknown byte after a 4-byte status in the same call
  kLengthPrefixed = 9,    // 'S', 5 + n bytes
};

bool GoesToStatuses(int32_t kind) {
  return kind == kFourByteStatus || kind == kBatteryReport || kind == kFiveReport || kind == kNineReport ||
         kind == kFallbackStatus;
}

int32_t RekindZeroTerminated(const std::vector<uint8_t>& p) {
  if (p.empty()) return kZeroTerminated;
  if (p[0] == 0x37 && p.size() >= 2 && p[1] == 0x45) return kBatteryReport;
  if (p[0] == 0x35) return kFiveReport;
  if (p[0] == 0x39) return kNineReport;
  return kZeroTerminated;
}

}  // namespace

int32_t CStoreResponse::Store(const uint8_t* bytes, uint32_t length) {
  if (bytes == nullptr || length == 0) return -1;
  std::lock_guard<std::mutex> guard(lock_);
  int32_t result = 1;
  bool statusCompletedThisCall = false;
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    if (state_ == kNoPacket) {
      if (b == 0x11 || b == 0x13) {
        state_ = kFlowControl;
      } else if (b == 0x53) {
        state_ = kLengthPrefixed;
      } else if ((b & 0x93) == 0x12) {
        state_ = kSingleResponse;
      } else if ((b & 0x93) == 0x10) {
        state_ = kFourByteStatus;
      } else if ((b & 0x91) == 0x11) {
        state_ = kZeroTerminated;
      } else if ((b & 0x90) == 0) {
        state_ = kSingleByte;
      } else {
        state_ = statusCompletedThisCall ? kFallbackStatus : kSingleByte;
      }
    }
    if (partial_.size() < kMaxPendingBytes) {
      partial_.push_back(b);
    } else {
      overflowed_ = true;
    }
    bool complete = false;
    switch (state_) {
      case kFlowControl:
        partial_.clear();
        state_ = kNoPacket;
        break;
      case kSingleResponse:
      case kSingleByte:
        complete = true;
        break;
      case kFourByteStatus:
        if (partial_.size() == 4) {
          statusCompletedThisCall = true;
          complete = true;
        }
        break;
      case kZeroTerminated:
        complete = (b == 0);
        break;
      case kFallbackStatus:
        complete = (partial_.size() == 4);
        break;
      case kLengthPrefixed:
        if (expectedLength_ == 0) {
          if (partial_.size() == 5) expectedLength_ = 5u + partial_[3] + 256u * partial_[4];
        }
        if (expectedLength_ != 0 && partial_.size() >= expectedLength_) {
          expectedLength_ = 0;
          complete = true;
        }
        break;
      default:
        break;
    }
    if (complete) {
      Complete();
      result = 0;
    }
  }
  return result;
}

void CStoreResponse::Complete() {
  int32_t kind = state_;
  if (kind == kZeroTerminated) kind = RekindZeroTerminated(partial_);
  // A packet cut at the cap is not what the device sent: never hand it out.
  bool keep = !overflowed_;
  overflowed_ = false;
  if (kind == kFourByteStatus) {
    for (size_t i = 1; i < partial_.size(); ++i) {
      if ((partial_[i] & 0x90) != 0) keep = false;
    }
  }
  if (keep) {
    Packet packet{kind, std::move(partial_)};
    auto& list = GoesToStatuses(kind) ? statuses_ : responses_;
    list.push_back(std::move(packet));
    if (list.size() > kMaxStoredPackets) list.pop_front();
  }
  partial_.clear();
  state_ = kNoPacket;
}

int32_t CStoreResponse::TakeResponse(std::vector<uint8_t>& out) {
  std::lock_guard<std::mutex> guard(lock_);
  out.clear();
  if (responses_.empty()) return 1;
  out = std::move(responses_.front().bytes);
  responses_.pop_front();
  return 0;
}

int32_t CStoreResponse::TakeStatus(int32_t* outKind, std::vector<uint8_t>& out) {
  std::lock_guard<std::mutex> guard(lock_);
  out.clear();
  if (outKind == nullptr) return -1;
  if (statuses_.empty()) return 1;
  *outKind = statuses_.front().kind;
  out = std::move(statuses_.front().bytes);
  statuses_.pop_front();
  return 0;
}

void CStoreResponse::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  responses_.clear();
  statuses_.clear();
  partial_.clear();
  state_ = kNoPacket;
  expectedLength_ = 0;
  overflowed_ = false;
}

size_t CStoreResponse::ResponseCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return responses_.size();
}

size_t CStoreResponse::PendingBytes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return partial_.size();
}

size_t CStoreResponse::StatusCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return statuses_.size();
}

}  // namespace tw::portwire
