#pragma once
// The line on standard error that says why a port did not open. Standard
// output keeps its fixed text; this line is for the person at the console:
// the port and the device that was tried, the system's reason in words and,
// where a group grants access to such ports, which one.

#include <cstdint>
#include <string>

#include "shared/port_settings.h"

namespace tw::console {

// What the port-access library reports about its last failed open.
struct OpenFailure {
  bool known = false;   // false: no reason to be had (another library, or none)
  int32_t osError = 0;  // errno / GetLastError; 0 when no system call failed
  std::string device;   // the device or address that was tried (UTF-8)
};

// "Trimsense: cannot open COM5 (/dev/ttyS4): Permission denied; members of
// group dialout may open it" and the like, without a line end.
std::string DescribeOpenFailure(const PortSettings& settings, const OpenFailure& failure);

}  // namespace tw::console
