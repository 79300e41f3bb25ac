// The port name table: on Linux the link folder first, default nodes second;
// on Windows the system's own device names.
#include "platform/port_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "platform/process.h"

namespace tw::platform {
namespace {

namespace fs = std::filesystem;

TEST(PortNamesAnySystem, NumbersOutsideTheTableAndListedPortsResolve) {
  for (int n : {0, -1, kMaxComPort + 1}) EXPECT_FALSE(ResolveComPort(n)) << n;
  for (int n : {0, kMaxLptPort + 1}) EXPECT_FALSE(ResolveLptPort(n)) << n;
  const auto com = ListComPorts();
  EXPECT_TRUE(std::is_sorted(com.begin(), com.end()));
  for (int n : com) EXPECT_TRUE(ResolveComPort(n)) << n;
}

#ifdef _WIN32
TEST(PortNamesWindows, DeviceNamesOfTheSystem) {
  EXPECT_EQ(ResolveComPort(3), fs::path(L"\\\\.\\COM3"));
  EXPECT_EQ(ResolveLptPort(1), fs::path(L"\\\\.\\LPT1"));
}
#else
class PortNames : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("port_names_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    ASSERT_TRUE(fs::create_directories(dir));
    SetEnv("PORTWIRE_DOSDEVICES", dir.string());
  }
  void TearDown() override {
    SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
    fs::remove_all(dir);
  }
  fs::path dir;
};

TEST_F(PortNames, LinksWinOverDefaultNodes) {
  std::ofstream(dir / "target").put('x');
  fs::create_symlink(dir / "target", dir / "com40");
  fs::create_symlink(dir / "target", dir / "lpt3");
  fs::create_symlink(dir / "gone", dir / "com41");  // dangling: the port does not exist
  EXPECT_EQ(ResolveComPort(40), dir / "com40");
  EXPECT_EQ(ResolveLptPort(3), dir / "lpt3");
  EXPECT_EQ(ResolveComPort(2), fs::path("/dev/ttyS1"));
  EXPECT_EQ(ResolveLptPort(1), fs::path("/dev/lp0"));

  const auto com = ListComPorts();
  EXPECT_NE(std::find(com.begin(), com.end(), 40), com.end());
  EXPECT_EQ(std::find(com.begin(), com.end(), 41), com.end());
  EXPECT_TRUE(std::is_sorted(com.begin(), com.end()));
  for (int n : com) EXPECT_TRUE(fs::exists(*ResolveComPort(n))) << n;
  const auto lpt = ListLptPorts();
  EXPECT_NE(std::find(lpt.begin(), lpt.end(), 3), lpt.end());
}

TEST_F(PortNames, NamesTheTableDoesNotKnow) {
  std::ofstream(dir / "com999").put('x');  // not a port the table knows
  const auto com = ListComPorts();
  EXPECT_EQ(std::find(com.begin(), com.end(), 999), com.end());
}

TEST(PortNamesDefault, FolderDefaultsWhenUnset) {
  SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
  const fs::path link = fs::path(kDefaultDosDevicesFolder) / "com5";
  std::error_code ec;
  EXPECT_EQ(*ResolveComPort(5), fs::is_symlink(link, ec) ? link : fs::path("/dev/ttyS4"));
}
#endif

}  // namespace
}  // namespace tw::platform
