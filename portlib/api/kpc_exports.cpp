// The KPC_ port functions. Each is a thin frame around the one port manager:
// take the API lock where the function needs it, call one operation, return a
// result code. Pointers that callers must supply are checked here, so a bad
// argument is an error code, never a crash in the caller's process.
//
// The public header is included so that the compiler checks every definition
// here against the declaration integrators compile with.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "include/portwire.h"
#include "portlib/api/port_manager_instance.h"
#include "portlib/manager/kpcapi_cs.h"
#include "portlib/manager/port_maintenance.h"
#include "portlib/manager/trace.h"

using namespace tw::portwire;

namespace {

// The header's record and the library's are one binary layout.
#define PW_SAME_FIELD(field) \
  static_assert(offsetof(::PortSettings, field) == offsetof(tw::PortSettings, field) && \
                sizeof(::PortSettings::field) == sizeof(tw::PortSettings::field))
PW_SAME_FIELD(portType);
PW_SAME_FIELD(portName);
PW_SAME_FIELD(readTimeout);
PW_SAME_FIELD(writeTimeout);
PW_SAME_FIELD(route);
PW_SAME_FIELD(deviceName);
PW_SAME_FIELD(servicePortName);
PW_SAME_FIELD(modelName);
PW_SAME_FIELD(reserved);
PW_SAME_FIELD(baudRate);
PW_SAME_FIELD(parity);
PW_SAME_FIELD(dataBits);
PW_SAME_FIELD(flowControl);
PW_SAME_FIELD(interfaceBoard);
PW_SAME_FIELD(usbClass);
PW_SAME_FIELD(bluetoothAddress);
PW_SAME_FIELD(interfaceName);
PW_SAME_FIELD(versionText);
PW_SAME_FIELD(secondVersionText);
PW_SAME_FIELD(usbSerialNumber);
PW_SAME_FIELD(usbSpeedText);
PW_SAME_FIELD(routeKind);
#undef PW_SAME_FIELD
static_assert(sizeof(::PortSettings) == sizeof(tw::PortSettings));
static_assert(std::is_trivially_copyable_v<::PortSettings> && std::is_trivially_copyable_v<tw::PortSettings>);

// The caller's record as the library's type (same layout, checked above).
tw::PortSettings* AsRecord(::PortSettings* record) { return reinterpret_cast<tw::PortSettings*>(record); }

KPComm& M() { return PortManager(); }

// The backend of the open port, or null when no port is open.
CCommBase* OpenBackend() {
  CCommBase* backend = M().CurrentBackend();
  return (backend && backend->IsOpen()) ? backend : nullptr;
}

// The port name of the current record, for trace lines.
std::u16string TracePort() {
  const tw::PortSettings settings = M().CurrentSettings();
  return std::u16string(tw::GetText(settings.portName));
}

// Runs `body` with nothing thrown out of it (Guarded) and, with
// PORTWIRE_TRACE set, writes one trace line for the call. Once the library
// has begun to end (unload, process exit) nothing runs: the port is going
// away, so the caller is told that nothing is open.
template <typename Body>
Result Traced(std::string_view function, Body&& body) {
  const LibraryCall call;
  if (!call.Admitted()) return kResultNotOpen;
  const Result result = Guarded(std::forward<Body>(body));
  if (trace::Enabled()) trace::Call(function, TracePort(), result);
  return result;
}

// Runs `body` under the API lock. A client callback that calls in while
// another thread stops the library's threads does not get the lock: the port
// is going away, so it is told that nothing is open.
template <typename Body>
Result UnderLock(Body&& body) {
  KPCAPI_CS guard(M());
  if (!guard.Held()) return kResultNotOpen;
  return body();
}

template <typename Body>
Result Locked(std::string_view function, Body&& body) {
  return Traced(function, [&] { return UnderLock(body); });
}

}  // namespace

PW_EXPORT int32_t PW_CALL KPC_SetPort(::PortSettings* record) {
  return Locked("KPC_SetPort", [&] {
    M().EnsureInitialized();
    if (!record) return kResultInvalidArgument;
    return M().SetPort(AsRecord(record));
  });
}

PW_EXPORT int32_t PW_CALL KPC_GetPort(::PortSettings* record) {
  return Locked("KPC_GetPort", [&] {
    M().EnsureInitialized();
    if (!record) return kResultInvalidArgument;
    const Result r = M().GetPort(AsRecord(record));
    if (r != kResultOk) return r;
    // Details of the device behind the record, while no port holds it.
    return PortEnumeration().CompletePortDetails(*AsRecord(record));
  });
}

PW_EXPORT int32_t PW_CALL KPC_EnumDevPort(const uint16_t* portTypeUnits, ::PortSettings** array, uint32_t capacity,
                                          uint32_t* found) {
  return Locked("KPC_EnumDevPort", [&] {
    M().EnsureInitialized();
    if (found) *found = 0;
    if (!portTypeUnits) return kResultInvalidArgument;
    const auto* portType = reinterpret_cast<const char16_t*>(portTypeUnits);
    // The type text is read at most one record field long.
    size_t length = 0;
    while (length < tw::kPortTextUnits && portType[length] != u'\0') ++length;
    if (length == tw::kPortTextUnits) return kResultFailed;
    // Each record of the array has the library's layout (checked above).
    return PortEnumeration().EnumDevPort(std::u16string_view(portType, length),
                                         reinterpret_cast<tw::PortSettings**>(array), capacity, found);
  });
}

PW_EXPORT int32_t PW_CALL KPC_Open(int32_t mode) {
  return Locked("KPC_Open", [&] {
    M().EnsureInitialized();
    return M().Open(mode);
  });
}

PW_EXPORT int32_t PW_CALL KPC_Close() {
  return Locked("KPC_Close", [&] {
    M().EnsureInitialized();
    return M().Close();
  });
}

PW_EXPORT int32_t PW_CALL KPC_Read(uint8_t* buffer, uint32_t size, uint32_t* received, int32_t timeoutMs) {
  return Locked("KPC_Read", [&] {
    M().EnsureInitialized();
    if (!buffer) return kResultInvalidArgument;
    const Result r = M().Read(buffer, size, received, timeoutMs);
    // A read that the library's end woke up found no data, only the end.
    return LibraryEnding() ? kResultNotOpen : r;
  });
}

PW_EXPORT int32_t PW_CALL KPC_Write(const uint8_t* data, uint32_t length, uint32_t* written, int32_t timeoutMs) {
  return Traced("KPC_Write", [&] {
    if (length == 0) return kResultFailed;
    if (!data) return kResultInvalidArgument;
    return UnderLock([&] { return M().Write(data, length, written, timeoutMs); });
  });
}

PW_EXPORT int32_t PW_CALL KPC_GetStatus(int32_t* status) {
  return Locked("KPC_GetStatus", [&] {
    M().EnsureInitialized();
    if (!status) return kResultInvalidArgument;
    *status = M().Status();
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_Initialize() {
  return Locked("KPC_Initialize", [&] {
    M().EnsureInitialized();
    CCommBase* backend = OpenBackend();
    if (!backend) return kResultNotOpen;
    backend->RecoverySending();
    return backend->Initialize(0);
  });
}

PW_EXPORT int32_t PW_CALL KPC_Purge() {
  return Locked("KPC_Purge", [&] {
    M().EnsureInitialized();
    M().Purge();
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_Reset() {
  return Locked("KPC_Reset", [&] {
    M().EnsureInitialized();
    CCommBase* backend = OpenBackend();
    return backend ? backend->Reset() : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_RegisterStatusProc(KPC_StatusProc proc, void* user) {
  return Traced("KPC_RegisterStatusProc", [&] {
    M().EnsureInitialized();
    M().RegisterStatusProc(ClientStatusProc(proc), user);
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_UnregisterStatusProc() {
  return Traced("KPC_UnregisterStatusProc", [&] {
    M().EnsureInitialized();
    M().UnregisterStatusProc();
    ClientStatusProc(nullptr);
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetDisableOffOffline() {
  return Traced("KPC_SetDisableOffOffline", [&] {
    CCommBase* backend = OpenBackend();
    return backend ? backend->SetDisableOffOffline() : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetResponseACK(int32_t flag) {
  return Traced("KPC_SetResponseACK", [&] {
    CCommBase* backend = OpenBackend();
    return backend ? backend->SetResponseACK(flag) : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetFlowCtrlForced(int32_t flag) {
  return Locked("KPC_SetFlowCtrlForced", [&] {
    CCommBase* backend = OpenBackend();
    return backend ? backend->SetFlowCtrlForced(flag) : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_Terminate() {
  return Locked("KPC_Terminate", [&] {
    return M().UnloadBackends();
  });
}

PW_EXPORT int32_t PW_CALL KPC_GetAccessVersion(int32_t* version) {
  return Locked("KPC_GetAccessVersion", [&] {
    if (!version) return kResultFailed;
    if (!OpenBackend()) return kResultNotOpen;
    *version = M().RouteKind();
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_FindPort(int32_t /*unused*/, ::PortSettings* out) {
  return Traced("KPC_FindPort", [&] {
    M().EnsureInitialized();
    if (out) *AsRecord(out) = tw::MakeDefaultPortSettings();
    return kResultFailed;
  });
}

PW_EXPORT int32_t PW_CALL KPC_RecoverySending() {
  return Locked("KPC_RecoverySending", [&] {
    CCommBase* backend = OpenBackend();
    return backend ? backend->RecoverySending() : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_ReopenPort() {
  return Locked("KPC_ReopenPort", [&] {
    CCommBase* backend = M().CurrentBackend();
    return backend ? backend->ReopenPort() : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetModelType(int32_t type) {
  return Traced("KPC_SetModelType", [&] {
    M().SetModelType(type);
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetPortConnector(int32_t value) {
  return Locked("KPC_SetPortConnector", [&] {
    CCommBase* backend = M().CurrentBackend();
    return backend ? backend->SetPortConnector(value) : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_IsPortConnectorEnabled(int32_t* enabled) {
  return Locked("KPC_IsPortConnectorEnabled", [&] {
    CCommBase* backend = M().CurrentBackend();
    if (!backend) return kResultNotOpen;
    if (!enabled) return kResultInvalidArgument;
    return backend->IsPortConnectorEnabled(enabled);
  });
}

PW_EXPORT int32_t PW_CALL KPC_RegisterBatStatusProc(KPC_BatStatusProc proc, void* user) {
  return Traced("KPC_RegisterBatStatusProc", [&] {
    M().EnsureInitialized();
    M().RegisterBatStatusProc(ClientBatStatusProc(proc), user);
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_UnregisterBatStatusProc() {
  return Traced("KPC_UnregisterBatStatusProc", [&] {
    M().EnsureInitialized();
    M().UnregisterBatStatusProc();
    ClientBatStatusProc(nullptr);
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_GetCaller(int32_t* caller) {
  return Traced("KPC_GetCaller", [&] {
    if (!caller) return kResultInvalidArgument;
    *caller = static_cast<int32_t>(M().Caller());
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetCaller(uint32_t caller) {
  return Traced("KPC_SetCaller", [&] { return M().SetCaller(caller); });
}

PW_EXPORT int32_t PW_CALL KPC_RegistRawStatusCallBack(KPC_RawStatusProc proc, void* user) {
  return Traced("KPC_RegistRawStatusCallBack", [&] {
    M().RegistRawStatusCallBack(ClientRawStatusProc(proc), user);
    return kResultOk;
  });
}

PW_EXPORT void PW_CALL KPC_UnregistRawStatusCallback() {
  Traced("KPC_UnregistRawStatusCallback", [&] {
    M().UnregistRawStatusCallback();
    ClientRawStatusProc(nullptr);
    return kResultOk;
  });
}

// ----- Port maintenance -----

PW_EXPORT int32_t PW_CALL KPC_EnumPort(int32_t, int32_t, int32_t, int32_t) {
  return Locked("KPC_EnumPort", [&] { return EnumPort(M()); });
}

PW_EXPORT int32_t PW_CALL KPC_AddPort(::PortSettings* record) {
  return Locked("KPC_AddPort", [&] {
    M().EnsureInitialized();
    if (!record) return kResultInvalidArgument;
    return AddPort(M(), AsRecord(record));
  });
}

PW_EXPORT int32_t PW_CALL KPC_PortSetting(::PortSettings* record) {
  return Locked("KPC_PortSetting", [&] {
    if (!record) return kResultInvalidArgument;
    return PortSetting(M(), AsRecord(record),
                       [](tw::PortSettings& r) { return PortEnumeration().LookupNetworkDetails(r); });
  });
}

PW_EXPORT int32_t PW_CALL KPC_CommunicationTest(::PortSettings* record) {
  return Locked("KPC_CommunicationTest", [&] {
    M().EnsureInitialized();
    if (!record) return kResultInvalidArgument;
    return M().CommunicationTest(AsRecord(record));
  });
}

PW_EXPORT int32_t PW_CALL KPC_RegisterDeviceStateCallback(void* callback, void* user) {
  return Traced("KPC_RegisterDeviceStateCallback",
                [&] { return RegisterDeviceStateCallback(M(), callback, user); });
}

PW_EXPORT int32_t PW_CALL KPC_UnregisterDeviceStateCallback(void* callback, void* user) {
  return Traced("KPC_UnregisterDeviceStateCallback",
                [&] { return UnregisterDeviceStateCallback(M(), callback, user); });
}
