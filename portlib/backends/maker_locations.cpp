#include "portlib/backends/maker_locations.h"

#include "platform/known_folders.h"
#include "platform/registry.h"

namespace tw::portwire {
namespace {

constexpr char16_t kUninstallKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7E21C9D4-5A08-4F63-9B1E-2D47A0C3E815}";
constexpr uint32_t kMaxLocationBytes = 520;

}  // namespace

std::u16string InProgramFiles(const std::u16string& relative) {
  return platform::ProgramFilesFolder() + relative;
}

std::u16string DriverBridgeFolder() {
  const platform::RegistryKey key = platform::RegistryKey::Open(platform::RegistryHive::kLocalMachine, kUninstallKey);
  if (key.IsOpen()) {
    const auto value = key.ReadValue(u"InstallLocation", kMaxLocationBytes);
    if (value && value->type == platform::RegistryValueType::kString) return value->text + u"\\Drvbridge\\";
  }
  return InProgramFiles(u"\\OrlexNet\\Beacon Viewer\\Drvbridge\\");
}

}  // namespace tw::portwire
