// The parts of the machine-ports service that every system shares: the COM
// number table, the USB order and identity text, the configuration walk.
#include "platform/machine_ports.h"

#include <gtest/gtest.h>

namespace tw::platform {
namespace {

TEST(ComNumberTable, FixedRangesByKindBothWays) {
  const std::pair<const char*, int> table[] = {
      {"ttyS0", 1},     {"ttyS31", 32},   {"ttyUSB0", 33},  {"ttyUSB63", 96},
      {"ttyACM0", 97},  {"ttyACM63", 160}, {"rfcomm0", 161}, {"rfcomm63", 224}};
  for (const auto& [name, n] : table) {
    EXPECT_EQ(ComNumberOfTty(name), n) << name;
    EXPECT_EQ(TtyOfComNumber(n), name) << n;
  }
  // Every number maps back to the name it came from.
  for (int n = 1; n <= 224; ++n) EXPECT_EQ(ComNumberOfTty(TtyOfComNumber(n)), n) << n;
}

TEST(ComNumberTable, NamesAndNumbersOutsideTheTable) {
  for (const char* name : {"ttyS32", "ttyUSB64", "ttyACM64", "rfcomm64", "ttyS", "ttyS01", "ttyUSB-1", "tty0",
                           "ttyAMA0", "ttyS1x", "console", "ttyUSB99999"}) {
    EXPECT_EQ(ComNumberOfTty(name), 0) << name;
  }
  for (int n : {0, -1, 225, 255, 256, 100000}) EXPECT_EQ(TtyOfComNumber(n), "") << n;
}

TEST(UsbOrder, BusThenPortPath) {
  EXPECT_EQ(UsbSortKey("1-2.3"), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(UsbSortKey("3-1:1.0"), (std::vector<int>{3, 1}));
  EXPECT_LT(UsbSortKey("1-2"), UsbSortKey("1-10"));  // numbers, not text
  EXPECT_LT(UsbSortKey("1-2"), UsbSortKey("1-2.1"));
  EXPECT_LT(UsbSortKey("1-9.9"), UsbSortKey("2-1"));
}

TEST(UsbIdentityText, CarriesWhatTheDeviceNameRulesLookFor) {
  EXPECT_EQ(UsbIdentity(0x7A5E, 0x0202, "K4AB01", kUsbClassPrinter),
            "\\\\?\\usb#vid_7a5e&pid_0202#K4AB01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
  EXPECT_EQ(UsbIdentity(0x7A5E, 0x0E15, "X", kUsbClassVendor),
            "\\\\?\\usb#vid_7a5e&pid_0e15#X#{6a1c43e2-9d07-4b58-a3f1-52c8e07d9b14}");
  // A serial number cannot add parts to the text.
  EXPECT_NE(UsbIdentity(1, 2, "a#b\n", kUsbClassVendor).find("pid_0002#a_b_#{"), std::string::npos);
}

TEST(UsbIdentityText, SerialNumbersAreTrimmedAndDevicesFoundByTheirIdentity) {
  EXPECT_EQ(UsbInstanceText("  K4AB02", "1-4"), "K4AB02");
  EXPECT_EQ(UsbInstanceText("K4AB02 \n", "1-4"), "K4AB02");
  EXPECT_EQ(UsbInstanceText(" \t ", "1-4"), "usb-1-4");
  EXPECT_EQ(UsbInstanceText("", "1-4"), "usb-1-4");

  std::vector<UsbPrinter> printers(2);
  printers[0].number = 1;
  printers[0].identity = UsbIdentity(0x7A5E, 0x0202, "K4AB01", kUsbClassPrinter);
  printers[1].number = 2;
  printers[1].identity = UsbIdentity(0x7A5E, 0x0202, "K4AB0", kUsbClassPrinter);
  // Any case, and the same device named with the other class's part.
  const UsbPrinter* p = FindUsbPrinter(printers, "\\\\?\\USB#VID_7A5E&PID_0202#k4ab01#{6A1C43E2-9D07-4B58-A3F1-52C8E07D9B14}");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->number, 1);
  ASSERT_NE(FindUsbPrinter(printers, UsbIdentityPrefix(0x7A5E, 0x0202, "K4AB0")), nullptr);
  EXPECT_EQ(FindUsbPrinter(printers, UsbIdentityPrefix(0x7A5E, 0x0202, "K4AB0"))->number, 2);
  EXPECT_EQ(FindUsbPrinter(printers, UsbIdentity(0x7A5E, 0x0202, "K4AB03", kUsbClassPrinter)), nullptr);
  EXPECT_EQ(FindUsbPrinter(printers, "Unknown"), nullptr);
  EXPECT_EQ(FindUsbPrinter(printers, "\\\\?\\usb#vid_7a5e&pid_0202#"), nullptr);
  EXPECT_TRUE(IsUsbIdentity(printers[0].identity));
  EXPECT_FALSE(IsUsbIdentity("001"));
}

TEST(ConfigurationWalk, FirstPrinterOrVendorInterfaceDecides) {
  // configuration (9), interface class 0xFF, interface class 7
  const std::uint8_t vendorFirst[] = {9, 2, 27, 0, 2, 1, 0, 0x80, 50, 9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
                                      9, 4, 1, 0, 2, 7, 1, 2, 0};
  EXPECT_EQ(ClassifyConfigurationDescriptor(vendorFirst, sizeof vendorFirst), 0);
  std::uint8_t printer[sizeof vendorFirst];
  std::copy(std::begin(vendorFirst), std::end(vendorFirst), printer);
  printer[14] = 3;  // first interface: HID
  EXPECT_EQ(ClassifyConfigurationDescriptor(printer, sizeof printer), 1);
  printer[23] = 8;  // second: mass storage
  EXPECT_EQ(ClassifyConfigurationDescriptor(printer, sizeof printer), -1);
  // A length byte of 0 or one running past the end stops the walk.
  std::uint8_t broken[sizeof vendorFirst];
  std::copy(std::begin(vendorFirst), std::end(vendorFirst), broken);
  broken[9] = 0;
  EXPECT_EQ(ClassifyConfigurationDescriptor(broken, sizeof broken), -1);
  broken[9] = 200;
  EXPECT_EQ(ClassifyConfigurationDescriptor(broken, sizeof broken), -1);
  EXPECT_EQ(ClassifyConfigurationDescriptor(vendorFirst, 2), -1);
  EXPECT_EQ(ClassifyConfigurationDescriptor(nullptr, 10), -1);
}

}  // namespace
}  // namespace tw::platform
