#include "portlib/manager/service_switch.h"

namespace tw::portwire {
namespace {

constexpr uint32_t kPollIntervalMs = 500;
constexpr uint64_t kLimitSeconds = 20;

}  // namespace

bool SetServiceRunning(const ServiceSwitchEnvironment& env, bool start, std::u16string_view service) {
  if (!env.openManager) return false;
  std::unique_ptr<platform::IServiceControlManager> manager = env.openManager();
  if (!manager) return false;
  std::unique_ptr<platform::IServiceHandle> handle = manager->OpenService(service);
  if (!handle) return false;

  const uint32_t wanted = start ? platform::kServiceRunning : platform::kServiceStopped;
  const uint32_t opposite = start ? platform::kServiceStopped : platform::kServiceRunning;
  const uint32_t pending = start ? platform::kServiceStartPending : platform::kServiceStopPending;
  auto sendControl = [&] { return start ? handle->Start() : handle->SendStop(); };

  std::optional<uint32_t> state = handle->QueryState();
  if (!state) return false;
  if (*state == wanted) return true;
  if (*state != opposite) return false;

  // The limit is counted in whole seconds from the first control.
  const uint64_t startSeconds = env.tickMs() / 1000;
  sendControl();
  for (;;) {
    env.sleep(kPollIntervalMs);
    state = handle->QueryState();
    if (!state) return false;
    if (*state == wanted) return true;
    if (*state == opposite) {
      sendControl();
    } else if (*state != pending) {
      return false;
    }
    if (env.tickMs() / 1000 - startSeconds > kLimitSeconds) return false;
  }
}

}  // namespace tw::portwire
