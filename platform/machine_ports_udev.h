#pragma once
// Linux only: one lock around every use of libudev in this process (the
// port listing and the device-change watcher). libudev objects belong to one
// context each, but the library sets up shared state lazily on first use
// without locking, so two threads must never be inside it at once. Never
// held while a client's handler runs.
#include <mutex>

namespace tw::platform {

std::mutex& UdevLock();

}  // namespace tw::platform
