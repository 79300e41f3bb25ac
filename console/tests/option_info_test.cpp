#include "console/option_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/tests/fake_printer.h"

namespace tw::console {
namespace {

struct Parsed {
  int result;
  COptionInfo info;
};

Parsed ParseArgs(std::vector<std::string> args) {
  args.insert(args.begin(), "Trimsense");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  Parsed p{0, {}};
  p.result = p.info.Parse(static_cast<int>(argv.size()), argv.data());
  return p;
}

std::u16string Type(const Parsed& p) { return std::u16string(GetText(p.info.settings.portType)); }
std::u16string Name(const Parsed& p) { return std::u16string(GetText(p.info.settings.portName)); }

TEST(OptionParse, SerialDefaultsAndSubOptions) {
  auto p = ParseArgs({"-c"});
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(Type(p), u"COM");
  EXPECT_EQ(Name(p), u"COM1");
  EXPECT_EQ(p.info.settings.baudRate, 38400);
  EXPECT_EQ(p.info.settings.parity, 0);
  EXPECT_EQ(p.info.settings.dataBits, 8);
  EXPECT_EQ(p.info.settings.readTimeout, 2000);
  EXPECT_EQ(p.info.settings.writeTimeout, 2000);
  EXPECT_EQ(p.info.settings.route, 0);

  p = ParseArgs({"-cB9600", "-c2"});
  EXPECT_EQ(Name(p), u"COM2");
  EXPECT_EQ(p.info.settings.baudRate, 9600);

  p = ParseArgs({"-c2", "-cB1200"});
  EXPECT_EQ(p.info.settings.baudRate, 38400);

  p = ParseArgs({"-c3", "-cB38400", "-cPe", "-cD7"});
  EXPECT_EQ(p.info.settings.parity, 2);
  EXPECT_EQ(p.info.settings.dataBits, 7);
  EXPECT_EQ(ParseArgs({"-c3", "-cPo"}).info.settings.parity, 1);
  EXPECT_EQ(ParseArgs({"-c3", "-cPn"}).info.settings.parity, 0);
  EXPECT_EQ(ParseArgs({"-c3", "-cB"}).info.settings.baudRate, 38400);
  EXPECT_EQ(ParseArgs({"-c3", "-cB115200", "-cB2400"}).info.settings.baudRate, 2400);
}

TEST(OptionParse, FirstPortOptionWins) {
  auto p = ParseArgs({"-l1", "-c2"});
  EXPECT_EQ(Type(p), u"LPT");
  EXPECT_EQ(Name(p), u"LPT1");
  EXPECT_EQ(ParseArgs({"-l1", "-cB9600"}).info.settings.baudRate, 0);
  EXPECT_EQ(Name(ParseArgs({"-c4", "-c5"})), u"COM4");
  EXPECT_EQ(Name(ParseArgs({"-n127.0.0.9", "-u3"})), u"127.0.0.9");
}

TEST(OptionParse, PortNumbers) {
  EXPECT_EQ(Name(ParseArgs({"-c0"})), u"COM1");
  EXPECT_EQ(Name(ParseArgs({"-u0"})), u"001");
  EXPECT_EQ(Name(ParseArgs({"-u12"})), u"012");
  EXPECT_EQ(Name(ParseArgs({"-u1234"})), u"1234");
  EXPECT_EQ(Name(ParseArgs({"-l7x"})), u"LPT7");
  // A value that is not a number leaves the option without effect.
  EXPECT_EQ(ParseArgs({"-c-1"}).result, -1);
  EXPECT_EQ(Name(ParseArgs({"-cX", "-c6"})), u"COM6");
  // Huge numbers saturate instead of overflowing.
  EXPECT_EQ(Name(ParseArgs({"-c99999999999999999999"})), u"COM2147483647");
}

TEST(OptionParse, UsbAndNetwork) {
  EXPECT_EQ(ParseArgs({"-uCp"}).result, -1);
  auto p = ParseArgs({"-u3", "-uCp"});
  EXPECT_EQ(Name(p), u"003");
  EXPECT_EQ(p.info.settings.usbClass, 1);
  p = ParseArgs({"-c1", "-uCp"});
  EXPECT_EQ(Name(p), u"COM1");
  EXPECT_EQ(p.info.settings.usbClass, 1);
  EXPECT_EQ(ParseArgs({"-u3", "-uCv"}).info.settings.usbClass, 0);

  EXPECT_EQ(Name(ParseArgs({"-n"})), u"192.168.192.168");
  p = ParseArgs({"-n127.0.0.1"});
  EXPECT_EQ(Type(p), u"NET");
  EXPECT_EQ(p.info.settings.readTimeout, 2000);
  EXPECT_EQ(Name(ParseArgs({"-nprinter-\xC3\xA4"})), u"printer-\u00E4");
}

TEST(OptionParse, OverlongAddressIsRefusedNotCut) {
  EXPECT_EQ(ParseArgs({"-n" + std::string(259, 'a')}).result, 0);
  auto p = ParseArgs({"-n" + std::string(260, 'a')});
  EXPECT_EQ(p.result, -1);
  EXPECT_TRUE(GetText(p.info.settings.portName).empty());
  // Even when a usable port option follows.
  EXPECT_EQ(ParseArgs({"-n" + std::string(5000, '1'), "-c1"}).result, -1);
}

TEST(OptionParse, TestFlagAndIgnoredArguments) {
  EXPECT_EQ(ParseArgs({"-tC"}).result, -1);
  auto p = ParseArgs({"-c1", "-tC"});
  EXPECT_EQ(p.info.testOnly, 1);
  EXPECT_EQ(ParseArgs({"-c1", "-tc"}).info.testOnly, 0);
  EXPECT_EQ(Name(ParseArgs({"-x1", "plain", "-", "-c3"})), u"COM3");
  EXPECT_EQ(ParseArgs({}).result, -1);
  COptionInfo info;
  EXPECT_EQ(info.Parse(0, nullptr), -1);
}

TEST(OptionUsage, BannerAndUsageText) {
  testing::RecordingConsole console;
  COptionInfo::PrintUsage(console);
  const std::string& out = console.output;
  EXPECT_EQ(out.rfind("Orlex KP-S410 Slip Paper Sensor Adjustment Tool Version1.00\n", 0), 0u);
  const std::string expectedTail =
      "\n"
      " Usage: SlipTrimTool <options>\n"
      " Options:\n"
      " COM:-c<Serial Port> [-cB<Baud Rate>] [-cP<Parity Check>] [-cD<DataBit>]\n"
      "   -c<x>   Serial Port    [1=COM1], 2=COM2, 3=COM3, ...\n"
      "   -cB<x>  + Baud Rate    2400, 4800, 9600, 19200, [38400], 57600, 115200\n"
      "   -cP<x>  + Parity Check [n=No], o=Odd, e=Even\n"
      "   -cD<x>  + Data Bit     7=7bi, [8=8bit]\n"
      "\n"
      " LPT:-l<Parallel Port>\n"
      "   -l<x>   Parallel Port  [1=LPT1], 2=LPT2, 3=LPT3, ...\n"
      "\n"
      " USB:-u<USB Port> [-uC<USB Class>]\n"
      "   -u<x>   USB Port       [1=USB001], 2=USB002, 3=USB003, ...\n"
      "   -uC<x>  + USB Class    [v=Vender Class], p=Printer Class\n"
      "\n"
      " Network:-n<IP address>\n"
      "   -n<x>   IP Address     [192.168.192.168], ...\n"
      "\n"
      " Communication Test:<Port> -tC\n"
      " -tC       Communication Test only\n";
  ASSERT_GE(out.size(), expectedTail.size());
  EXPECT_EQ(out.substr(out.size() - expectedTail.size()), expectedTail);
  // Banner, one notice line, then the tail.
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 23);
}

}  // namespace
}  // namespace tw::console
