#include <gtest/gtest.h>

#include <cstring>

#include "portlib/backends/open_block_builder.h"

namespace tw::portwire {
namespace {

PortSettings Record(std::u16string_view type, std::u16string_view name) {
  PortSettings r = MakeDefaultPortSettings();
  SetText(r.portType, type);
  SetText(r.portName, name);
  return r;
}

bool Same(const lnkio::LinkOpenBlock& a, const lnkio::LinkOpenBlock& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(OpenBlock, SerialPortTakesNumberSpeedAndLineSettings) {
  PortSettings r = Record(u"COM", u"COM3");
  r.baudRate = 38400;
  r.parity = 2;
  r.dataBits = 7;
  lnkio::LinkOpenBlock b{};
  ASSERT_TRUE(BuildOpenBlock(r, b));
  EXPECT_EQ(b.kind, lnkio::kLinkSerial);
  EXPECT_EQ(b.enabled, 1);
  EXPECT_EQ(b.serialIndex, 2);
  EXPECT_EQ(b.speedCode, 5);
  EXPECT_EQ(b.dataBits, 7);
  EXPECT_EQ(b.parity, 2);
  EXPECT_EQ(b.flowMode, 0);
  EXPECT_EQ(b.linkTimeoutMs, 2000);

  // A rate outside the table keeps the previous speed code.
  r.baudRate = 12345;
  ASSERT_TRUE(BuildOpenBlock(r, b));
  EXPECT_EQ(b.speedCode, 5);
}

TEST(OpenBlock, PortNumbersOutsideTheirRangeAreRefusedAndLeaveTheBlock) {
  lnkio::LinkOpenBlock b{};
  ASSERT_TRUE(BuildOpenBlock(Record(u"NET", u"127.0.0.81"), b));
  const lnkio::LinkOpenBlock before = b;
  for (const auto& [type, name] : std::initializer_list<std::pair<std::u16string_view, std::u16string_view>>{
           {u"COM", u"COM256"}, {u"COM", u"COM0"}, {u"COM", u"COM"}, {u"COM", u"COMx"},
           {u"LPT", u"LPT10"}, {u"LPT", u"LPT0"}, {u"BT", u"BTx256"},
           {u"COM", u"COM99999999999999999999"},
           {u"NET", u"127.0.1"}, {u"NET", u"127.0.0.1.5"}, {u"NET", u"127.0.0.300"},
           {u"NET", u"127..0.1"}, {u"NET", u"127.0.0.1 "}, {u"NET", u""},
           {u"com", u"COM1"}, {u"SER", u"COM1"}}) {
    EXPECT_FALSE(BuildOpenBlock(Record(type, name), b)) << std::string(type.begin(), type.end()) << " "
                                                        << std::string(name.begin(), name.end());
    EXPECT_TRUE(Same(b, before));
  }
  EXPECT_TRUE(BuildOpenBlock(Record(u"COM", u"COM32"), b));
  EXPECT_EQ(b.serialIndex, 31);
  // USB-serial adapters and Bluetooth ttys are numbered above 32 on Linux.
  EXPECT_TRUE(BuildOpenBlock(Record(u"COM", u"COM33"), b));
  EXPECT_EQ(b.serialIndex, 32);
  EXPECT_TRUE(BuildOpenBlock(Record(u"BT", u"COM255"), b));
  EXPECT_EQ(b.serialIndex, 254);
  EXPECT_TRUE(BuildOpenBlock(Record(u"LPT", u"LPT9"), b));
  EXPECT_EQ(b.kind, lnkio::kLinkParallel);
  EXPECT_EQ(b.parallelIndex, 8);
}

TEST(OpenBlock, NetworkAddressBytesInTextOrderAndOtherFieldsKept) {
  lnkio::LinkOpenBlock b{};
  PortSettings com = Record(u"COM", u"COM4");
  com.baudRate = 9600;
  ASSERT_TRUE(BuildOpenBlock(com, b));
  ASSERT_TRUE(BuildOpenBlock(Record(u"NET", u"127.0.0.81"), b));
  EXPECT_EQ(b.kind, lnkio::kLinkNetwork);
  const uint8_t expected[4] = {127, 0, 0, 81};
  EXPECT_EQ(std::memcmp(b.ipv4, expected, 4), 0);
  uint8_t raw[64];
  std::memcpy(raw, &b, 64);
  EXPECT_EQ(raw[0x2C], 127);
  EXPECT_EQ(raw[0x2F], 81);
  // Serial fields of the earlier open stay as they were.
  EXPECT_EQ(b.serialIndex, 3);
  EXPECT_EQ(b.speedCode, 3);
}

TEST(OpenBlock, UsbClassChoosesKindAndNameIsTheIndex) {
  lnkio::LinkOpenBlock b{};
  PortSettings r = Record(u"USB", u"002");
  r.usbClass = 0;
  ASSERT_TRUE(BuildOpenBlock(r, b));
  EXPECT_EQ(b.kind, lnkio::kLinkUsbVendor);
  EXPECT_EQ(b.usbIndex, 1);
  r.usbClass = 1;
  ASSERT_TRUE(BuildOpenBlock(r, b));
  EXPECT_EQ(b.kind, lnkio::kLinkUsbPrinter);
  // An unknown class keeps the last USB kind, never a serial one.
  r.usbClass = 7;
  ASSERT_TRUE(BuildOpenBlock(r, b));
  EXPECT_EQ(b.kind, lnkio::kLinkUsbPrinter);
  lnkio::LinkOpenBlock fresh{};
  ASSERT_TRUE(BuildOpenBlock(r, fresh));
  EXPECT_EQ(fresh.kind, lnkio::kLinkUsbVendor);
}

TEST(OpenBlock, BluetoothIsAFixedSerialLine) {
  lnkio::LinkOpenBlock b{};
  PortSettings r = Record(u"BT", u"BTx5");
  r.baudRate = 1200;
  r.dataBits = 7;
  r.parity = 1;
  ASSERT_TRUE(BuildOpenBlock(r, b));
  EXPECT_EQ(b.kind, lnkio::kLinkSerial);
  EXPECT_EQ(b.serialIndex, 4);
  EXPECT_EQ(b.speedCode, 7);
  EXPECT_EQ(b.dataBits, 8);
  EXPECT_EQ(b.parity, 0);
  EXPECT_EQ(b.flowMode, lnkio::kFlowBluetooth);
}

TEST(OpenBlock, NumbersReadTheirLeadingDigits) {
  EXPECT_EQ(LeadingDecimal(u"12ab"), 12);
  EXPECT_EQ(LeadingDecimal(u"ab"), 0);
  EXPECT_EQ(LeadingDecimal(u""), 0);
  EXPECT_GT(LeadingDecimal(u"99999999999999999999999"), 32);  // saturates, never wraps
  EXPECT_EQ(SpeedCodeOfBaud(115200), 7);
  EXPECT_EQ(SpeedCodeOfBaud(300), -1);
}

}  // namespace
}  // namespace tw::portwire
