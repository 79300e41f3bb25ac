// The console program's command line, its start beside the front end, and
// what its exit code tells the user.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "fake_views.h"
#include "gui/cui_manager.h"
#include "gui/dialog_texts.h"
#include "gui/messages.h"
#include "platform/process.h"

namespace tw::gui {
namespace {

using testing::Narrow;

PortEntry Serial(int number, int baud, int parity, int dataBits) {
  PortEntry e;
  e.kind = kPortSerial;
  e.number = number;
  e.baudRate = baud;
  e.parity = parity;
  e.dataBits = dataBits;
  return e;
}

std::string Options(const PortEntry& e) { return Narrow(CCUIManager::AdjustmentCommandLine(e)); }

TEST(PortOptions, EveryKindGetsItsOptionsEachFollowedByOneBlank) {
  EXPECT_EQ(Options(Serial(3, 38400, kParityNone, 8)), "-c3 -cB38400 -cPn -cD8 ");
  EXPECT_EQ(Options(Serial(12, 9600, kParityEven, 7)), "-c12 -cB9600 -cPe -cD7 ");
  EXPECT_EQ(Options(Serial(1, 115200, kParityOdd, 8)), "-c1 -cB115200 -cPo -cD8 ");

  PortEntry lpt;
  lpt.kind = kPortParallel;
  lpt.number = 2;
  EXPECT_EQ(Options(lpt), "-l2 ");

  PortEntry usb;
  usb.kind = kPortUsb;
  usb.number = 1;
  usb.usbClass = kUsbVendorClass;
  EXPECT_EQ(Options(usb), "-u1 -uCv ");
  usb.usbClass = kUsbPrinterClass;
  usb.number = 10;
  EXPECT_EQ(Options(usb), "-u10 -uCp ");

  PortEntry net;
  net.kind = kPortNetwork;
  net.name = u"192.168.192.168";
  EXPECT_EQ(Options(net), "-n192.168.192.168 ");

  EXPECT_EQ(Options(PortEntry{}), "");
  PortEntry odd;
  odd.kind = 9;
  EXPECT_EQ(Options(odd), "");
}

TEST(PortOptions, UnknownParityOrDataBitsLeaveTheOptionBare) {
  EXPECT_EQ(Options(Serial(3, 38400, 0, 8)), "-c3 -cB38400 -cP -cD8 ");
  EXPECT_EQ(Options(Serial(3, 38400, 4, 9)), "-c3 -cB38400 -cP -cD ");
}

TEST(PortOptions, BuildPortOptionsAppends) {
  std::u16string line = u"x ";
  CCUIManager::BuildPortOptions(Serial(3, 38400, kParityNone, 8), line);
  EXPECT_EQ(Narrow(line), "x -c3 -cB38400 -cPn -cD8 ");
}

TEST(PortOptions, CommunicationTestEndsInTcWithoutTrailingBlank) {
  EXPECT_EQ(Narrow(CCUIManager::CommunicationTestCommandLine(Serial(3, 38400, kParityNone, 8))),
            "-c3 -cB38400 -cPn -cD8 -tC");
}

TEST(ConsoleRun, ArgumentsAreTheOptionsAloneAndTheProgramLiesBesideTheFrontEnd) {
  testing::FakeLauncher launcher;
  CCUIManager cui(&launcher, "/opt/kp");
  launcher.exitCode = 6;
  EXPECT_EQ(cui.RunCommunicationTest(Serial(3, 38400, kParityNone, 8)), 6);
  ASSERT_EQ(launcher.calls.size(), 1u);
  EXPECT_EQ(launcher.calls[0], "-c3|-cB38400|-cPn|-cD8|-tC");
  EXPECT_EQ(launcher.programs[0], std::filesystem::path("/opt/kp") / platform::ExecutableFileName("Trimsense"));

  PortEntry net;
  net.kind = kPortNetwork;
  net.name = u"127.0.0.5";
  launcher.exitCode = 0;
  EXPECT_EQ(cui.RunAdjustment(net), 0);
  EXPECT_EQ(launcher.calls[1], "-n127.0.0.5");
}

TEST(ConsoleRun, DefaultFolderIsTheRunningProgramsOwn) {
  CCUIManager cui;
  EXPECT_EQ(cui.GetConsoleToolPath().parent_path(), platform::ExecutableFolder());
  EXPECT_EQ(cui.GetConsoleToolPath().filename(), platform::ExecutableFileName("Trimsense"));
}

TEST(ConsoleRun, ProgramThatCannotStartGives10) {
  testing::FakeLauncher launcher;
  launcher.startable = false;
  CCUIManager cui(&launcher, "/opt/kp");
  EXPECT_EQ(cui.RunAdjustment(Serial(1, 9600, 1, 8)), kExitCannotStart);
  auto run = cui.StartCommunicationTest(Serial(1, 9600, 1, 8));
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->Poll(), kExitCannotStart);
}

#ifdef TW_STAND_IN_DIR
// The real process service with a stand-in console program.
TEST(ConsoleRun, RealProgramIsStartedAndItsExitCodeRead) {
  const auto record = std::filesystem::temp_directory_path() / ("gui-stand-in-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::remove(record);
  platform::SetEnv("TW_STAND_IN_RECORD", record.string());
  platform::SetEnv("TW_STAND_IN_EXIT", "3");
  CCUIManager cui(nullptr, TW_STAND_IN_DIR);
  EXPECT_EQ(cui.RunCommunicationTest(Serial(3, 38400, kParityNone, 8)), 3);

  // Its reason on standard error, for the box's details (Linux; the Windows
  // view shows none and captures nothing).
  platform::SetEnv("TW_STAND_IN_STDERR", "progress\nTrimsense: cannot open COM3 (/dev/ttyS2): Permission denied");
  auto failed = cui.StartCommunicationTest(Serial(3, 38400, kParityNone, 8));
  EXPECT_EQ(failed->Finish(), 3);
  EXPECT_EQ(Narrow(failed->FailureReason()),
            TW_CHILD_ERRORS_KEPT ? "Trimsense: cannot open COM3 (/dev/ttyS2): Permission denied" : "");
  platform::SetEnv("TW_STAND_IN_STDERR", std::nullopt);

  platform::SetEnv("TW_STAND_IN_EXIT", "0");
  platform::SetEnv("TW_STAND_IN_SLEEP_MS", "20000");
  auto run = cui.StartAdjustment(Serial(3, 38400, kParityNone, 8));
  EXPECT_FALSE(run->Poll().has_value());
  run->Abort();  // ends and collects it well before its 20 s
  platform::SetEnv("TW_STAND_IN_SLEEP_MS", std::nullopt);

  std::ifstream in(record);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "-c3|-cB38400|-cPn|-cD8|-tC");
  in.close();  // Windows removes no open file

  CCUIManager missing(nullptr, "/nonexistent/folder");
  EXPECT_EQ(missing.RunAdjustment(Serial(3, 38400, kParityNone, 8)), kExitCannotStart);
  std::error_code ignored;
  std::filesystem::remove(record, ignored);
}
#endif

TEST(ResultMessages, ReasonIsTheLastLineOfStandardError) {
  EXPECT_EQ(Narrow(LastErrorLine("")), "");
  EXPECT_EQ(Narrow(LastErrorLine("\n \r\n")), "");
  EXPECT_EQ(Narrow(LastErrorLine("one")), "one");
  EXPECT_EQ(Narrow(LastErrorLine("first\nTrimsense: why\r\n\n")), "Trimsense: why");
  EXPECT_EQ(LastErrorLine("caf\xc3\xa9\n"), u"caf\u00e9");
  EXPECT_EQ(Narrow(LastErrorLine("bad \xff byte")), "bad ? byte");
  EXPECT_EQ(LastErrorLine(std::string(2000, 'x')).size(), kMaxReasonLength);
  // Failures carry it as details; success never does, and the texts stay.
  EXPECT_EQ(AdjustmentResultMessage(2, u"why").details, u"why");
  EXPECT_EQ(AdjustmentResultMessage(2, u"why").text, AdjustmentResultMessage(2).text);
  EXPECT_EQ(AdjustmentResultMessage(0, u"why").details, u"");
  EXPECT_EQ(CommunicationTestResultMessage(6, u"why").details, u"why");
}

TEST(ResultMessages, ExitCodesGiveTheirTextCaptionAndBoxType) {
  const auto ok = AdjustmentResultMessage(0);
  EXPECT_EQ(Narrow(ok.text), "Slip Papre Senser Adjustment is completed.");
  EXPECT_EQ(Narrow(ok.caption), "Slip Papre Senser Adjustment");
  EXPECT_EQ(ok.type, kMbOk);

  const auto other = AdjustmentResultMessage(6);
  EXPECT_EQ(Narrow(other.text), "Slip Papre Senser Adjustment is failed.\n\nOthre Model");
  EXPECT_EQ(other.type, kMbIconError);

  for (int code : {10, 1, 2, 3, -1, 255}) {
    const auto m = AdjustmentResultMessage(code);
    EXPECT_EQ(Narrow(m.text), "Slip Papre Senser Adjustment is failed.\n\nA communication error occurred.") << code;
    EXPECT_EQ(m.type, kMbIconError);
  }

  EXPECT_EQ(Narrow(CommunicationTestResultMessage(0).text), "Communication Test is success.");
  EXPECT_EQ(Narrow(CommunicationTestResultMessage(0).caption), "Communication Test");
  EXPECT_EQ(CommunicationTestResultMessage(0).type, kMbOk);
  EXPECT_EQ(Narrow(CommunicationTestResultMessage(6).text), "Communication Test is failed.\n\nOthre Model");
  EXPECT_EQ(Narrow(CommunicationTestResultMessage(10).text),
            "Communication Test is failed.\n\nA communication error occurred.");
  EXPECT_EQ(CommunicationTestResultMessage(10).type, kMbIconError);
}

}  // namespace
}  // namespace tw::gui
