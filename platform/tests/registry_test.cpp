// The registry on this system. On Linux a staged folder tree; the test skips
// elsewhere, where it would read the real registry.

#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/process.h"

namespace tw::platform {
namespace {

namespace fs = std::filesystem;

class RegistryTree : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RegistryIsStaged()) GTEST_SKIP() << "the system registry is not staged";
    root_ = fs::temp_directory_path() / ("pw-registry-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(root_);
    saved_ = GetEnv("PORTWIRE_REGISTRY_ROOT");
    SetEnv("PORTWIRE_REGISTRY_ROOT", root_.string());
    const fs::path uninstall = root_ / "HKEY_LOCAL_MACHINE/SOFTWARE/Microsoft/Windows/CurrentVersion/Uninstall";
    for (const char* key : {"zeta", "Alpha", "beta"}) fs::create_directories(uninstall / key);
    std::ofstream(uninstall / "beta" / "values")
        << "# staged by a test\n\nDisplayName=Beta Product\r\nInstallLocation:expand=C:\\Beta\n"
        << "Flags:dword=0x1F\nBad:dword=12x\nEquals=a=b\nLong=" << std::string(300, 'L') << "\n";
  }
  void TearDown() override {
    if (root_.empty()) return;
    SetEnv("PORTWIRE_REGISTRY_ROOT", saved_);
    fs::remove_all(root_);
  }

  fs::path root_;
  std::optional<std::string> saved_;
};

TEST_F(RegistryTree, KeysOpenIgnoringCaseAndEnumerateInNameOrder) {
  RegistryKey key = RegistryKey::Open(RegistryHive::kLocalMachine, u"software\\MICROSOFT\\Windows\\CurrentVersion\\Uninstall");
  ASSERT_TRUE(key.IsOpen());
  EXPECT_EQ(key.SubkeyName(0), u"Alpha");
  EXPECT_EQ(key.SubkeyName(1), u"beta");
  EXPECT_EQ(key.SubkeyName(2), u"zeta");
  EXPECT_FALSE(key.SubkeyName(3).has_value());
  EXPECT_TRUE(key.OpenSubkey(u"BETA").IsOpen());
  EXPECT_FALSE(key.OpenSubkey(u"gamma").IsOpen());
  EXPECT_FALSE(key.OpenSubkey(u"..").IsOpen());
  EXPECT_FALSE(RegistryKey::Open(RegistryHive::kLocalMachine, u"SOFTWARE\\Nothing").IsOpen());
}

TEST_F(RegistryTree, ValuesByTypeAndSize) {
  RegistryKey key = RegistryKey::Open(RegistryHive::kLocalMachine,
                                      u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\beta");
  ASSERT_TRUE(key.IsOpen());
  EXPECT_EQ(key.ReadString(u"displayname", 520), u"Beta Product");  // the line end is not part of it
  std::optional<RegistryValue> location = key.ReadValue(u"InstallLocation", 520);
  ASSERT_TRUE(location.has_value());
  EXPECT_EQ(location->type, RegistryValueType::kExpandString);
  EXPECT_EQ(location->text, u"C:\\Beta");
  std::optional<RegistryValue> flags = key.ReadValue(u"Flags", 4);
  ASSERT_TRUE(flags.has_value());
  EXPECT_EQ(flags->number, 0x1Fu);
  EXPECT_FALSE(key.ReadString(u"Flags", 520).has_value());
  EXPECT_FALSE(key.ReadValue(u"Bad", 520).has_value());
  EXPECT_EQ(key.ReadString(u"Equals", 520), u"a=b");
  // 300 characters need 602 bytes with their terminator.
  EXPECT_FALSE(key.ReadString(u"Long", 520).has_value());
  EXPECT_TRUE(key.ReadString(u"Long", 602).has_value());
  EXPECT_FALSE(key.ReadString(u"Missing", 520).has_value());
  EXPECT_FALSE(RegistryKey().ReadString(u"DisplayName", 520).has_value());
}

TEST_F(RegistryTree, WithoutARootNoKeyExists) {
  SetEnv("PORTWIRE_REGISTRY_ROOT", std::nullopt);
  EXPECT_FALSE(RegistryKey::Open(RegistryHive::kLocalMachine, u"SOFTWARE").IsOpen());
}

}  // namespace
}  // namespace tw::platform
