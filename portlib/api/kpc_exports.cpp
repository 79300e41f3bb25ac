// The KPC_ port functions. Each is a thin frame around the one port manager:
// take the API lock where the function needs it, call one operation, return a
// result code. Pointers that callers must supply are checked here, so a bad
// argument is an error code, never a crash in the caller's process.

#include <cstdint>

#include "portlib/api/port_manager_instance.h"
#include "portlib/manager/kpcapi_cs.h"
#include "portlib/manager/port_maintenance.h"

using tw::PortSettings;
using namespace tw::portwire;

namespace {

KPComm& M() { return PortManager(); }

// The backend of the open port, or null when no port is open.
CCommBase* OpenBackend() {
  CCommBase* backend = M().CurrentBackend();
  return (backend && backend->IsOpen()) ? backend : nullptr;
}

}  // namespace

PW_EXPORT int32_t PW_CALL KPC_SetPort(PortSettings* record) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    if (!record) return kResultInvalidArgument;
    return M().SetPort(record);
  });
}

PW_EXPORT int32_t PW_CALL KPC_GetPort(PortSettings* record) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    if (!record) return kResultInvalidArgument;
    const Result r = M().GetPort(record);
    if (r != kResultOk) return r;
    // Details of the device behind the record, while no port holds it.
    return PortEnumeration().CompletePortDetails(*record);
  });
}

PW_EXPORT int32_t PW_CALL KPC_EnumDevPort(const uint16_t* portTypeUnits, PortSettings** array, uint32_t capacity,
                                          uint32_t* found) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    if (found) *found = 0;
    if (!portTypeUnits) return kResultInvalidArgument;
    const auto* portType = reinterpret_cast<const char16_t*>(portTypeUnits);
    // The type text is read at most one record field long.
    size_t length = 0;
    while (length < tw::kPortTextUnits && portType[length] != u'\0') ++length;
    if (length == tw::kPortTextUnits) return kResultFailed;
    return PortEnumeration().EnumDevPort(std::u16string_view(portType, length), array, capacity, found);
  });
}

PW_EXPORT int32_t PW_CALL KPC_Open(int32_t mode) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    return M().Open(mode);
  });
}

PW_EXPORT int32_t PW_CALL KPC_Close() {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    return M().Close();
  });
}

PW_EXPORT int32_t PW_CALL KPC_Read(uint8_t* buffer, uint32_t size, uint32_t* received, int32_t timeoutMs) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    if (!buffer) return kResultInvalidArgument;
    return M().Read(buffer, size, received, timeoutMs);
  });
}

PW_EXPORT int32_t PW_CALL KPC_Write(const uint8_t* data, uint32_t length, uint32_t* written, int32_t timeoutMs) {
  return Guarded([&] {
    if (length == 0) return kResultFailed;
    if (!data) return kResultInvalidArgument;
    KPCAPI_CS guard(M());
    return M().Write(data, length, written, timeoutMs);
  });
}

PW_EXPORT int32_t PW_CALL KPC_GetStatus(int32_t* status) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    if (!status) return kResultInvalidArgument;
    *status = M().Status();
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_Initialize() {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    CCommBase* backend = OpenBackend();
    if (!backend) return kResultNotOpen;
    backend->RecoverySending();
    return backend->Initialize(0);
  });
}

PW_EXPORT int32_t PW_CALL KPC_Purge() {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    M().Purge();
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_Reset() {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    CCommBase* backend = OpenBackend();
    return backend ? backend->Reset() : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_RegisterStatusProc(StatusProc proc, void* user) {
  return Guarded([&] {
    M().EnsureInitialized();
    M().RegisterStatusProc(proc, user);
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_UnregisterStatusProc() {
  return Guarded([&] {
    M().EnsureInitialized();
    M().UnregisterStatusProc();
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetDisableOffOffline() {
  return Guarded([&] {
    CCommBase* backend = OpenBackend();
    return backend ? backend->SetDisableOffOffline() : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetResponseACK(int32_t flag) {
  return Guarded([&] {
    CCommBase* backend = OpenBackend();
    return backend ? backend->SetResponseACK(flag) : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetFlowCtrlForced(int32_t flag) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    CCommBase* backend = OpenBackend();
    return backend ? backend->SetFlowCtrlForced(flag) : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_Terminate() {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    return M().UnloadBackends();
  });
}

PW_EXPORT int32_t PW_CALL KPC_GetAccessVersion(int32_t* version) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    if (!version) return kResultFailed;
    if (!OpenBackend()) return kResultNotOpen;
    *version = M().RouteKind();
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_FindPort(int32_t /*unused*/, PortSettings* out) {
  return Guarded([&] {
    M().EnsureInitialized();
    if (out) *out = tw::MakeDefaultPortSettings();
    return kResultFailed;
  });
}

PW_EXPORT int32_t PW_CALL KPC_RecoverySending() {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    CCommBase* backend = OpenBackend();
    return backend ? backend->RecoverySending() : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_ReopenPort() {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    CCommBase* backend = M().CurrentBackend();
    return backend ? backend->ReopenPort() : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetModelType(int32_t type) {
  return Guarded([&] {
    M().SetModelType(type);
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetPortConnector(int32_t value) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    CCommBase* backend = M().CurrentBackend();
    return backend ? backend->SetPortConnector(value) : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_IsPortConnectorEnabled(int32_t* enabled) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    CCommBase* backend = M().CurrentBackend();
    return backend ? backend->IsPortConnectorEnabled(enabled) : kResultNotOpen;
  });
}

PW_EXPORT int32_t PW_CALL KPC_RegisterBatStatusProc(BatteryStatusProc proc, void* user) {
  return Guarded([&] {
    M().EnsureInitialized();
    M().RegisterBatStatusProc(proc, user);
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_UnregisterBatStatusProc() {
  return Guarded([&] {
    M().EnsureInitialized();
    M().UnregisterBatStatusProc();
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_GetCaller(int32_t* caller) {
  return Guarded([&] {
    if (!caller) return kResultInvalidArgument;
    *caller = static_cast<int32_t>(M().Caller());
    return kResultOk;
  });
}

PW_EXPORT int32_t PW_CALL KPC_SetCaller(uint32_t caller) {
  return Guarded([&] { return M().SetCaller(caller); });
}

PW_EXPORT int32_t PW_CALL KPC_RegistRawStatusCallBack(RawStatusProc proc, void* user) {
  return Guarded([&] {
    M().RegistRawStatusCallBack(proc, user);
    return kResultOk;
  });
}

PW_EXPORT void PW_CALL KPC_UnregistRawStatusCallback() {
  Guarded([&] {
    M().UnregistRawStatusCallback();
    return kResultOk;
  });
}

// ----- Port maintenance -----

PW_EXPORT int32_t PW_CALL KPC_EnumPort(int32_t, int32_t, int32_t, int32_t) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    return EnumPort(M());
  });
}

PW_EXPORT int32_t PW_CALL KPC_AddPort(PortSettings* record) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    if (!record) return kResultInvalidArgument;
    return AddPort(M(), record);
  });
}

PW_EXPORT int32_t PW_CALL KPC_PortSetting(PortSettings* record) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    if (!record) return kResultInvalidArgument;
    return PortSetting(M(), record, [](PortSettings& r) { return PortEnumeration().LookupNetworkDetails(r); });
  });
}

PW_EXPORT int32_t PW_CALL KPC_CommunicationTest(PortSettings* record) {
  return Guarded([&] {
    KPCAPI_CS guard(M());
    M().EnsureInitialized();
    if (!record) return kResultInvalidArgument;
    return M().CommunicationTest(record);
  });
}

PW_EXPORT int32_t PW_CALL KPC_RegisterDeviceStateCallback(void* callback, void* user) {
  return Guarded([&] { return RegisterDeviceStateCallback(M(), callback, user); });
}

PW_EXPORT int32_t PW_CALL KPC_UnregisterDeviceStateCallback(void* callback, void* user) {
  return Guarded([&] { return UnregisterDeviceStateCallback(M(), callback, user); });
}
