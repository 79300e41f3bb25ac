#pragma once
// CCommBase: the contract between the port manager (KPComm) and a transport
// backend. The manager owns three backends (port service, driver path, direct)
// and drives whichever it chose at Open through the virtual operations below.
// Every operation has a harmless default, so a backend replaces only what it
// supports. The slot order of the 23 virtual operations is fixed: keep new
// operations out of this class (CServiceCommBase below adds the ones the two
// driver-software backends share, after the last slot).
//
// Threads: the manager calls these operations on callers' threads with the API
// lock held, except where noted. A backend that receives data on a thread of its
// own hands it to the manager through the "backend side" operations of KPComm
// (DeliverData, DeliverReply, DispatchStatus, DeliverBattery, ...), never by
// touching the manager's members directly.
//
// Results are the library's result codes (shared/result_codes.h).

#include <atomic>
#include <cstdint>

#include "platform/module.h"
#include "shared/result_codes.h"
#include "shared/port_settings.h"

namespace tw::portwire {

class KPComm;
class IStoreResponse;

// Open state of a backend that holds no port.
inline constexpr int32_t kClosedState = -1;

class CCommBase {
 public:
  CCommBase() = default;
  CCommBase(const CCommBase&) = delete;
  CCommBase& operator=(const CCommBase&) = delete;

  // Slot 0.
  virtual ~CCommBase() = default;

  // Slot 1. Loads the backend's component library. Called once by the
  // manager's EnsureInitialized (which keeps the result of the two
  // driver-software backends as their availability). Base: true.
  virtual bool Load();

  // Slot 2. Opens the port described by the manager's current settings
  // (KPComm::CurrentSettings). `mode` comes unchanged from KPC_Open (1 from the
  // console program and the communication test). A backend sets its open state
  // to something other than kClosedState while it holds the port. The manager
  // treats 0 and kResultCannotLink specially (see KPComm::Open). Base: 0.
  virtual Result Open(int32_t mode);

  // Slot 3. Closes the port; the open state becomes kClosedState. Base: 0.
  virtual Result Close();

  // Slot 4. Called by KPC_Read (not through the manager) with the timeout
  // already resolved (-1 replaced by the record's read timeout). Returns one
  // received block; `outLength` may be null. Base: 0.
  virtual Result Read(uint8_t* buffer, uint32_t size, uint32_t* outLength, int32_t timeoutMs);

  // Slot 5. Called by KPComm::Write with the timeout already resolved by the
  // route rule; `outWritten` may be null and is already 0. Base: 0.
  virtual Result Write(const uint8_t* data, uint32_t length, uint32_t* outWritten, int32_t timeoutMs);

  // Slot 6. KPC_Initialize passes 0, the communication test 1 (1 asks for the
  // buffer-clear handshake, KPComm::ClearPrinterBuffers). Base: 0.
  virtual Result Initialize(int32_t mode);

  // Slot 7. Closes and frees the component library (KPC_Terminate and the
  // manager's destruction). Base: 0.
  virtual Result Unload();

  // Slot 8, KPC_Reset. Base: 0.
  virtual Result Reset();

  // Slot 9. Discards what the backend holds; the manager empties its own
  // queues and store itself afterwards. Base: 0.
  virtual Result Purge();

  // Slot 10, KPC_SetFlowCtrlForced: 1 force, 0 release. Base: 0.
  virtual Result SetFlowCtrlForced(int32_t flag);

  // Slot 11, KPC_SetDisableOffOffline (called without the API lock). Base: 0.
  virtual Result SetDisableOffOffline();

  // Slot 12, KPC_SetResponseACK (called without the API lock). Base: 0.
  virtual Result SetResponseACK(int32_t flag);

  // Slot 13. Maps a code of the backend's component to a result. Used only
  // inside the backend. Base: 0.
  virtual Result TranslateResult(int32_t libraryCode);

  // Slot 14. Maps a device state reported by driver software to a status
  // code (-1: no change). Used only inside the backend. Base: 0.
  virtual int32_t DeviceStateToStatus(const uint32_t* deviceState);

  // Slots 15 and 16. Subscribe / unsubscribe a callback of the driver
  // software's own form; `callback` and `context` pass through unchanged.
  // Called by the device-state callback exports and by KPComm::GetModelName.
  // Base: 0.
  virtual Result RegisterDeviceStateCallback(int32_t eventId, void* callback, void* context);
  virtual Result UnregisterDeviceStateCallback(int32_t eventId, void* callback, void* context);

  // Slot 17, KPC_RecoverySending, also first step of KPC_Initialize. Base: 0.
  virtual Result RecoverySending();

  // Slot 18, KPC_ReopenPort (the backend need not be open). Base: 0.
  virtual Result ReopenPort();

  // Slot 19, KPC_SetPortConnector. Base: 0.
  virtual Result SetPortConnector(int32_t value);

  // Slot 20, KPC_IsPortConnectorEnabled. Base: writes 0 when `outEnabled` is
  // given; returns 0.
  virtual Result IsPortConnectorEnabled(int32_t* outEnabled);

  // Slot 21. Copies the port's name (at most 259 characters and a
  // terminator) into `out`, which holds kPortTextUnits units. Base:
  // kResultFailed, `out` untouched.
  virtual Result GetPortName(char16_t* out);

  // Slot 22. The manager hands its response store over after every Open.
  // Base: forgets nothing, keeps nothing.
  virtual void SetResponseStore(IStoreResponse* store);

  // --- Non-virtual state shared by every backend ---

  // The manager that owns this backend; set once by KPComm's constructor.
  KPComm* Owner() const { return owner_; }
  void SetOwner(KPComm* owner) { owner_ = owner; }

  // kClosedState while closed. A port counts as open when the manager has a
  // current backend and its open state is not kClosedState. Atomic because a
  // backend's own threads read it while callers open and close.
  int32_t OpenState() const { return openState_.load(); }
  bool IsOpen() const { return OpenState() != kClosedState; }

  // Meaning per backend (direct backend: 1 while a live link exists).
  int32_t LinkUp() const { return linkUp_.load(); }

 protected:
  void SetOpenState(int32_t state) { openState_.store(state); }
  void SetLinkUp(int32_t up) { linkUp_.store(up); }

  // The backend's component library; empty while not loaded.
  platform::Module library_;

 private:
  KPComm* owner_ = nullptr;
  std::atomic<int32_t> openState_{kClosedState};
  std::atomic<int32_t> linkUp_{0};
};

// The operations that the manager and the exports need from the two backends
// that reach printers through the maker's driver software (port service and
// driver path) beyond CCommBase. Defaults mean "not supported".
class CServiceCommBase : public CCommBase {
 public:
  // Port service only: loads its configuration library right after Load.
  // Base: true.
  virtual bool LoadConfiguration();

  // Looks `record` up among the ports the driver software knows and
  // completes it. Base: kResultFailed.
  virtual Result FindPort(PortSettings* record);

  // Compares the driver software's serial settings with `record`:
  // kResultSettingsMismatch on a difference, 0 when equal or not a serial
  // port. Base: kResultFailed.
  virtual Result VerifySerialSettings(const PortSettings* record);

  // Writes baud rate, parity and flow control of a serial port into the
  // driver software. Base: kResultFailed.
  virtual Result ApplySerialSettings(const PortSettings* record);

  // Fills a record from the device named by its device name. Base:
  // kResultFailed.
  virtual Result QueryPortInfo(PortSettings* record);

  // Fills the manager's list of found ports (KPComm::FoundPorts). Base:
  // kResultFailed.
  virtual Result EnumeratePorts();

  // Writes a network port's new name into the driver software. Base:
  // kResultFailed.
  virtual Result RenameNetworkPort(const PortSettings* record);

  // Port service only: stores a per-port text value under `key` for the
  // current port (the model name under "KP.PrinterID.67"). Base:
  // kResultFailed.
  virtual Result SetCustomValueString(const char16_t* key, const char16_t* value);

  // Driver path only: the callback that the manager's GetModelName
  // subscribes for event 0x60002 (replies delivered apart from data; it
  // feeds KPComm::DeliverReply). Base: null.
  virtual void* ReplyCallback() const;
};

}  // namespace tw::portwire
