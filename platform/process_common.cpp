#include "platform/process.h"

// The parts of ChildProcess that are the same on every system.

namespace tw::platform {

ChildProcess::~ChildProcess() {
  if (IsRunning()) Terminate(std::chrono::milliseconds(2000));
  CloseErrorPipe();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : handle_(other.handle_),
      exitCode_(other.exitCode_),
      errorPipe_(other.errorPipe_),
      errorOutput_(std::move(other.errorOutput_)) {
  other.handle_ = -1;
  other.errorPipe_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (IsRunning()) Terminate(std::chrono::milliseconds(2000));
    CloseErrorPipe();
    handle_ = other.handle_;
    exitCode_ = other.exitCode_;
    errorPipe_ = other.errorPipe_;
    errorOutput_ = std::move(other.errorOutput_);
    other.handle_ = -1;
    other.errorPipe_ = -1;
  }
  return *this;
}

}  // namespace tw::platform
