// The direct backend's monitor thread, its reconnection steps and the threads
// that report a lost link.
#include <algorithm>

#include "portlib/backends/direct_comm.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How many short polls the first pass waits for the manager to take this
// backend as its current one (about a second).
constexpr int kMaxDeferrals = 200;

// Status reports that a caller's Read found wait for the monitor; a monitor
// that does not come for them keeps only the newest.
constexpr size_t kMaxPendingReports = 64;
// How long a Read that found reports waits for the monitor to dispatch them.
constexpr int kReportWaitMs = 200;

bool IsRealTimeReport(const uint8_t* b, int32_t length, uint8_t first) {
  return length == 4 && b[0] == first && (b[1] & 0x40) && (b[2] & 0x40) && b[3] == 0;
}

}  // namespace

// One run of the monitor thread, with its own stop flag, so that a thread
// that has not stopped yet can never be mistaken for a newly started one.
struct CDirectComm::MonitorRun {
  std::atomic<bool> running{true};
  // The first pass's link and status step is done. That step may purge, so
  // a waiting Read leaves the library to the monitor until then: a reply it
  // took earlier would be thrown away.
  std::atomic<bool> settled{false};
  platform::LibraryThread thread;
  std::mutex lock;
  std::condition_variable finishedChanged;
  bool finished = false;  // lock

  void MarkFinished() {
    {
      std::lock_guard<std::mutex> guard(lock);
      finished = true;
    }
    finishedChanged.notify_all();
  }
  bool WaitFinished(int waitMs) {
    std::unique_lock<std::mutex> guard(lock);
    return finishedChanged.wait_for(guard, milliseconds(std::max(waitMs, 0)), [this] { return finished; });
  }
  bool IsFinished() {
    std::lock_guard<std::mutex> guard(lock);
    return finished;
  }
};

bool CDirectComm::StartMonitor() {
  if (Owner() == nullptr) return false;
  JoinStaleMonitors(false);
  std::lock_guard<std::mutex> guard(monitorLock_);
  if (monitor_ && monitor_->running.load()) return true;
  auto run = std::make_shared<MonitorRun>();
  MonitorRun* raw = run.get();
  try {
    run->thread = platform::LibraryThread([this, raw] {
      MonitorLoop(*raw);
      raw->MarkFinished();
    });
  } catch (...) {
    return false;  // no thread: data is not collected, reads time out
  }
  monitor_ = std::move(run);
  return true;
}

std::shared_ptr<CDirectComm::MonitorRun> CDirectComm::DetachMonitor() {
  std::shared_ptr<MonitorRun> run;
  {
    std::lock_guard<std::mutex> guard(monitorLock_);
    run.swap(monitor_);
  }
  if (run) run->running.store(false);
  {
    std::lock_guard<std::mutex> guard(wakeLock_);
    ++wakeCount_;
    // Reports of the link that closes are not dispatched any more.
    reportsDone_ += reports_.size();
    reports_.clear();
  }
  wake_.notify_all();
  return run;
}

void CDirectComm::WaitForMonitor(const std::shared_ptr<MonitorRun>& run, int waitMs) {
  if (!run) return;
  // Close from a client callback on the monitor thread itself: it ends when
  // the callback returns; joined later.
  if (!run->thread.IsCurrent() && run->WaitFinished(waitMs)) {
    run->thread.join();
    return;
  }
  std::lock_guard<std::mutex> guard(monitorLock_);
  staleMonitors_.push_back(run);
}

void CDirectComm::StopMonitor(int waitMs) { WaitForMonitor(DetachMonitor(), waitMs); }

void CDirectComm::JoinStaleMonitors(bool blocking) {
  std::vector<std::shared_ptr<MonitorRun>> stale;
  {
    std::lock_guard<std::mutex> guard(monitorLock_);
    stale.swap(staleMonitors_);
  }
  std::vector<std::shared_ptr<MonitorRun>> keep;
  for (auto& run : stale) {
    if (run->thread.IsCurrent()) {
      keep.push_back(run);
    } else if (blocking || run->IsFinished()) {
      run->thread.join();
    } else {
      keep.push_back(run);
    }
  }
  if (keep.empty()) return;
  std::lock_guard<std::mutex> guard(monitorLock_);
  for (auto& run : keep) staleMonitors_.push_back(std::move(run));
}

bool CDirectComm::MonitorRunning() const {
  std::lock_guard<std::mutex> guard(monitorLock_);
  return monitor_ && monitor_->running.load();
}

bool CDirectComm::MonitorSettled() const {
  std::lock_guard<std::mutex> guard(monitorLock_);
  return monitor_ && monitor_->running.load() && monitor_->settled.load();
}

bool CDirectComm::IsOnline() const {
  return MonitorRunning() && api_.getIsOnLine != nullptr && api_.getIsOnLine() != 0;
}

bool CDirectComm::ReconnectStatusStep(bool includeParallel, bool purge) {
  KPComm& owner = *Owner();
  if (IsOnline()) {
    if (purge) owner.Purge();
    owner.EnsureInitialized();
    if (owner.Status() == kStatusLinkLost) owner.EnableStatusBack(true);
    return false;
  }
  if (includeParallel && blockKind_.load() == lnkio::kLinkParallel) {
    owner.EnsureInitialized();
    if (owner.Status() == kStatusLinkLost) owner.EnableStatusBack(true);
    return false;
  }
  if (purge) owner.Purge();
  if (owner.Route() != kRouteDriverSoftware && api_.setNoFlow != nullptr && owner.ModelType() != 1) {
    api_.setNoFlow(1);
    owner.EnableStatusBack(true);
    api_.setNoFlow(0);
  } else {
    owner.EnableStatusBack(false);
  }
  return true;
}

void CDirectComm::NotifyLinkLost() {
  KPComm* owner = Owner();
  if (owner == nullptr) return;
  owner->SetStatus(kStatusLinkLost);
  JoinNotifiers(false);
  auto done = std::make_shared<std::atomic<bool>>(false);
  auto report = [owner, done] {
    owner->NotifyStatus(kStatusLinkLost);
    owner->NotifyRawStatus(999, nullptr);
    done->store(true);
  };
  try {
    platform::LibraryThread thread(report);
    std::lock_guard<std::mutex> guard(notifierLock_);
    notifiers_.push_back(Notifier{std::move(thread), done});
  } catch (...) {
    report();  // no thread to be had: report on this one
  }
}

void CDirectComm::JoinNotifiers(bool blocking) {
  std::list<Notifier> all;
  {
    std::lock_guard<std::mutex> guard(notifierLock_);
    all.swap(notifiers_);
  }
  std::list<Notifier> keep;
  for (auto it = all.begin(); it != all.end();) {
    auto next = std::next(it);
    if (it->thread.IsCurrent()) {
      // A callback that tears the library down from this very thread: the
      // thread only returns from the callback after this.
      if (blocking) {
        it->thread.detach();
      } else {
        keep.splice(keep.end(), all, it);
      }
    } else if (blocking || it->done->load()) {
      it->thread.join();
    } else {
      keep.splice(keep.end(), all, it);
    }
    it = next;
  }
  if (keep.empty()) return;
  std::lock_guard<std::mutex> guard(notifierLock_);
  notifiers_.splice(notifiers_.end(), keep);
}

CDirectComm::PacketUse CDirectComm::SortPacket(int32_t code, const uint8_t* bytes, int32_t length) {
  if (code == kLnkioReadStatus) return PacketUse::kStatus;
  if (code == kLnkioReadStatusOrBattery) {
    if (IsRealTimeReport(bytes, length, 0x39)) return PacketUse::kNone;  // nothing the client wants
    if (IsRealTimeReport(bytes, length, 0x35)) return PacketUse::kStatus;
    if (length > 0 && lnkio::IsBatteryReport(bytes, static_cast<size_t>(length))) return PacketUse::kBattery;
  }
  if (length <= 0) return PacketUse::kNone;  // an empty block would read as a reply of nothing
  return PacketUse::kData;
}

std::optional<CDirectComm::PacketUse> CDirectComm::ReadAndSort(std::vector<uint8_t>& buffer) {
  buffer.resize(static_cast<size_t>(kReadBufferSize));
  int32_t length = 0;
  int32_t code;
  {
    std::lock_guard<std::mutex> guard(linkLock_);
    code = api_.read(buffer.data(), kReadBufferSize, &length);
  }
  length = std::clamp(length, 0, kReadBufferSize);
  const bool empty = code == kLnkioReadNothing ||
                     (length == 0 && code != kLnkioReadStatus && code != kLnkioReadStatusOrBattery);
  if (empty) return std::nullopt;
  const PacketUse use = SortPacket(code, buffer.data(), length);
  if (use == PacketUse::kData) {
    Owner()->DeliverData(std::vector<uint8_t>(buffer.data(), buffer.data() + length));
  } else if (use != PacketUse::kNone) {
    {
      std::lock_guard<std::mutex> guard(wakeLock_);
      if (reports_.size() >= kMaxPendingReports) {
        reports_.pop_front();
        ++reportsDone_;
      }
      reports_.push_back(Report{use, std::vector<uint8_t>(buffer.data(), buffer.data() + length)});
      ++reportsQueued_;
    }
    wake_.notify_all();  // a monitor standing aside dispatches them
  }
  return use;
}

void CDirectComm::DispatchReports() {
  KPComm& owner = *Owner();
  for (;;) {
    Report report;
    {
      std::lock_guard<std::mutex> guard(wakeLock_);
      if (reports_.empty()) return;
      report = std::move(reports_.front());
      reports_.pop_front();
    }
    const int32_t event = report.use == PacketUse::kStatus ? kStatusEvent : kBatteryEvent;
    owner.DispatchStatus(event, report.bytes.data(), static_cast<uint32_t>(report.bytes.size()));
    {
      std::lock_guard<std::mutex> guard(wakeLock_);
      ++reportsDone_;
    }
    wake_.notify_all();  // a Read may wait for its reports
  }
}

void CDirectComm::AwaitReports(Clock::time_point deadline) {
  // A client callback on the monitor thread reads: nobody else dispatches.
  if (OnMonitorThread()) {
    DispatchReports();
    return;
  }
  std::unique_lock<std::mutex> guard(wakeLock_);
  const uint64_t ticket = reportsQueued_;
  // Bounded: a monitor busy elsewhere dispatches them later.
  const Clock::time_point until = std::min(deadline, Clock::now() + milliseconds(kReportWaitMs));
  wake_.wait_until(guard, until, [&] { return reportsDone_ >= ticket; });
}

bool CDirectComm::OnMonitorThread() const {
  std::lock_guard<std::mutex> guard(monitorLock_);
  return monitor_ && monitor_->thread.IsCurrent();
}

bool CDirectComm::MonitorEntersLibrary() {
  std::lock_guard<std::mutex> guard(wakeLock_);
  if (readersWaiting_ > 0 || readerInLibrary_) return false;
  monitorInLibrary_ = true;
  return true;
}

void CDirectComm::MonitorLeavesLibrary() {
  bool readerWaits;
  {
    std::lock_guard<std::mutex> guard(wakeLock_);
    monitorInLibrary_ = false;
    readerWaits = readersWaiting_ > 0;
  }
  // A Read that waited for the library takes it over now.
  if (readerWaits) Owner()->DataArrivedEvent().Set();
}

// The loop's state across passes.
struct CDirectComm::MonitorState {
  int32_t kind = 0;                 // the open block's kind, read at each pass
  bool firstPass = true;
  bool deferred = false;            // this pass waits for the manager to take this backend
  int deferrals = 0;
  // Status step: the printer's last known online state.
  bool knowOnline = false;
  bool lastOnline = false;
  Clock::time_point lastOfflineStep{};
  bool linkLostPending = false;     // the offline branch ran: report a lost link on quiet
  bool lastReadEmpty = false;
  // LNKIO_WaitReadable that said "readable" but the read found nothing.
  int readableMisses = 0;
  bool lastWaitSaidReadable = false;
};

void CDirectComm::MonitorLoop(MonitorRun& run) {
  std::vector<uint8_t> buffer(static_cast<size_t>(kReadBufferSize));
  MonitorState state;
  while (run.running.load()) {
    if (!CheckLinkStep(run, state)) break;
    if (!state.deferred) run.settled.store(true);
    if (!run.running.load()) break;
    const ReadOutcome outcome = ReadStep(state, buffer);
    DispatchReports();
    if (outcome == ReadOutcome::kReceived) continue;  // the library returns at once: look for the next packet
    if (outcome == ReadOutcome::kNothing) ReportLostLinkStep(state);
    IdleWaitStep(run, state, outcome);
  }
}

bool CDirectComm::CheckLinkStep(MonitorRun& run, MonitorState& state) {
  KPComm& owner = *Owner();
  state.kind = blockKind_.load();
  state.deferred = false;
  const int32_t kind = state.kind;
  if (kind != lnkio::kLinkSerial && kind != lnkio::kLinkParallel && kind != lnkio::kLinkNetwork) return true;
  if (api_.getIsOnLine != nullptr) api_.getIsOnLine();
  if ((kind == lnkio::kLinkNetwork && !state.firstPass) || OpenState() == kClosedState) return true;
  // Until the manager has taken this backend as its port, its printer
  // procedures would refuse to write: try again shortly.
  if (state.firstPass && owner.CurrentBackend() != this && state.deferrals < kMaxDeferrals) {
    ++state.deferrals;
    state.deferred = true;
    return true;
  }
  const bool first = state.firstPass;
  state.firstPass = false;
  if (kind == lnkio::kLinkNetwork && api_.getIsOpen() == 0) {
    if (!BuildOpenBlock()) return false;
    std::lock_guard<std::mutex> guard(linkLock_);
    // Close clears the stop flag before it takes this lock: a link made here
    // is always closed by it.
    if (run.running.load() && OpenState() != kClosedState) {
      if (TranslateResult(api_.open(&block_)) == kResultOk) SetLinkUp(1);
    }
  }
  if (!owner.HasStatusCallback()) return true;
  // The step runs when the printer's state changed (and first); while it
  // stays offline the status enabling is repeated about once a second of
  // quiet, but without purging again: purging on every pass would throw away
  // replies the caller has not read.
  const bool online = IsOnline();
  const Clock::time_point now = Clock::now();
  const bool changed = first || !state.knowOnline || online != state.lastOnline;
  const bool repeat = !online && state.lastReadEmpty && now - state.lastOfflineStep >= milliseconds(kIdleWaitMs);
  if (changed || repeat) {
    if (ReconnectStatusStep(true, changed)) {
      state.linkLostPending = true;
      state.lastOfflineStep = now;
    } else {
      state.linkLostPending = false;
    }
  }
  state.knowOnline = true;
  state.lastOnline = online;
  return true;
}

CDirectComm::ReadOutcome CDirectComm::ReadStep(MonitorState& state, std::vector<uint8_t>& buffer) {
  if (!MonitorEntersLibrary()) return ReadOutcome::kStoodAside;
  const bool received = ReadAndSort(buffer).has_value();
  MonitorLeavesLibrary();
  state.lastReadEmpty = !received;
  if (!received) return ReadOutcome::kNothing;
  state.readableMisses = 0;
  return ReadOutcome::kReceived;
}

void CDirectComm::ReportLostLinkStep(MonitorState& state) {
  if (state.kind == lnkio::kLinkNetwork && LinkUp() == 1) {
    // The printer dropped the connection (it resets after a new threshold,
    // or was switched off): the next Write links again instead of failing on
    // a dead link.
    std::lock_guard<std::mutex> guard(linkLock_);
    if (api_.getIsOpen() == 0) SetLinkUp(0);
  }
  if (state.kind == lnkio::kLinkSerial && state.linkLostPending) {
    NotifyLinkLost();
    state.linkLostPending = false;
  }
}

void CDirectComm::IdleWaitStep(MonitorRun& run, MonitorState& state, ReadOutcome outcome) {
  const bool saidReadable = state.lastWaitSaidReadable;
  state.lastWaitSaidReadable = false;
  std::unique_lock<std::mutex> guard(wakeLock_);
  const auto stopOrReport = [&] { return !run.running.load() || !reports_.empty(); };
  if (outcome == ReadOutcome::kStoodAside) {
    // A caller's Read has the library: look again shortly (the Read does not
    // wake this thread when it ends), or when it found a report to dispatch.
    wake_.wait_for(guard, milliseconds(kReplyDuePollMs), stopOrReport);
    return;
  }
  if (state.deferred) {
    wake_.wait_for(guard, milliseconds(kReplyDuePollMs), [&] { return !run.running.load(); });
    return;
  }
  const bool replyDue = replyDueUntil_ > Clock::now();
  if (UsesWaitReadable() && replyDue) {
    // The Read that waits for the reply waits in the library itself: keep
    // out of the library's wait and look again shortly for anything else.
    state.readableMisses = 0;
    wake_.wait_for(guard, milliseconds(kReplyDuePollMs), stopOrReport);
    return;
  }
  guard.unlock();
  state.readableMisses = saidReadable ? state.readableMisses + 1 : 0;
  const bool useReadable =
      UsesWaitReadable() && state.readableMisses < kReadableMissLimit && api_.getIsOpen() != 0;
  if (useReadable) {
    if (!run.running.load() || !MonitorEntersLibrary()) return;
    state.lastWaitSaidReadable = api_.waitReadable(kIdleWaitMs) == 1;
    MonitorLeavesLibrary();
    return;
  }
  state.readableMisses = 0;
  guard.lock();
  const uint64_t seen = wakeCount_;
  monitorSleepsLong_ = true;
  wake_.wait_for(guard, milliseconds(replyDue ? kReplyDuePollMs : kIdleWaitMs),
                 [&] { return stopOrReport() || wakeCount_ != seen; });
  monitorSleepsLong_ = false;
}

}  // namespace tw::portwire
