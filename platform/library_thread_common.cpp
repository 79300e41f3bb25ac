#include <atomic>

#include "platform/library_thread.h"

namespace tw::platform {
namespace {

// One per library: every module links its own copy of the platform layer.
std::atomic<int> g_teardownDepth{0};

}  // namespace

LibraryTeardownScope::LibraryTeardownScope() { g_teardownDepth.fetch_add(1); }
LibraryTeardownScope::~LibraryTeardownScope() { g_teardownDepth.fetch_sub(1); }
bool InLibraryTeardown() { return g_teardownDepth.load() > 0; }

LibraryThread::LibraryThread(LibraryThread&& other) noexcept : state_(std::move(other.state_)) {}

LibraryThread& LibraryThread::operator=(LibraryThread&& other) noexcept {
  if (this != &other) {
    if (joinable()) join();
    state_ = std::move(other.state_);
  }
  return *this;
}

LibraryThread::~LibraryThread() {
  if (!joinable()) return;
  if (IsCurrent()) {
    detach();
  } else {
    join();
  }
}

}  // namespace tw::platform
