#include "platform/process.h"

// The parts of ChildProcess that are the same on every system.

namespace tw::platform {

ChildProcess::~ChildProcess() {
  if (IsRunning()) Terminate(std::chrono::milliseconds(2000));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : handle_(other.handle_), exitCode_(other.exitCode_) {
  other.handle_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (IsRunning()) Terminate(std::chrono::milliseconds(2000));
    handle_ = other.handle_;
    exitCode_ = other.exitCode_;
    other.handle_ = -1;
  }
  return *this;
}

}  // namespace tw::platform
