// Library threads on Linux: std::thread. Unloading a library (dlclose) holds
// no lock that a thread's end needs, so join is an ordinary join.
#include <thread>

#include "platform/library_thread.h"

namespace tw::platform {

struct LibraryThread::State {
  std::thread thread;
};

void LibraryThread::StateDeleter::operator()(State* state) const { delete state; }

LibraryThread::LibraryThread(std::function<void()> body) : state_(new State()) {
  state_->thread = std::thread(std::move(body));
}

bool LibraryThread::joinable() const { return state_ && state_->thread.joinable(); }

void LibraryThread::join() {
  if (!joinable()) return;
  state_->thread.join();
  state_.reset();
}

void LibraryThread::detach() {
  if (!joinable()) return;
  state_->thread.detach();
  state_.reset();
}

bool LibraryThread::IsCurrent() const {
  return state_ && state_->thread.get_id() == std::this_thread::get_id();
}

}  // namespace tw::platform
