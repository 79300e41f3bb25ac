#include "portlib/manager/installed_driver.h"

#include "platform/registry.h"

namespace tw::portwire {
namespace {

constexpr std::u16string_view kUninstallKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr std::u16string_view kDriverGen1 = u"ORLEX Zavav Printer Driver";
constexpr std::u16string_view kDriverGen3 = u"ORLEX Zavav Printer Driver 3";
constexpr std::u16string_view kDriverGen4 = u"ORLEX Zavav Printer Driver 4";
constexpr std::u16string_view kDriverGen4Key = u"SOFTWARE\\ORLEX\\ORLEX Zavav Printer Driver 4";
// Values are read into 260-unit buffers.
constexpr uint32_t kMaxValueBytes = 520;

}  // namespace

bool FindInstalledDriver(std::u16string_view productName, std::u16string& version) {
  const platform::RegistryKey uninstall = platform::RegistryKey::Open(platform::RegistryHive::kLocalMachine, kUninstallKey);
  if (!uninstall.IsOpen()) return false;
  for (uint32_t index = 0;; ++index) {
    const std::optional<std::u16string> name = uninstall.SubkeyName(index);
    if (!name) return false;
    const platform::RegistryKey entry = uninstall.OpenSubkey(*name);
    if (!entry.IsOpen()) continue;
    const std::optional<std::u16string> displayName = entry.ReadString(u"DisplayName", kMaxValueBytes);
    if (!displayName || *displayName != productName) continue;
    if (productName == kDriverGen4) {
      version = entry.ReadString(u"DisplayVersion", kMaxValueBytes).value_or(u"");
      const platform::RegistryKey driverKey =
          platform::RegistryKey::Open(platform::RegistryHive::kLocalMachine, kDriverGen4Key);
      if (driverKey.IsOpen()) {
        if (std::optional<std::u16string> installed = driverKey.ReadString(u"InstallVersion", kMaxValueBytes)) {
          version = *installed;
        }
      }
    }
    return true;
  }
}

bool IsLegacyDriverInstalled() {
  std::u16string version;
  if (FindInstalledDriver(kDriverGen1, version) || FindInstalledDriver(kDriverGen3, version)) return true;
  version.clear();
  if (!FindInstalledDriver(kDriverGen4, version)) return false;
  // Versions 4.00 to 4.08 predate the port service.
  return version.size() >= 4 && version[0] == u'4' && version[1] == u'.' && version[2] == u'0' &&
         version[3] >= u'0' && version[3] <= u'8';
}

}  // namespace tw::portwire
