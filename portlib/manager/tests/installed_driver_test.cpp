// Detection of an older driver generation on a staged registry tree.

#include "portlib/manager/installed_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/process.h"
#include "platform/registry.h"

namespace tw::portwire {
namespace {

namespace fs = std::filesystem;

class StagedRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!platform::RegistryIsStaged()) GTEST_SKIP() << "the system registry is not staged";
    root_ = fs::temp_directory_path() /
            ("pw-reg-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    saved_ = platform::GetEnv("PORTWIRE_REGISTRY_ROOT");
    platform::SetEnv("PORTWIRE_REGISTRY_ROOT", root_.string());
  }
  void TearDown() override {
    if (root_.empty()) return;
    platform::SetEnv("PORTWIRE_REGISTRY_ROOT", saved_);
    fs::remove_all(root_);
  }
  void Key(const std::string& path, const std::string& values) {
    const fs::path folder = root_ / "HKEY_LOCAL_MACHINE" / path;
    fs::create_directories(folder);
    std::ofstream(folder / "values") << values;
  }
  void Uninstall(const std::string& id, const std::string& values) {
    Key("SOFTWARE/Microsoft/Windows/CurrentVersion/Uninstall/" + id, values);
  }

  fs::path root_;
  std::optional<std::string> saved_;
};

TEST_F(StagedRegistry, FourthGenerationIsLegacyUpToVersion408) {
  Uninstall("{A}", "DisplayName=Some Other Product\nDisplayVersion=4.01\n");
  Uninstall("{B}", "DisplayName=ORLEX Zavav Printer Driver 4\nDisplayVersion=4.08\n");
  EXPECT_TRUE(IsLegacyDriverInstalled());
  Uninstall("{B}", "DisplayName=ORLEX Zavav Printer Driver 4\nDisplayVersion=4.09\n");
  EXPECT_FALSE(IsLegacyDriverInstalled());
  Uninstall("{B}", "DisplayName=ORLEX Zavav Printer Driver 4\nDisplayVersion=4.00a\n");
  EXPECT_TRUE(IsLegacyDriverInstalled());
  Uninstall("{B}", "DisplayName=ORLEX Zavav Printer Driver 4\nDisplayVersion=4.1\n");
  EXPECT_FALSE(IsLegacyDriverInstalled());
}

TEST_F(StagedRegistry, DriversOwnInstallVersionOverridesTheUninstallEntry) {
  Uninstall("{B}", "DisplayName=ORLEX Zavav Printer Driver 4\nDisplayVersion=4.20\n");
  Key("SOFTWARE/ORLEX/ORLEX Zavav Printer Driver 4", "InstallVersion=4.05.1\n");
  std::u16string version;
  EXPECT_TRUE(FindInstalledDriver(u"ORLEX Zavav Printer Driver 4", version));
  EXPECT_EQ(version, u"4.05.1");
  EXPECT_TRUE(IsLegacyDriverInstalled());
}

TEST_F(StagedRegistry, OlderGenerationsAreLegacyWhateverTheirVersion) {
  EXPECT_FALSE(IsLegacyDriverInstalled());
  Uninstall("{C}", "DisplayName=ORLEX Zavav Printer Driver 3\nDisplayVersion=9.99\n");
  EXPECT_TRUE(IsLegacyDriverInstalled());
  std::u16string version = u"untouched";
  EXPECT_TRUE(FindInstalledDriver(u"ORLEX Zavav Printer Driver 3", version));
  EXPECT_EQ(version, u"untouched");  // versions are read for the fourth generation only
  EXPECT_FALSE(FindInstalledDriver(u"ORLEX Zavav Printer", version));  // exact names only
}

TEST_F(StagedRegistry, NoTreeMeansNothingInstalled) {
  Uninstall("{C}", "DisplayName=ORLEX Zavav Printer Driver\n");
  platform::SetEnv("PORTWIRE_REGISTRY_ROOT", std::nullopt);
  EXPECT_FALSE(IsLegacyDriverInstalled());
}

}  // namespace
}  // namespace tw::portwire
