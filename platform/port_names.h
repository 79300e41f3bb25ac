#pragma once
// The port name table: which device stands behind COMn and LPTn.
//
// Windows: the system's own DOS device names. COMn opens as "\\.\COMn", LPTn as
// "\\.\LPTn"; a port exists when QueryDosDeviceW knows its name.
//
// Linux: a folder of symbolic links named "comN" and "lptN" (lower case, like
// Wine's dosdevices folder), given by the environment variable
// PORTWIRE_DOSDEVICES; without it the folder is kDefaultDosDevicesFolder.
// Without a link, COMn means the device of the COM number table in
// machine_ports.h (/dev/ttyS(n-1) for n <= 32, then ttyUSB, ttyACM and rfcomm
// ranges) and LPTn means /dev/lp(n-1). The lists are those of the machine-ports
// service, so listing and opening never disagree.

#include <filesystem>
#include <optional>
#include <vector>

namespace tw::platform {

// Linux folder of comN/lptN links when PORTWIRE_DOSDEVICES is not set.
inline constexpr const char* kDefaultDosDevicesFolder = "/var/lib/portwire/dosdevices";

// Highest port numbers the table knows.
inline constexpr int kMaxComPort = 256;
inline constexpr int kMaxLptPort = 9;

// The device to open for COMn / LPTn, whether or not it exists; nullopt for a
// number outside 1..kMaxComPort / 1..kMaxLptPort.
std::optional<std::filesystem::path> ResolveComPort(int n);
std::optional<std::filesystem::path> ResolveLptPort(int n);

// Numbers of the COM / LPT ports that exist, ascending.
std::vector<int> ListComPorts();
std::vector<int> ListLptPorts();

}  // namespace tw::platform
