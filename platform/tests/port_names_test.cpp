// The port name table on Linux: link folder first, default nodes second.
#include "platform/port_names.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>

#include "platform/process.h"

namespace tw::platform {
namespace {

namespace fs = std::filesystem;

class PortNames : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/port_names_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
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

TEST_F(PortNames, NumbersOutsideTheTable) {
  for (int n : {0, -1, kMaxComPort + 1}) EXPECT_FALSE(ResolveComPort(n)) << n;
  for (int n : {0, kMaxLptPort + 1}) EXPECT_FALSE(ResolveLptPort(n)) << n;
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

}  // namespace
}  // namespace tw::platform
