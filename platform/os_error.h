#pragma once
// The system's own words for an error number, and who may open a device, so
// that a program can tell its user why a port did not open.

#include <string>

namespace tw::platform {

// errno on Linux, GetLastError / WSAGetLastError on Windows, as text (UTF-8,
// no line end): "Permission denied", "No such file or directory", ...
std::string OsErrorText(int osError);

// Kinds of device as far as access rights go.
// kUsbPrinter: a printer-class device (/dev/usb/lpN, or its bus node when no
// driver claimed it); kUsbVendor: a vendor-class device's bus node.
enum class DeviceAccess { kSerial, kParallel, kUsbPrinter, kUsbVendor, kOther };

// Linux: when `osError` denies permission, the group whose members may open
// such a device ("dialout" for serial lines, "lp" for parallel ports and USB
// printers). Empty otherwise, and always on Windows, where no group grants
// access to a port.
std::string AccessGroupFor(DeviceAccess kind, int osError);

}  // namespace tw::platform
