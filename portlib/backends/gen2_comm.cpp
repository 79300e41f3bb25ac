#include "portlib/backends/gen2_comm.h"

#include <cstring>
#include <utility>
#include <vector>

#include "portlib/backends/maker_locations.h"
#include "portlib/backends/text_helpers.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire {
namespace {

using namespace drvbridge;

constexpr int32_t kLockTimeoutMs = 1000;
constexpr uint32_t kStatusWaitMs = 1000;
constexpr uint32_t kPropertyCapacity = 1024;
constexpr uint32_t kListCapacity = 2048;
constexpr char16_t kGenericModel[] = u"KP-S300";

// Property request: the name with its terminator.
std::vector<char16_t> PropertyRequest(const char16_t* property) {
  std::u16string_view name(property);
  std::vector<char16_t> request(name.begin(), name.end());
  request.push_back(u'\0');
  return request;
}

KPComm* Manager(void* context) { return static_cast<KPComm*>(context); }

}  // namespace

CGen2Comm::~CGen2Comm() { Unload(); }

bool CGen2Comm::Load() {
  if (library_.IsLoaded()) return true;
  const std::u16string candidates[] = {
      InProgramFiles(u"\\ORLEX\\Drvbridge\\Drvbridge.dll"),
      DriverBridgeFolder() + u"Drvbridge.dll",
      u"OrlexPH.dll",
  };
  for (const std::u16string& path : candidates) {
    library_ = platform::Module::Load(path);
    if (library_.IsLoaded()) break;
  }
  if (!library_.IsLoaded()) return false;
  EntryPoints fn;
  fn.open = library_.Function<OpenFn>("Open");
  fn.close = library_.Function<CloseFn>("Close");
  fn.lock = library_.Function<LockFn>("Lock");
  fn.unlock = library_.Function<UnlockFn>("Unlock");
  fn.sendReceive = library_.Function<SendReceiveFn>("SendReceive");
  fn.ioctl = library_.Function<IoctlFn>("Ioctl");
  fn.registerCallback = library_.Function<RegisterCallbackFn>("RegisterCallback");
  fn.unRegisterCallback = library_.Function<UnRegisterCallbackFn>("UnRegisterCallback");
  if (!fn.open || !fn.close || !fn.lock || !fn.unlock || !fn.sendReceive || !fn.ioctl || !fn.registerCallback ||
      !fn.unRegisterCallback) {
    library_.Unload();
    return false;
  }
  fn_ = fn;
  return true;
}

void CGen2Comm::CloseStatusHandle() {
  if (statusHandle_ != -1 && library_.IsLoaded()) fn_.close(statusHandle_);
  statusHandle_ = -1;
}

Result CGen2Comm::Open(int32_t mode) {
  if (!library_.IsLoaded() || Owner() == nullptr) return kResultFailed;
  KPComm& m = *Owner();
  const PortSettings settings = m.CurrentSettings();
  const std::u16string device(GetText(settings.deviceName));
  int32_t handle = -1;
  if (fn_.open(device.c_str(), &handle) != 0) return kResultFailed;
  SetOpenState(handle);

  if ((mode & 0xFF) == 0) {
    fn_.registerCallback(handle, kEventData, &CGen2Comm::OnDataEvent, &m);
    return kResultOk;
  }
  uint32_t receiveMode = 0;
  uint32_t returned = 0;
  if (fn_.ioctl(handle, kIoctlReceiveMode, nullptr, 0, &receiveMode, sizeof receiveMode, &returned) == 0) {
    m.SetReceiveMode(static_cast<int32_t>(receiveMode));
  }
  if (statusHandle_ == -1) {
    int32_t statusHandle = -1;
    if (fn_.open(device.c_str(), &statusHandle) == 0) {
      statusHandle_ = statusHandle;
      fn_.registerCallback(statusHandle, kEventStatus, &CGen2Comm::OnIgnoredEvent, &m);
    }
  }
  const int32_t lock = fn_.lock(handle, kLockTimeoutMs);
  if (lock == 0) {
    locked_.store(1);
  } else if (static_cast<uint32_t>(lock) == kDrvLockTimeout) {
    // Another program holds the printer: give everything back.
    fn_.close(handle);
    CloseStatusHandle();
    SetOpenState(kClosedState);
    locked_.store(0);
    m.Purge();
    return kResultCannotLink;
  }
  fn_.registerCallback(handle, kEventStatus, &CGen2Comm::OnStatusEvent, &m);
  fn_.registerCallback(handle, kEventDeviceState, &CGen2Comm::OnDeviceStateEvent, &m);
  fn_.registerCallback(handle, kEventData, &CGen2Comm::OnDataEvent, &m);
  fn_.registerCallback(handle, kEventReceiveMode, &CGen2Comm::OnReceiveModeEvent, &m);

  m.StatusArrivedEvent().Reset();
  m.StatusArrivedEvent().Wait(kStatusWaitMs);

  uint32_t state = 0;
  if (fn_.ioctl(handle, kIoctlDeviceState, nullptr, 0, &state, sizeof state, &returned) != 0) return kResultOk;
  if (DeviceStateToStatus(&state) != kStatusLinkLost) {
    uint8_t bytes[4] = {};
    if (fn_.ioctl(handle, kIoctlStatusBytes, nullptr, 0, bytes, sizeof bytes, &returned) == 0) {
      int32_t status = m.TranslateStatus(bytes[0], bytes[1], bytes[2], bytes[3]);
      if (state == 3 && (status == 0 || (status >= 18 && status <= 21))) status = kStatusLinkLost;
      m.SetStatus(status);
      return kResultOk;
    }
  }
  m.SetStatus(kStatusLinkLost);
  return kResultOk;
}

Result CGen2Comm::Close() {
  if (!IsOpen()) return kResultNotOpen;
  // The library ends the exclusive use itself when the handle goes.
  if (library_.IsLoaded()) fn_.close(PortHandle());
  locked_.store(0);
  SetOpenState(kClosedState);
  return kResultOk;
}

Result CGen2Comm::Read(uint8_t* buffer, uint32_t size, uint32_t* outLength, int32_t timeoutMs) {
  if (!library_.IsLoaded() || Owner() == nullptr) return kResultFailed;
  if (buffer == nullptr && size != 0) return kResultInvalidArgument;
  KPComm& m = *Owner();
  CBlockQueue& queue = m.RawReceiveQueue();
  if (queue.Empty()) {
    m.DataArrivedEvent().Reset();
    // A block that arrived just before the reset is still seen here.
    if (queue.Empty() && !m.DataArrivedEvent().Wait(static_cast<uint32_t>(timeoutMs < 0 ? 0 : timeoutMs))) {
      return kResultTimeout;
    }
  }
  switch (queue.TakeInto(buffer, size, outLength)) {
    case CBlockQueue::TakeResult::kEmpty:
      return kResultOk;
    case CBlockQueue::TakeResult::kTooSmall:
      return kResultBufferTooSmall;
    case CBlockQueue::TakeResult::kTaken:
      return kResultOk;
  }
  return kResultOk;
}

Result CGen2Comm::Write(const uint8_t* data, uint32_t length, uint32_t* outWritten, int32_t timeoutMs) {
  if (!library_.IsLoaded()) return kResultFailed;
  const int32_t handle = PortHandle();
  bool tookLock = false;
  if (locked_.load() == 0) {
    const int32_t lock = fn_.lock(handle, timeoutMs);
    if (lock != 0) return TranslateResult(lock);
    locked_.store(1);
    tookLock = true;
  }
  uint32_t written = 0;
  const int32_t code = fn_.sendReceive(handle, data, length, &written, 0, timeoutMs, 0, 0, 0);
  Result result = static_cast<uint32_t>(code) == kDrvSendNothing ? kResultNothingWritten : TranslateResult(code);
  // A send that moved bytes counts as done; one that moved none never counts
  // as success, whether or not the caller asked for the count.
  if (written != 0) {
    result = kResultOk;
  } else if (result == kResultOk || result == kResultTimeout) {
    result = kResultNothingWritten;
  }
  if (outWritten != nullptr) *outWritten = written;
  if (tookLock) {
    fn_.unlock(handle);
    locked_.store(0);
  }
  return result;
}

Result InitializeOverDriverSoftware(KPComm& manager, int32_t mode) {
  if (mode == 1) manager.ClearPrinterBuffers();
  return manager.EnableStatusBack(true);
}

Result CGen2Comm::Initialize(int32_t mode) {
  return Owner() ? InitializeOverDriverSoftware(*Owner(), mode) : kResultFailed;
}

Result CGen2Comm::Unload() {
  if (library_.IsLoaded()) {
    CloseStatusHandle();
    Close();
    library_.Unload();
    fn_ = EntryPoints{};
  }
  return kResultOk;
}

Result CGen2Comm::Reset() {
  if (!library_.IsLoaded()) return kResultFailed;
  if (!IsOpen()) return kResultNotOpen;
  if (locked_.load() == 0) {
    const int32_t lock = fn_.lock(PortHandle(), Owner() ? Owner()->CurrentSettings().writeTimeout : 2000);
    if (lock != 0) return TranslateResult(lock);
    locked_.store(1);
  }
  return TranslateResult(fn_.ioctl(PortHandle(), kIoctlResetDevice, nullptr, 0, nullptr, 0, nullptr));
}

Result CGen2Comm::SetFlowCtrlForced(int32_t flag) {
  if (!library_.IsLoaded() || fn_.ioctl == nullptr) return kResultFailed;
  const uint32_t value = (flag & 0xFF) == 1 ? 2 : 1;
  uint32_t returned = 0;
  return fn_.ioctl(PortHandle(), kIoctlForcedFlow, &value, sizeof value, nullptr, 0, &returned) == 0 ? kResultOk
                                                                                                    : kResultFailed;
}

Result CGen2Comm::SetDisableOffOffline() {
  if (!library_.IsLoaded()) return kResultFailed;
  if (!IsOpen()) return kResultNotOpen;
  // The printer's off-offline setting exists on serial ports only.
  if (locked_.load() == 0 || Owner() == nullptr ||
      !EqualsIgnoreCase(GetText(Owner()->CurrentSettings().portType), u"COM")) {
    return kResultFailed;
  }
  return fn_.ioctl(PortHandle(), kIoctlDisableOffOffline, nullptr, 0, nullptr, 0, nullptr);
}

Result CGen2Comm::SetResponseACK(int32_t flag) {
  if (!library_.IsLoaded()) return kResultFailed;
  if (!IsOpen()) return kResultNotOpen;
  if (locked_.load() == 0) return kResultFailed;
  const uint32_t value = (flag & 0xFF) == 1 ? 1 : 2;
  return fn_.ioctl(PortHandle(), kIoctlResponseAck, &value, sizeof value, nullptr, 0, nullptr);
}

Result CGen2Comm::TranslateResult(int32_t libraryCode) {
  switch (static_cast<uint32_t>(libraryCode)) {
    case 0: return kResultOk;
    case kDrvBufferTooSmall: return kResultBufferTooSmall;
    case kDrvSettingsRefused: return kResultSettingsMismatch;
    case kDrvLockTimeout: return kResultTimeout;
    case kDrvDeviceState: return kResultDeviceState;
    case kDrvNotWritten: return kResultNothingWritten;
    default: return kResultFailed;
  }
}

int32_t CGen2Comm::DeviceStateToStatus(const uint32_t* deviceState) {
  if (deviceState == nullptr) return kStatusNone;
  const uint32_t state = *deviceState;
  if (state == 0 || state == 1 || state == 3) return kStatusNone;
  return kStatusLinkLost;
}

Result CGen2Comm::RegisterDeviceStateCallback(int32_t eventId, void* callback, void* context) {
  if (!IsOpen() || !library_.IsLoaded()) return kResultFailed;
  return TranslateResult(
      fn_.registerCallback(PortHandle(), eventId, reinterpret_cast<EventCallback>(callback), context));
}

Result CGen2Comm::UnregisterDeviceStateCallback(int32_t eventId, void* callback, void* context) {
  if (!IsOpen() || !library_.IsLoaded()) return kResultFailed;
  return TranslateResult(
      fn_.unRegisterCallback(PortHandle(), eventId, reinterpret_cast<EventCallback>(callback), context));
}

Result CGen2Comm::GetPortName(char16_t* out) {
  if (!library_.IsLoaded()) return kResultNotOpen;
  if (out == nullptr) return kResultBufferTooSmall;
  std::u16string name;
  if (!ReadString(PortHandle(), u"PortName", name)) return kResultFailed;
  CopyBounded(name, out, kPortTextUnits);
  return kResultOk;
}

void* CGen2Comm::ReplyCallback() const { return reinterpret_cast<void*>(&CGen2Comm::OnReplyEvent); }

// ----- properties -----

bool CGen2Comm::ReadString(int32_t handle, const char16_t* property, std::u16string& out) const {
  if (!library_.IsLoaded()) return false;
  const std::vector<char16_t> request = PropertyRequest(property);
  std::vector<char16_t> value(kPropertyCapacity / 2 + 1, u'\0');
  uint32_t returned = 0;
  if (fn_.ioctl(handle, kIoctlGetString, request.data(), static_cast<uint32_t>(request.size() * 2), value.data(),
                kPropertyCapacity, &returned) != 0) {
    return false;
  }
  value.back() = u'\0';  // never trust the library to terminate
  out = std::u16string(value.data());
  return true;
}

bool CGen2Comm::ReadNumber(int32_t handle, const char16_t* property, int32_t& out) const {
  if (!library_.IsLoaded()) return false;
  const std::vector<char16_t> request = PropertyRequest(property);
  std::vector<uint8_t> value(kPropertyCapacity, 0);
  uint32_t returned = 0;
  if (fn_.ioctl(handle, kIoctlGetNumber, request.data(), static_cast<uint32_t>(request.size() * 2), value.data(),
                kPropertyCapacity, &returned) != 0) {
    return false;
  }
  std::memcpy(&out, value.data(), sizeof out);
  return true;
}

int32_t CGen2Comm::WriteNumber(int32_t handle, const char16_t* property, int32_t value) const {
  std::vector<char16_t> request = PropertyRequest(property);
  const size_t nameBytes = request.size() * 2;
  std::vector<uint8_t> input(nameBytes + 4);
  std::memcpy(input.data(), request.data(), nameBytes);
  std::memcpy(input.data() + nameBytes, &value, 4);
  return fn_.ioctl(handle, kIoctlSetNumber, input.data(), static_cast<uint32_t>(input.size()), nullptr, 0, nullptr);
}

bool CGen2Comm::WriteString(int32_t handle, const char16_t* property, std::u16string_view value) const {
  std::vector<char16_t> input = PropertyRequest(property);
  input.insert(input.end(), value.begin(), value.end());
  return fn_.ioctl(handle, kIoctlSetString, input.data(), static_cast<uint32_t>(input.size() * 2), nullptr, 0,
                   nullptr) == 0;
}

// ----- ports known to the driver -----

Result CGen2Comm::QueryPortInfo(PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  if (!library_.IsLoaded()) return kResultFailed;
  int32_t handle = -1;
  const std::u16string device(GetText(record->deviceName));
  if (fn_.open(device.c_str(), &handle) != 0) return kResultFailed;
  std::u16string type, name;
  if (!ReadString(handle, u"PortType", type) || !ReadString(handle, u"PortName", name)) {
    fn_.close(handle);
    return kResultFailed;
  }
  SetBounded(record->portType, type);
  SetBounded(record->portName, name);

  std::u16string model;
  bool haveModel = ReadString(handle, u"Id.ModelName", model);
  // The driver reports one generic name for several models; the device name
  // tells them apart.
  if (!haveModel || model == kGenericModel) haveModel = ReadString(handle, u"Id.DeviceName", model);
  if (haveModel) {
    const size_t cut = model.find_first_of(u"\x1D\x1F");
    if (cut != std::u16string::npos) model.resize(cut);
    SetBounded(record->modelName, model);
  }

  if (EqualsIgnoreCase(type, u"USB")) {
    SetBounded(record->servicePortName, name);
    SetText(record->portName, u"000");
    record->usbClass = ContainsIgnoringCase(name, u"vid_7a5e&pid_0202") ? 0 : 1;
  } else if (EqualsIgnoreCase(type, u"COM")) {
    int32_t value = 0;
    if (ReadNumber(handle, u"BaudRate", value)) record->baudRate = value;
    if (ReadNumber(handle, u"ByteSize", value)) record->dataBits = value;
    if (ReadNumber(handle, u"Parity", value)) record->parity = value;
    if (ReadNumber(handle, u"FlowControl", value)) record->flowControl = value == 1 ? 1 : 0;
  }
  fn_.close(handle);
  record->route = kRouteDriverSoftware;
  record->routeKind = kRouteKindDriverPath;
  return kResultOk;
}

Result CGen2Comm::EnumeratePorts() {
  if (enumerated_) return kResultOk;
  if (library_.IsLoaded() && Owner() != nullptr) {
    int32_t handle = -1;
    if (fn_.open(u"pipe://", &handle) != 0) return kResultFailed;
    std::vector<char16_t> list(kListCapacity / 2 + 2, u'\0');
    const char16_t ns[] = u"KP";
    uint32_t returned = 0;
    if (fn_.ioctl(handle, kIoctlListDevices, ns, sizeof ns, list.data(), kListCapacity, &returned) != 0) {
      fn_.close(handle);
      return kResultFailed;
    }
    int usbCount = 0;
    for (size_t at = 0; at < list.size() && list[at] != u'\0';) {
      const std::u16string name(list.data() + at);
      at += name.size() + 1;
      PortSettings record = MakeDefaultPortSettings();
      if (!SetText(record.deviceName, u"pipe://KP/" + name)) continue;
      if (QueryPortInfo(&record) != kResultOk) continue;
      if (EqualsIgnoreCase(GetText(record.portType), u"USB")) SetText(record.portName, FormatNumber3(++usbCount));
      Owner()->FoundPorts().push_back(record);
    }
    fn_.close(handle);
  }
  enumerated_ = true;
  return kResultOk;
}

void CompleteFromFoundPorts(const std::vector<PortSettings>& found, PortSettings* record, bool usbNeedsListedName) {
  const bool usb = EqualsIgnoreCase(GetText(record->portType), u"USB");
  for (const PortSettings& known : found) {
    if (!EqualsIgnoreCase(GetText(known.portType), GetText(record->portType))) continue;
    const bool match =
        usb ? !GetText(record->deviceName).empty() && (!usbNeedsListedName || !GetText(known.servicePortName).empty()) &&
                  KPComm::UsbDeviceNamesMatch(known.servicePortName, record->servicePortName)
            : EqualsIgnoreCase(GetText(known.portName), GetText(record->portName));
    if (match) {
      record->route = kRouteDriverSoftware;
      std::copy(std::begin(known.deviceName), std::end(known.deviceName), std::begin(record->deviceName));
      return;
    }
  }
}

Result CGen2Comm::FindPort(PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  EnumeratePorts();
  if (Owner() != nullptr) CompleteFromFoundPorts(Owner()->FoundPorts(), record, false);
  return kResultOk;
}

Result CGen2Comm::ApplySerialSettings(const PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  if (!library_.IsLoaded()) return kResultFailed;
  // The settings are for the port being changed: the current one, whose
  // record names its device; the caller's record carries the values and may
  // name no device at all. Before any port was set, the caller's device.
  std::u16string device;
  if (Owner() != nullptr) device = GetText(Owner()->CurrentSettings().deviceName);
  if (device.empty() || device == u"Unknown") device = GetText(record->deviceName);
  int32_t handle = -1;
  if (fn_.open(device.c_str(), &handle) != 0) return kResultFailed;
  if (fn_.lock(handle, kLockTimeoutMs) != 0) {
    fn_.close(handle);
    return kResultFailed;
  }
  const std::pair<const char16_t*, int32_t> items[] = {{u"BaudRate", record->baudRate},
                                                       {u"Parity", record->parity},
                                                       {u"FlowControl", record->flowControl == 1 ? 1 : 2}};
  Result result = kResultOk;
  for (const auto& [property, value] : items) {
    // A refused setting leaves the port as it was: never report that as applied.
    const int32_t code = WriteNumber(handle, property, value);
    if (code != 0) {
      result = TranslateResult(code);
      break;
    }
  }
  fn_.close(handle);
  return result;
}

Result CGen2Comm::VerifySerialSettings(const PortSettings* record) {
  if (record == nullptr) return kResultBufferTooSmall;
  if (!library_.IsLoaded() || !IsOpen()) return kResultNotOpen;
  if (!EqualsIgnoreCase(GetText(record->portType), u"COM")) return kResultOk;
  int32_t value = 0;
  const int32_t handle = PortHandle();
  if (ReadNumber(handle, u"BaudRate", value) && value != record->baudRate) return kResultSettingsMismatch;
  if (ReadNumber(handle, u"ByteSize", value) && value != record->dataBits) return kResultSettingsMismatch;
  if (ReadNumber(handle, u"Parity", value) && value != record->parity) return kResultSettingsMismatch;
  if (ReadNumber(handle, u"FlowControl", value) && (value == 1) != (record->flowControl == 1)) {
    return kResultSettingsMismatch;
  }
  return kResultOk;
}

Result CGen2Comm::RenameNetworkPort(const PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  if (IsOpen()) return kResultAlreadyOpen;
  if (!EqualsIgnoreCase(GetText(record->portType), u"NET")) return kResultFailed;
  if (!library_.IsLoaded() || Owner() == nullptr) return kResultFailed;
  const std::u16string device(GetText(Owner()->CurrentSettings().deviceName));
  int32_t handle = -1;
  if (fn_.open(device.c_str(), &handle) != 0) return kResultFailed;
  bool accepted = false;
  if (fn_.lock(handle, kLockTimeoutMs) == 0) {
    accepted = WriteString(handle, u"PortName", GetText(record->portName));
    fn_.unlock(handle);
  }
  fn_.close(handle);
  return accepted ? kResultOk : kResultFailed;
}

// ----- callbacks (the library's threads) -----

void PW_CALL CGen2Comm::OnStatusEvent(void* context, int32_t eventId, const void* data, uint32_t size) {
  KPComm* m = Manager(context);
  if (m == nullptr || eventId != kEventStatus) return;
  if (size == 4 && data != nullptr) {
    const auto* b = static_cast<const uint8_t*>(data);
    m->SetStatus(m->TranslateStatus(b[0], b[1], b[2], b[3]));
    m->NotifyStatus(m->Status());
  }
  m->StatusArrivedEvent().Set();
}

void PW_CALL CGen2Comm::OnDeviceStateEvent(void* context, int32_t eventId, const void* data, uint32_t size) {
  KPComm* m = Manager(context);
  if (m == nullptr || eventId != kEventDeviceState || size != 4 || data == nullptr) return;
  CCommBase* current = m->CurrentBackend();
  if (current == nullptr) return;
  uint32_t state = 0;
  std::memcpy(&state, data, 4);
  const int32_t status = current->DeviceStateToStatus(&state);
  if (status == kStatusNone) return;
  m->SetStatus(status);
  m->NotifyStatus(status);
}

void PW_CALL CGen2Comm::OnDataEvent(void* context, int32_t eventId, const void* data, uint32_t size) {
  KPComm* m = Manager(context);
  if (m == nullptr || eventId != kEventData || data == nullptr || size == 0) return;
  // Only the receive modes in which the data belongs to the caller.
  const int32_t mode = m->ReceiveMode();
  if (mode != 1 && mode != 7) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  m->DeliverData(std::vector<uint8_t>(bytes, bytes + size));
}

void PW_CALL CGen2Comm::OnReceiveModeEvent(void* context, int32_t eventId, const void* data, uint32_t size) {
  KPComm* m = Manager(context);
  if (m == nullptr || eventId != kEventReceiveMode || data == nullptr || size < 4) return;
  int32_t mode = 0;
  std::memcpy(&mode, data, 4);
  m->SetReceiveMode(mode);
}

void PW_CALL CGen2Comm::OnReplyEvent(void* context, int32_t eventId, const void* data, uint32_t size) {
  KPComm* m = Manager(context);
  if (m == nullptr || eventId != kEventReply || data == nullptr || size == 0) return;
  const int32_t mode = m->ReceiveMode();
  if (mode != 1 && mode != 7) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  m->DeliverReply(std::vector<uint8_t>(bytes, bytes + size));
}

void PW_CALL CGen2Comm::OnIgnoredEvent(void*, int32_t, const void*, uint32_t) {}

}  // namespace tw::portwire
