#pragma once
// Detection of the maker's installed printer driver software, read from the
// uninstall entries of the registry (platform/registry.h).

#include <string>
#include <string_view>

namespace tw::portwire {

// Looks for an uninstall entry whose "DisplayName" equals `productName`
// exactly. For the fourth generation ("ORLEX Zavav Printer Driver 4")
// `version` receives its "DisplayVersion", replaced by the "InstallVersion" of
// the driver's own key when that exists. False when no entry matches.
bool FindInstalledDriver(std::u16string_view productName, std::u16string& version);

// True when an older generation of the driver is installed: the first or third
// generation, or the fourth generation in a version 4.00 to 4.08.
bool IsLegacyDriverInstalled();

}  // namespace tw::portwire
