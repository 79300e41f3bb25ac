#include "portlib/manager/callback_dispatcher.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/library_thread.h"

namespace tw::portwire {

// One run of the dispatcher thread. Its flags are guarded by State::lock.
struct CCallbackDispatcher::Run {
  platform::LibraryThread thread;
  bool stop = false;        // deliver what is queued, then end
  bool abandon = false;     // end as soon as the current callback returns
  bool delivering = false;  // inside a callback now
  bool finished = false;
};

struct CCallbackDispatcher::State {
  std::function<void(const CallbackEvent&)> deliver;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<CallbackEvent> pending;
  bool shutdown = false;
  uint64_t dropped = 0;
  std::shared_ptr<Run> run;                 // the thread that takes events
  std::vector<std::shared_ptr<Run>> stale;  // ended or abandoned, not joined yet
};

CCallbackDispatcher::CCallbackDispatcher(std::function<void(const CallbackEvent&)> deliver)
    : state_(std::make_shared<State>()) {
  state_->deliver = std::move(deliver);
}

CCallbackDispatcher::~CCallbackDispatcher() {
  Shutdown(kDestructionWaitMs);
  // A thread still inside a client callback keeps the state alive and ends
  // when the callback returns; it cannot be waited for here.
  std::lock_guard<std::mutex> guard(state_->lock);
  for (auto& run : state_->stale) {
    if (run->thread.joinable()) run->thread.detach();
  }
  state_->stale.clear();
}

void CCallbackDispatcher::Post(const CallbackEvent& event) {
  State& state = *state_;
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.shutdown) return;
  if (state.pending.size() >= kMaxPendingEvents) {
    state.pending.pop_front();
    ++state.dropped;
  }
  state.pending.push_back(event);
  // A run that is stopping still drains the queue; a finished one is replaced.
  if (!state.run || state.run->finished) StartThreadLocked(state_);
  state.changed.notify_all();
}

void CCallbackDispatcher::StartThreadLocked(const std::shared_ptr<State>& state) {
  if (state->run) state->stale.push_back(std::move(state->run));
  auto run = std::make_shared<Run>();
  try {
    run->thread = platform::LibraryThread([state, run] { Loop(state, run); });
  } catch (...) {
    // No thread to be had: the events wait for the next post's attempt.
    return;
  }
  state->run = std::move(run);
  // Runs that have ended are joined here, never one inside a callback.
  for (auto it = state->stale.begin(); it != state->stale.end();) {
    if ((*it)->finished && !(*it)->thread.IsCurrent()) {
      (*it)->thread.join();
      it = state->stale.erase(it);
    } else {
      ++it;
    }
  }
}

void CCallbackDispatcher::Loop(const std::shared_ptr<State>& statePtr, const std::shared_ptr<Run>& run) {
  State& state = *statePtr;
  std::unique_lock<std::mutex> guard(state.lock);
  for (;;) {
    state.changed.wait(guard, [&] { return run->abandon || run->stop || !state.pending.empty(); });
    if (run->abandon) break;
    if (state.pending.empty()) break;  // stopping and nothing left
    const CallbackEvent event = state.pending.front();
    state.pending.pop_front();
    run->delivering = true;
    guard.unlock();
    state.deliver(event);
    guard.lock();
    run->delivering = false;
    state.changed.notify_all();
  }
  run->finished = true;
  state.changed.notify_all();
}

void CCallbackDispatcher::Stop(int waitMs) {
  State& state = *state_;
  std::unique_lock<std::mutex> guard(state.lock);
  std::shared_ptr<Run> run = state.run;
  if (run) {
    run->stop = true;
    state.changed.notify_all();
    // From a callback on the dispatcher thread: it ends after that callback.
    if (run->thread.IsCurrent()) return;
    const bool ended = state.changed.wait_for(guard, std::chrono::milliseconds(waitMs > 0 ? waitMs : 0),
                                              [&] { return run->finished; });
    if (!ended) {
      // A callback that does not return: what it has not delivered yet is
      // dropped, the thread ends when the callback returns.
      run->abandon = true;
      state.pending.clear();
    }
    if (state.run == run) state.run.reset();
    state.stale.push_back(run);
  }
  std::vector<std::shared_ptr<Run>> done;
  for (auto it = state.stale.begin(); it != state.stale.end();) {
    if ((*it)->finished && !(*it)->thread.IsCurrent()) {
      done.push_back(std::move(*it));
      it = state.stale.erase(it);
    } else {
      ++it;
    }
  }
  guard.unlock();
  for (auto& r : done) r->thread.join();
}

void CCallbackDispatcher::Shutdown(int waitMs) {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->shutdown = true;
  }
  Stop(waitMs);
}

bool CCallbackDispatcher::WaitIdle(int waitMs) {
  State& state = *state_;
  std::unique_lock<std::mutex> guard(state.lock);
  return state.changed.wait_for(guard, std::chrono::milliseconds(waitMs > 0 ? waitMs : 0), [&] {
    return state.pending.empty() && (!state.run || !state.run->delivering);
  });
}

uint64_t CCallbackDispatcher::Dropped() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->dropped;
}

bool CCallbackDispatcher::OnDispatcherThread() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  if (state_->run && state_->run->thread.IsCurrent()) return true;
  for (const auto& run : state_->stale) {
    if (run->thread.IsCurrent()) return true;
  }
  return false;
}

}  // namespace tw::portwire
