// Library threads on Windows: threads of their own (CreateThread), so that
// the library decides the last instruction each one runs in its code.
//
// Every thread ends its body by parking: SignalObjectAndWait sets "left" and
// enters an alertable wait on an event that is never set, in one system call,
// so once "left" is seen the thread will not run any of the library's code
// again. Outside teardown join then queues ExitThread to it as an
// asynchronous procedure call (an orderly end from inside the system's wait)
// and waits for that end. During teardown (loader's lock held) an orderly end
// would wait for that lock: join ends the parked thread where it waits
// instead, which needs no lock, and waits for that, so no thread of the
// library is left when its code goes.
#include <windows.h>

#include <atomic>
#include <system_error>

#include "platform/library_thread.h"

namespace tw::platform {
namespace {

// How long teardown waits for a thread to reach its end before it gives up
// on it (a thread stuck inside a loader call could never get there).
constexpr DWORD kTeardownWaitMs = 5000;

enum Phase : int { kRunning = 0, kParking = 1, kDetached = 2 };

// ExitThread itself, from kernel32, as the procedure queued to a parked
// thread: a function of this library would be gone by the time it runs. (A
// plain &ExitThread may name this library's import stub.) ExitThread takes
// one 32-bit value with the same convention as an APC procedure.
PAPCFUNC ExitThreadProcedure() {
  static const auto procedure = reinterpret_cast<PAPCFUNC>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ExitThread")));
  return procedure;
}

void EndParkedThread(HANDLE thread) { QueueUserAPC(ExitThreadProcedure(), thread, 0); }

}  // namespace

struct LibraryThread::State {
  std::function<void()> body;
  HANDLE thread = nullptr;
  DWORD id = 0;
  HANDLE left = nullptr;   // manual reset; set by the thread as it parks
  HANDLE never = nullptr;  // never set: the thread's last wait
  std::atomic<bool> started{false};
  std::atomic<int> phase{kRunning};
};

void LibraryThread::StateDeleter::operator()(State* state) const { delete state; }

namespace {

// During teardown (loader's lock held): ends a thread so that it never runs
// the library's code again. A thread that has not begun waits for that lock
// to begin: it cannot begin while we look, and waiting for it is pointless.
// One parked at its end holds nothing; one that never got there (stuck in a
// loader call, or in a client's callback) must not run on into code that is
// about to go.
void EndInTeardown(LibraryThread::State& st) {
  if (st.started.load()) WaitForSingleObject(st.left, kTeardownWaitMs);
  TerminateThread(st.thread, 0);
  WaitForSingleObject(st.thread, kTeardownWaitMs);
}

DWORD WINAPI ThreadEntry(void* p) {
  auto* st = static_cast<LibraryThread::State*>(p);
  st->started.store(true);
  try {
    std::function<void()> body = std::move(st->body);
    body();
  } catch (...) {
    // Nothing may leave a library thread; the owner sees it end as usual.
  }
  int expected = kRunning;
  if (!st->phase.compare_exchange_strong(expected, kParking)) return 0;  // detached: ends on its own
  // The owner may free `st` once "left" is set: keep the handles here.
  const HANDLE left = st->left;
  const HANDLE never = st->never;
  SignalObjectAndWait(left, never, INFINITE, TRUE);
  for (;;) WaitForSingleObjectEx(never, INFINITE, TRUE);  // only the owner ends this thread
}

}  // namespace

LibraryThread::LibraryThread(std::function<void()> body) {
  const auto fail = [] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); };
  // A thread started now would first wait for the loader's lock, then run
  // code that is gone.
  if (InLibraryTeardown()) fail();
  std::unique_ptr<State, StateDeleter> st(new State());
  st->body = std::move(body);
  st->left = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  st->never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (st->left) st->thread = CreateThread(nullptr, 0, ThreadEntry, st.get(), 0, &st->id);
  if (!st->thread) {
    if (st->left) CloseHandle(st->left);
    if (st->never) CloseHandle(st->never);
    fail();
  }
  state_ = std::move(st);
}

bool LibraryThread::joinable() const { return state_ != nullptr; }

bool LibraryThread::IsCurrent() const { return state_ && state_->id == GetCurrentThreadId(); }

void LibraryThread::join() {
  if (!state_) return;
  State& st = *state_;
  if (!InLibraryTeardown()) {
    WaitForSingleObject(st.left, INFINITE);
    EndParkedThread(st.thread);
    WaitForSingleObject(st.thread, INFINITE);
  } else {
    // The loader's lock is held: an orderly end would wait for it.
    EndInTeardown(st);
  }
  CloseHandle(st.never);
  CloseHandle(st.left);
  CloseHandle(st.thread);
  state_.reset();
}



void LibraryThread::detach() {
  if (!state_) return;
  if (InLibraryTeardown() && !IsCurrent()) {
    // Left to itself, the thread would begin, or return from a client's
    // callback, into code that is gone once the loader lock is released.
    EndInTeardown(*state_);
    CloseHandle(state_->never);
    CloseHandle(state_->left);
    CloseHandle(state_->thread);
    state_.reset();
    return;
  }
  State* st = state_.release();
  int expected = kRunning;
  if (st->phase.compare_exchange_strong(expected, kDetached)) {
    // The thread returns on its own and never touches its state again...
    // except that it already read it: the state stays (a few bytes, only on
    // this rare path).
    CloseHandle(st->thread);
    return;
  }
  // Already on its way to park: let it, then end it.
  WaitForSingleObject(st->left, INFINITE);
  EndParkedThread(st->thread);
  CloseHandle(st->thread);
}

}  // namespace tw::platform
