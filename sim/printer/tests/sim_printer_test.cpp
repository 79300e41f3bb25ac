// The simulated printer behind its endpoints, and its report (127.0.0.65).
#include "sim/printer/sim_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tw::sim {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

int Connect(const char* address) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(9100);
  ::inet_pton(AF_INET, address, &a.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(SimPrinter, ReportFileFollowsEveryChangeAndPtyLinkIsManaged) {
  char tmpl[] = "/tmp/kps410_sim_XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  SimConfig c;
  c.tcpAddress = "127.0.0.65";
  c.ptyDir = dir;
  c.comNumber = 4;
  c.reportFile = dir / "report.txt";
  c.resetMs = 0;
  {
    SimPrinter sim(c);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    EXPECT_TRUE(fs::is_symlink(dir / "com4"));
    EXPECT_EQ(fs::read_symlink(dir / "com4").string(), sim.Report().ptyPath);

    const int fd = Connect("127.0.0.65");
    ASSERT_GE(fd, 0);
    const std::uint8_t cmds[] = {0x1C, 0x7C, 0x7F, 0x24, 0x01, 0xFE, 0x80, 0x00, 0x00,
                                 0x1C, 0x7C, 0x7F, 0x24, 0x16, 0xE9, 0x0B, 0x03, 0x00, 0x0B, 0x23, 0xD1,
                                 0x1C, 0x7C, 0x7F, 0x24, 0x02, 0xFD, 0x01, 0x00, 0x00};
    ASSERT_EQ(::send(fd, cmds, sizeof cmds, 0), static_cast<ssize_t>(sizeof cmds));
    ASSERT_TRUE(sim.WaitFor([](const SimReport& r) { return r.resets == 1 && r.state == "up"; }, 5s));
    char b;
    EXPECT_EQ(::recv(fd, &b, 1, 0), 0) << "the reset closes the connection";
    ::close(fd);

    const std::string report = ReadFile(c.reportFile);
    for (const char* line : {"threshold=35\n", "threshold_writes=1\n", "resets=1\n", "connections=1\n",
                             "commands=frame_open frame_threshold_write frame_close\n", "com=COM4\n",
                             "tcp=127.0.0.65:9100\n"}) {
      EXPECT_NE(report.find(line), std::string::npos) << line << "in:\n" << report;
    }
    // After the reset the pty is new and the link points at it.
    EXPECT_EQ(fs::read_symlink(dir / "com4").string(), sim.Report().ptyPath);
    const int again = Connect("127.0.0.65");
    EXPECT_GE(again, 0);
    if (again >= 0) ::close(again);
  }
  EXPECT_FALSE(fs::exists(dir / "com4"));
  EXPECT_NE(ReadFile(c.reportFile).find("state=stopped\n"), std::string::npos);
  SimConfig clash = c;
  clash.comNumber = 0;
  SimPrinter first(clash), second(clash);
  ASSERT_TRUE(first.Start());
  EXPECT_FALSE(second.Start()) << "the address is taken";
  EXPECT_FALSE(second.Error().empty());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tw::sim
