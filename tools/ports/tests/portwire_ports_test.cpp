// The built portwire-ports as a technician runs it: a serial port that is a
// comN link to the simulated printer's pty, and a simulated network interface
// found through a discovery redirected to a loopback address.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/process.h"

namespace fs = std::filesystem;
using tw::platform::ChildProcess;
using tw::platform::GetEnv;
using tw::platform::RunProcess;
using tw::platform::SetEnv;

namespace {

std::string Program(const char* variable) { return GetEnv(variable).value_or(""); }

bool WaitFor(const fs::path& file) {
  for (int i = 0; i < 250; ++i) {
    if (fs::exists(file)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Valid JSON by the parser of Python's standard library.
bool ValidJson(const std::string& text, const fs::path& dir, std::string& why) {
  const fs::path file = dir / "listing.json";
  std::ofstream(file) << text;
  const auto run = RunProcess("/usr/bin/python3", {"-m", "json.tool", file.string()}, true);
  why = run.output;
  return run.started && run.exitCode == 0;
}

class PortwirePorts : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("portwire-ports-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_ / "dosdevices");
    SetEnv("PORTWIRE_DOSDEVICES", (dir_ / "dosdevices").string());
  }
  void TearDown() override {
    SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

}  // namespace

TEST_F(PortwirePorts, ListsTheLinkedComPortWithItsDeviceAndValidJson) {
  ChildProcess sim = ChildProcess::Start(Program("KPS410_SIM"), {"--pty-dir", (dir_ / "dosdevices").string(), "--com",
                                                                "57", "--ready-file", (dir_ / "ready").string(),
                                                                "--quiet"});
  ASSERT_TRUE(sim.IsRunning());
  ASSERT_TRUE(WaitFor(dir_ / "ready"));
  const fs::path link = dir_ / "dosdevices" / "com57";
  ASSERT_TRUE(fs::is_symlink(link));
  const std::string pty = fs::canonical(link).string();

  const auto text = RunProcess(Program("PORTWIRE_PORTS"), {}, true);
  ASSERT_TRUE(text.started);
  EXPECT_EQ(text.exitCode, 0) << text.output;
  std::string line;
  std::istringstream lines(text.output);
  while (std::getline(lines, line) && line.rfind("-c57 ", 0) != 0) {
  }
  ASSERT_EQ(line.rfind("-c57 ", 0), 0u) << text.output;
  EXPECT_NE(line.find("COM57"), std::string::npos) << line;
  EXPECT_NE(line.find(link.string() + " -> " + pty), std::string::npos) << line;
  EXPECT_NE(line.find("yes"), std::string::npos) << line;   // the pty belongs to this user

  const auto json = RunProcess(Program("PORTWIRE_PORTS"), {"--json"}, true);
  EXPECT_EQ(json.exitCode, 0) << json.output;
  std::string why;
  EXPECT_TRUE(ValidJson(json.output, dir_, why)) << why << json.output;
  EXPECT_NE(json.output.find("\"options\": \"-c57\", \"node\": \"" + link.string() + "\", \"target\": \"" + pty + "\""),
            std::string::npos)
      << json.output;
  sim.Terminate(std::chrono::milliseconds(2000));
}

TEST_F(PortwirePorts, NetworkPrintersOnlyWithNetAndFromTheRedirectedDiscovery) {
  const char* kAddress = "127.0.0.181";
  ChildProcess sim = ChildProcess::Start(Program("NETIF_SIM"), {"--address", kAddress, "--mac", "00:11:62:00:01:81",
                                                               "--lifetime", "30"});
  ASSERT_TRUE(sim.IsRunning());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  SetEnv("PORTWIRE_NCS_BROADCAST", kAddress);
  const auto without = RunProcess(Program("PORTWIRE_PORTS"), {"--json"}, true);
  const auto with = RunProcess(Program("PORTWIRE_PORTS"), {"--net", "--json"}, true);
  SetEnv("PORTWIRE_NCS_BROADCAST", std::nullopt);
  EXPECT_EQ(without.exitCode, 0) << without.output;
  EXPECT_EQ(without.output.find("\"NET\""), std::string::npos) << without.output;
  ASSERT_EQ(with.exitCode, 0) << with.output;
  std::string why;
  EXPECT_TRUE(ValidJson(with.output, dir_, why)) << why << with.output;
  EXPECT_NE(with.output.find(std::string("\"kind\": \"NET\", \"port\": \"") + kAddress + "\", \"options\": \"-n" +
                             kAddress + "\", \"node\": \"00:11:62:00:01:81\""),
            std::string::npos)
      << with.output;
  sim.Terminate(std::chrono::milliseconds(2000));
}

TEST_F(PortwirePorts, UnknownOptionIsAUsageError) {
  const auto run = RunProcess(Program("PORTWIRE_PORTS"), {"--bogus"}, true);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("Usage: portwire-ports"), std::string::npos) << run.output;
}
