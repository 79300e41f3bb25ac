// The port-access library over a serial line: the simulated printer's
// pseudo-terminal, reached as COMn through the port name table's link folder.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <gtest/gtest.h>

#include "lnkio/tests/lnkio_client.h"
#include "platform/process.h"
#include "sim/printer/sim_printer.h"

namespace tw::lnkio::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

class LnkioPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lnk.Complete());
    char tmpl[] = "/tmp/lnkio_pty_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
    platform::SetEnv("PORTWIRE_DOSDEVICES", dir.string());
  }
  void TearDown() override {
    lnk.close();
    sim.reset();
    platform::SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  void StartSim(sim::SimConfig c = {}) {
    c.ptyDir = dir;
    c.comNumber = 7;
    sim = std::make_unique<sim::SimPrinter>(c);
    ASSERT_TRUE(sim->Start()) << sim->Error();
  }
  bool Crtscts() {
    const int fd = ::open(sim->Report().ptyPath.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    const bool ok = fd >= 0 && ::tcgetattr(fd, &t) == 0;
    if (fd >= 0) ::close(fd);
    return ok && (t.c_cflag & CRTSCTS);
  }

  LnkioClient lnk;
  fs::path dir;
  std::unique_ptr<sim::SimPrinter> sim;
};

TEST_F(LnkioPty, ExchangeOverTheSerialLine) {
  StartSim();
  const LinkOpenBlock b = SerialBlock(7);
  ASSERT_EQ(lnk.open(&b), kLnkioOk);
  EXPECT_EQ(lnk.isOpen(), 1);
  int32_t written = 0;
  EXPECT_EQ(lnk.Write(kModelQuery, &written), kLnkioOk);
  EXPECT_EQ(written, 5);
  auto r = lnk.NextReply();
  EXPECT_EQ(r.code, kLnkioReadData);
  ASSERT_EQ(r.bytes.size(), 9u);
  EXPECT_EQ(r.bytes[3], '$');
  EXPECT_EQ(lnk.Write(kStatusEnable), kLnkioOk);
  EXPECT_EQ(lnk.Next().code, kLnkioReadStatus);
  EXPECT_EQ(lnk.isOnline(), 1);
}

TEST_F(LnkioPty, ByteByByteReplyArrivesWhole) {
  sim::SimConfig c;
  c.behaviour.faults = {sim::Fault::kByteByByte};
  c.byteGapMs = 15;
  StartSim(c);
  const LinkOpenBlock b = SerialBlock(7, 0);  // 1200 baud: the longest quiet gap
  ASSERT_EQ(lnk.open(&b), kLnkioOk);
  EXPECT_EQ(lnk.Write({0x1D, 0x49, 0x43}), kLnkioOk);
  EXPECT_EQ(lnk.NextReply().bytes, (Bytes{'_', 'K', 'P', '-', 'S', '4', '1', '0', 0x00}));
}

TEST_F(LnkioPty, FlowControlSwitchesOnTheLine) {
  StartSim();
  const LinkOpenBlock b = SerialBlock(7);
  ASSERT_EQ(lnk.open(&b), kLnkioOk);
  EXPECT_TRUE(Crtscts()) << "hardware flow control is obeyed after opening";
  EXPECT_EQ(lnk.setNoFlow(1), kLnkioOk);
  EXPECT_FALSE(Crtscts());
  EXPECT_EQ(lnk.setNoFlow(0), kLnkioOk);
  EXPECT_TRUE(Crtscts());
  lnk.close();

  LinkOpenBlock bt = SerialBlock(7, 7);
  bt.flowMode = kFlowBluetooth;
  ASSERT_EQ(lnk.open(&bt), kLnkioOk);
  EXPECT_FALSE(Crtscts()) << "Bluetooth serial ports have no flow control lines";
}

TEST_F(LnkioPty, ResetHangsUpAndTheLinkReopens) {
  sim::SimConfig c;
  c.resetMs = 200;
  StartSim(c);
  const LinkOpenBlock b = SerialBlock(7);
  ASSERT_EQ(lnk.open(&b), kLnkioOk);
  for (const auto& cmd : {kOpenFrame, ThresholdWrite(70), kAfterWrite, kCloseFrame}) EXPECT_EQ(lnk.Write(cmd), kLnkioOk);
  const auto t0 = std::chrono::steady_clock::now();
  while (lnk.isOpen() && std::chrono::steady_clock::now() - t0 < 5s) lnk.waitReadable(1000);
  EXPECT_EQ(lnk.isOpen(), 0);
  EXPECT_EQ(sim->Report().record.threshold, 70);
  ASSERT_TRUE(sim->WaitFor([](const sim::SimReport& r) { return r.state == "up"; }, 5s));
  ASSERT_EQ(lnk.open(&b), kLnkioOk);
  EXPECT_EQ(lnk.Write(kModelQuery), kLnkioOk);
  EXPECT_EQ(lnk.NextReply().bytes.size(), 9u);
}

TEST_F(LnkioPty, MissingPortAndStalledLine) {
  // No link and no default node.
  const LinkOpenBlock missing = SerialBlock(31);
  if (!fs::exists("/dev/ttyS30")) {
    const int code = lnk.open(&missing);
    EXPECT_NE(code, kLnkioOk);
    EXPECT_NE(code, kLnkioTimeout);
  }

  // A line whose far end reads nothing: the write stops at the time-out and
  // says how much the line took.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  fs::create_symlink(::ptsname(master), dir / "com9");
  const LinkOpenBlock b = SerialBlock(9, 5, 300);
  ASSERT_EQ(lnk.open(&b), kLnkioOk);
  ASSERT_EQ(lnk.setNoFlow(1), kLnkioOk);
  Bytes big(1 << 20, 0x20);
  int32_t written = 0;
  EXPECT_EQ(lnk.Write(big, &written), kLnkioTimeout);
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int32_t>(big.size()));
  lnk.close();
  ::close(master);
}

}  // namespace
}  // namespace tw::lnkio::testing
