// The built console program adjusting the simulated printer through the real
// library and the real port-access library, over TCP and a pseudo-terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "sim/printer/sim_printer.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int exitCode;
  std::string output;
  tw::sim::SimReport printer;
};

// Starts a printer on `address` (or a pty when address is empty), runs
// Trimsense with `args` and reports both sides.
Outcome Adjust(tw::sim::SimConfig config, std::vector<std::string> args) {
  tw::sim::SimPrinter printer(config);
  EXPECT_TRUE(printer.Start()) << printer.Error();
  const auto r = tw::platform::RunProcess(fs::path(TRIMSENSE_DIR) / "Trimsense", args, true);
  EXPECT_TRUE(r.started);
  return {r.exitCode, r.output, printer.Report()};
}

tw::sim::SimConfig Tcp(const std::string& address, unsigned level = 100) {
  tw::sim::SimConfig c;
  c.tcpAddress = address;
  c.resetMs = 0;
  c.behaviour.level = level;
  return c;
}

// A printer on a pseudo-terminal, reached as COM<com> through a link folder
// that the programs started meanwhile find in PORTWIRE_DOSDEVICES.
struct SerialPrinter {
  SerialPrinter(int com, int resetMs, unsigned level = 100) {
    const fs::path dos = fs::temp_directory_path() / ("trimsense-e2e-dosdevices-" + std::to_string(com));
    fs::create_directories(dos);
    tw::platform::SetEnv("PORTWIRE_DOSDEVICES", dos.string());
    config.ptyDir = dos;
    config.comNumber = com;
    config.resetMs = resetMs;
    config.behaviour.level = level;
  }
  ~SerialPrinter() { tw::platform::SetEnv("PORTWIRE_DOSDEVICES", std::nullopt); }
  tw::sim::SimConfig config;
};

TEST(TrimsenseWithSimulatedPrinter, StoresTheThresholdForTheMeasuredLevel) {
  const std::pair<unsigned, int> cases[] = {{40, 21}, {100, 35}, {200, 70}, {900, 81}};
  int host = 11;
  for (auto [level, threshold] : cases) {
    const std::string address = "127.0.0." + std::to_string(host++);
    const auto o = Adjust(Tcp(address, level), {"-n" + address});
    EXPECT_EQ(o.exitCode, 0) << o.output;
    EXPECT_EQ(o.printer.record.threshold, threshold) << "level " << level;
    EXPECT_EQ(o.printer.record.thresholdWrites, 1);
    EXPECT_EQ(o.printer.record.badChecksums, 0);
    EXPECT_EQ(o.printer.resets, 1);
    EXPECT_NE(o.output.find("Slip Paper Sensor Adjustment success\n\nwaite printer reset\n"
                            "waite printer reconnect\n...\n.exit\n"),
              std::string::npos)
        << o.output;
  }
}

TEST(TrimsenseWithSimulatedPrinter, RepliesThatTrickleInByteByByte) {
  auto config = Tcp("127.0.0.15", 150);
  config.behaviour.faults.insert(tw::sim::Fault::kByteByByte);
  config.byteGapMs = 5;
  const auto o = Adjust(config, {"-n127.0.0.15"});
  EXPECT_EQ(o.exitCode, 0) << o.output;
  EXPECT_EQ(o.printer.record.threshold, 52);
}

TEST(TrimsenseWithSimulatedPrinter, SerialPortThroughAPseudoTerminal) {
  const SerialPrinter serial(7, 0, 120);
  const auto o = Adjust(serial.config, {"-c7", "-cB38400"});
  EXPECT_EQ(o.exitCode, 0) << o.output;
  EXPECT_EQ(o.printer.record.threshold, 42);
}

TEST(TrimsenseWithSimulatedPrinter, CommunicationTestOnlyTouchesNoSetting) {
  const auto o = Adjust(Tcp("127.0.0.16"), {"-n127.0.0.16", "-tC"});
  EXPECT_EQ(o.exitCode, 0) << o.output;
  EXPECT_EQ(o.printer.record.thresholdWrites, 0);
  EXPECT_EQ(o.output.find("Slip Paper"), std::string::npos);
}

TEST(TrimsenseWithFaultyPrinter, OtherModel) {
  auto config = Tcp("127.0.0.21");
  config.behaviour.faults.insert(tw::sim::Fault::kOtherModel);
  const auto o = Adjust(config, {"-n127.0.0.21"});
  EXPECT_EQ(o.exitCode, 6) << o.output;
  EXPECT_NE(o.output.find("Communication test false:6\n"), std::string::npos);
  EXPECT_EQ(o.printer.record.thresholdWrites, 0);
}

TEST(TrimsenseWithFaultyPrinter, NeverReady) {
  auto config = Tcp("127.0.0.22");
  config.behaviour.faults.insert(tw::sim::Fault::kNeverReady);
  const auto o = Adjust(config, {"-n127.0.0.22"});
  EXPECT_EQ(o.exitCode, 3) << o.output;
  EXPECT_NE(o.output.find("Slip Paper Sensor Adjustment strat\n\nSlip Paper Sensor Adjustment false:3\n"),
            std::string::npos)
      << o.output;
  EXPECT_EQ(std::count(o.printer.record.commands.begin(), o.printer.record.commands.end(), "readiness_query"), 10);
}

TEST(TrimsenseWithFaultyPrinter, Silent) {
  auto config = Tcp("127.0.0.23");
  config.behaviour.faults.insert(tw::sim::Fault::kSilent);
  const auto o = Adjust(config, {"-n127.0.0.23"});
  EXPECT_EQ(o.exitCode, 3) << o.output;
  EXPECT_NE(o.output.find("Communication test false:3\n"), std::string::npos);
}

TEST(TrimsenseWithFaultyPrinter, PrinterThatNeverComesBackAfterTheReset) {
  const SerialPrinter serial(8, 120000);
  const auto o = Adjust(serial.config, {"-c8"});
  EXPECT_EQ(o.exitCode, 0) << o.output;
  EXPECT_EQ(o.printer.record.threshold, 35);
  EXPECT_NE(o.output.find("reconnect timeout.\n.exit\n"), std::string::npos) << o.output;
}

// Asked to end (SIGTERM, as the front end does when its window closes) just
// after the opening frame, while the slowed printer still works on the level
// read: the reply is waited for, the closing frame follows, the port is
// closed and the program ends with 3, well within the front end's 2 s grace.
TEST(TrimsenseWithFaultyPrinter, StopRequestAfterTheOpeningFrameClosesTheExchange) {
  auto config = Tcp("127.0.0.24");
  config.behaviour.faults.insert(tw::sim::Fault::kSlow);
  config.slowMs = 400;
  tw::sim::SimPrinter printer(config);
  ASSERT_TRUE(printer.Start()) << printer.Error();
  auto child = tw::platform::ChildProcess::Start(fs::path(TRIMSENSE_DIR) / "Trimsense", {"-n127.0.0.24"});
  ASSERT_TRUE(child.IsRunning());
  // The level read follows the opening frame without waiting for its reply:
  // waiting for the read itself makes sure it is the exchange under way.
  const auto reading = [](const tw::sim::SimReport& r) {
    return std::count(r.record.commands.begin(), r.record.commands.end(), "frame_level_read") > 0;
  };
  ASSERT_TRUE(printer.WaitFor(reading, std::chrono::seconds(30)));
  const auto asked = std::chrono::steady_clock::now();
  // A generous grace: a program that ignored the request would be killed and
  // show 137 instead of 3.
  const int code = child.Terminate(std::chrono::seconds(10));
  const auto took = std::chrono::steady_clock::now() - asked;
  EXPECT_EQ(code, 3);
  EXPECT_LT(took, std::chrono::seconds(2));
  const auto closed = [](const tw::sim::SimReport& r) {
    return !r.record.commands.empty() && r.record.commands.back() == "frame_close";
  };
  EXPECT_TRUE(printer.WaitFor(closed, std::chrono::seconds(5)));
  const auto report = printer.Report();
  EXPECT_EQ(report.record.thresholdWrites, 0);
  std::string seen;
  for (const auto& c : report.record.commands) seen += c + " ";
  EXPECT_NE(seen.find("frame_open frame_level_read frame_close "), std::string::npos) << seen;
  std::printf("stopped after the opening frame in %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

}  // namespace
