#include "platform/os_error.h"

#include <cerrno>
#include <cstring>

namespace tw::platform {

std::string OsErrorText(int osError) {
  char buffer[256] = {};
  // GNU strerror_r: returns the text, which may or may not be in `buffer`.
  const char* text = strerror_r(osError, buffer, sizeof buffer);
  return text ? text : "error " + std::to_string(osError);
}

std::string AccessGroupFor(DeviceAccess kind, int osError) {
  if (osError != EACCES && osError != EPERM) return {};
  switch (kind) {
    case DeviceAccess::kSerial: return "dialout";
    case DeviceAccess::kParallel:
    case DeviceAccess::kUsbPrinter: return "lp";
    case DeviceAccess::kUsbVendor:  // only the package's udev rule gives lp access
    case DeviceAccess::kOther: return {};
  }
  return {};
}

}  // namespace tw::platform
