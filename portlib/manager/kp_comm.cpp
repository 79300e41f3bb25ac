#include "portlib/manager/kp_comm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "portlib/manager/installed_driver.h"
#include "portlib/manager/service_switch.h"
#include "portlib/manager/trace.h"

namespace tw::portwire {
namespace {

constexpr int32_t kDefaultTimeoutMs = 2000;
constexpr int32_t kPortServiceMinWriteTimeoutMs = 5000;
constexpr uint32_t kEnumCapacity = 128;

// Services that an older driver generation needs out of the way: stopped in this
// order at start-up, started again in the reverse order at unload.
constexpr std::u16string_view kLegacyServices[] = {u"spooler", u"OrlexPOSPort", u"OrlexDrvbridge"};

}  // namespace

KPComm::KPComm(KPCommBackends backends, KPCommEnvironment environment)
    : portService_(std::move(backends.portService)),
      driverPath_(std::move(backends.driverPath)),
      direct_(std::move(backends.direct)),
      settings_(MakeDefaultPortSettings()),
      environment_(std::move(environment)) {
  if (!environment_.sleep) {
    environment_.sleep = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  }
  if (!environment_.tickMs) {
    environment_.tickMs = [] {
      return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
    };
  }
  if (!environment_.openServiceManager) environment_.openServiceManager = platform::OpenServiceControlManager;
  if (!environment_.isLegacyDriverInstalled) environment_.isLegacyDriverInstalled = IsLegacyDriverInstalled;
  for (CCommBase* backend : {static_cast<CCommBase*>(portService_.get()), static_cast<CCommBase*>(driverPath_.get()),
                             direct_.get()}) {
    if (backend != nullptr) backend->SetOwner(this);
  }
}

KPComm::~KPComm() {
  StoppingScope stopping(*this);
  {
    // Nothing may be set up any more, also not by a backend thread.
    std::lock_guard<std::recursive_mutex> guard(initLock_);
    initialized_.store(true);
  }
  if (CCommBase* current = current_.exchange(nullptr)) current->Close();
  Purge();
  UnloadBackends();
  callbacks_.Shutdown(CCallbackDispatcher::kDestructionWaitMs);
  if (environment_.isLegacyDriverInstalled()) SwitchLegacyServices(true);
  // The backends go first, while the queues, events and locks they may touch
  // on their way out still exist.
  portService_.reset();
  driverPath_.reset();
  direct_.reset();
}

void KPComm::SwitchLegacyServices(bool start) {
  const ServiceSwitchEnvironment env{environment_.openServiceManager, environment_.sleep, environment_.tickMs};
  if (start) {
    for (auto it = std::rbegin(kLegacyServices); it != std::rend(kLegacyServices); ++it) {
      SetServiceRunning(env, true, *it);
    }
  } else {
    for (std::u16string_view service : kLegacyServices) SetServiceRunning(env, false, service);
  }
}

void KPComm::EnsureInitialized() {
  if (initialized_.load()) return;
  std::lock_guard<std::recursive_mutex> guard(initLock_);
  // A backend's Load may call back into the manager on this thread.
  if (initialized_.load() || initializing_) return;
  initializing_ = true;
  const bool legacy = environment_.isLegacyDriverInstalled();
  if (!legacy) {
    if (portService_) {
      portServiceAvailable_.store(portService_->Load());
      portService_->LoadConfiguration();
    }
    if (driverPath_) driverPathAvailable_.store(driverPath_->Load());
  }
  if (direct_) direct_->Load();
  // Service control failures are silent: the manager goes on either way.
  if (legacy) SwitchLegacyServices(false);
  initialized_.store(true);
  initializing_ = false;
  Purge();
}

bool KPComm::IsPortOpen() const {
  const CCommBase* current = current_.load();
  return current != nullptr && current->IsOpen();
}

PortSettings KPComm::CurrentSettings() const {
  std::lock_guard<std::mutex> guard(settingsLock_);
  return settings_;
}

void KPComm::ModifyCurrentSettings(const std::function<void(PortSettings&)>& change) {
  std::lock_guard<std::mutex> guard(settingsLock_);
  change(settings_);
}

int32_t KPComm::RouteKind() const {
  std::lock_guard<std::mutex> guard(settingsLock_);
  return settings_.routeKind;
}

int32_t KPComm::Route() const {
  std::lock_guard<std::mutex> guard(settingsLock_);
  return settings_.route;
}

void KPComm::ReadTimeoutFields(int32_t& readTimeout, int32_t& writeTimeout, int32_t& routeKind) const {
  std::lock_guard<std::mutex> guard(settingsLock_);
  readTimeout = settings_.readTimeout;
  writeTimeout = settings_.writeTimeout;
  routeKind = settings_.routeKind;
}

int32_t KPComm::ResolveWriteTimeout(int32_t timeoutMs) const {
  int32_t readTimeout = 0, writeTimeout = 0, routeKind = 0;
  ReadTimeoutFields(readTimeout, writeTimeout, routeKind);
  // The port service needs time to pass data on; -1 counts as below the floor.
  if (routeKind == kRouteKindPortService) return std::max(timeoutMs, kPortServiceMinWriteTimeoutMs);
  if (timeoutMs != -1) return timeoutMs;
  return writeTimeout == -1 ? kDefaultTimeoutMs : writeTimeout;
}

int32_t KPComm::ResolveReadTimeout(int32_t timeoutMs) const {
  int32_t readTimeout = 0, writeTimeout = 0, routeKind = 0;
  ReadTimeoutFields(readTimeout, writeTimeout, routeKind);
  if (timeoutMs != -1) return timeoutMs;
  return readTimeout == -1 ? kDefaultTimeoutMs : readTimeout;
}

void KPComm::SetPortEnumerator(PortEnumerator enumerator) { portEnumerator_ = std::move(enumerator); }

Result KPComm::SetCaller(uint32_t caller) {
  if (caller > 4) return kResultInvalidArgument;
  caller_.store(caller);
  return kResultOk;
}

Result KPComm::SetPort(PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  EnsureInitialized();
  if (IsPortOpen()) return kResultAlreadyOpen;
  if (portServiceAvailable_.load() && portService_) {
    if (GetText(record->servicePortName).empty() && portEnumerator_) {
      std::vector<PortSettings> found(kEnumCapacity, MakeZeroPortSettings());
      std::vector<PortSettings*> slots;
      for (PortSettings& entry : found) slots.push_back(&entry);
      uint32_t count = 0;
      portEnumerator_(GetText(record->portType), slots.data(), kEnumCapacity, &count);
      count = std::min(count, kEnumCapacity);
      for (uint32_t i = 0; i < count; ++i) {
        if (GetText(found[i].portName) == GetText(record->portName)) {
          std::copy(std::begin(found[i].servicePortName), std::end(found[i].servicePortName),
                    std::begin(record->servicePortName));
          break;
        }
      }
    }
    portService_->FindPort(record);
  }
  std::lock_guard<std::mutex> guard(settingsLock_);
  settings_ = *record;
  return kResultOk;
}

Result KPComm::GetPort(PortSettings* out) const {
  if (out == nullptr) return kResultBufferTooSmall;
  *out = CurrentSettings();
  return kResultOk;
}

Result KPComm::Open(int32_t mode) {
  EnsureInitialized();
  if (IsPortOpen()) return kResultAlreadyOpen;
  const PortSettings settings = CurrentSettings();
  const std::u16string_view model = GetText(settings.modelName);
  if (model.size() >= 4 && model.substr(0, 4) == u"KP-S") slipSeries_.store(true);

  Result result = kResultFailed;
  if (settings.route != kRouteDriverSoftware) {
    // The direct backend stays chosen even when it failed: it reports itself
    // closed, so no port counts as open and a new SetPort is accepted.
    if (direct_) {
      result = direct_->Open(mode);
      current_.store(direct_.get());
    }
  } else {
    bool opened = false;
    if (portServiceAvailable_.load() && portService_) {
      const Result r = portService_->Open(mode);
      if (OpenedOk(r)) {
        ModifyCurrentSettings([](PortSettings& s) { s.routeKind = kRouteKindPortService; });
        current_.store(portService_.get());
        result = r;
        opened = true;
      }
    }
    // The port service's own error is not reported when the driver path
    // cannot be tried either.
    if (!opened) {
      if (driverPathAvailable_.load() && driverPath_) {
        result = driverPath_->Open(mode);
        if (OpenedOk(result)) {
          ModifyCurrentSettings([](PortSettings& s) { s.routeKind = kRouteKindDriverPath; });
          current_.store(driverPath_.get());
        }
      } else {
        result = kResultFailed;
      }
    }
  }
  store_.Clear();
  if (CCommBase* current = current_.load()) current->SetResponseStore(&store_);
  return result;
}

Result KPComm::Close() {
  EnsureInitialized();
  CCommBase* current = current_.load();
  if (current == nullptr) return kResultFailed;
  StoppingScope stopping(*this);
  const Result result = current->Close();
  current_.store(nullptr);
  StopCallbackThread();
  Purge();
  return result;
}

Result KPComm::Write(const uint8_t* data, uint32_t length, uint32_t* written, int32_t timeoutMs) {
  if (length == 0) return kResultFailed;
  CCommBase* current = current_.load();
  if (current == nullptr || !current->IsOpen()) return kResultNotOpen;
  if (data == nullptr) return kResultInvalidArgument;
  const int32_t timeout = ResolveWriteTimeout(timeoutMs);
  if (written != nullptr) *written = 0;
  const Result result = current->Write(data, length, written, timeout);
  if (trace::Enabled()) {
    const uint32_t sent = written != nullptr ? std::min(*written, length) : (result == kResultOk ? length : 0);
    trace::Block(TracePort(), true, data, sent);
  }
  return result;
}

Result KPComm::Read(uint8_t* buffer, uint32_t size, uint32_t* received, int32_t timeoutMs) {
  EnsureInitialized();
  CCommBase* current = current_.load();
  if (current == nullptr || !current->IsOpen()) return kResultNotOpen;
  if (buffer == nullptr && size != 0) return kResultInvalidArgument;
  const int32_t timeout = ResolveReadTimeout(timeoutMs);
  if (received != nullptr) *received = 0;
  return current->Read(buffer, size, received, timeout);
}

Result KPComm::UnloadBackends() {
  StoppingScope stopping(*this);
  if (portService_) portService_->Unload();
  if (driverPath_) driverPath_->Unload();
  const Result result = direct_ ? direct_->Unload() : kResultOk;
  StopCallbackThread();
  return result;
}

Result KPComm::Purge() {
  if (CCommBase* current = current_.load()) current->Purge();
  rawQueue_.Clear();
  store_.Clear();
  return kResultOk;
}

std::u16string KPComm::TracePort() const {
  std::lock_guard<std::mutex> guard(settingsLock_);
  return std::u16string(GetText(settings_.portName));
}

void KPComm::DeliverData(std::vector<uint8_t> block) {
  if (trace::Enabled()) trace::Block(TracePort(), false, block.data(), block.size());
  const size_t dropped = rawQueue_.Push(std::move(block));
  dataArrived_.Set();
  if (dropped != 0) NoteDropped(rawQueue_, "raw receive queue");
}

void KPComm::DeliverReply(std::vector<uint8_t> block) {
  if (trace::Enabled()) trace::Block(TracePort(), false, block.data(), block.size());
  if (replyQueue_.Push(std::move(block)) != 0) NoteDropped(replyQueue_, "reply queue");
}

void KPComm::NoteDropped(const CBlockQueue& queue, const char* name) {
  if (!trace::Enabled()) return;
  // At most one line a second: a flood drops thousands of blocks a second.
  const uint64_t now = environment_.tickMs();
  uint64_t last = lastDropNoteMs_.load();
  if (last != 0 && now - last < 1000) return;
  if (!lastDropNoteMs_.compare_exchange_strong(last, now == 0 ? 1 : now)) return;
  char text[160];
  std::snprintf(text, sizeof text, "dropped: %s full (%zu bytes kept), %llu bytes in %llu blocks dropped in all", name,
                queue.QueuedBytes(), static_cast<unsigned long long>(queue.DroppedBytes()),
                static_cast<unsigned long long>(queue.DroppedBlocks()));
  trace::Note(TracePort(), text);
}

void KPComm::ApplyKnownPort(PortSettings* record) const {
  if (record == nullptr) return;
  const bool usb = EqualsIgnoreCase(GetText(record->portType), u"USB");
  for (const PortSettings& known : foundPorts_) {
    if (!EqualsIgnoreCase(GetText(known.portType), GetText(record->portType))) continue;
    const bool same = usb ? EqualsIgnoreCase(GetText(known.deviceName), GetText(record->deviceName))
                          : EqualsIgnoreCase(GetText(known.portName), GetText(record->portName));
    if (same) {
      *record = known;
      return;
    }
  }
}

namespace {

// Text of a zero-terminated name, never read beyond one record field.
std::u16string_view BoundedText(const char16_t* text) {
  size_t length = 0;
  while (length < kPortTextUnits && text[length] != u'\0') ++length;
  return std::u16string_view(text, length);
}

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

bool KPComm::UsbDeviceNamesMatch(const char16_t* a, const char16_t* b) {
  if (a == nullptr || b == nullptr) return false;
  const std::u16string_view nameA = BoundedText(a);
  const std::u16string_view nameB = BoundedText(b);
  if (EqualsIgnoreCase(nameA, nameB)) return true;

  struct Parts {
    std::u16string_view afterFirst;  // everything after the first '#'
    std::u16string_view instance;    // between the second and third '#'
  };
  auto split = [](std::u16string_view name, Parts& parts) {
    const size_t first = name.find(u'#');
    if (first == std::u16string_view::npos) return false;
    const size_t second = name.find(u'#', first + 1);
    if (second == std::u16string_view::npos) return false;
    const size_t third = name.find(u'#', second + 1);
    if (third == std::u16string_view::npos) return false;
    parts.afterFirst = name.substr(first + 1);
    parts.instance = name.substr(second + 1, third - second - 1);
    return true;
  };
  // Only the maker's devices: one product id, and one family of product ids.
  auto isMakersDevice = [](std::u16string_view afterFirst) {
    return StartsWithIgnoringCase(afterFirst, u"vid_7a5e&pid_0202") ||
           StartsWithIgnoringCase(afterFirst, u"vid_7a5e&pid_0e");
  };
  Parts pa, pb;
  if (!split(nameA, pa) || !split(nameB, pb)) return false;
  if (!isMakersDevice(pa.afterFirst) || !isMakersDevice(pb.afterFirst)) return false;
  return EqualsIgnoreCase(pa.instance, pb.instance);
}

}  // namespace tw::portwire
