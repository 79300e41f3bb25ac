// Simulated driver-path library (Drvbridge.dll / libDrvbridge.so, also built as
// OrlexPH for the bare-name search): the maker's eight entry points over the
// simulated service. Devices are "pipe://KP/<port of the table>"; "pipe://"
// alone is the enumeration handle.

#include <cstring>
#include <string>

#include "portlib/backends/drvbridge_api.h"
#include "sim/makersw/sim_export.h"
#include "sim/makersw/sim_ports.h"
#include "sim/makersw/sim_service.h"

using namespace tw::makersw;
using namespace tw::drvbridge;

namespace {

void Dispatch(const Subscription& s, const LinkEvent& event) {
  auto callback = reinterpret_cast<EventCallback>(s.callback);
  switch (event.kind) {
    case LinkEvent::kPacket: {
      const bool status = event.code == 2 && event.bytes.size() == 4;
      if (s.id == (status ? kEventStatus : kEventData)) {
        callback(s.context, s.id, event.bytes.data(), static_cast<uint32_t>(event.bytes.size()));
      }
      break;
    }
    case LinkEvent::kState:
      if (s.id == kEventDeviceState) callback(s.context, s.id, &event.value, 4);
      break;
    case LinkEvent::kReceiveMode:
      if (s.id == kEventReceiveMode) callback(s.context, s.id, &event.value, 4);
      break;
  }
}

Service& Svc() {
  static Service service(Dispatch);
  return service;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool PortInfo(int32_t handle, SimPort& out) {
  std::string port;
  if (!Svc().PortOf(handle, port) || port.empty()) return false;
  SimTable table = LoadTable();
  const SimPort* info = table.Find(port);
  if (!info) return false;
  out = *info;
  return true;
}

bool PutNumber(void* output, uint32_t size, uint32_t* returned, uint32_t value) {
  if (!output || size < 4) return false;
  std::memcpy(output, &value, 4);
  if (returned) *returned = 4;
  return true;
}

// Property name of a property request (UTF-16 with terminator at the start of
// the input), and, for writes, what follows it.
std::string PropertyName(const void* input, uint32_t size, size_t* units) {
  const auto* text = static_cast<const char16_t*>(input);
  size_t n = 0;
  const size_t max = size / 2;
  while (n < max && text[n] != 0) ++n;
  if (units) *units = n;
  return Narrow(std::u16string(text, n).c_str());
}

struct Change {
  std::string key;
  std::string value;
};

void Apply(SimPort& port, const void* arg) {
  const auto* c = static_cast<const Change*>(arg);
  port.values[c->key] = c->value;
}

int32_t GetProperty(int32_t handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
                    uint32_t outputSize, uint32_t* returned) {
  SimPort port;
  if (!input || !PortInfo(handle, port)) return static_cast<int32_t>(kDrvNoDevice);
  const std::string name = PropertyName(input, inputSize, nullptr);
  if (code == kIoctlGetNumber) {
    int32_t value = 0;
    if (name == "BaudRate") value = port.Number("baud", 9600);
    else if (name == "ByteSize") value = port.Number("bytesize", 8);
    else if (name == "Parity") value = port.Number("parity", 0);
    else if (name == "FlowControl") value = port.Get("flow") == "on" ? 1 : 2;
    else return static_cast<int32_t>(kDrvFailed);
    return PutNumber(output, outputSize, returned, static_cast<uint32_t>(value)) ? 0
                                                                                : static_cast<int32_t>(kDrvBufferTooSmall);
  }
  std::string key;
  if (name == "PortType") key = "type";
  else if (name == "PortName") key = "portname";
  else if (name == "Id.ModelName") key = "model";
  else if (name == "Id.DeviceName") key = "devicename";
  else return static_cast<int32_t>(kDrvFailed);
  if (!port.values.count(key)) return static_cast<int32_t>(kDrvFailed);
  const std::u16string value = Widen(port.Get(key));
  if (!CopyOut(value, static_cast<char16_t*>(output), outputSize / 2)) return static_cast<int32_t>(kDrvBufferTooSmall);
  if (returned) *returned = static_cast<uint32_t>((value.size() + 1) * 2);
  return 0;
}

int32_t SetProperty(int32_t handle, uint32_t code, const void* input, uint32_t inputSize) {
  SimPort port;
  if (!input || !PortInfo(handle, port)) return static_cast<int32_t>(kDrvNoDevice);
  size_t units = 0;
  const std::string name = PropertyName(input, inputSize, &units);
  const auto* rest = static_cast<const char16_t*>(input) + units + 1;
  const size_t restUnits = inputSize / 2 > units + 1 ? inputSize / 2 - units - 1 : 0;
  Change change;
  if (code == kIoctlSetNumber) {
    if (restUnits < 2) return static_cast<int32_t>(kDrvFailed);
    if (port.HasFault("refuse-settings")) return static_cast<int32_t>(kDrvSettingsRefused);
    int32_t value = 0;
    std::memcpy(&value, rest, 4);
    if (name == "BaudRate") change = {"baud", std::to_string(value)};
    else if (name == "ByteSize") change = {"bytesize", std::to_string(value)};
    else if (name == "Parity") change = {"parity", std::to_string(value)};
    else if (name == "FlowControl") change = {"flow", value == 1 ? "on" : "off"};
    else return static_cast<int32_t>(kDrvFailed);
  } else {
    if (name != "PortName") return static_cast<int32_t>(kDrvFailed);
    if (port.HasFault("refuse-rename")) return static_cast<int32_t>(kDrvSettingsRefused);
    size_t n = 0;
    while (n < restUnits && rest[n] != 0) ++n;
    change = {"portname", Narrow(std::u16string(rest, n).c_str())};
  }
  return UpdatePort(port.name, Apply, &change) ? 0 : static_cast<int32_t>(kDrvFailed);
}

}  // namespace

SIM_EXPORT int32_t PW_CALL Open(const char16_t* deviceName, int32_t* outHandle) {
  if (!deviceName || !outHandle) return static_cast<int32_t>(kDrvFailed);
  const std::string name = Narrow(deviceName);
  const bool enumeration = Lower(name) == "pipe://";
  const int32_t handle = Svc().OpenHandle(enumeration ? std::string() : PortOfDeviceName(name));
  if (handle == 0) return static_cast<int32_t>(kDrvNoDevice);
  *outHandle = handle;
  return 0;
}

SIM_EXPORT int32_t PW_CALL Close(int32_t handle) {
  return Svc().CloseHandle(handle) ? 0 : static_cast<int32_t>(kDrvNoDevice);
}

SIM_EXPORT int32_t PW_CALL Lock(int32_t handle, int32_t timeoutMs) {
  switch (Svc().Lock(handle, timeoutMs)) {
    case Service::LockResult::kOk: return 0;
    case Service::LockResult::kNoHandle: return static_cast<int32_t>(kDrvNoDevice);
    default: return static_cast<int32_t>(kDrvLockTimeout);
  }
}

SIM_EXPORT int32_t PW_CALL Unlock(int32_t handle) {
  return Svc().Unlock(handle) ? 0 : static_cast<int32_t>(kDrvFailed);
}

SIM_EXPORT int32_t PW_CALL SendReceive(int32_t handle, const void* data, uint32_t length, uint32_t* outWritten,
                                       int32_t, int32_t /*timeoutMs*/, int32_t, int32_t, int32_t) {
  if (outWritten) *outWritten = 0;
  SimPort port;
  if (!PortInfo(handle, port)) return static_cast<int32_t>(kDrvNoDevice);
  if (!data) return static_cast<int32_t>(kDrvFailed);
  if (port.HasFault("send-nothing")) return 0;
  const long sent = Svc().Send(handle, static_cast<const uint8_t*>(data), length);
  if (sent < 0) return static_cast<int32_t>(kDrvNotWritten);
  if (outWritten) *outWritten = static_cast<uint32_t>(sent);
  return 0;
}

SIM_EXPORT int32_t PW_CALL Ioctl(int32_t handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
                                 uint32_t outputSize, uint32_t* outReturned) {
  if (outReturned) *outReturned = 0;
  if (code == kIoctlListDevices) {
    std::string port;
    if (!Svc().PortOf(handle, port) || !port.empty()) return static_cast<int32_t>(kDrvNoDevice);
    std::u16string list;
    for (const SimPort& p : LoadTable().ports) list += Widen(p.name) + u'\0';
    list += u'\0';
    if (!output || outputSize < list.size() * 2) return static_cast<int32_t>(kDrvBufferTooSmall);
    std::memcpy(output, list.data(), list.size() * 2);
    if (outReturned) *outReturned = static_cast<uint32_t>(list.size() * 2);
    return 0;
  }
  if (code == kIoctlGetNumber || code == kIoctlGetString) {
    return GetProperty(handle, code, input, inputSize, output, outputSize, outReturned);
  }
  if (code == kIoctlSetNumber || code == kIoctlSetString) return SetProperty(handle, code, input, inputSize);
  SimPort port;
  if (!PortInfo(handle, port)) return static_cast<int32_t>(kDrvNoDevice);
  switch (code) {
    case kIoctlReceiveMode:
      return PutNumber(output, outputSize, outReturned, static_cast<uint32_t>(port.Number("recvmode", 1)))
                 ? 0 : static_cast<int32_t>(kDrvBufferTooSmall);
    case kIoctlDeviceState:
      return PutNumber(output, outputSize, outReturned, static_cast<uint32_t>(port.Number("state", 0)))
                 ? 0 : static_cast<int32_t>(kDrvBufferTooSmall);
    case kIoctlStatusBytes:
      // An online printer without errors.
      return PutNumber(output, outputSize, outReturned, static_cast<uint32_t>(port.Number("status", 0)))
                 ? 0 : static_cast<int32_t>(kDrvBufferTooSmall);
    case kIoctlResponseAck:
    case kIoctlResetDevice:
    case kIoctlForcedFlow:
    case kIoctlDisableOffOffline:
      return 0;
    default:
      return static_cast<int32_t>(kDrvFailed);
  }
}

SIM_EXPORT int32_t PW_CALL RegisterCallback(int32_t handle, int32_t eventId, EventCallback callback, void* context) {
  if (!callback) return static_cast<int32_t>(kDrvFailed);
  return Svc().Subscribe(handle, Subscription{eventId, reinterpret_cast<void*>(callback), context})
             ? 0 : static_cast<int32_t>(kDrvNoDevice);
}

SIM_EXPORT int32_t PW_CALL UnRegisterCallback(int32_t handle, int32_t eventId, EventCallback, void*) {
  return Svc().Unsubscribe(handle, eventId) ? 0 : static_cast<int32_t>(kDrvFailed);
}
