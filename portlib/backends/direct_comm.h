#pragma once
// CDirectComm: the backend that reaches the printer itself (serial, parallel,
// USB, network, Bluetooth serial) through the port-access library
// "lnkioapi.dll" (liblnkioapi.so on Linux), loaded at run time by name.
//
// Beyond the CCommBase operations it builds the library's LinkOpenBlock from
// the manager's current settings, checks that a network printer answers an
// ICMP echo before every read and write, and runs a monitor thread that takes
// whatever the library received and sorts it: automatic status and "5"-reports
// go to KPComm::DispatchStatus, battery reports to KPComm::DeliverBattery,
// everything else to the manager's raw receive queue (one library packet per
// block), which Read serves.
//
// Reply latency: a reply should reach the caller of Read as fast as the wire
// brings it, so no thread hand-off stands between the two where it can be
// avoided. With the library's optional LNKIO_WaitReadable, a Read that finds
// nothing queued waits in the library itself and reads and sorts what comes
// (the same sorting as the monitor's); the monitor stands aside meanwhile and
// only dispatches the status reports such a Read found, so client callbacks
// still run on the library's threads. While a reply is due (after a Write or
// while a Read waits) the monitor therefore does not wait inside the library
// but looks every few milliseconds; otherwise it waits up to a second in
// LNKIO_WaitReadable, so anything unasked for is sorted as soon as it comes.
// Without LNKIO_WaitReadable the monitor reads everything: its idle wait (up
// to a second) ends early when a Write goes out, and polls stay short while a
// reply is due. An idle open port costs about one wake-up a second.
//
// Locks: the backend lock serialises LNKIO_Open, LNKIO_Read and LNKIO_Close
// and guards the open block; LNKIO_Write, LNKIO_SetNoFlow and the state
// queries run without it (the library accepts a write while another thread
// reads). Close stops the monitor without holding the backend lock. A link
// made again for an open port (Write, a device arrival) starts its monitor
// under the backend lock, and Close looks for a monitor once more after it
// has closed the link, so no monitor outlives Close. The device-event gate
// is taken before the backend lock.
//
// Threads owned here: the monitor thread and the short-lived threads that
// report a lost link. None outlives the object: Close waits for the monitor
// (a thread that does not stop within 5 s, e.g. because a client callback
// blocks, is waited for again at Unload), and Unload and destruction join
// every thread, so neither the library nor this object goes away under them.
// Both are platform::LibraryThread: a library freed without KPC_Terminate
// (Windows: under the loader's lock) stops them without waiting for their end.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "lnkio/link_open_block.h"
#include "lnkio/lnkioapi.h"
#include "platform/library_thread.h"
#include "platform/machine_ports.h"
#include "portlib/backends/comm_base.h"

namespace tw::portwire {

// The port-access library's entry points, typed by its own header.
struct LnkioEntryPoints {
  using OpenFn = lnkio::OpenFn;
  using WriteFn = lnkio::WriteFn;
  using ReadFn = lnkio::ReadFn;
  using VoidFn = lnkio::VoidFn;
  using SetNoFlowFn = lnkio::SetNoFlowFn;
  using WaitReadableFn = lnkio::WaitReadableFn;

  OpenFn open = nullptr;
  WriteFn write = nullptr;
  ReadFn read = nullptr;
  VoidFn close = nullptr;
  SetNoFlowFn setNoFlow = nullptr;
  VoidFn getIsOnLine = nullptr;
  VoidFn getIsOpen = nullptr;
  VoidFn terminate = nullptr;
  // Optional: without it the monitor falls back to its interruptible sleep.
  WaitReadableFn waitReadable = nullptr;
};

struct DirectCommOptions {
  // Windows file name of the port-access library (tests load a scripted one).
  std::u16string libraryName = u"lnkioapi.dll";
  // Reachability of a network printer (dotted IPv4, time-out ms). Empty: the
  // platform's ICMP echo.
  std::function<bool(std::string_view ipv4, int timeoutMs)> reachable;
  // false: ignore LNKIO_WaitReadable even when the library offers it.
  bool useWaitReadable = true;
  // false: no device-change notification (tests that feed events themselves).
  bool watchDevices = true;
  // Where a USB record's device identity is looked up (null: the machine's).
  platform::IMachinePorts* ports = nullptr;
};

class CDeviceChangeNotifier;

class CDirectComm : public CCommBase {
 public:
  // Monitor timing.
  static constexpr int kIdleWaitMs = 1000;        // longest wait after an empty poll
  static constexpr int kReplyDuePollMs = 5;       // poll interval while a reply is due (fallback)
  static constexpr int kMinReplyDueMs = 1000;     // a write expects a reply for at least this long
  static constexpr int kMaxReplyDueMs = 60000;
  static constexpr int kStopWaitMs = 5000;        // Close waits this long for the monitor
  // After this many "readable" wake-ups that found nothing, LNKIO_WaitReadable
  // is not trusted for a while (no thread may spin on it).
  static constexpr int kReadableMissLimit = 2;
  static constexpr int32_t kReadBufferSize = 65791;
  static constexpr int kEchoTimeoutMs = 1000;
  // A printer that answered an echo is taken as reachable for this long, so a
  // command and its reply do not each wait for an echo round trip of their
  // own; an unreachable printer is still found out within this time.
  static constexpr int kReachableForMs = 500;

  explicit CDirectComm(DirectCommOptions options = {});
  ~CDirectComm() override;

  bool Load() override;
  Result Open(int32_t mode) override;
  Result Close() override;
  Result Read(uint8_t* buffer, uint32_t size, uint32_t* outLength, int32_t timeoutMs) override;
  Result Write(const uint8_t* data, uint32_t length, uint32_t* outWritten, int32_t timeoutMs) override;
  Result Initialize(int32_t mode) override;
  Result Unload() override;
  Result Reset() override;
  Result SetFlowCtrlForced(int32_t flag) override;
  Result TranslateResult(int32_t libraryCode) override;
  Result GetPortName(char16_t* out) override;
  void SetResponseStore(IStoreResponse* store) override;

  // ----- Internal operations, shared with the device-change handling -----

  bool IsLoaded() const { return library_.IsLoaded(); }
  // Rebuilds the open block from the manager's current settings. A USB
  // record whose service port name is a device identity (as the listing
  // gives it) links exactly that device: its number in the block's class,
  // or no device while it is absent. Other USB records go by their number.
  bool BuildOpenBlock();
  lnkio::LinkOpenBlock OpenBlock() const;
  // True at once unless the open block is a network link; then one ICMP echo
  // to the block's address.
  bool IsReachable();
  // LNKIO_Open with the open block under the backend lock; the library code.
  int32_t OpenLink();
  // A device arrival's new link: while the port is open, LNKIO_Open with the
  // open block and, when that links, the monitor started, all under the
  // backend lock (a Close racing the arrival leaves neither behind).
  enum class Relink { kLinked, kFailed, kPortClosed };
  Relink RelinkWhileOpen();
  // Starts the monitor unless one runs. False when no thread could be started.
  bool StartMonitor();
  // Stops the monitor and waits for it up to `waitMs`. A monitor blocked in
  // LNKIO_WaitReadable wakes when the link closes (Close closes it first).
  void StopMonitor(int waitMs = kStopWaitMs);
  bool MonitorRunning() const;
  // Running and past its first link and status step (which may purge).
  bool MonitorSettled() const;
  // Status 16, then the status callback (16) and the raw status callback
  // (999, null) on a short-lived thread.
  void NotifyLinkLost();
  // Monitor running and the library reports the printer online.
  bool IsOnline() const;
  // Re-enables automatic status after a (re)connection. The device-change
  // handling passes includeParallel = false. True when the printer was
  // offline (the offline branch ran).
  bool ReconnectStatusStep(bool includeParallel, bool purge = true);

  // Device-change steps (portlib/notify): closes the link under the backend
  // lock and marks it down; whether the port-access library holds a link
  // (LNKIO_GetIsOpen); switches the open block and the current settings to
  // the other USB class (false for a block that is not USB).
  void CloseLinkAfterRemoval();
  bool LibraryHoldsLink() const;
  bool SwitchUsbClass();
  // Held by the device-change steps for the whole of one event, and by
  // Unload: a step never calls through entry points that Unload clears.
  std::unique_lock<std::mutex> DeviceEventGate() { return std::unique_lock<std::mutex>(eventGate_); }
  // Whether device changes are being watched.
  bool WatchesDevices() const;

  // The resolved entry points (tests).
  const LnkioEntryPoints& EntryPoints() const { return api_; }
  // Whether the monitor waits through LNKIO_WaitReadable.
  bool UsesWaitReadable() const { return options_.useWaitReadable && api_.waitReadable != nullptr; }

 private:
  struct MonitorRun;

  // Device-change notification (USB and port arrival/removal) is set up here
  // once the library is loaded, and torn down at destruction.
  void SetUpDeviceChangeNotification();
  void TearDownDeviceChangeNotification();

  // The monitor thread: MonitorLoop runs the named steps below over the
  // loop's state until the run is stopped.
  struct MonitorState;
  enum class ReadOutcome { kReceived, kNothing, kStoodAside };
  void MonitorLoop(MonitorRun& run);
  // Per pass: the online query, the network link's first making and the
  // status step after a change. False ends the thread.
  bool CheckLinkStep(MonitorRun& run, MonitorState& state);
  // One LNKIO_Read, unless a caller's Read has the library.
  ReadOutcome ReadStep(MonitorState& state, std::vector<uint8_t>& buffer);
  // After an empty read: a dropped network link is marked down; an offline
  // serial printer is reported lost.
  void ReportLostLinkStep(MonitorState& state);
  // Waits after an empty read (or while a caller's Read has the library).
  void IdleWaitStep(MonitorRun& run, MonitorState& state, ReadOutcome outcome);
  // The status and battery reports read since the last call, to the manager.
  void DispatchReports();

  // Sorting of what the library delivered: replies and other data for the
  // raw receive queue, automatic status, "5"-reports and battery reports for
  // the status handling; "9"-reports and empty blocks are dropped.
  enum class PacketUse { kNone, kData, kStatus, kBattery };
  static PacketUse SortPacket(int32_t code, const uint8_t* bytes, int32_t length);
  // One LNKIO_Read under the backend lock, sorted: data is queued at once,
  // reports are kept for DispatchReports. Called by the thread that has the
  // library (monitor or waiting Read), so blocks are queued in the order in
  // which they came. False when nothing came.
  std::optional<PacketUse> ReadAndSort(std::vector<uint8_t>& buffer);
  // A Read that found status reports returns its block only after they are
  // dispatched (as when the monitor had read them), waiting for the monitor
  // at most a short while.
  void AwaitReports(std::chrono::steady_clock::time_point deadline);
  bool OnMonitorThread() const;
  // A caller's Read: waits up to waitMs for a block in the raw receive queue
  // (see "Reply latency" above). True when one is queued.
  bool WaitForBlock(int waitMs);
  class WaitingReader;
  // Who is inside the port-access library's read and wait calls.
  bool MonitorEntersLibrary();
  void MonitorLeavesLibrary();
  void MarkReplyDue(int timeoutMs);
  std::shared_ptr<MonitorRun> DetachMonitor();
  void WaitForMonitor(const std::shared_ptr<MonitorRun>& run, int waitMs);
  void JoinStaleMonitors(bool blocking);
  void JoinNotifiers(bool blocking);
  std::string BlockAddressText() const;
  // The USB index of the device a record's identity names in `usbClass`
  // (-1 while it is absent); nothing when the record carries no identity.
  std::optional<int32_t> IdentityUsbIndex(const PortSettings& settings, int usbClass) const;

  DirectCommOptions options_;
  LnkioEntryPoints api_;
  std::unique_ptr<CDeviceChangeNotifier> notifier_;
  IStoreResponse* responseStore_ = nullptr;  // kept, not used

  std::mutex eventGate_;         // see DeviceEventGate; taken before linkLock_
  mutable std::mutex linkLock_;  // the backend lock; also guards block_
  lnkio::LinkOpenBlock block_{};
  std::atomic<int32_t> blockKind_{0};
  // Steady-clock milliseconds until which the last successful echo counts.
  std::atomic<int64_t> reachableUntilMs_{0};

  // Monitor bookkeeping.
  mutable std::mutex monitorLock_;
  std::shared_ptr<MonitorRun> monitor_;                   // the running one
  std::vector<std::shared_ptr<MonitorRun>> staleMonitors_;  // stopped, not yet joined

  // Wake-ups of the monitor's waits, and who has the port-access library's
  // read and wait calls: the monitor, or a caller's Read (never both).
  std::mutex wakeLock_;
  std::condition_variable wake_;
  uint64_t wakeCount_ = 0;                                  // wakeLock_
  std::chrono::steady_clock::time_point replyDueUntil_{};   // wakeLock_
  bool monitorSleepsLong_ = false;   // wakeLock_: in the idle wait that a Write ends
  bool monitorInLibrary_ = false;    // wakeLock_
  int readersWaiting_ = 0;           // wakeLock_: Reads waiting for a block
  bool readerInLibrary_ = false;     // wakeLock_
  struct Report {
    PacketUse use;
    std::vector<uint8_t> bytes;
  };
  std::deque<Report> reports_;       // wakeLock_: sorted, not yet dispatched
  uint64_t reportsQueued_ = 0;       // wakeLock_: reports ever queued
  uint64_t reportsDone_ = 0;         // wakeLock_: ... dispatched or dropped
  // The buffer of the Read that has the library (one at a time).
  std::vector<uint8_t> readerBuffer_;

  // Link-lost notifier threads.
  struct Notifier {
    platform::LibraryThread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex notifierLock_;
  std::list<Notifier> notifiers_;
};

}  // namespace tw::portwire
