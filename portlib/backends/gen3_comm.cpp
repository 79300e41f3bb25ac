#include "portlib/backends/gen3_comm.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/known_folders.h"
#include "portlib/backends/gen2_comm.h"
#include "portlib/backends/maker_locations.h"
#include "portlib/backends/text_helpers.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire {
namespace {

using namespace qlx;

constexpr size_t kMaxAddressChars = 63;
constexpr int32_t kOpenLockMs = 1000;
constexpr uint32_t kStatusWaitMs = 1000;
constexpr uint32_t kConfigCapacity = 2048;
constexpr uint32_t kCustomCapacity = 260;
constexpr uint32_t kConnectorVersion = 0x3040000;
constexpr int32_t kCallerMonitor = 3;
constexpr char16_t kConnectorLibrary[] = u"LinkgateHub100.dll";
constexpr const char16_t* kConnectorApplications[] = {
    u"Linkgate.AMB",      u"Linkgate.StatusKit", u"Linkgate.AMB.Panel", u"Linkgate.AMB.Deploy",
    u"Linkgate.AMB.Logo", u"Linkgate.PosKit",    u"Linkgate.TPX",       u"Linkgate.VPX",
    u"Linkgate.Tool",     u"Linkgate.Restore"};

// The port name inside `text` from `from` on: it begins with the model's
// prefix and runs to the next double quote, else the next "/", else the end.
std::u16string PortNameAfter(std::u16string_view text, size_t from, int32_t modelType) {
  const std::u16string_view prefix = modelType == 1 ? u"kpsprt" : u"nvmprt";
  const size_t start = FindIgnoringCase(text, prefix, from);
  if (start == std::u16string_view::npos) return {};
  std::u16string_view rest = text.substr(start);
  size_t end = rest.find(u'"');
  if (end == std::u16string_view::npos) end = rest.find(u'/');
  return std::u16string(rest.substr(0, end));
}

uint32_t Low32(uint64_t v) { return static_cast<uint32_t>(v & 0xFFFFFFFFu); }

}  // namespace

bool AddressServicePort(std::u16string_view deviceName, int32_t modelType, ServiceAddress& out) {
  out = ServiceAddress{};
  const size_t tcp = FindIgnoringCase(deviceName, u"tcp://");
  if (tcp != std::u16string_view::npos) {
    const size_t hostStart = tcp + 6;
    const size_t slash = deviceName.find(u'/', hostStart);
    const std::u16string_view host =
        deviceName.substr(hostStart, slash == std::u16string_view::npos ? std::u16string_view::npos : slash - hostStart);
    out.remote = true;
    out.host = std::u16string(host) + u":2291";
    if (slash != std::u16string_view::npos) out.port = PortNameAfter(deviceName, slash + 1, modelType);
  } else {
    const size_t pipe = FindIgnoringCase(deviceName, u"pipe://kp/");
    out.port = pipe == std::u16string_view::npos ? std::u16string(deviceName)
                                                 : PortNameAfter(deviceName, pipe + 10, modelType);
  }
  return out.host.size() <= kMaxAddressChars && out.port.size() <= kMaxAddressChars;
}

CGen3Comm::~CGen3Comm() { Unload(); }

IStoreResponse* CGen3Comm::Store() const {
  if (IStoreResponse* store = store_.load()) return store;
  return Owner() ? &Owner()->ResponseStore() : nullptr;
}

int32_t CGen3Comm::ModelType() const { return Owner() ? Owner()->ModelType() : 0; }

platform::Module CGen3Comm::LocateServiceLibrary(const std::u16string& fileName) const {
  std::u16string monitoring = InProgramFiles(u"\\ORLEX\\StatusWatch\\Drvbridge\\");
  if (ModelType() == 1) monitoring += u"kps\\";
  std::vector<std::u16string> candidates;
  if (Owner() && Owner()->Caller() == kCallerMonitor && platform::PathExists(monitoring)) {
    candidates.push_back(monitoring + fileName);
  }
  candidates.push_back(InProgramFiles(ModelType() == 1 ? u"\\ORLEX\\qlxservice_kps\\" : u"\\ORLEX\\qlxservice\\") +
                       fileName);
  candidates.push_back(DriverBridgeFolder() + fileName);
  if (platform::PathExists(monitoring)) candidates.push_back(monitoring + fileName);
  for (const std::u16string& path : candidates) {
    platform::Module module = platform::Module::Load(path);
    if (module.IsLoaded()) return module;
  }
  return {};
}

bool CGen3Comm::Load() {
  if (service_.IsLoaded()) return true;
  platform::Module module = LocateServiceLibrary(u"QLXIF.DLL");
  if (!module.IsLoaded()) return false;
  ServiceEntryPoints fn;
  fn.initialize = module.Function<InitializeFn>("QLX_Initialize");
  fn.terminate = module.Function<TerminateFn>("QLX_Terminate");
  fn.registerCallback = module.Function<RegisterCallbackFn>("QLX_RegisterCallback");
  fn.unRegisterCallback = module.Function<UnRegisterCallbackFn>("QLX_UnRegisterCallback");
  fn.open = module.Function<OpenFn>("QLX_Open");
  fn.close = module.Function<CloseFn>("QLX_Close");
  fn.lock = module.Function<LockFn>("QLX_Lock");
  fn.unlock = module.Function<UnlockFn>("QLX_Unlock");
  fn.send = module.Function<SendFn>("QLX_Send");
  fn.getProperty = module.Function<GetPropertyFn>("QLX_GetProperty");
  fn.setProperty = module.Function<SetPropertyFn>("QLX_SetProperty");
  fn.cancelOperation = module.Function<CancelOperationFn>("QLX_CancelOperation");
  fn.resumeSending = module.Function<ResumeSendingFn>("QLX_ResumeSending");
  fn.extendFunction = module.Function<ExtendFunctionFn>("QLX_ExtendFunction");
  fn.getQLXVersion = module.Function<GetQLXVersionFn>("QLX_GetQLXVersion");
  fn.resetDevice = module.Function<ResetDeviceFn>("QLX_ResetDevice");
  if (!fn.initialize || !fn.terminate || !fn.registerCallback || !fn.unRegisterCallback || !fn.open || !fn.close ||
      !fn.lock || !fn.unlock || !fn.send || !fn.getProperty || !fn.setProperty || !fn.cancelOperation ||
      !fn.resumeSending || !fn.extendFunction || !fn.getQLXVersion || !fn.resetDevice) {
    return false;  // `module` frees the library
  }
  service_ = std::move(module);
  fn_ = fn;
  fn_.initialize();
  return true;
}

bool CGen3Comm::LoadConfiguration() {
  if (config_.IsLoaded()) return true;
  platform::Module module = LocateServiceLibrary(u"QLXConfig.DLL");
  if (!module.IsLoaded()) return false;
  ConfigEntryPoints c;
  c.enumPortName = module.Function<EnumPortNameFn>("QLX_EnumPortName");
  c.getPortConfigNumber = module.Function<GetPortConfigNumberFn>("QLX_GetPortConfigNumber");
  c.getPortConfigString = module.Function<GetPortConfigStringFn>("QLX_GetPortConfigString");
  c.setPortConfigNumber = module.Function<SetPortConfigNumberFn>("QLX_SetPortConfigNumber");
  c.setPortConfigString = module.Function<SetPortConfigStringFn>("QLX_SetPortConfigString");
  c.getCustomValueNumber = module.Function<GetCustomValueNumberFn>("QLX_GetCustomValueNumber");
  c.getCustomValueString = module.Function<GetCustomValueStringFn>("QLX_GetCustomValueString");
  c.getCustomValueBinary = module.Function<GetCustomValueBinaryFn>("QLX_GetCustomValueBinary");
  c.setCustomValueNumber = module.Function<SetCustomValueNumberFn>("QLX_SetCustomValueNumber");
  c.setCustomValueString = module.Function<SetCustomValueStringFn>("QLX_SetCustomValueString");
  c.setCustomValueBinary = module.Function<SetCustomValueBinaryFn>("QLX_SetCustomValueBinary");
  c.delCustomValue = module.Function<DelCustomValueFn>("QLX_DelCustomValue");
  if (!c.enumPortName || !c.getPortConfigNumber || !c.getPortConfigString || !c.setPortConfigNumber ||
      !c.setPortConfigString || !c.getCustomValueNumber || !c.getCustomValueString || !c.getCustomValueBinary ||
      !c.setCustomValueNumber || !c.setCustomValueString || !c.setCustomValueBinary || !c.delCustomValue) {
    return false;
  }
  config_ = std::move(module);
  cfg_ = c;
  return true;
}

bool CGen3Comm::AddressCurrent(ServiceAddress& out) const {
  if (Owner() == nullptr) return false;
  const PortSettings settings = Owner()->CurrentSettings();
  return AddressServicePort(GetText(settings.deviceName), ModelType(), out);
}

Result CGen3Comm::ServiceResult(int32_t code) {
  switch (static_cast<uint32_t>(code)) {
    case kQlxOk: return kResultOk;
    case kQlxHeldData: return kResultServiceError;
    case kQlxDeviceError: return kResultDeviceState;
    case kQlxNotWritten: return kResultNothingWritten;
    case kQlxLockRefused: return kResultCannotLink;
    case kQlxLockTimeout: return kResultTimeout;
    case kQlxBufferTooSmall: return kResultBufferTooSmall;
    case kQlxSettings: return kResultSettingsMismatch;
    case kQlxAlreadyOpen: return kResultAlreadyOpen;
    default: return kResultFailed;
  }
}

Result CGen3Comm::Open(int32_t mode) {
  if (!service_.IsLoaded() || Owner() == nullptr) return kResultFailed;
  KPComm& m = *Owner();
  ServiceAddress a;
  if (!AddressCurrent(a)) return kResultFailed;
  int32_t handle = -1;
  if (fn_.open(HostOf(a), a.port.c_str(), u"Utility", 1, &handle) != 0) return kResultFailed;
  SetOpenState(handle);

  uint64_t value = 0;
  m.SetReceiveMode(fn_.getProperty(handle, kPropReceiveMode, &value) == 0 && value == 0 ? 1 : 2);
  fn_.registerCallback(kKindState, handle, &CGen3Comm::OnServiceStateEvent, &m);
  fn_.registerCallback(kKindData, handle, &CGen3Comm::OnServiceDataEvent, &m);
  if ((mode & 0xFF) == 0) return kResultOk;

  const int32_t lock = fn_.lock(handle, kOpenLockMs);
  if (lock == 0) {
    locked_.store(1);
  } else if (static_cast<uint32_t>(lock) == kQlxLockRefused || static_cast<uint32_t>(lock) == kQlxLockTimeout) {
    // Another program uses the port: the driver path must not try it either.
    fn_.close(handle);
    SetOpenState(kClosedState);
    locked_.store(0);
    m.Purge();
    return kResultCannotLink;
  }
  m.StatusArrivedEvent().Reset();
  m.StatusArrivedEvent().Wait(kStatusWaitMs);
  if (fn_.getProperty(handle, kPropDeviceState, &value) == 0) {
    const uint32_t state = Low32(value);
    if (DeviceStateToStatus(&state) == kStatusLinkLost) m.SetStatus(kStatusLinkLost);
  }
  return kResultOk;
}

void CGen3Comm::ReleaseLock() {
  int32_t code = fn_.unlock(PortHandle());
  if (static_cast<uint32_t>(code) == kQlxUnlockBusy) {
    if (Owner()) Owner()->Sleep(1000);
    code = fn_.unlock(PortHandle());
  }
  if (code == 0) locked_.store(0);
}

Result CGen3Comm::Close() {
  if (!IsOpen()) return kResultNotOpen;
  if (!service_.IsLoaded()) return kResultOk;
  if (locked_.load() != 0) ReleaseLock();
  fn_.unRegisterCallback(kKindData, PortHandle());
  fn_.unRegisterCallback(kKindState, PortHandle());
  const int32_t code = fn_.close(PortHandle());
  SetOpenState(kClosedState);
  locked_.store(0);
  return ServiceResult(code);
}

Result CGen3Comm::LockFor(int32_t timeoutMs, bool& tookLock) {
  tookLock = false;
  if (locked_.load() != 0) return kResultOk;
  const int32_t code = fn_.lock(PortHandle(), timeoutMs);
  if (code != 0) return ServiceResult(code);
  locked_.store(1);
  tookLock = true;
  return kResultOk;
}

Result CGen3Comm::Write(const uint8_t* data, uint32_t length, uint32_t* outWritten, int32_t timeoutMs) {
  if (!service_.IsLoaded()) return kResultFailed;
  bool tookLock = false;
  const Result lock = LockFor(timeoutMs, tookLock);
  if (lock != kResultOk) return lock;
  uint32_t written = 0;
  const int32_t code = fn_.send(PortHandle(), 0, 1, timeoutMs, length, data, &written);
  Result result = ServiceResult(code);
  if (result == kResultTimeout) {
    if (fn_.cancelOperation(PortHandle(), 3, 1) == 0) {
      if (Owner()) Owner()->Sleep(500);
      fn_.resumeSending(PortHandle());
    }
  } else if (static_cast<uint32_t>(code) == kQlxDeviceError || static_cast<uint32_t>(code) == kQlxFailed ||
             static_cast<uint32_t>(code) == kQlxNoPort) {
    fn_.resumeSending(PortHandle());
  }
  if (written != 0) {
    result = kResultOk;
  } else if (result == kResultOk || result == kResultTimeout) {
    result = kResultNothingWritten;
  }
  if (outWritten != nullptr) *outWritten = written;
  if (tookLock) ReleaseLock();
  return result;
}

Result CGen3Comm::Read(uint8_t* buffer, uint32_t size, uint32_t* outLength, int32_t timeoutMs) {
  if (!service_.IsLoaded() || Owner() == nullptr) return kResultFailed;
  IStoreResponse* store = Store();
  if (buffer == nullptr || size == 0 || outLength == nullptr || store == nullptr) return kResultInvalidArgument;
  KPComm& m = *Owner();
  std::vector<uint8_t> response;
  if (store->TakeResponse(response) != 0) {
    const uint64_t start = m.TickMs();
    const uint32_t wait = static_cast<uint32_t>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
      m.DataArrivedEvent().Reset();
      // A response stored just before the reset is taken here.
      if (store->TakeResponse(response) == 0) break;
      if (m.DataArrivedEvent().Wait(wait) && store->TakeResponse(response) == 0) break;
      if (m.TickMs() - start >= wait) return kResultNoResponse;
    }
  }
  if (response.size() > size) return kResultBufferTooSmall;  // the response is dropped
  std::copy(response.begin(), response.end(), buffer);
  *outLength = static_cast<uint32_t>(response.size());
  return kResultOk;
}

Result CGen3Comm::Initialize(int32_t mode) {
  return Owner() ? InitializeOverDriverSoftware(*Owner(), mode) : kResultFailed;
}

Result CGen3Comm::Unload() {
  config_.Unload();
  cfg_ = ConfigEntryPoints{};
  if (service_.IsLoaded()) {
    Close();
    fn_.terminate();
    service_.Unload();
    fn_ = ServiceEntryPoints{};
  }
  return kResultOk;
}

Result CGen3Comm::Reset() {
  if (!service_.IsLoaded()) return kResultFailed;
  if (!IsOpen()) return kResultNotOpen;
  bool tookLock = false;
  const Result lock = LockFor(Owner() ? Owner()->CurrentSettings().writeTimeout : 2000, tookLock);
  if (lock != kResultOk) return lock;
  return ServiceResult(fn_.resetDevice(PortHandle(), 3));
}

Result CGen3Comm::SetFlowCtrlForced(int32_t flag) {
  if (!service_.IsLoaded()) return kResultFailed;
  if (!IsOpen()) return kResultNotOpen;
  bool tookLock = false;
  const Result lock = LockFor(Owner() ? Owner()->CurrentSettings().writeTimeout : 2000, tookLock);
  if (lock != kResultOk) return lock;
  const int32_t code = fn_.setProperty(PortHandle(), 3, 1, (flag & 0xFF) == 1 ? 1 : 0);
  if (tookLock) ReleaseLock();
  return ServiceResult(code);
}

int32_t CGen3Comm::DeviceStateToStatus(const uint32_t* deviceState) {
  if (deviceState == nullptr) return kStatusNone;
  const uint32_t state = *deviceState;
  if (state > 3) return kStatusLinkLost;
  if (state == 2) {
    if (Owner()) Owner()->NotifyRawStatus(999, nullptr);
    return kStatusLinkLost;
  }
  return kStatusNone;
}

namespace {
int32_t CallbackKind(int32_t eventId) {
  if (eventId == 0x60001 || eventId == 0x60003 || eventId == 0x60012) return kKindState;
  if (eventId == 0x60002) return kKindData;
  return kKindOther;
}
}  // namespace

Result CGen3Comm::RegisterDeviceStateCallback(int32_t eventId, void* callback, void* context) {
  if (!IsOpen() || !service_.IsLoaded()) return kResultFailed;
  return ServiceResult(fn_.registerCallback(CallbackKind(eventId), PortHandle(),
                                            reinterpret_cast<ServiceCallback>(callback), context));
}

Result CGen3Comm::UnregisterDeviceStateCallback(int32_t eventId, void*, void*) {
  if (!IsOpen() || !service_.IsLoaded()) return kResultFailed;
  return ServiceResult(fn_.unRegisterCallback(CallbackKind(eventId), PortHandle()));
}

Result CGen3Comm::RecoverySending() {
  if (!service_.IsLoaded() || !IsOpen()) return kResultNotOpen;
  uint64_t held = 0;
  const int32_t code = fn_.getProperty(PortHandle(), kPropHeldSize, &held);
  if (code != 0) return ServiceResult(code);
  if (held != 0) {
    uint64_t state = 1;
    for (int i = 0; i < 10; ++i) {
      if (fn_.getProperty(PortHandle(), kPropDeviceState, &state) != 0 || state != 1) break;
      if (Owner()) Owner()->Sleep(500);
    }
    if (state == 1) return kResultDataPending;
    if (state == 2) return kResultDeviceState;
    if (state != 0) return kResultFailed;
    // The held data is released by sending as many zero bytes.
    const std::vector<uint8_t> zeros(static_cast<size_t>(std::min<uint64_t>(held, 1u << 20)), 0);
    uint32_t written = 0;
    fn_.send(PortHandle(), 2, 1, 5000, static_cast<uint32_t>(zeros.size()), zeros.data(), &written);
  }
  return ServiceResult(fn_.resumeSending(PortHandle()));
}

Result CGen3Comm::ReopenPort() {
  bool opened = false;
  if (!IsOpen()) {
    const Result r = Open(1);
    if (r != kResultOk) return ServiceResult(r);
    opened = true;
  }
  Result result = kResultFailed;
  if (service_.IsLoaded() && fn_.extendFunction && IsOpen()) {
    result = ServiceResult(fn_.extendFunction(PortHandle(), 3, 4, 0, 0, 0, 0, 0));
  }
  if (opened) Close();
  return result;
}

Result CGen3Comm::LocateConnectorLibrary(std::u16string& path) const {
  uint32_t version = 0;
  if (fn_.getQLXVersion) {
    ServiceAddress a;
    AddressCurrent(a);
    fn_.getQLXVersion(HostOf(a), &version);
  }
  if (version >= kConnectorVersion) {
    path = kConnectorLibrary;
    return kResultOk;
  }
  std::u16string folder = platform::EnvironmentText("ProgramW6432");
  if (folder.empty()) folder = platform::ProgramFilesFolder();
  folder += ModelType() == 1 ? u"\\ORLEX\\qlxservice_kps\\" : u"\\ORLEX\\qlxservice\\";
  path = folder + kConnectorLibrary;
  if (platform::PathExists(path)) return kResultOk;
  path = DriverBridgeFolder() + kConnectorLibrary;
  return platform::PathExists(path) ? kResultOk : kResultFailed;
}

Result CGen3Comm::SetPortConnector(int32_t value) {
  if (!IsOpen()) return kResultNotOpen;
  if (!config_.IsLoaded()) return kResultFailed;
  ServiceAddress a;
  if (!AddressCurrent(a)) return kResultFailed;
  Result result = kResultOk;
  if (value != 1) {
    for (const char16_t* key : kConnectorApplications) {
      result = ServiceResult(cfg_.delCustomValue(HostOf(a), a.port.c_str(), key));
    }
    return result;
  }
  std::u16string path;
  if (LocateConnectorLibrary(path) != kResultOk) return kResultFailed;
  for (const char16_t* key : kConnectorApplications) {
    result = ServiceResult(cfg_.setCustomValueString(HostOf(a), a.port.c_str(), key, path.c_str()));
  }
  return result;
}

Result CGen3Comm::IsPortConnectorEnabled(int32_t* outEnabled) {
  if (!IsOpen()) return kResultNotOpen;
  if (outEnabled == nullptr) return kResultInvalidArgument;
  ServiceAddress a;
  if (!config_.IsLoaded() || !AddressCurrent(a)) return kResultFailed;
  for (const char16_t* key : kConnectorApplications) {
    std::u16string value;
    int32_t code = 0;
    if (!CustomString(a, key, value, &code)) {
      if (static_cast<uint32_t>(code) != kQlxNoValue) {
        *outEnabled = 1;
        return ServiceResult(code);
      }
      value.clear();
    }
    if (value.empty()) {
      *outEnabled = 0;
      return kResultOk;
    }
  }
  *outEnabled = 1;
  return kResultOk;
}

bool CGen3Comm::ConfigString(const ServiceAddress& a, int32_t item, std::u16string& out) const {
  std::vector<char16_t> buffer(kConfigCapacity + 1, u'\0');
  uint32_t size = kConfigCapacity;
  if (cfg_.getPortConfigString(HostOf(a), a.port.c_str(), item, &size, buffer.data()) != 0) return false;
  buffer.back() = u'\0';
  out = std::u16string(buffer.data());
  return true;
}

bool CGen3Comm::CustomString(const ServiceAddress& a, const char16_t* key, std::u16string& out, int32_t* code) const {
  std::vector<char16_t> buffer(kCustomCapacity + 1, u'\0');
  uint32_t size = kCustomCapacity;
  const int32_t c = cfg_.getCustomValueString(HostOf(a), a.port.c_str(), key, &size, buffer.data());
  if (code) *code = c;
  if (c != 0) return false;
  buffer.back() = u'\0';
  out = std::u16string(buffer.data());
  return true;
}

Result CGen3Comm::GetPortName(char16_t* out) {
  if (!config_.IsLoaded()) return kResultFailed;
  if (out == nullptr) return kResultBufferTooSmall;
  ServiceAddress a;
  std::u16string name;
  if (!AddressCurrent(a) || !ConfigString(a, kItemPortName, name)) return kResultFailed;
  CopyBounded(name, out, kPortTextUnits);
  return kResultOk;
}

Result CGen3Comm::SetCustomValueString(const char16_t* key, const char16_t* value) {
  if (!config_.IsLoaded() || key == nullptr || value == nullptr) return kResultFailed;
  ServiceAddress a;
  if (!AddressCurrent(a)) return kResultFailed;
  return ServiceResult(cfg_.setCustomValueString(HostOf(a), a.port.c_str(), key, value));
}

// ----- ports known to the service -----

Result CGen3Comm::QueryPortInfo(PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  if (!config_.IsLoaded()) return kResultFailed;
  ServiceAddress a;
  if (!AddressServicePort(GetText(record->deviceName), ModelType(), a)) return kResultFailed;
  int32_t kind = 0;
  if (cfg_.getPortConfigNumber(HostOf(a), a.port.c_str(), kItemPortKind, &kind) != 0) return kResultFailed;
  const char16_t* type = kind == 1 ? u"COM" : kind == 2 ? u"LPT" : kind == 4 ? u"NET" : kind == 5 ? u"BT" : u"USB";
  SetText(record->portType, type);
  std::u16string name;
  if (!ConfigString(a, kItemPortName, name)) return kResultFailed;
  SetBounded(record->portName, name);

  std::u16string model;
  if (CustomString(a, u"KP.PrinterID.67", model, nullptr)) {
    SetBounded(record->modelName, model);
  } else if (ConfigString(a, kItemModelName, model) && !model.empty() && model != u"*") {
    SetBounded(record->modelName, model);
  } else if (CustomString(a, u"AMB.Id.ModelName", model, nullptr)) {
    SetBounded(record->modelName, model);
  }

  if (kind == 1) {
    int32_t value = 0;
    if (cfg_.getPortConfigNumber(HostOf(a), a.port.c_str(), kItemBaudRate, &value) == 0) record->baudRate = value;
    if (cfg_.getPortConfigNumber(HostOf(a), a.port.c_str(), kItemDataBits, &value) == 0) record->dataBits = value;
    if (cfg_.getPortConfigNumber(HostOf(a), a.port.c_str(), kItemParity, &value) == 0) record->parity = value;
    if (cfg_.getPortConfigNumber(HostOf(a), a.port.c_str(), kItemFlowControl, &value) == 0) {
      record->flowControl = value == 2 ? 1 : 0;
    }
  } else if (std::u16string_view(type) == u"USB") {
    SetBounded(record->servicePortName, name);
    SetText(record->portName, u"000");
    record->usbClass = ContainsIgnoringCase(name, u"vid_7a5e&pid_0202") ? 0 : 1;
  }
  record->route = kRouteDriverSoftware;
  record->routeKind = kRouteKindPortService;
  return kResultOk;
}

Result CGen3Comm::EnumeratePorts() {
  if (enumerated_) return kResultOk;
  if (!config_.IsLoaded() || Owner() == nullptr) {
    enumerated_ = true;
    return kResultOk;
  }
  const PortSettings current = Owner()->CurrentSettings();
  ServiceAddress a;
  const bool network = ContainsIgnoringCase(GetText(current.deviceName), u"tcp://");
  if (network && !AddressServicePort(GetText(current.deviceName), ModelType(), a)) return kResultFailed;
  std::vector<char16_t> list(kConfigCapacity + 2, u'\0');
  uint32_t size = kConfigCapacity;
  if (cfg_.enumPortName(HostOf(a), &size, list.data()) != 0) return kResultFailed;
  const std::u16string host = network ? a.host.substr(0, a.host.size() - 5) : std::u16string();
  int usbCount = 0;
  for (size_t at = 0; at < kConfigCapacity && list[at] != u'\0';) {
    const std::u16string name(list.data() + at);
    at += name.size() + 1;
    PortSettings record = MakeDefaultPortSettings();
    std::u16string device;
    if (network) {
      device = u"tcp://" + host + u"/" + name;
    } else {
      ServiceAddress local;
      AddressServicePort(name, ModelType(), local);
      device = u"pipe://KP/" + local.port;
    }
    if (!SetText(record.deviceName, device)) continue;
    if (QueryPortInfo(&record) != kResultOk) continue;
    if (EqualsIgnoreCase(GetText(record.portType), u"USB")) SetText(record.portName, FormatNumber3(++usbCount));
    Owner()->FoundPorts().push_back(record);
  }
  enumerated_ = true;
  return kResultOk;
}

Result CGen3Comm::FindPort(PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  EnumeratePorts();
  // A USB port matches only when the service lists it with its device path.
  if (Owner() != nullptr) CompleteFromFoundPorts(Owner()->FoundPorts(), record, true);
  return kResultOk;
}

Result CGen3Comm::ApplySerialSettings(const PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  if (!service_.IsLoaded() || !config_.IsLoaded()) return kResultFailed;
  // The settings are for the port being changed (the current one), which
  // ReopenPort then reopens; the caller's record only carries the values.
  ServiceAddress a;
  if (!AddressCurrent(a) || a.remote) return kResultFailed;
  const std::pair<int32_t, int32_t> items[] = {{kItemBaudRate, record->baudRate},
                                               {kItemDataBits, record->dataBits},
                                               {kItemParity, record->parity},
                                               {kItemFlowControl, record->flowControl == 1 ? 2 : 0}};
  for (const auto& [item, value] : items) {
    // A refused item leaves the port as it was: never report that as applied.
    const int32_t code = cfg_.setPortConfigNumber(nullptr, a.port.c_str(), item, value);
    if (code != 0) return ServiceResult(code);
  }
  return ReopenPort();
}

Result CGen3Comm::VerifySerialSettings(const PortSettings* record) {
  if (record == nullptr) return kResultBufferTooSmall;
  ServiceAddress a;
  if (!config_.IsLoaded() || !AddressCurrent(a)) return kResultNotOpen;
  if (!EqualsIgnoreCase(GetText(record->portType), u"COM")) return kResultOk;
  int32_t value = 0;
  const auto read = [&](int32_t item) {
    return cfg_.getPortConfigNumber(HostOf(a), a.port.c_str(), item, &value) == 0;
  };
  if (read(kItemBaudRate) && value != record->baudRate) return kResultSettingsMismatch;
  if (read(kItemDataBits) && value != record->dataBits) return kResultSettingsMismatch;
  if (read(kItemParity) && value != record->parity) return kResultSettingsMismatch;
  if (read(kItemFlowControl) && (value == 2) != (record->flowControl == 1)) return kResultSettingsMismatch;
  return kResultOk;
}

Result CGen3Comm::RenameNetworkPort(const PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  if (!EqualsIgnoreCase(GetText(record->portType), u"NET")) return kResultFailed;
  if (!service_.IsLoaded() || !config_.IsLoaded()) return kResultFailed;
  ServiceAddress a;
  if (!AddressCurrent(a) || a.remote) return kResultFailed;
  const std::u16string name(GetText(record->portName));
  const int32_t code = cfg_.setPortConfigString(nullptr, a.port.c_str(), kItemPortName, name.c_str());
  if (code != 0) return ServiceResult(code);
  return ReopenPort();
}

// ----- received data and state (the service's threads) -----

Result CGen3Comm::ProcessReceived(const uint8_t* bytes, uint32_t count) {
  IStoreResponse* store = Store();
  if (store == nullptr || Owner() == nullptr) return kResultInvalidArgument;
  KPComm& m = *Owner();
  if (store->Store(bytes, count) != 0) return kResultNoResponse;
  int32_t kind = 0;
  std::vector<uint8_t> packet;
  while (store->TakeStatus(&kind, packet) == 0) {
    // Each packet notifies for what it sets itself, so one batch never
    // repeats an earlier packet's notification.
    bool statusSet = false;
    bool batterySet = false;
    int32_t raw = 0x7FFFFFFF;
    int32_t status = m.Status();
    uint16_t battery = 0;
    switch (kind) {
      case 2:
        raw = 1;
        if (packet.size() >= 4) {
          status = m.TranslateStatus(packet[0], packet[1], packet[2], packet[3]);
          statusSet = true;
        }
        break;
      case 5:
        raw = 3;
        if (packet.size() >= 4) {
          battery = static_cast<uint16_t>(packet[2] | (packet[3] << 8));
          batterySet = true;
        }
        break;
      case 6: {
        raw = 2;
        const uint8_t b = packet.size() >= 2 ? packet[1] : 0;
        status = (b & 0x04) ? 10 : (b & 0x02) ? 12 : (b & 0x20) ? 15 : (b & 0x01) ? 20 : 100;
        statusSet = true;
        break;
      }
      case 7:
        raw = 4;
        break;
      default:
        break;
    }
    if (statusSet) m.SetStatus(status);
    m.NotifyRawStatus(raw, packet.data(), packet.size());
    if (statusSet) {
      m.NotifyStatus(status);
      m.StatusArrivedEvent().Set();
    }
    if (batterySet) m.DeliverBattery(battery);
  }
  return kResultOk;
}

int32_t PW_CALL CGen3Comm::OnServiceDataEvent(uintptr_t event, uintptr_t, uintptr_t, uintptr_t count, uintptr_t bytes,
                                              void* context) {
  auto* m = static_cast<KPComm*>(context);
  if (m == nullptr || event != kEventReceived || count == 0 || bytes == 0) return 0;
  auto* self = static_cast<CGen3Comm*>(m->PortServiceBackend());
  if (self == nullptr) return 0;
  const uint32_t n = static_cast<uint32_t>(std::min<uintptr_t>(count, 0xFFFFFFFFu));
  if (self->ProcessReceived(reinterpret_cast<const uint8_t*>(bytes), n) == kResultOk) m->DataArrivedEvent().Set();
  return 0;
}

int32_t PW_CALL CGen3Comm::OnServiceStateEvent(uintptr_t event, uintptr_t, uintptr_t statePointer, uintptr_t,
                                               uintptr_t, void* context) {
  auto* m = static_cast<KPComm*>(context);
  if (m == nullptr || event != kEventState || statePointer == 0 || !m->HasStatusCallback()) return 0;
  auto* self = static_cast<CGen3Comm*>(m->PortServiceBackend());
  if (self == nullptr) return 0;
  const uint32_t state = *reinterpret_cast<const uint32_t*>(statePointer);
  const int32_t status = self->DeviceStateToStatus(&state);
  if (status == kStatusNone) {
    // The printer has come back: its automatic status must be enabled again.
    if (state == 0) m->EnableStatusBack(true);
    return 0;
  }
  m->SetStatus(status);
  m->NotifyStatus(status);
  return 0;
}

}  // namespace tw::portwire
