// Who may open a device node and what fixes it, checked as the user "nobody"
// (the test runs as root and drops its rights in a child process).
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/port_access.h"

namespace fs = std::filesystem;
using tw::platform::CheckPortAccess;

namespace {

// CheckPortAccess(node) as the user nobody: "1" or "0:<fix>".
std::string AsNobody(const std::string& node) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    const passwd* nobody = getpwnam("nobody");
    if (!nobody || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
    const auto a = CheckPortAccess(node);
    const std::string out = a.mayOpen ? "1" : "0:" + a.fix;
    (void)!write(pipeFds[1], out.data(), out.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string out;
  char buffer[512];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "child failed";
}

class PortAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || getpwnam("nobody") == nullptr) GTEST_SKIP() << "needs root and the user nobody";
    dir_ = fs::temp_directory_path() / ("port-access-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    chmod(dir_.c_str(), 0755);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  std::string Node(const char* name, mode_t mode, gid_t gid) {
    const fs::path p = dir_ / name;
    std::ofstream(p).put('x');
    EXPECT_EQ(chown(p.c_str(), 0, gid), 0);
    EXPECT_EQ(chmod(p.c_str(), mode), 0);
    return p.string();
  }
  fs::path dir_;
};

}  // namespace

TEST_F(PortAccess, GroupNodesNameTheGroupRootNodesAUdevRule) {
  const group* dialout = getgrnam("dialout");
  if (dialout != nullptr) {
    const std::string out = AsNobody(Node("ttyUSB0", 0660, dialout->gr_gid));
    EXPECT_EQ(out, "0:add the user to group dialout (sudo usermod -aG dialout $USER), then log in again");
  }
  const std::string rootOnly = AsNobody(Node("ttyACM0", 0600, 0));
  EXPECT_EQ(rootOnly.rfind("0:only root may open it: a udev rule", 0), 0u) << rootOnly;
  EXPECT_NE(rootOnly.find("GROUP=\"dialout\""), std::string::npos) << rootOnly;
  EXPECT_EQ(AsNobody(Node("lp0", 0666, 0)), "1");
}

TEST(PortAccessNodes, MissingNodesSayWhatIsMissing) {
  const auto usblp = CheckPortAccess("/dev/usb/lp97");
  EXPECT_FALSE(usblp.mayOpen);
  EXPECT_EQ(usblp.fix, "no /dev/usb/lp97: load the usblp module (sudo modprobe usblp)");
  EXPECT_FALSE(CheckPortAccess("").mayOpen);
  const auto gone = CheckPortAccess("/nonexistent/com3");
  EXPECT_NE(gone.fix.find("gone"), std::string::npos) << gone.fix;
}
