// Status handling of the port manager: status bytes to status codes, and the
// client's status, battery and raw status callbacks.

#include <algorithm>

#include "portlib/manager/kp_comm.h"
#include "portlib/manager/trace.h"

namespace tw::portwire {
namespace {

// Depth of client callbacks on this thread (a callback may register another).
thread_local int t_callbackDepth = 0;

// How long Close and Terminate wait for a client callback to return before
// they leave the dispatcher thread behind (it ends when the callback returns).
constexpr int kCallbackStopWaitMs = 1000;

// Marks this thread as inside a client callback while it calls one.
class CallbackScope {
 public:
  CallbackScope() { ++t_callbackDepth; }
  ~CallbackScope() { --t_callbackDepth; }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
};

}  // namespace

bool KPComm::InClientCallback() { return t_callbackDepth > 0; }

int32_t KPComm::TranslateStatus(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t /*b3*/) const {
  // Two bits of the third byte mean different things per printer family.
  uint8_t m1 = 0x03, m2 = 0x0C;
  if (modelType_.load() == 1) {
    m1 = 0x02;
    m2 = 0x08;
  } else if (slipSeries_.load()) {
    m1 = 0x01;
    m2 = 0x04;
  }
  if (b1 & 0x20) return 3;
  if (b1 & 0x40) return 5;
  if (b0 & 0x20) return 6;
  if (b2 & m2) return 7;
  if (b1 & 0x08) return 9;
  if (b0 & 0x40) return 14;
  if (b0 & 0x08) return 16;
  if ((b1 & 0x04) && (b2 & 0x01)) return 17;
  if (b2 & m1) return 18;
  return 0;
}

void KPComm::DispatchStatus(int32_t eventKind, const uint8_t* bytes, uint32_t length) {
  if (trace::Enabled() && bytes != nullptr) trace::Block(TracePort(), false, bytes, length);
  if (eventKind == kStatusEvent) {
    if (bytes != nullptr && length == 4) {
      int32_t status = 0;
      int32_t rawKind = 1;
      if (bytes[0] == 0x35) {
        // A "5" report carries its own condition bits in the second byte.
        const uint8_t b1 = bytes[1];
        status = (b1 & 0x04) ? 10 : (b1 & 0x02) ? 12 : (b1 & 0x20) ? 15 : (b1 & 0x01) ? 20 : 100;
        rawKind = 2;
      } else {
        status = TranslateStatus(bytes[0], bytes[1], bytes[2], bytes[3]);
      }
      status_.store(status);
      NotifyRawStatus(rawKind, bytes);
      NotifyStatus(status);
    }
    statusArrived_.Set();
  } else if (eventKind == kBatteryEvent) {
    if (bytes != nullptr && length == 5) {
      DeliverBattery(static_cast<uint16_t>(bytes[3] * 256 + bytes[2]));
    } else {
      statusArrived_.Set();
    }
  }
}

void KPComm::DeliverBattery(uint16_t battery) {
  {
    std::lock_guard<std::mutex> guard(callbackLock_);
    batteryValue_ = battery;
  }
  CallbackEvent event;
  event.kind = CallbackEvent::Kind::kBattery;
  event.value = battery;
  callbacks_.Post(event);
  statusArrived_.Set();
}

void KPComm::NotifyStatus(int32_t status) {
  CallbackEvent event;
  event.kind = CallbackEvent::Kind::kStatus;
  event.value = status;
  callbacks_.Post(event);
}

void KPComm::NotifyRawStatus(int32_t kind, const uint8_t* bytes, size_t length) {
  CallbackEvent event;
  event.kind = CallbackEvent::Kind::kRawStatus;
  event.value = kind;
  event.hasBytes = bytes != nullptr;
  if (bytes != nullptr) std::copy_n(bytes, std::min(length, CallbackEvent::kMaxBytes), event.bytes.begin());
  callbacks_.Post(event);
}

void KPComm::DeliverCallback(const CallbackEvent& event) {
  StatusProc statusProc = nullptr;
  BatteryStatusProc batteryProc = nullptr;
  RawStatusProc rawProc = nullptr;
  void* user = nullptr;
  {
    std::lock_guard<std::mutex> guard(callbackLock_);
    statusProc = statusProc_;
    batteryProc = batteryProc_;
    rawProc = rawStatusProc_;
    user = userData_;
  }
  CallbackScope scope;
  switch (event.kind) {
    case CallbackEvent::Kind::kStatus:
      if (statusProc != nullptr) statusProc(event.value, user);
      break;
    case CallbackEvent::Kind::kBattery:
      if (batteryProc != nullptr) batteryProc(static_cast<uint16_t>(event.value), user);
      break;
    case CallbackEvent::Kind::kRawStatus:
      if (rawProc != nullptr) rawProc(event.value, event.hasBytes ? event.bytes.data() : nullptr, user);
      break;
  }
}

bool KPComm::WaitCallbacksDelivered(int waitMs) { return callbacks_.WaitIdle(waitMs); }

void KPComm::StopCallbackThread() { callbacks_.Stop(kCallbackStopWaitMs); }

bool KPComm::HasStatusCallback() const {
  std::lock_guard<std::mutex> guard(callbackLock_);
  return statusProc_ != nullptr;
}

uint16_t KPComm::BatteryValue() const {
  std::lock_guard<std::mutex> guard(callbackLock_);
  return batteryValue_;
}

void KPComm::RegisterStatusProc(StatusProc proc, void* user) {
  EnsureInitialized();
  {
    std::lock_guard<std::mutex> guard(callbackLock_);
    statusProc_ = proc;
    userData_ = user;
  }
  if (proc != nullptr) {
    CallbackScope scope;
    proc(status_.load(), user);
  }
}

void KPComm::UnregisterStatusProc() {
  EnsureInitialized();
  std::lock_guard<std::mutex> guard(callbackLock_);
  statusProc_ = nullptr;
}

void KPComm::RegisterBatStatusProc(BatteryStatusProc proc, void* user) {
  EnsureInitialized();
  uint16_t battery = 0;
  {
    std::lock_guard<std::mutex> guard(callbackLock_);
    batteryProc_ = proc;
    userData_ = user;
    battery = batteryValue_;
  }
  if (proc != nullptr) {
    CallbackScope scope;
    proc(battery, user);
  }
}

void KPComm::UnregisterBatStatusProc() {
  EnsureInitialized();
  std::lock_guard<std::mutex> guard(callbackLock_);
  batteryProc_ = nullptr;
}

void KPComm::RegistRawStatusCallBack(RawStatusProc proc, void* user) {
  std::lock_guard<std::mutex> guard(callbackLock_);
  rawStatusProc_ = proc;
  userData_ = user;
}

void KPComm::UnregistRawStatusCallback() {
  std::lock_guard<std::mutex> guard(callbackLock_);
  rawStatusProc_ = nullptr;
}

}  // namespace tw::portwire
