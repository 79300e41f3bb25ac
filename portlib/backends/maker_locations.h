#pragma once
// Where the maker's driver software installs its libraries. Paths are composed
// the Windows way; the platform layer maps them on Linux (known_folders.h,
// module.h).

#include <string>

namespace tw::portwire {

// The driver's own folder for its bridge libraries: the "InstallLocation" of
// the driver's uninstall key + "\Drvbridge\", or, without that key (or with a
// value that is not a plain string), Program Files +
// "\OrlexNet\Beacon Viewer\Drvbridge\".
std::u16string DriverBridgeFolder();

// Program Files + `relative` (which begins with "\").
std::u16string InProgramFiles(const std::u16string& relative);

}  // namespace tw::portwire
