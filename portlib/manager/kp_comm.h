#pragma once
// KPComm: the port manager. One object per process (the export frame owns it);
// every exported port function works on it. It holds the current port
// settings, owns the three transport backends and picks one at Open, owns the
// response store and the queues and events through which backends hand over
// received data, turns printer status bytes into status codes and calls the
// client's status callbacks, and runs the printer procedures (status enabling,
// buffer clear, model queries, communication test).
//
// Construction takes the backends from outside, so the export frame plugs in
// the real ones and tests plug in doubles. Any backend may be null: a null
// backend is one that "could not be tried" (never available, never opened).
//
// Locks (see also kpcapi_cs.h):
//   - API lock: taken by the exports through KPCAPI_CS, never by KPComm itself.
//   - callback lock: guards the three callbacks, their user value and the
//     battery value; callbacks are always called after releasing it.
//   - the queues, the response store and the current settings each have a lock
//     of their own, so backend threads may use them without the API lock.
//
// Threads: the operations under "Export side" run on callers' threads with the
// API lock held (the export frame takes it). The operations under "Backend
// side" may be called from any thread, including backends' monitor and
// callback threads, without the API lock; so may EnsureInitialized, Purge,
// EnableStatusBack and DispatchStatus.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "include/portwire.h"
#include "platform/service_control.h"
#include "portlib/backends/comm_base.h"
#include "portlib/manager/block_queue.h"
#include "portlib/manager/callback_dispatcher.h"
#include "portlib/manager/manual_reset_event.h"
#include "portlib/manager/store_response.h"
#include "shared/port_settings.h"
#include "shared/result_codes.h"

namespace tw::portwire {

// Client callbacks, with the calling convention the public header declares
// for them (__stdcall on 32-bit Windows). The user value is handed back
// unchanged to all three.
using StatusProc = ::KPC_StatusProc;
// The battery value is an unsigned 16-bit value carried in 32 bits.
using BatteryStatusProc = ::KPC_BatStatusProc;
// kind 1: translated automatic status, 2: "5"-report, 999: link lost (bytes null).
using RawStatusProc = ::KPC_RawStatusProc;

// Event kinds handed to DispatchStatus.
inline constexpr int32_t kStatusEvent = 0x50001;   // 4 status bytes
inline constexpr int32_t kBatteryEvent = 0x50005;  // 5-byte battery report

// Route field values and route kinds of the current settings.
inline constexpr int32_t kRouteDriverSoftware = 1;  // port service, then driver path
inline constexpr int32_t kRouteKindDriverPath = 2;
inline constexpr int32_t kRouteKindPortService = 3;

// Status codes with a fixed meaning.
inline constexpr int32_t kStatusNone = -1;      // before any status arrived
inline constexpr int32_t kStatusLinkLost = 16;  // lost or not yet confirmed link

// Everything KPComm needs from the world besides its backends. Empty members
// get the real thing; tests put in doubles so no test waits for real time.
struct KPCommEnvironment {
  // Sleeps for the given milliseconds (pauses of the printer procedures and of
  // service control).
  std::function<void(uint32_t ms)> sleep;
  // A monotonic millisecond clock (service control's time limit).
  std::function<uint64_t()> tickMs;
  // Opens the service control manager (null when it cannot be opened).
  std::function<std::unique_ptr<platform::IServiceControlManager>()> openServiceManager;
  // Whether an older generation of the maker's driver software is installed
  // (then the driver-software backends stay unloaded and the spooler and the
  // maker's services are stopped while the library is in use).
  std::function<bool()> isLegacyDriverInstalled;
};

// Lists the ports of one type (the library's port enumeration): fills up to
// `capacity` records of `array` and stores their number in *outCount.
using PortEnumerator = std::function<Result(std::u16string_view portType, PortSettings* const* array,
                                            uint32_t capacity, uint32_t* outCount)>;

struct KPCommBackends {
  std::unique_ptr<CServiceCommBase> portService;  // CGen3Comm
  std::unique_ptr<CServiceCommBase> driverPath;   // CGen2Comm
  std::unique_ptr<CCommBase> direct;              // CDirectComm
};

class KPComm {
 public:
  // Takes ownership of the backends and becomes their owner (SetOwner). Loads
  // nothing: the first operation that needs the backends runs
  // EnsureInitialized.
  explicit KPComm(KPCommBackends backends = {}, KPCommEnvironment environment = {});
  // Closes the current port, unloads the backends (port service, driver path,
  // direct), restarts the services of a legacy driver installation, then
  // destroys the backends.
  virtual ~KPComm();

  KPComm(const KPComm&) = delete;
  KPComm& operator=(const KPComm&) = delete;

  // ===== Export side (callers' threads, API lock held by the export) =====

  // One-time setup: backend Load calls, legacy driver handling, Purge.
  // Thread-safe; a no-op after the first run and after destruction began.
  void EnsureInitialized();

  // Makes `record` the current settings (byte copy). kResultAlreadyOpen while a
  // port is open; kResultInvalidArgument for null. With the port service
  // available it may complete the caller's record (service port name, FindPort).
  Result SetPort(PortSettings* record);
  // Copies the current settings out; kResultBufferTooSmall for null.
  Result GetPort(PortSettings* out) const;

  // Chooses and opens a backend: route 1 tries the port service, then the
  // driver path; any other route the direct backend. kResultAlreadyOpen when
  // a port is open; kResultFailed when no backend could be tried.
  Result Open(int32_t mode);
  // Closes and deselects the current backend, then Purge. kResultFailed when
  // no backend is selected; else the backend's Close result.
  Result Close();
  // kResultFailed for length 0, kResultNotOpen without an open port; else the
  // backend's Write with the timeout resolved (ResolveWriteTimeout). *written,
  // when given, is set to 0 first.
  Result Write(const uint8_t* data, uint32_t length, uint32_t* written, int32_t timeoutMs);
  // KPC_Read: EnsureInitialized; kResultNotOpen without an open port (then
  // *received is untouched); else *received = 0 and the current backend's
  // Read with ResolveReadTimeout(timeoutMs).
  Result Read(uint8_t* buffer, uint32_t size, uint32_t* received, int32_t timeoutMs);
  // Unloads the port-service, driver-path and direct backends in this order;
  // the direct backend's Unload result (0 without one). KPC_Terminate.
  Result UnloadBackends();

  // A port is open: a current backend exists and its open state is not -1.
  bool IsPortOpen() const;
  // The backend chosen by the last Open (null after Close or before Open).
  CCommBase* CurrentBackend() const { return current_.load(); }

  // Timeout rules. Write: route kind 3 makes every value below 5000 (-1
  // included) 5000; otherwise -1 is the record's write timeout, and 2000 when
  // that is -1 too. Read: -1 is the record's read timeout, 2000 when -1 too.
  int32_t ResolveWriteTimeout(int32_t timeoutMs) const;
  int32_t ResolveReadTimeout(int32_t timeoutMs) const;

  // Status callbacks. Register stores the callback and the user value under
  // the callback lock (one user value for all three) and, for the status and
  // battery callbacks when not null, calls it at once on this thread with the
  // current status / battery value. Unregister clears the callback.
  void RegisterStatusProc(StatusProc proc, void* user);
  void UnregisterStatusProc();
  void RegisterBatStatusProc(BatteryStatusProc proc, void* user);
  void UnregisterBatStatusProc();
  void RegistRawStatusCallBack(RawStatusProc proc, void* user);
  void UnregistRawStatusCallback();

  // Library-wide model flag: 1 after SetModelType(1), else 0.
  void SetModelType(int32_t type) { modelType_.store(type == 1 ? 1 : 0); }
  int32_t ModelType() const { return modelType_.load(); }
  // Caller id 0..4; SetCaller refuses larger values with kResultInvalidArgument.
  Result SetCaller(uint32_t caller);
  uint32_t Caller() const { return caller_.load(); }
  // 1 once a port with a "KP-S..." model name was opened; never cleared.
  bool SlipSeries() const { return slipSeries_.load(); }

  // The route kind of the current settings (2 driver path, 3 port service,
  // 0 otherwise): KPC_GetAccessVersion.
  int32_t RouteKind() const;
  // The route field of the current settings.
  int32_t Route() const;

  // The library's port enumeration, used by SetPort to complete a record's
  // service port name when the port service is available. Without one that
  // step is skipped.
  void SetPortEnumerator(PortEnumerator enumerator);

  CServiceCommBase* PortServiceBackend() const { return portService_.get(); }
  CServiceCommBase* DriverPathBackend() const { return driverPath_.get(); }
  CCommBase* DirectBackend() const { return direct_.get(); }
  // Set once by EnsureInitialized from the Load results.
  bool PortServiceAvailable() const { return portServiceAvailable_.load(); }
  bool DriverPathAvailable() const { return driverPathAvailable_.load(); }

  // The API lock that KPCAPI_CS enters. Recursive, like a critical section.
  std::recursive_timed_mutex& ApiLock() { return apiLock_; }

  // Close, Terminate and destruction stop the backends' threads while the
  // caller holds the API lock. A client callback running on such a thread
  // that calls a locked export would wait for that lock while the lock's
  // holder waits for the callback's thread: KPCAPI_CS gives up instead when
  // it is called from a callback (InClientCallback) while threads are being
  // stopped (StoppingThreads).
  bool StoppingThreads() const { return stopping_.load() > 0; }
  class StoppingScope {
   public:
    explicit StoppingScope(KPComm& manager) : manager_(manager) { manager_.stopping_.fetch_add(1); }
    ~StoppingScope() { manager_.stopping_.fetch_sub(1); }
    StoppingScope(const StoppingScope&) = delete;
    StoppingScope& operator=(const StoppingScope&) = delete;

   private:
    KPComm& manager_;
  };
  // True on a thread that is inside one of the client's callbacks.
  static bool InClientCallback();

  // ----- Printer procedures (caller's thread; EnableStatusBack also on
  // backends' threads) -----

  // Sends the status-enabling command: real time 10 14 14 00 00 01 08, else
  // 1D 61 FF. kResultNotOpen without an open port; else the Write result.
  Result EnableStatusBack(bool realTime);
  // Buffer-clear handshake: sends 10 14 08 01 03 14 01 06 02 08, waits for
  // 37 25 00 (10 reads). kResultNotOpen without an open port.
  Result ClearPrinterBuffers();
  // Model name query 1D 49 43; the reply's text after "_" goes to `out`
  // (80 units). Up to 5 reads with 100 ms pauses.
  Result QueryModelName(char16_t* out);
  // Model code query 10 14 12 00 03; the reply 37 4D 43 <text> goes to `out`
  // (80 units).
  Result QueryModelCode(char16_t* out);
  // Purge and QueryModelName into `out` (260 units), refined by the model code
  // for the generic answer "KP-S300". kResultBufferTooSmall for null.
  Result GetModelName(char16_t* out);
  // KPC_CommunicationTest: opens the record's port, checks it and reads the
  // model name into record->modelName; closes again. Fills record->routeKind.
  Result CommunicationTest(PortSettings* record);

  // ----- Status -----

  // Status code of four automatic status bytes (family masks by model type
  // and slip series).
  int32_t TranslateStatus(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) const;

  // Replaces `record` by the first found port of the same port type whose
  // port name (USB: device name) matches, ignoring case.
  void ApplyKnownPort(PortSettings* record) const;
  // Two USB device paths name the same printer of the maker.
  static bool UsbDeviceNamesMatch(const char16_t* a, const char16_t* b);

  // ===== Backend side (any thread, no API lock needed) =====

  // Appends one received block to the raw receive queue and sets the
  // data-arrived event. The direct backend's monitor thread and the driver
  // path call this for every block of data.
  void DeliverData(std::vector<uint8_t> block);
  // Appends a reply delivered apart from data to the reply queue.
  void DeliverReply(std::vector<uint8_t> block);

  // One status packet: kStatusEvent with 4 bytes, kBatteryEvent with 5 bytes
  // (battery = b3 * 256 + b2). Updates the status or battery value, calls the
  // raw status and status callbacks (or the battery callback) outside the
  // callback lock, and sets the status-arrived event (also when the length
  // does not fit the kind). Other kinds are ignored.
  void DispatchStatus(int32_t eventKind, const uint8_t* bytes, uint32_t length);
  // A battery report decoded by a backend: stores the value, calls the battery
  // callback outside the lock and sets the status-arrived event.
  void DeliverBattery(uint16_t battery);

  // Has the status callback (when set) called with (status, user).
  void NotifyStatus(int32_t status);
  // Has the raw status callback (when set) called with (kind, bytes, user);
  // the first `length` bytes (at most 16) are copied for the call.
  void NotifyRawStatus(int32_t kind, const uint8_t* bytes, size_t length = 4);
  bool HasStatusCallback() const;
  // The client's callbacks are called on the callback dispatcher's thread,
  // never on the thread that reports the event (that thread may be the one a
  // waiting KPC_Read depends on), in the order of the reports. Waits until
  // every reported event was handed to the client; false after waitMs.
  bool WaitCallbacksDelivered(int waitMs);
  // Status events dropped because the client's callbacks fell far behind.
  uint64_t DroppedCallbackEvents() const { return callbacks_.Dropped(); }

  // The last status code (-1 before any; 16 for a lost link).
  int32_t Status() const { return status_.load(); }
  void SetStatus(int32_t status) { status_.store(status); }
  uint16_t BatteryValue() const;

  // Receive mode kept for the driver path (5 at construction).
  int32_t ReceiveMode() const { return receiveMode_.load(); }
  void SetReceiveMode(int32_t mode) { receiveMode_.store(mode); }

  // Backend Purge, raw receive queue emptied, response store cleared. 0.
  Result Purge();

  // A copy of the current settings (taken under the settings lock).
  PortSettings CurrentSettings() const;
  // Changes the current settings in place under the settings lock (the direct
  // backend switches the USB class when it finds the printer in the other one).
  void ModifyCurrentSettings(const std::function<void(PortSettings&)>& change);

  CBlockQueue& RawReceiveQueue() { return rawQueue_; }
  CBlockQueue& ReplyQueue() { return replyQueue_; }
  // Manual-reset events: the waiting side resets before it waits.
  CManualResetEvent& DataArrivedEvent() { return dataArrived_; }
  CManualResetEvent& StatusArrivedEvent() { return statusArrived_; }
  IStoreResponse& ResponseStore() { return store_; }

  // Ports known to the driver software (filled by a backend's EnumeratePorts)
  // and the USB records of the last USB enumeration. API lock held.
  std::vector<PortSettings>& FoundPorts() { return foundPorts_; }
  std::vector<PortSettings>& UsbDevices() { return usbDevices_; }

  // Sleep and clock of this manager's environment (real ones unless a test
  // injected doubles); backends may use them for their own pauses.
  void Sleep(uint32_t ms) const { environment_.sleep(ms); }
  uint64_t TickMs() const { return environment_.tickMs(); }
  const KPCommEnvironment& Environment() const { return environment_; }

 private:
  // The current record's port name, for trace lines.
  std::u16string TracePort() const;
  bool OpenedOk(Result r) const { return r == kResultOk || r == kResultCannotLink; }
  CCommBase* ServiceBackendForFindPort(int32_t routeKind) const;
  Result ReadReply(std::vector<uint8_t>& reply, uint32_t maxBytes);
  Result SendCommand(std::span<const uint8_t> bytes);
  void SwitchLegacyServices(bool start);
  // A trace line about blocks a full queue dropped (rate-limited).
  void NoteDropped(const CBlockQueue& queue, const char* name);
  // Calls the client's callback for one event (dispatcher thread).
  void DeliverCallback(const CallbackEvent& event);
  // Stops the dispatcher thread (Close, Terminate); bounded.
  void StopCallbackThread();
  void ReadTimeoutFields(int32_t& readTimeout, int32_t& writeTimeout, int32_t& routeKind) const;

  std::unique_ptr<CServiceCommBase> portService_;
  std::unique_ptr<CServiceCommBase> driverPath_;
  std::unique_ptr<CCommBase> direct_;
  std::atomic<CCommBase*> current_{nullptr};
  std::atomic<bool> portServiceAvailable_{false};
  std::atomic<bool> driverPathAvailable_{false};
  std::atomic<int32_t> modelType_{0};
  std::atomic<uint32_t> caller_{0};
  CStoreResponse store_;
  CManualResetEvent dataArrived_;
  mutable std::mutex settingsLock_;
  PortSettings settings_;
  std::vector<PortSettings> foundPorts_;
  std::vector<PortSettings> usbDevices_;
  CBlockQueue rawQueue_;
  CBlockQueue replyQueue_;
  std::recursive_mutex initLock_;
  bool initializing_ = false;  // under initLock_: a re-entrant call returns at once
  std::atomic<bool> initialized_{false};
  std::atomic<bool> slipSeries_{false};
  mutable std::mutex callbackLock_;
  std::recursive_timed_mutex apiLock_;
  std::atomic<int> stopping_{0};
  CManualResetEvent statusArrived_;
  StatusProc statusProc_ = nullptr;       // callbackLock_
  BatteryStatusProc batteryProc_ = nullptr;  // callbackLock_
  void* userData_ = nullptr;              // callbackLock_
  std::atomic<int32_t> status_{kStatusNone};
  std::atomic<int32_t> receiveMode_{5};
  uint16_t batteryValue_ = 0;             // callbackLock_
  RawStatusProc rawStatusProc_ = nullptr;  // callbackLock_
  PortEnumerator portEnumerator_;
  KPCommEnvironment environment_;
  std::atomic<uint64_t> lastDropNoteMs_{0};
  // Last member: its thread stops first, while everything it uses still exists.
  CCallbackDispatcher callbacks_{[this](const CallbackEvent& event) { DeliverCallback(event); }};
};

}  // namespace tw::portwire
