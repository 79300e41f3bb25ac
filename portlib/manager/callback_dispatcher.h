#pragma once
// CCallbackDispatcher: the one thread on which the port manager calls the
// client's status, battery and raw status callbacks.
//
// The threads that receive and sort the printer's bytes (the direct backend's
// monitor, the driver software's callback threads, the link-lost reporter)
// only post an event here and go on at once. A callback that blocks, sleeps or
// calls a locked export (which waits while a KPC_Read holds the API lock)
// therefore never holds up the delivery of the reply that read waits for.
//
// Events are delivered one after another, in the order they were posted, with
// the values they were posted with. The callback pointer and user value are
// read when the event is delivered (the manager's Deliver function does that),
// so an unregistered callback is not called for events still queued.
//
// At most kMaxPendingEvents wait; beyond that the oldest is dropped and
// counted (a printer flooding status packets at a client whose callback
// sleeps must not grow memory).
//
// Start and stop of the thread live in StartThreadLocked and Stop only: the
// thread starts with the first posted event and is stopped by the manager's
// Close, Terminate and destruction.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace tw::portwire {

struct CallbackEvent {
  enum class Kind { kStatus, kRawStatus, kBattery };
  static constexpr size_t kMaxBytes = 16;

  Kind kind = Kind::kStatus;
  int32_t value = 0;      // status code, raw kind or battery value
  bool hasBytes = false;  // raw status: null bytes (link lost) when false
  // A copy of the raw status bytes, zero-padded: the client reads them after
  // the producer's buffer is gone.
  std::array<uint8_t, kMaxBytes> bytes{};
};

class CCallbackDispatcher {
 public:
  static constexpr size_t kMaxPendingEvents = 4096;
  // How long destruction waits for a callback to return.
  static constexpr int kDestructionWaitMs = 1000;

  // `deliver` calls the client for one event (on the dispatcher thread).
  explicit CCallbackDispatcher(std::function<void(const CallbackEvent&)> deliver);
  // Stops the thread; one that does not end in time is detached.
  ~CCallbackDispatcher();
  CCallbackDispatcher(const CCallbackDispatcher&) = delete;
  CCallbackDispatcher& operator=(const CCallbackDispatcher&) = delete;

  // Queues one event and starts the thread when none runs. Never waits for a
  // callback. After Shutdown events are discarded.
  void Post(const CallbackEvent& event);

  // Lets the thread deliver what is queued and end; waits at most waitMs for
  // that. A thread still inside a callback after that drops the rest when
  // the callback returns and is joined later (next start, or destruction).
  // Called on the dispatcher thread itself (a callback that closes the port)
  // it only asks the thread to end.
  void Stop(int waitMs);
  // Stop, and no thread starts any more (the manager goes away).
  void Shutdown(int waitMs);

  // Waits until every posted event was delivered; false after waitMs.
  bool WaitIdle(int waitMs);
  // Events dropped because the queue was full, since construction.
  uint64_t Dropped() const;
  // True on the dispatcher thread.
  bool OnDispatcherThread() const;

 private:
  struct Run;
  struct State;
  static void StartThreadLocked(const std::shared_ptr<State>& state);
  static void Loop(const std::shared_ptr<State>& state, const std::shared_ptr<Run>& run);
  static void JoinStale(State& state, bool blocking);

  // Shared with the threads, so that a thread left inside a client callback
  // at destruction finds its queue and lock still there when it returns.
  std::shared_ptr<State> state_;
};

}  // namespace tw::portwire
