// Who may open a port's device, and what the user is told to do otherwise.
#include "platform/port_access.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#endif

namespace tw::platform {
namespace {

constexpr int kDenied = 13;  // EACCES

NodeFacts Node(unsigned mode, unsigned gid, const char* group) {
  NodeFacts f;
  f.exists = true;
  f.accessError = kDenied;
  f.mode = mode;
  f.groupGid = gid;
  f.groupName = group;
  return f;
}

TEST(PortAccessJudgement, GrantedOrMissing) {
  NodeFacts granted = Node(0660, 20, "dialout");
  granted.accessError = 0;
  const PortAccess ok = JudgePortAccess("/dev/ttyUSB0", DeviceAccess::kSerial, granted, {});
  EXPECT_TRUE(ok.mayOpen);
  EXPECT_EQ(ok.fix, "");
  EXPECT_EQ(ok.reason, "");

  const PortAccess gone = JudgePortAccess("/dev/ttyUSB0", DeviceAccess::kSerial, NodeFacts{}, {});
  EXPECT_FALSE(gone.mayOpen);
  EXPECT_NE(gone.reason, "");
  EXPECT_NE(gone.fix.find("not present"), std::string::npos) << gone.fix;
  // A printer-class node that is not there: usblp is what makes it.
  const PortAccess noLp = JudgePortAccess("/dev/usb/lp0", DeviceAccess::kUsbPrinter, NodeFacts{}, {});
  EXPECT_NE(noLp.fix.find("modprobe usblp"), std::string::npos) << noLp.fix;
}

TEST(PortAccessJudgement, GroupToJoinOrSessionToRenew) {
  const PortAccess join = JudgePortAccess("/dev/ttyUSB0", DeviceAccess::kSerial, Node(0660, 20, "dialout"), {});
  EXPECT_FALSE(join.mayOpen);
  EXPECT_EQ(join.group, "dialout");
  EXPECT_EQ(join.fix, "members of group dialout may open it: sudo usermod -aG dialout $USER, then log in again");
  EXPECT_NE(join.reason, "");

  // The node's own group counts, whatever the kind would suggest.
  const PortAccess lp = JudgePortAccess("/dev/usb/lp0", DeviceAccess::kUsbPrinter, Node(0660, 7, "lp"), {});
  EXPECT_EQ(lp.group, "lp");

  UserFacts joinedLater;
  joinedLater.inNodeGroupListed = true;
  const PortAccess relog = JudgePortAccess("/dev/ttyS0", DeviceAccess::kSerial, Node(0660, 20, "dialout"), joinedLater);
  EXPECT_EQ(relog.group, "dialout");
  EXPECT_NE(relog.fix.find("log in again"), std::string::npos);
  EXPECT_EQ(relog.fix.find("usermod"), std::string::npos) << relog.fix;
}

TEST(PortAccessJudgement, NoGroupMayOpen) {
  // Group without write access, or the root group: joining would not help.
  for (const NodeFacts& f : {Node(0640, 20, "dialout"), Node(0660, 0, "root"), Node(0660, 20, "")}) {
    const PortAccess a = JudgePortAccess("/dev/ttyS0", DeviceAccess::kSerial, f, {});
    EXPECT_FALSE(a.mayOpen);
    EXPECT_EQ(a.group, "");
    EXPECT_NE(a.fix.find("GROUP=\"dialout\""), std::string::npos) << a.fix;
  }
  const PortAccess vendor =
      JudgePortAccess("/dev/bus/usb/001/004", DeviceAccess::kUsbVendor, Node(0664, 0, "root"), {});
  EXPECT_NE(vendor.fix.find("70-trimsense.rules"), std::string::npos) << vendor.fix;
  EXPECT_EQ(vendor.fix.find("usblp"), std::string::npos) << vendor.fix;
  // A printer-class device that no driver claimed is reached through its bus node.
  const PortAccess unclaimed =
      JudgePortAccess("/dev/bus/usb/001/004", DeviceAccess::kUsbPrinter, Node(0664, 0, "root"), {});
  EXPECT_NE(unclaimed.fix.find("usblp"), std::string::npos) << unclaimed.fix;
  EXPECT_NE(unclaimed.fix.find("70-trimsense.rules"), std::string::npos) << unclaimed.fix;
}

#ifndef _WIN32
TEST(PortAccessCheck, RealNodesForThisUserAndForNobody) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("port_access_" + std::to_string(getpid()));
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(CheckPortAccess(file.string(), DeviceAccess::kSerial).mayOpen);
  EXPECT_FALSE(CheckPortAccess((file.string() + ".none"), DeviceAccess::kSerial).mayOpen);

  // Only root can become another user; the judgement then sees what that
  // user's process sees.
  const group* dialout = getgrnam("dialout");
  if (geteuid() != 0 || !dialout) {
    std::filesystem::remove(file);
    GTEST_SKIP() << "needs root and a dialout group to act as another user";
  }
  ASSERT_EQ(chown(file.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(file.c_str(), 0660), 0);
  const pid_t child = fork();
  if (child == 0) {
    const gid_t none = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(none) != 0 || setuid(65534) != 0) _exit(10);
    const PortAccess a = CheckPortAccess(file.string(), DeviceAccess::kSerial);
    _exit(!a.mayOpen && a.group == "dialout" && a.fix.find("usermod -aG dialout") != std::string::npos ? 0 : 11);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  std::filesystem::remove(file);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace tw::platform
