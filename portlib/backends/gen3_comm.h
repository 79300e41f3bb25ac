#pragma once
// CGen3Comm: the port-service backend, preferred for ports reached through the
// maker's software. It talks to the maker's port communication service through
// its service library (QLXIF.DLL: open, lock, send, properties, callbacks) and
// its configuration library (QLXConfig.DLL: port list, port configuration,
// custom values), see qlx_api.h. The service may run on another computer: a
// device name "tcp://host/..." addresses the service at "host:2291".
//
// Received bytes arrive on the service's threads; they go through the
// manager's response store, which splits replies (taken by Read) from status
// packets (turned into status, battery and raw status notifications here).
//
// A successful open makes the manager record route kind 3 (every write
// timeout is then at least 5000 ms). The port handle is the open state of
// CCommBase (-1 while closed).

#include <atomic>
#include <cstdint>
#include <string>

#include "portlib/backends/comm_base.h"
#include "portlib/backends/qlx_api.h"

namespace tw::portwire {

// How one port of the service is addressed.
struct ServiceAddress {
  bool remote = false;   // a network device name: the service on another computer
  std::u16string host;   // "name:2291" when remote
  std::u16string port;   // service port name
};

// Splits a device name into host and service port name. Network names
// ("tcp://host/...") give the host + ":2291"; the port name is the text that
// begins with "kpsprt" (model type 1) or "nvmprt" (other model types) after
// "pipe://kp/" (or after the host's "/"), up to the next double quote, else the
// next "/", else the end. A local name without "pipe://kp/" is the port name
// as it is. False when a part is longer than 63 characters.
bool AddressServicePort(std::u16string_view deviceName, int32_t modelType, ServiceAddress& out);

class CGen3Comm : public CServiceCommBase {
 public:
  CGen3Comm() = default;
  ~CGen3Comm() override;

  bool Load() override;
  bool LoadConfiguration() override;
  Result Open(int32_t mode) override;
  Result Close() override;
  Result Read(uint8_t* buffer, uint32_t size, uint32_t* outLength, int32_t timeoutMs) override;
  Result Write(const uint8_t* data, uint32_t length, uint32_t* outWritten, int32_t timeoutMs) override;
  Result Initialize(int32_t mode) override;
  Result Unload() override;
  Result Reset() override;
  Result SetFlowCtrlForced(int32_t flag) override;
  int32_t DeviceStateToStatus(const uint32_t* deviceState) override;
  Result RegisterDeviceStateCallback(int32_t eventId, void* callback, void* context) override;
  Result UnregisterDeviceStateCallback(int32_t eventId, void* callback, void* context) override;
  Result RecoverySending() override;
  Result ReopenPort() override;
  Result SetPortConnector(int32_t value) override;
  Result IsPortConnectorEnabled(int32_t* outEnabled) override;
  Result GetPortName(char16_t* out) override;
  void SetResponseStore(IStoreResponse* store) override { store_.store(store); }

  Result FindPort(PortSettings* record) override;
  Result VerifySerialSettings(const PortSettings* record) override;
  Result ApplySerialSettings(const PortSettings* record) override;
  Result QueryPortInfo(PortSettings* record) override;
  Result EnumeratePorts() override;
  Result RenameNetworkPort(const PortSettings* record) override;
  Result SetCustomValueString(const char16_t* key, const char16_t* value) override;

  // Service codes to library results.
  static Result ServiceResult(int32_t code);

  // Feeds received bytes to the response store and notifies every status
  // packet that is complete now. 0 when at least one packet was completed
  // (responses may wait for Read); kResultNoResponse for a partial packet;
  // kResultInvalidArgument without a manager. Within one batch each
  // packet notifies only for what it changed itself.
  Result ProcessReceived(const uint8_t* bytes, uint32_t count);

  bool IsLoaded() const { return service_.IsLoaded(); }
  bool ConfigurationLoaded() const { return config_.IsLoaded(); }
  bool Locked() const { return locked_.load() != 0; }

 private:
  struct ServiceEntryPoints {
    qlx::InitializeFn initialize = nullptr;
    qlx::TerminateFn terminate = nullptr;
    qlx::RegisterCallbackFn registerCallback = nullptr;
    qlx::UnRegisterCallbackFn unRegisterCallback = nullptr;
    qlx::OpenFn open = nullptr;
    qlx::CloseFn close = nullptr;
    qlx::LockFn lock = nullptr;
    qlx::UnlockFn unlock = nullptr;
    qlx::SendFn send = nullptr;
    qlx::GetPropertyFn getProperty = nullptr;
    qlx::SetPropertyFn setProperty = nullptr;
    qlx::CancelOperationFn cancelOperation = nullptr;
    qlx::ResumeSendingFn resumeSending = nullptr;
    qlx::ExtendFunctionFn extendFunction = nullptr;
    qlx::GetQLXVersionFn getQLXVersion = nullptr;
    qlx::ResetDeviceFn resetDevice = nullptr;
  };
  struct ConfigEntryPoints {
    qlx::EnumPortNameFn enumPortName = nullptr;
    qlx::GetPortConfigNumberFn getPortConfigNumber = nullptr;
    qlx::GetPortConfigStringFn getPortConfigString = nullptr;
    qlx::SetPortConfigNumberFn setPortConfigNumber = nullptr;
    qlx::SetPortConfigStringFn setPortConfigString = nullptr;
    qlx::GetCustomValueNumberFn getCustomValueNumber = nullptr;
    qlx::GetCustomValueStringFn getCustomValueString = nullptr;
    qlx::GetCustomValueBinaryFn getCustomValueBinary = nullptr;
    qlx::SetCustomValueNumberFn setCustomValueNumber = nullptr;
    qlx::SetCustomValueStringFn setCustomValueString = nullptr;
    qlx::SetCustomValueBinaryFn setCustomValueBinary = nullptr;
    qlx::DelCustomValueFn delCustomValue = nullptr;
  };

  int32_t PortHandle() const { return OpenState(); }
  // The store handed over by the manager; before the first hand-over (the
  // status that arrives while Open waits for it) the manager's own store.
  IStoreResponse* Store() const;
  int32_t ModelType() const;
  platform::Module LocateServiceLibrary(const std::u16string& fileName) const;
  // Addresses the current record's device name.
  bool AddressCurrent(ServiceAddress& out) const;
  static const char16_t* HostOf(const ServiceAddress& a) { return a.remote ? a.host.c_str() : nullptr; }
  Result LockFor(int32_t timeoutMs, bool& tookLock);
  void ReleaseLock();
  // LinkgateHub100.dll to register for the port-connector applications.
  Result LocateConnectorLibrary(std::u16string& path) const;
  bool ConfigString(const ServiceAddress& a, int32_t item, std::u16string& out) const;
  bool CustomString(const ServiceAddress& a, const char16_t* key, std::u16string& out, int32_t* code) const;

  static int32_t PW_CALL OnServiceStateEvent(uintptr_t event, uintptr_t v1, uintptr_t v2, uintptr_t v3, uintptr_t v4,
                                             void* context);
  static int32_t PW_CALL OnServiceDataEvent(uintptr_t event, uintptr_t v1, uintptr_t v2, uintptr_t v3, uintptr_t v4,
                                            void* context);

  platform::Module service_;  // QLXIF (library_ of CCommBase stays unused)
  platform::Module config_;   // QLXConfig
  ServiceEntryPoints fn_;
  ConfigEntryPoints cfg_;
  std::atomic<int32_t> locked_{0};
  bool enumerated_ = false;
  std::atomic<IStoreResponse*> store_{nullptr};
};

}  // namespace tw::portwire
