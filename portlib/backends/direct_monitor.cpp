// The direct backend's monitor thread, its reconnection steps and the threads
// that report a lost link.
#include <algorithm>

#include "portlib/backends/direct_comm.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;


// After this many "readable" wake-ups that found nothing, the monitor stops
// trusting LNKIO_WaitReadable for one idle period (it must never spin).
constexpr int kReadableMissLimit = 2;

// How many short polls the first pass waits for the manager to take this
// backend as its current one (about a second).
constexpr int kMaxDeferrals = 200;

bool IsRealTimeReport(const uint8_t* b, int32_t length, uint8_t first) {
  return length == 4 && b[0] == first && (b[1] & 0x40) && (b[2] & 0x40) && b[3] == 0;
}

}  // namespace

// One run of the monitor thread, with its own stop flag, so that a thread
// that has not stopped yet can never be mistaken for a newly started one.
struct CDirectComm::MonitorRun {
  std::atomic<bool> running{true};
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

void CDirectComm::SortPacket(int32_t code, const uint8_t* bytes, int32_t length) {
  KPComm& owner = *Owner();
  if (code == kLnkioReadStatus) {
    owner.DispatchStatus(kStatusEvent, bytes, static_cast<uint32_t>(length));
    return;
  }
  if (code == kLnkioReadStatusOrBattery) {
    if (IsRealTimeReport(bytes, length, 0x39)) return;  // nothing the client wants
    if (IsRealTimeReport(bytes, length, 0x35)) {
      owner.DispatchStatus(kStatusEvent, bytes, 4);
      return;
    }
    if (length > 0 && lnkio::IsBatteryReport(bytes, static_cast<size_t>(length))) {
      owner.DispatchStatus(kBatteryEvent, bytes, static_cast<uint32_t>(length));
      return;
    }
  }
  if (length <= 0) return;  // an empty block would read as a reply of nothing
  owner.DeliverData(std::vector<uint8_t>(bytes, bytes + length));
}

bool CDirectComm::IdleWait(MonitorRun& run, bool preferReadable) {
  if (!run.running.load()) return false;
  if (preferReadable) return api_.waitReadable(kIdleWaitMs) == 1;
  std::unique_lock<std::mutex> guard(wakeLock_);
  const uint64_t seen = wakeCount_;
  const bool replyDue = replyDueUntil_ > Clock::now();
  wake_.wait_for(guard, milliseconds(replyDue ? kReplyDuePollMs : kIdleWaitMs),
                 [&] { return !run.running.load() || wakeCount_ != seen; });
  return false;
}

void CDirectComm::MonitorLoop(MonitorRun& run) {
  KPComm& owner = *Owner();
  std::vector<uint8_t> buffer(static_cast<size_t>(kReadBufferSize));
  bool firstPass = true;
  bool knowOnline = false;
  bool lastOnline = false;
  bool linkLostPending = false;
  bool lastReadEmpty = false;
  Clock::time_point lastOfflineStep{};
  int readableMisses = 0;
  bool lastWaitSaidReadable = false;
  int deferrals = 0;

  while (run.running.load()) {
    const int32_t kind = blockKind_.load();
    bool deferred = false;
    if (kind == lnkio::kLinkSerial || kind == lnkio::kLinkParallel || kind == lnkio::kLinkNetwork) {
      if (api_.getIsOnLine != nullptr) api_.getIsOnLine();
      if ((kind != lnkio::kLinkNetwork || firstPass) && OpenState() != kClosedState) {
        // Until the manager has taken this backend as its port, its
        // printer procedures would refuse to write: try again shortly.
        if (firstPass && owner.CurrentBackend() != this && deferrals < kMaxDeferrals) {
          ++deferrals;
          deferred = true;
        } else {
          const bool first = firstPass;
          firstPass = false;
          if (kind == lnkio::kLinkNetwork && api_.getIsOpen() == 0) {
            if (!BuildOpenBlock()) break;
            std::lock_guard<std::mutex> guard(linkLock_);
            // Close clears the stop flag before it takes this lock: a link
            // made here is always closed by it.
            if (run.running.load() && OpenState() != kClosedState) {
              if (TranslateResult(api_.open(&block_)) == kResultOk) SetLinkUp(1);
            }
          }
          if (owner.HasStatusCallback()) {
            // The step runs when the printer's state changed (and first);
            // while it stays offline the status enabling is repeated about
            // once a second of quiet, but without purging again: purging on
            // every pass would throw away replies the caller has not read.
            const bool online = IsOnline();
            const Clock::time_point now = Clock::now();
            const bool changed = first || !knowOnline || online != lastOnline;
            const bool repeat = !online && lastReadEmpty && now - lastOfflineStep >= milliseconds(kIdleWaitMs);
            if (changed || repeat) {
              if (ReconnectStatusStep(true, changed)) {
                linkLostPending = true;
                lastOfflineStep = now;
              } else {
                linkLostPending = false;
              }
            }
            knowOnline = true;
            lastOnline = online;
          }
        }
      }
    }
    if (!run.running.load()) break;

    int32_t length = 0;
    int32_t code;
    {
      std::lock_guard<std::mutex> guard(linkLock_);
      code = api_.read(buffer.data(), kReadBufferSize, &length);
    }
    length = std::clamp(length, 0, kReadBufferSize);
    const bool empty = code == kLnkioReadNothing || (length == 0 && code != kLnkioReadStatus && code != kLnkioReadStatusOrBattery);
    if (!empty) {
      lastReadEmpty = false;
      readableMisses = 0;
      SortPacket(code, buffer.data(), length);
      continue;  // the library returns at once: look for the next packet
    }

    lastReadEmpty = true;
    if (kind == lnkio::kLinkNetwork && LinkUp() == 1) {
      // The printer dropped the connection (it resets after a new
      // threshold, or was switched off): the next Write links again
      // instead of failing on a dead link.
      std::lock_guard<std::mutex> guard(linkLock_);
      if (api_.getIsOpen() == 0) SetLinkUp(0);
    }
    if (kind == lnkio::kLinkSerial && linkLostPending) {
      NotifyLinkLost();
      linkLostPending = false;
    }
    if (deferred) {
      std::unique_lock<std::mutex> guard(wakeLock_);
      wake_.wait_for(guard, milliseconds(kReplyDuePollMs), [&] { return !run.running.load(); });
      continue;
    }
    readableMisses = lastWaitSaidReadable ? readableMisses + 1 : 0;
    const bool useReadable = UsesWaitReadable() && readableMisses < kReadableMissLimit && api_.getIsOpen() != 0;
    if (!useReadable) readableMisses = 0;
    lastWaitSaidReadable = IdleWait(run, useReadable);
  }
}

}  // namespace tw::portwire
