#include "portlib/backends/direct_comm.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/icmp_echo.h"
#include "platform/text.h"
#include "portlib/backends/open_block_builder.h"
#include "portlib/manager/kp_comm.h"
#include "portlib/notify/device_change.h"

namespace tw::portwire {
namespace {

// 100 is a second "linked" answer of the maker's library.
constexpr int32_t kLibLinkedToo = 100;

}  // namespace

CDirectComm::CDirectComm(DirectCommOptions options) : options_(std::move(options)) {
  if (!options_.reachable) {
    options_.reachable = [](std::string_view ipv4, int timeoutMs) {
      return platform::IcmpEchoReachable(ipv4, timeoutMs);
    };
  }
}

CDirectComm::~CDirectComm() {
  TearDownDeviceChangeNotification();
  Unload();
  JoinStaleMonitors(true);
  JoinNotifiers(true);
}

void CDirectComm::SetUpDeviceChangeNotification() {
  if (!options_.watchDevices) return;
  if (!notifier_) notifier_ = std::make_unique<CDeviceChangeNotifier>(*this);
  notifier_->SetUp();  // without notification the port works, only without hotplug
}

void CDirectComm::TearDownDeviceChangeNotification() {
  // First: no event may reach this object while it is being destroyed.
  if (notifier_) notifier_->TearDown();
}

bool CDirectComm::WatchesDevices() const { return notifier_ && notifier_->Active(); }

void CDirectComm::CloseLinkAfterRemoval() {
  std::lock_guard<std::mutex> lock(linkLock_);
  if (api_.close) api_.close();
  SetLinkUp(0);
}

bool CDirectComm::LibraryHoldsLink() const { return api_.getIsOpen != nullptr && api_.getIsOpen() != 0; }

bool CDirectComm::SwitchUsbClass() {
  const int32_t kind = blockKind_.load();
  if (kind != lnkio::kLinkUsbVendor && kind != lnkio::kLinkUsbPrinter) return false;
  const int32_t newClass = kind == lnkio::kLinkUsbVendor ? platform::kUsbClassPrinter : platform::kUsbClassVendor;
  // The same device in the other class has a number of its own there.
  const std::optional<int32_t> index =
      Owner() ? IdentityUsbIndex(Owner()->CurrentSettings(), newClass) : std::nullopt;
  {
    std::lock_guard<std::mutex> lock(linkLock_);
    if (block_.kind != kind) return false;
    block_.kind = newClass == platform::kUsbClassPrinter ? lnkio::kLinkUsbPrinter : lnkio::kLinkUsbVendor;
    if (index) block_.usbIndex = *index;
    blockKind_.store(block_.kind);
  }
  if (Owner()) Owner()->ModifyCurrentSettings([newClass](PortSettings& s) { s.usbClass = newClass; });
  return true;
}

bool CDirectComm::Load() {
  if (library_.IsLoaded()) return true;
  platform::Module module = platform::Module::Load(options_.libraryName);
  if (!module.IsLoaded()) return false;

  LnkioEntryPoints api;
  api.open = module.Function<LnkioEntryPoints::OpenFn>("LNKIO_Open");
  api.write = module.Function<LnkioEntryPoints::WriteFn>("LNKIO_Write");
  api.read = module.Function<LnkioEntryPoints::ReadFn>("LNKIO_Read");
  api.close = module.Function<LnkioEntryPoints::VoidFn>("LNKIO_Close");
  api.setNoFlow = module.Function<LnkioEntryPoints::SetNoFlowFn>("LNKIO_SetNoFlow");
  api.getIsOnLine = module.Function<LnkioEntryPoints::VoidFn>("LNKIO_GetIsOnLine");
  api.getIsOpen = module.Function<LnkioEntryPoints::VoidFn>("LNKIO_GetIsOpen");
  api.terminate = module.Function<LnkioEntryPoints::VoidFn>("LNKIO_Terminate");
  bool complete = api.open && api.write && api.read && api.close && api.setNoFlow && api.getIsOnLine &&
                  api.getIsOpen && api.terminate;
  // Never called, but a library without them is not the one we expect.
  for (const char* name : {"FirmwareCompare", "FirmwareUpdate", "RegisteredCallbackProgress", "GetFirmware",
                           "FirmwareUpload"}) {
    complete = complete && module.Symbol(name) != nullptr;
  }
  if (!complete) return false;  // `module` frees the library
  api.waitReadable = module.Function<LnkioEntryPoints::WaitReadableFn>("LNKIO_WaitReadable");

  api_ = api;
  library_ = std::move(module);
  SetUpDeviceChangeNotification();

  // The library expects one call right after loading; its result means nothing.
  {
    std::lock_guard<std::mutex> lock(linkLock_);
    block_.kind = lnkio::kLinkPriming;
    blockKind_.store(block_.kind);
  }
  OpenLink();
  return true;
}

std::optional<int32_t> CDirectComm::IdentityUsbIndex(const PortSettings& settings, int usbClass) const {
  const std::string identity = platform::Utf16ToUtf8(GetText(settings.servicePortName));
  if (!platform::IsUsbIdentity(identity)) return std::nullopt;
  platform::IMachinePorts& ports = options_.ports ? *options_.ports : platform::MachinePorts();
  const std::vector<platform::UsbPrinter> printers = ports.UsbPrinters(usbClass);
  const platform::UsbPrinter* p = platform::FindUsbPrinter(printers, identity);
  return p ? p->number - 1 : -1;
}

bool CDirectComm::BuildOpenBlock() {
  if (Owner() == nullptr) return false;
  const PortSettings settings = Owner()->CurrentSettings();
  lnkio::LinkOpenBlock block = OpenBlock();
  if (!portwire::BuildOpenBlock(settings, block)) return false;
  // The listing numbers USB printers across both classes, the port-access
  // library within one: a listed record goes by the device it names.
  if (block.kind == lnkio::kLinkUsbVendor || block.kind == lnkio::kLinkUsbPrinter) {
    const int usbClass = block.kind == lnkio::kLinkUsbPrinter ? platform::kUsbClassPrinter : platform::kUsbClassVendor;
    if (const auto index = IdentityUsbIndex(settings, usbClass)) block.usbIndex = *index;
  }
  std::lock_guard<std::mutex> lock(linkLock_);
  block_ = block;
  blockKind_.store(block_.kind);
  return true;
}

lnkio::LinkOpenBlock CDirectComm::OpenBlock() const {
  std::lock_guard<std::mutex> lock(linkLock_);
  return block_;
}

CDirectComm::Relink CDirectComm::RelinkWhileOpen() {
  std::lock_guard<std::mutex> lock(linkLock_);
  // Close marks the port closed before it takes this lock, and looks for a
  // monitor once more after it: either it closes this link and monitor, or
  // this finds the port closed and makes neither.
  if (OpenState() == kClosedState || api_.open == nullptr) return Relink::kPortClosed;
  if (TranslateResult(api_.open(&block_)) != kResultOk) return Relink::kFailed;
  StartMonitor();
  return Relink::kLinked;
}

int32_t CDirectComm::OpenLink() {
  if (api_.open == nullptr) return -1;
  std::lock_guard<std::mutex> lock(linkLock_);
  return api_.open(&block_);
}

std::string CDirectComm::BlockAddressText() const {
  const lnkio::LinkOpenBlock b = OpenBlock();
  return std::to_string(b.ipv4[0]) + "." + std::to_string(b.ipv4[1]) + "." + std::to_string(b.ipv4[2]) + "." +
         std::to_string(b.ipv4[3]);
}

bool CDirectComm::IsReachable() {
  if (blockKind_.load() != lnkio::kLinkNetwork) return true;
  const auto nowMs = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  if (nowMs() < reachableUntilMs_.load()) return true;
  // The address of the link itself, so the echo and the link never disagree.
  if (!options_.reachable(BlockAddressText(), kEchoTimeoutMs)) return false;
  reachableUntilMs_.store(nowMs() + kReachableForMs);
  return true;
}

Result CDirectComm::TranslateResult(int32_t libraryCode) {
  if (libraryCode == kLnkioOk || libraryCode == kLibLinkedToo) return kResultOk;
  if (libraryCode == kLnkioTimeout) return kResultTimeout;
  return kResultFailed;
}

Result CDirectComm::Open(int32_t /*mode*/) {
  if (!library_.IsLoaded() || Owner() == nullptr) return kResultFailed;
  if (!BuildOpenBlock()) return kResultFailed;
  reachableUntilMs_.store(0);  // perhaps another printer now
  KPComm& owner = *Owner();

  int32_t code = OpenLink();
  SetOpenState(1);
  owner.SetStatus(kStatusLinkLost);
  if (TranslateResult(code) == kResultOk) {
    SetLinkUp(1);
    StartMonitor();
    return kResultOk;
  }

  const PortSettings settings = owner.CurrentSettings();
  const std::u16string_view type = GetText(settings.portType);
  if (type == u"NET" || type == u"BT") {
    if (TranslateResult(code) != kResultTimeout) {
      // The link is made by the next Write.
      SetLinkUp(0);
      StartMonitor();
      return kResultOk;
    }
  } else if (type == u"USB") {
    if (TranslateResult(code) != kResultTimeout) {
      // The printer may be attached in the other USB class.
      SwitchUsbClass();
      code = OpenLink();
      const Result r = TranslateResult(code);
      if (r == kResultOk) {
        SetLinkUp(1);
        StartMonitor();
        return kResultOk;
      }
      if (r != kResultTimeout) {
        SetLinkUp(0);
        return kResultOk;
      }
    }
  }
  // COM and LPT on any failure; the others on a time-out. (Port types
  // other than the five were refused by BuildOpenBlock.)
  Close();
  owner.Purge();
  return kResultCannotLink;
}

Result CDirectComm::Close() {
  if (!library_.IsLoaded()) {
    const int32_t was = OpenState();
    SetOpenState(kClosedState);
    return was == kClosedState ? kResultNotOpen : kResultOk;
  }
  // Closed first, so that nothing the monitor still does on its way out
  // (a status-enabling write) makes the link again.
  SetOpenState(kClosedState);
  std::shared_ptr<MonitorRun> run = DetachMonitor();
  // Closing the link also wakes a monitor waiting in LNKIO_WaitReadable; the
  // monitor checks its stop flag under the same lock before it would open
  // a link, so no link survives this.
  {
    std::lock_guard<std::mutex> lock(linkLock_);
    api_.close();
    SetLinkUp(0);
  }
  // A device arrival or a Write that made the link again just before took
  // this lock started its monitor under it: stop that one too. After the
  // lock they find the port closed and make nothing.
  std::shared_ptr<MonitorRun> late = DetachMonitor();
  WaitForMonitor(run, kStopWaitMs);
  WaitForMonitor(late, kStopWaitMs);
  return kResultOk;
}

Result CDirectComm::Read(uint8_t* buffer, uint32_t size, uint32_t* outLength, int32_t timeoutMs) {
  if (buffer == nullptr && size != 0) return kResultInvalidArgument;
  if (!library_.IsLoaded() || LinkUp() == 0 || Owner() == nullptr) return kResultFailed;
  if (!IsReachable()) return kResultSettingsMismatch;
  CBlockQueue& queue = Owner()->RawReceiveQueue();
  if (queue.Empty()) {
    const int wait = std::max(timeoutMs, 0);
    MarkReplyDue(wait);
    if (!WaitForBlock(wait)) return kResultTimeout;
  }
  switch (queue.TakeInto(buffer, size, outLength)) {
    case CBlockQueue::TakeResult::kEmpty:
      return kResultOk;
    case CBlockQueue::TakeResult::kTooSmall:
      return kResultBufferTooSmall;
    case CBlockQueue::TakeResult::kTaken:
      return kResultOk;
  }
  return kResultFailed;
}

// A Read waiting for a block. While it reads the library itself it counts
// as a waiting reader, so the monitor stands aside; it takes the library's
// read and wait calls only while the monitor is not inside them.
class CDirectComm::WaitingReader {
 public:
  explicit WaitingReader(CDirectComm& comm) : comm_(comm) {}
  ~WaitingReader() { StopReading(); }
  WaitingReader(const WaitingReader&) = delete;
  WaitingReader& operator=(const WaitingReader&) = delete;

  void StartReading() {
    std::lock_guard<std::mutex> guard(comm_.wakeLock_);
    ++comm_.readersWaiting_;
    reading_ = true;
  }
  // Leaves the library to the monitor for the rest of this Read.
  void StopReading() {
    if (!reading_) return;
    {
      std::lock_guard<std::mutex> guard(comm_.wakeLock_);
      --comm_.readersWaiting_;
      if (inLibrary_) comm_.readerInLibrary_ = false;
    }
    // Not woken: a monitor standing aside looks again within a few
    // milliseconds by itself, and waking it after every reply would only
    // compete for the CPU with the next exchange.
    reading_ = inLibrary_ = false;
  }
  bool Reading() const { return reading_; }
  // True when this Read has the library's read and wait calls.
  bool EnterLibrary() {
    if (inLibrary_) return true;
    std::lock_guard<std::mutex> guard(comm_.wakeLock_);
    if (comm_.monitorInLibrary_ || comm_.readerInLibrary_) return false;
    comm_.readerInLibrary_ = inLibrary_ = true;
    return true;
  }

 private:
  CDirectComm& comm_;
  bool reading_ = false;
  bool inLibrary_ = false;
};

bool CDirectComm::WaitForBlock(int waitMs) {
  KPComm& owner = *Owner();
  CBlockQueue& queue = owner.RawReceiveQueue();
  CManualResetEvent& arrived = owner.DataArrivedEvent();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  WaitingReader reader(*this);
  if (UsesWaitReadable() && MonitorSettled()) reader.StartReading();
  int misses = 0;
  bool foundReports = false;
  for (;;) {
    // A block queued between a look and the reset set the event before the
    // reset cleared it: look again after the reset.
    arrived.Reset();
    if (!queue.Empty()) {
      if (foundReports) AwaitReports(deadline);
      return true;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    const int leftMs = static_cast<int>(std::min<int64_t>(left, INT32_MAX));
    if (reader.Reading() && reader.EnterLibrary()) {
      if (api_.waitReadable(leftMs) != 1) continue;  // the time is up: the next look says so
      if (const auto use = ReadAndSort(readerBuffer_)) {
        foundReports = foundReports || *use == PacketUse::kStatus || *use == PacketUse::kBattery;
        misses = 0;
        continue;
      }
      // "Readable" with nothing to read: the link closed or dropped, which the
      // monitor finds out and reports. Leave the library to it.
      if (++misses >= kReadableMissLimit || !LibraryHoldsLink()) reader.StopReading();
      continue;
    }
    // The monitor is inside the library: it queues what comes, or hands the
    // library over when it comes out (both set the event).
    arrived.Wait(static_cast<uint32_t>(leftMs));
  }
}

Result CDirectComm::Write(const uint8_t* data, uint32_t length, uint32_t* outWritten, int32_t timeoutMs) {
  if (data == nullptr && length != 0) return kResultInvalidArgument;
  if (length > static_cast<uint32_t>(INT32_MAX)) return kResultInvalidArgument;
  if (OpenState() == kClosedState) return kResultNotOpen;
  if (!library_.IsLoaded()) return kResultFailed;
  if (!IsReachable()) return kResultSettingsMismatch;

  if (LinkUp() == 0) {
    {
      std::lock_guard<std::mutex> lock(linkLock_);
      // Close may be under way on another thread (the monitor's status
      // enabling): never make a link for a port that is closing.
      if (OpenState() == kClosedState) return kResultNotOpen;
      const Result r = TranslateResult(api_.open(&block_));
      if (r != kResultOk) return r;
      SetLinkUp(1);
      // Under the lock, so that a Close under way sees this monitor.
      StartMonitor();
    }
  }

  int32_t written = 0;
  const int32_t code = api_.write(data, static_cast<int32_t>(length), &written);
  const Result r = TranslateResult(code);
  MarkReplyDue(timeoutMs);
  if (outWritten == nullptr) return r;
  const uint32_t moved = static_cast<uint32_t>(std::clamp<int64_t>(written, 0, length));
  *outWritten = moved;
  return moved != 0 ? kResultOk : kResultNothingWritten;
}

Result CDirectComm::Initialize(int32_t mode) {
  if (Owner() == nullptr) return kResultFailed;
  KPComm& owner = *Owner();
  owner.Purge();
  bool switched = false;
  if (api_.setNoFlow != nullptr && owner.ModelType() != 1 && !IsOnline()) {
    api_.setNoFlow(1);
    switched = true;
  }
  if (mode == 1) owner.ClearPrinterBuffers();
  const Result r = owner.EnableStatusBack(switched);
  if (switched) api_.setNoFlow(0);
  return r;
}

Result CDirectComm::Unload() {
  // First: no device event may be handled while the library goes. The
  // watcher stops (Linux: its thread is joined), and a handler already
  // under way finishes before the gate lets this on.
  TearDownDeviceChangeNotification();
  std::lock_guard<std::mutex> gate(eventGate_);
  if (!library_.IsLoaded()) return kResultOk;
  Close();
  // Nothing may run in the library when it goes: wait for every monitor,
  // also one that did not stop within Close's time limit.
  JoinStaleMonitors(true);
  api_.terminate();
  JoinNotifiers(false);
  api_ = LnkioEntryPoints{};
  library_.Unload();
  return kResultOk;
}

Result CDirectComm::Reset() { return kResultFailed; }

Result CDirectComm::SetFlowCtrlForced(int32_t flag) {
  if (api_.setNoFlow == nullptr) return kResultFailed;
  return api_.setNoFlow(static_cast<uint8_t>(flag & 0xFF)) == 1 ? kResultOk : kResultFailed;
}

Result CDirectComm::GetPortName(char16_t* out) {
  if (out == nullptr) return kResultBufferTooSmall;
  if (Owner() == nullptr) return kResultFailed;
  const PortSettings settings = Owner()->CurrentSettings();
  const std::u16string_view name = GetText(settings.portName);
  const size_t n = std::min(name.size(), kPortTextMaxChars);
  std::copy_n(name.data(), n, out);
  out[n] = u'\0';
  return kResultOk;
}

void CDirectComm::SetResponseStore(IStoreResponse* store) { responseStore_ = store; }

void CDirectComm::MarkReplyDue(int timeoutMs) {
  const int window = std::clamp(timeoutMs, kMinReplyDueMs, kMaxReplyDueMs);
  bool wake;
  {
    std::lock_guard<std::mutex> lock(wakeLock_);
    replyDueUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(window);
    ++wakeCount_;
    wake = monitorSleepsLong_;
  }
  // Only a monitor in its idle sleep needs waking; one that waits in the
  // library or looks every few milliseconds would only compete for the CPU.
  if (wake) wake_.notify_all();
}

}  // namespace tw::portwire
