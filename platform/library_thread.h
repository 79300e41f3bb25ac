#pragma once
// Threads that a shared library starts for itself (monitors, notifiers,
// dispatchers), and the rule by which their owner stops them.
//
// A library may be unloaded while such a thread runs: the client frees it
// without its terminate call, or the process ends. Its static objects then
// stop the threads from inside the system's unload step. On Windows that
// step holds the loader's lock (DLL_PROCESS_DETACH), and a thread cannot end
// while that lock is held: a plain join there waits forever. So a thread
// owner calls LibraryThread::join instead of std::thread::join:
//
//   - Outside teardown it is an ordinary join.
//   - Inside a LibraryTeardownScope on Windows it waits only until the body
//     has returned and the thread has left the library's code, then lets the
//     thread end by itself once the loader lets go. No hang, and nothing of
//     the library runs after it is gone.
//
// Windows detail: every thread ends its body with one system call that both
// says "left" and parks the thread in a wait outside the library; join then
// ends the parked thread with ExitThread queued to it from outside. Threads
// cannot be started during teardown (their start would wait for the loader's
// lock and then run code that is no longer there): Start throws there, as
// std::thread does when no thread can be had.
//
// Linux: a std::thread underneath; unloading holds no lock that a thread's
// end needs, so join always joins.

#include <functional>
#include <memory>

namespace tw::platform {

class LibraryThread {
 public:
  LibraryThread() = default;
  // Starts `body` on a new thread. Throws std::system_error when no thread
  // can be started (also during teardown on Windows).
  explicit LibraryThread(std::function<void()> body);
  // A thread still joinable is joined (detached on the thread itself), where
  // std::thread would abort.
  ~LibraryThread();
  LibraryThread(LibraryThread&& other) noexcept;
  LibraryThread& operator=(LibraryThread&& other) noexcept;
  LibraryThread(const LibraryThread&) = delete;
  LibraryThread& operator=(const LibraryThread&) = delete;

  bool joinable() const;
  // The thread's end, by the rule above. Not from the thread itself.
  void join();
  // Lets the thread end by itself, for an owner that cannot wait: the thread
  // itself (a client callback that stops the library from its own thread).
  void detach();
  // True on the thread itself (a callback that stops its own thread must
  // not join it).
  bool IsCurrent() const;

  struct State;
  struct StateDeleter {
    void operator()(State* state) const;  // per system
  };

 private:
  std::unique_ptr<State, StateDeleter> state_;
};

// Marks the span in which the library's static objects are destroyed by the
// system's unload step (FreeLibrary without a terminate call; on Windows the
// process end leaves everything to the OS instead). Nested scopes count.
class LibraryTeardownScope {
 public:
  LibraryTeardownScope();
  ~LibraryTeardownScope();
  LibraryTeardownScope(const LibraryTeardownScope&) = delete;
  LibraryTeardownScope& operator=(const LibraryTeardownScope&) = delete;
};
// True inside a LibraryTeardownScope of this library.
bool InLibraryTeardown();

}  // namespace tw::platform
