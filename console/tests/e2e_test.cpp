// The built console program, run as a user would, against stand-in libraries
// placed beside a copy of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

class TrimsenseBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("trimsense-e2e-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    program_ = dir_ / fs::path(TRIMSENSE_BIN).filename();
    fs::copy_file(TRIMSENSE_BIN, program_);
  }
  void TearDown() override {
    tw::platform::SetEnv("TRIMSENSE_DOUBLE", std::nullopt);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void PlaceLibrary(const char* built) {
    fs::copy_file(built, dir_ / tw::platform::NativeModuleFileName(u"Portwire.dll"));
  }
  tw::platform::ProcessResult Run(std::vector<std::string> args, const char* mode = "ok") {
    tw::platform::SetEnv("TRIMSENSE_DOUBLE", std::string(mode));
    auto result = tw::platform::RunProcess(program_, args, true);
    // Windows writes its console text with CR LF line ends.
    std::erase(result.output, '\r');
    return result;
  }
  fs::path dir_;
  fs::path program_;
};

// The captured text holds standard output and error together: the lines that
// give a failure's reason ("Trimsense: ...", standard error) are taken out,
// the rest is standard output.
struct Streams {
  std::string out;
  std::vector<std::string> reasons;
};

Streams Split(const std::string& text) {
  Streams s;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(begin, end - begin);
    if (line.rfind("Trimsense: ", 0) == 0) {
      s.reasons.push_back(line);
    } else {
      s.out += line;
    }
    begin = end;
  }
  return s;
}

TEST_F(TrimsenseBinary, UsageAndMissingLibrary) {
  auto r = Run({});
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find(" -tC       Communication Test only\n"), std::string::npos);

  r = Run({"-c1"});
  EXPECT_EQ(r.exitCode, 2);
  const Streams s = Split(r.output);
  EXPECT_EQ(s.out, ".port open error\n.exit\n");
  ASSERT_EQ(s.reasons.size(), 1u) << r.output;
  EXPECT_NE(s.reasons[0].find(tw::platform::NativeModuleFileName(u"Portwire.dll")), std::string::npos);
}

TEST_F(TrimsenseBinary, IncompleteLibraryIsAnOpenError) {
  PlaceLibrary(INCOMPLETE_DOUBLE);
  const auto r = Run({"-c1"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(Split(r.output).out, ".port open error\n.exit\n");
  EXPECT_EQ(Split(r.output).reasons.size(), 1u) << r.output;
}

TEST_F(TrimsenseBinary, ExitCodesOfTheRun) {
  PlaceLibrary(PORTWIRE_DOUBLE);
  auto r = Run({"-n127.0.0.1"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Slip Paper Sensor Adjustment success\n"), std::string::npos);
  EXPECT_NE(r.output.find("waite printer reconnect\n...\n.exit\n"), std::string::npos);

  r = Run({"-c1", "-tC"}, "other-model");
  EXPECT_EQ(r.exitCode, 6) << r.output;

  r = Run({"-c1"}, "silent");
  EXPECT_EQ(r.exitCode, 3) << r.output;
  EXPECT_NE(r.output.find("Communication test false:3\n"), std::string::npos);

  EXPECT_TRUE(Split(r.output).reasons.empty()) << "no reason line unless a port fails to open";

  r = Run({"-c1"}, "open-fails");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(Split(r.output).out, "..port open error\n.exit\n");
  // A library without a port-access library behind it gives no reason, but
  // the line still names the port.
  ASSERT_EQ(Split(r.output).reasons.size(), 1u) << r.output;
  EXPECT_NE(Split(r.output).reasons[0].find("COM1"), std::string::npos);
}

}  // namespace
