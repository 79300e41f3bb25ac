#include "platform/service_control.h"

namespace tw::platform {

// No service control manager on Linux: the services in question do not exist.
std::unique_ptr<IServiceControlManager> OpenServiceControlManager() { return nullptr; }

}  // namespace tw::platform
