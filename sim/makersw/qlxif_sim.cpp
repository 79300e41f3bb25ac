// Simulated port communication service library (QLXIF.DLL / libQLXIF.so): the
// service entry points over the simulated service. Ports are the names of the
// port table; the host argument is accepted and ignored (one simulated service
// answers for every host).

#include <string>

#include "portlib/backends/qlx_api.h"
#include "sim/makersw/sim_export.h"
#include "sim/makersw/sim_ports.h"
#include "sim/makersw/sim_service.h"

using namespace tw::makersw;
using namespace tw::qlx;

namespace {

constexpr int32_t Code(ServiceCode c) { return static_cast<int32_t>(c); }

void Dispatch(const Subscription& s, const LinkEvent& event) {
  auto callback = reinterpret_cast<ServiceCallback>(s.callback);
  if (event.kind == LinkEvent::kPacket && s.id == kKindData) {
    callback(kEventReceived, 0, 0, event.bytes.size(), reinterpret_cast<uintptr_t>(event.bytes.data()), s.context);
  } else if (event.kind == LinkEvent::kState && s.id == kKindState) {
    const uint32_t state = event.value;
    callback(kEventState, 0, reinterpret_cast<uintptr_t>(&state), 0, 0, s.context);
  }
}

Service& Svc() {
  static Service service(Dispatch);
  return service;
}

bool PortInfo(int32_t handle, SimPort& out) {
  std::string port;
  if (!Svc().PortOf(handle, port)) return false;
  SimTable table = LoadTable();
  const SimPort* info = table.Find(port);
  if (!info) return false;
  out = *info;
  return true;
}

}  // namespace

SIM_EXPORT int32_t PW_CALL QLX_Initialize() { return 0; }
SIM_EXPORT int32_t PW_CALL QLX_Terminate() { return 0; }

SIM_EXPORT int32_t PW_CALL QLX_RegisterCallback(int32_t kind, int32_t handle, ServiceCallback callback, void* context) {
  if (!callback) return Code(kQlxFailed);
  return Svc().Subscribe(handle, Subscription{kind, reinterpret_cast<void*>(callback), context}) ? 0
                                                                                                 : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_UnRegisterCallback(int32_t kind, int32_t handle) {
  return Svc().Unsubscribe(handle, kind) ? 0 : Code(kQlxFailed);
}

SIM_EXPORT int32_t PW_CALL QLX_Open(const char16_t* /*host*/, const char16_t* portName, const char16_t* application,
                                    int32_t /*flag*/, int32_t* outHandle) {
  if (!portName || !application || !outHandle) return Code(kQlxFailed);
  const std::string name = Narrow(portName);
  SimTable table = LoadTable();
  const SimPort* port = table.Find(name);
  if (!port) return Code(kQlxNoPort);
  if (port->HasFault("open-fails") || port->HasFault("service-down")) return Code(kQlxFailed);
  const int32_t handle = Svc().OpenHandle(port->name);
  if (handle == 0) return Code(kQlxNoPort);
  *outHandle = handle;
  return 0;
}

SIM_EXPORT int32_t PW_CALL QLX_Close(int32_t handle) { return Svc().CloseHandle(handle) ? 0 : Code(kQlxNoPort); }

SIM_EXPORT int32_t PW_CALL QLX_Lock(int32_t handle, int32_t timeoutMs) {
  switch (Svc().Lock(handle, timeoutMs)) {
    case Service::LockResult::kOk: return 0;
    case Service::LockResult::kRefused: return Code(kQlxLockRefused);
    case Service::LockResult::kTimeout: return Code(kQlxLockTimeout);
    default: return Code(kQlxNoPort);
  }
}

SIM_EXPORT int32_t PW_CALL QLX_Unlock(int32_t handle) { return Svc().Unlock(handle) ? 0 : Code(kQlxFailed); }

SIM_EXPORT int32_t PW_CALL QLX_Send(int32_t handle, int32_t mode, int32_t, int32_t /*timeoutMs*/, uint32_t length,
                                    const void* data, uint32_t* outWritten) {
  if (outWritten) *outWritten = 0;
  SimPort port;
  if (!PortInfo(handle, port)) return Code(kQlxNoPort);
  if (!data) return Code(kQlxFailed);
  if (port.HasFault("send-nothing")) return 0;
  if (mode == 2) {
    // Recovery send: the held data is released, nothing goes to the printer.
    if (outWritten) *outWritten = length;
    return 0;
  }
  const long sent = Svc().Send(handle, static_cast<const uint8_t*>(data), length);
  if (sent < 0) return Code(kQlxNotWritten);
  if (outWritten) *outWritten = static_cast<uint32_t>(sent);
  return 0;
}

SIM_EXPORT int32_t PW_CALL QLX_GetProperty(int32_t handle, int32_t id, uint64_t* outValue) {
  SimPort port;
  if (!PortInfo(handle, port)) return Code(kQlxNoPort);
  if (!outValue) return Code(kQlxFailed);
  switch (id) {
    case kPropDeviceState: *outValue = static_cast<uint32_t>(port.Number("state", 0)); return 0;
    case kPropHeldSize: *outValue = 0; return 0;
    case kPropReceiveMode: *outValue = port.Number("recvmode", 1) == 1 ? 0 : 1; return 0;
    default: return Code(kQlxFailed);
  }
}

SIM_EXPORT int32_t PW_CALL QLX_SetProperty(int32_t handle, int32_t, int32_t, uint64_t) {
  SimPort port;
  return PortInfo(handle, port) ? 0 : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_CancelOperation(int32_t handle, int32_t, int32_t) {
  SimPort port;
  return PortInfo(handle, port) ? 0 : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_ResumeSending(int32_t handle) {
  SimPort port;
  return PortInfo(handle, port) ? 0 : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_ResetDevice(int32_t handle, int32_t) {
  SimPort port;
  return PortInfo(handle, port) ? 0 : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_ExtendFunction(int32_t handle, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                              int32_t) {
  SimPort port;
  return PortInfo(handle, port) ? 0 : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_GetQLXVersion(const char16_t*, uint32_t* outVersion) {
  if (!outVersion) return Code(kQlxFailed);
  *outVersion = LoadTable().version;
  return 0;
}
