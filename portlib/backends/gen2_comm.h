#pragma once
// CGen2Comm: the driver-path backend. It reaches printers through the maker's
// driver-path library (drvbridge_api.h), which owns the physical ports and
// names each device "pipe://KP/<name>". The backend opens the current record's
// device name, takes the library's exclusive lock, writes through its send
// call and receives data, status, device-state and receive-mode changes
// through callbacks that the library calls on its own threads.
//
// The library is looked for in Program Files + "\ORLEX\Drvbridge\", then in the
// driver's install folder (uninstall key, see maker_locations.h), then by the
// bare name "OrlexPH.dll".
//
// A successful open makes the manager record route kind 2. The port handle is
// the open state of CCommBase (-1 while closed).
//
// Threads: every operation runs on a caller's thread with the API lock held.
// The callbacks run on the library's threads and touch only the manager's
// status, queues, receive mode and events (KPComm's "backend side").

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "portlib/backends/comm_base.h"
#include "portlib/backends/drvbridge_api.h"

namespace tw::portwire {

class CGen2Comm : public CServiceCommBase {
 public:
  CGen2Comm() = default;
  ~CGen2Comm() override;

  bool Load() override;
  Result Open(int32_t mode) override;
  Result Close() override;
  Result Read(uint8_t* buffer, uint32_t size, uint32_t* outLength, int32_t timeoutMs) override;
  Result Write(const uint8_t* data, uint32_t length, uint32_t* outWritten, int32_t timeoutMs) override;
  Result Initialize(int32_t mode) override;
  Result Unload() override;
  Result Reset() override;
  Result SetFlowCtrlForced(int32_t flag) override;
  Result SetDisableOffOffline() override;
  Result SetResponseACK(int32_t flag) override;
  Result TranslateResult(int32_t libraryCode) override;
  int32_t DeviceStateToStatus(const uint32_t* deviceState) override;
  Result RegisterDeviceStateCallback(int32_t eventId, void* callback, void* context) override;
  Result UnregisterDeviceStateCallback(int32_t eventId, void* callback, void* context) override;
  Result GetPortName(char16_t* out) override;
  void SetResponseStore(IStoreResponse* store) override { store_ = store; }

  Result FindPort(PortSettings* record) override;
  Result VerifySerialSettings(const PortSettings* record) override;
  Result ApplySerialSettings(const PortSettings* record) override;
  Result QueryPortInfo(PortSettings* record) override;
  Result EnumeratePorts() override;
  Result RenameNetworkPort(const PortSettings* record) override;
  void* ReplyCallback() const override;

  bool IsLoaded() const { return library_.IsLoaded(); }
  bool Locked() const { return locked_.load() != 0; }
  int32_t StatusHandle() const { return statusHandle_; }

 private:
  struct EntryPoints {
    drvbridge::OpenFn open = nullptr;
    drvbridge::CloseFn close = nullptr;
    drvbridge::LockFn lock = nullptr;
    drvbridge::UnlockFn unlock = nullptr;
    drvbridge::SendReceiveFn sendReceive = nullptr;
    drvbridge::IoctlFn ioctl = nullptr;
    drvbridge::RegisterCallbackFn registerCallback = nullptr;
    drvbridge::UnRegisterCallbackFn unRegisterCallback = nullptr;
  };

  int32_t PortHandle() const { return OpenState(); }
  void CloseStatusHandle();
  // Property reads and writes through Ioctl on `handle`.
  bool ReadString(int32_t handle, const char16_t* property, std::u16string& out) const;
  bool ReadNumber(int32_t handle, const char16_t* property, int32_t& out) const;
  // The driver's code (0: written).
  int32_t WriteNumber(int32_t handle, const char16_t* property, int32_t value) const;
  bool WriteString(int32_t handle, const char16_t* property, std::u16string_view value) const;

  // Callbacks handed to the library; the context is always the manager.
  static void PW_CALL OnStatusEvent(void* context, int32_t eventId, const void* data, uint32_t size);
  static void PW_CALL OnDeviceStateEvent(void* context, int32_t eventId, const void* data, uint32_t size);
  static void PW_CALL OnDataEvent(void* context, int32_t eventId, const void* data, uint32_t size);
  static void PW_CALL OnReceiveModeEvent(void* context, int32_t eventId, const void* data, uint32_t size);
  static void PW_CALL OnReplyEvent(void* context, int32_t eventId, const void* data, uint32_t size);
  static void PW_CALL OnIgnoredEvent(void* context, int32_t eventId, const void* data, uint32_t size);

  EntryPoints fn_;
  std::atomic<int32_t> locked_{0};
  int32_t statusHandle_ = -1;
  bool enumerated_ = false;
  IStoreResponse* store_ = nullptr;  // kept, not used by this backend
};

// FindPort of both driver-software backends: the first listed port of the
// record's type whose port name (USB: device path, and only with a device name
// in the record) matches gives the record its device name and route 1.
// `usbNeedsListedName`: a USB port must be listed with a device path.
void CompleteFromFoundPorts(const std::vector<PortSettings>& found, PortSettings* record, bool usbNeedsListedName);

// Initialize of both driver-software backends: with mode 1 the buffer-clear
// handshake first, then the status-enabling command in real-time form.
Result InitializeOverDriverSoftware(KPComm& manager, int32_t mode);

}  // namespace tw::portwire
