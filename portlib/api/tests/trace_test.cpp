// PORTWIRE_TRACE: a client's calls and the bytes that cross the port, line by
// line in the named file. A program of its own, so that the variable is set
// before the library is first loaded in the process.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/process.h"
#include "portwire.h"
#include "sim/printer/sim_printer.h"

namespace {

constexpr const char* kSimAddress = "127.0.0.75";

std::vector<std::string> Lines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool HasLineEnding(const std::vector<std::string>& lines, const std::string& tail) {
  for (const std::string& line : lines) {
    if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0) return true;
  }
  return false;
}

TEST(Trace, CallsAndBlocksAreAppendedToTheNamedFile) {
  tw::sim::SimConfig config;
  config.tcpAddress = kSimAddress;
  config.resetMs = 0;
  tw::sim::SimPrinter sim(config);
  ASSERT_TRUE(sim.Start()) << sim.Error();
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "portwire_trace_test.log";
  {
    std::ofstream earlier(file, std::ios::trunc);
    earlier << "an earlier line\n";  // appended to, never replaced
  }
  tw::platform::SetEnv("PORTWIRE_TRACE", file.string());
  {
    tw::platform::Module library = tw::platform::Module::Load(u"Portwire.dll");
    ASSERT_TRUE(library.IsLoaded());
    const auto setPort = library.Function<decltype(&::KPC_SetPort)>("KPC_SetPort");
    const auto open = library.Function<decltype(&::KPC_Open)>("KPC_Open");
    const auto write = library.Function<decltype(&::KPC_Write)>("KPC_Write");
    const auto read = library.Function<decltype(&::KPC_Read)>("KPC_Read");
    const auto close = library.Function<decltype(&::KPC_Close)>("KPC_Close");
    const auto terminate = library.Function<decltype(&::KPC_Terminate)>("KPC_Terminate");
    ASSERT_TRUE(setPort && open && write && read && close && terminate);

    PortSettings record;
    std::memset(&record, 0, sizeof record);
    const char16_t net[] = u"NET";
    const char16_t address[] = u"127.0.0.75";
    std::memcpy(record.portType, net, sizeof net);
    std::memcpy(record.portName, address, sizeof address);
    record.readTimeout = 2000;
    record.writeTimeout = 2000;
    ASSERT_EQ(setPort(&record), PW_OK);
    ASSERT_EQ(open(1), PW_OK);
    const uint8_t modelQuery[] = {0x10, 0x14, 0x12, 0x00, 0x00};
    ASSERT_EQ(write(modelQuery, sizeof modelQuery, nullptr, 2000), PW_OK);
    uint8_t reply[256];
    uint32_t n = 0;
    ASSERT_EQ(read(reply, sizeof reply, &n, 2000), PW_OK);
    EXPECT_EQ(write(modelQuery, 0, nullptr, 2000), PW_FAILED);
    EXPECT_EQ(close(), PW_OK);
    terminate();
  }
  tw::platform::SetEnv("PORTWIRE_TRACE", std::nullopt);

  const std::vector<std::string> lines = Lines(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "an earlier line");
  const std::regex shape(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \S+ \S.*)");
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], shape)) << lines[i];
  EXPECT_TRUE(HasLineEnding(lines, " 127.0.0.75 KPC_Open = 0x00000000 ok"));
  EXPECT_TRUE(HasLineEnding(lines, " 127.0.0.75 send 10 14 12 00 00"));
  EXPECT_TRUE(HasLineEnding(lines, " 127.0.0.75 recv 37 4D 30 24 53 34 31 30 00"));
  EXPECT_TRUE(HasLineEnding(lines, " 127.0.0.75 KPC_Read = 0x00000000 ok"));
  EXPECT_TRUE(HasLineEnding(lines, " 127.0.0.75 KPC_Write = 0x80000000 failed"));
  EXPECT_TRUE(HasLineEnding(lines, " 127.0.0.75 KPC_Close = 0x00000000 ok"));
  std::filesystem::remove(file);
}

}  // namespace
