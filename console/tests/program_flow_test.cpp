#include "console/program_flow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "console/tests/fake_printer.h"

namespace tw::console {
namespace {

using testing::FakePrinter;
using testing::RecordingConsole;

class ProgramFlowTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "Trimsense");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    return RunTrimsense(static_cast<int>(argv.size()), argv.data(), printer, console);
  }
  FakePrinter printer;
  RecordingConsole console;
};

TEST_F(ProgramFlowTest, CompleteSuccessfulRun) {
  EXPECT_EQ(Run({"-n127.0.0.1"}), kExitSuccess);
  EXPECT_EQ(console.output,
            "...\n"
            "Communication test start\n"
            "...\n"
            "Communication test success\n"
            "\n"
            "Slip Paper Sensor Adjustment strat\n"
            ".......\n"
            "Slip Paper Sensor Adjustment success\n"
            "\n"
            "waite printer reset\n"
            "waite printer reconnect\n"
            "...\n"
            ".exit\n");
  EXPECT_EQ(console.sleeps, (std::vector<int>{kResetWaitMs}));
  EXPECT_EQ(printer.opens, 2);
  EXPECT_EQ(printer.closes, 1);
  EXPECT_EQ(printer.releases, 1);
}

TEST_F(ProgramFlowTest, UsageWithoutTouchingTheLibrary) {
  EXPECT_EQ(Run({"-x"}), kExitUsage);
  EXPECT_FALSE(printer.loaded);
  EXPECT_EQ(console.output.find("exit"), std::string::npos);
  EXPECT_EQ(console.output.rfind("Orlex KP-S410", 0), 0u);
}

TEST_F(ProgramFlowTest, PortOpenErrors) {
  printer.loadSucceeds = false;
  EXPECT_EQ(Run({"-c1"}), kExitPortOpenError);
  EXPECT_EQ(console.output, ".port open error\n.exit\n");
  EXPECT_EQ(console.errors, (std::vector<std::string>{"why: 0"})) << "one line on standard error says why";
  EXPECT_EQ(printer.releases, 0);

  FakePrinter refusing;
  refusing.openResults = {2};
  RecordingConsole out;
  std::string a0 = "Trimsense", a1 = "-c1";
  char* argv[] = {a0.data(), a1.data()};
  EXPECT_EQ(RunTrimsense(2, argv, refusing, out), kExitPortOpenError);
  EXPECT_EQ(out.output, "..port open error\n.exit\n");
  EXPECT_EQ(out.errors, (std::vector<std::string>{"why: 1"}));
  EXPECT_EQ(refusing.releases, 1);
}

TEST_F(ProgramFlowTest, TestOnlyAndTestFailures) {
  EXPECT_EQ(Run({"-c1", "-tC"}), kExitSuccess);
  EXPECT_EQ(console.output, "...\nCommunication test start\n...\nCommunication test success\n\n.exit\n");
  EXPECT_TRUE(printer.written.size() == 3u);

  FakePrinter other;
  other.answer = [](const ByteArray& c) {
    return c == commands::kModelQuery ? std::vector<ByteArray>{FakePrinter::ModelReply('!')}
                                      : FakePrinter::DefaultAnswer(c, 0);
  };
  RecordingConsole out;
  std::string a0 = "Trimsense", a1 = "-c1";
  char* argv[] = {a0.data(), a1.data()};
  EXPECT_EQ(RunTrimsense(2, argv, other, out), kExitOtherModel);
  EXPECT_NE(out.output.find("Communication test false:6\n\n.exit\n"), std::string::npos);
  EXPECT_EQ(out.output.find("Slip Paper"), std::string::npos);
  EXPECT_TRUE(out.errors.empty()) << "a printer that answered needs no reason";

  // The port opened, but its device was never reached: the reason goes to
  // standard error, the output is unchanged.
  FakePrinter unreached;
  unreached.answer = [](const ByteArray&) { return std::vector<ByteArray>{}; };
  unreached.notLinkedReason = "Trimsense: cannot open 001 (/dev/bus/usb/001/003): Device or resource busy";
  RecordingConsole silent;
  EXPECT_EQ(RunTrimsense(2, argv, unreached, silent), kExitCommunication);
  EXPECT_NE(silent.output.find("Communication test false:3\n"), std::string::npos);
  EXPECT_EQ(silent.errors, std::vector<std::string>{unreached.notLinkedReason});
}

TEST_F(ProgramFlowTest, FailedAdjustmentSkipsTheReconnect) {
  printer.failWrite = [](const ByteArray& c) { return c == commands::BuildFrame(commands::kFrameAfterWrite); };
  EXPECT_EQ(Run({"-c1"}), kExitCommunication);
  EXPECT_NE(console.output.find("......\nSlip Paper Sensor Adjustment false:3\n\n.exit\n"), std::string::npos);
  EXPECT_EQ(console.output.find("waite"), std::string::npos);
  EXPECT_EQ(printer.opens, 1);
}

TEST_F(ProgramFlowTest, PrinterThatNeverComesBack) {
  printer.openResults = {0, 2};  // the first open works, every reopen fails
  EXPECT_EQ(Run({"-c1"}), kExitSuccess);
  const std::string tail = "waite printer reconnect\n" + std::string(20, '.') + "reconnect timeout.\n.exit\n";
  ASSERT_GE(console.output.size(), tail.size());
  EXPECT_EQ(console.output.substr(console.output.size() - tail.size()), tail);
  EXPECT_EQ(printer.opens, 21);
  EXPECT_EQ(std::count(console.sleeps.begin(), console.sleeps.end(), kReconnectPauseMs), 20);
}

TEST_F(ProgramFlowTest, ReconnectRetestsUntilThePrinterAnswers) {
  // After the reset the printer is silent for two attempts, then answers.
  const PortSettings settings = MakeZeroPortSettings();
  FakePrinter port;
  port.answer = [&port](const ByteArray& c) {
    return port.opens < 3 ? std::vector<ByteArray>{} : FakePrinter::DefaultAnswer(c, 0);
  };
  RecordingConsole out;
  EXPECT_EQ(WaitPrinterReconnect(port, settings, out), 0);
  EXPECT_EQ(port.opens, 3);
  EXPECT_EQ(port.closes, 3);  // once before waiting, once after each failed test
  EXPECT_EQ(out.output, "waite printer reset\nwaite printer reconnect\n.\n..\n....\n");
}

// Asked to end at different points of a run: the exchange under way is
// finished, an opened maintenance exchange is closed, the port is released,
// and the run ends with 3 and its reason on standard error.
TEST_F(ProgramFlowTest, StopRequestWindsTheRunDown) {
  const ByteArray open = commands::BuildFrame(commands::kFrameOpen);
  const ByteArray close = commands::BuildFrame(commands::kFrameClose);
  const ByteArray levelRead = commands::BuildFrame(commands::kFrameLevelRead, {0x40});
  struct Case {
    const char* name;
    std::function<bool(const FakePrinter&)> stopWhen;
    bool closesExchange;
  };
  const Case cases[] = {
      {"before the port is opened", [](const FakePrinter&) { return true; }, false},
      {"during the test", [](const FakePrinter& p) { return !p.written.empty(); }, false},
      {"after the opening frame", [open](const FakePrinter& p) { return p.CountWritten(open) > 0; }, true},
      {"after the level read", [levelRead](const FakePrinter& p) { return p.CountWritten(levelRead) > 0; }, true},
      {"waiting for the reset", [close](const FakePrinter& p) { return p.CountWritten(close) > 0; }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePrinter p;
    RecordingConsole out;
    out.stop = [&p, &c] { return c.stopWhen(p); };
    std::string arg0 = "Trimsense", arg1 = "-c1";
    char* argv[] = {arg0.data(), arg1.data()};
    EXPECT_EQ(RunTrimsense(2, argv, p, out), kExitCommunication) << out.output;
    EXPECT_EQ(out.errors, std::vector<std::string>{kStoppedReason});
    EXPECT_EQ(p.CountWritten(close), c.closesExchange ? 1u : 0u);
    // Nothing is written after the closing frame; no threshold once stopped
    // before the level arrived.
    if (c.closesExchange) {
      EXPECT_EQ(p.written.back(), close);
    }
    const bool thresholdWritten = std::any_of(p.written.begin(), p.written.end(), [](const ByteArray& w) {
      return w.size() > 4 && w[4] == commands::kFrameWriteItem;
    });
    EXPECT_EQ(thresholdWritten, std::string(c.name) == "waiting for the reset");
    EXPECT_EQ(p.releases, p.loaded ? 1 : 0);
    EXPECT_LE(p.opens, 1);
    EXPECT_NE(out.output.find(".exit\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace tw::console
