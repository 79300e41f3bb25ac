#pragma once
// Stopping and starting a named system service.
//
// Windows: the service control manager. Linux has none of the services the
// library deals with (the print spooler and the maker's driver services), so
// OpenServiceControlManager reports failure there and callers go on without
// them. Tests drive the callers through a double of these two interfaces.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace tw::platform {

// Current states of a service, numbered as the service control manager does.
enum ServiceState : uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
};

// One opened service; the handle is closed by the destructor.
class IServiceHandle {
 public:
  virtual ~IServiceHandle() = default;
  // The current state, or nothing when it cannot be queried.
  virtual std::optional<uint32_t> QueryState() = 0;
  // Sends the stop control; false when it was refused.
  virtual bool SendStop() = 0;
  // Asks the service to start; false when it was refused.
  virtual bool Start() = 0;
};

// The opened service control manager; closed by the destructor.
class IServiceControlManager {
 public:
  virtual ~IServiceControlManager() = default;
  // Opens a service for querying, starting and stopping; null on failure.
  virtual std::unique_ptr<IServiceHandle> OpenService(std::u16string_view name) = 0;
};

// Opens the system's service control manager; null on failure (always on Linux).
std::unique_ptr<IServiceControlManager> OpenServiceControlManager();

}  // namespace tw::platform
