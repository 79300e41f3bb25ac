#pragma once
// Stopping or starting a system service and waiting until it has done so.
// The manager stops the print spooler and the maker's driver services while an
// older driver generation is installed, and starts them again at unload.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/service_control.h"

namespace tw::portwire {

struct ServiceSwitchEnvironment {
  std::function<std::unique_ptr<platform::IServiceControlManager>()> openManager;
  std::function<void(uint32_t ms)> sleep;
  std::function<uint64_t()> tickMs;
};

// Brings `service` into the running (start) or stopped (!start) state.
// Already there: true at once. Otherwise sends the control, then polls every
// 500 ms: the wanted state gives true; the opposite steady state sends the
// control again; any state other than the matching pending state gives false;
// more than 20 whole seconds after the first control gives false. Failures to
// open the manager or the service give false. Handles are closed on every path.
bool SetServiceRunning(const ServiceSwitchEnvironment& env, bool start, std::u16string_view service);

}  // namespace tw::portwire
