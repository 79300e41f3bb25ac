// The front end's port lists on a umockdev machine: the names and numbers the
// platform's port service gives, in the pages' order.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "gui/enum_port.h"
#include "platform/process.h"
#include "platform/tests/umockdev_bed.h"

namespace tw::gui {
namespace {

namespace fs = std::filesystem;
using tw::testing::UmockdevBed;

std::vector<std::string> Names(const std::vector<PortEntry>& list) {
  std::vector<std::string> out;
  for (const auto& e : list) out.emplace_back(e.name.begin(), e.name.end());
  return out;
}

TEST(EnumPortOnMachine, SerialParallelAndBothUsbClasses) {
  if (!UmockdevBed::Usable()) GTEST_SKIP() << "needs umockdev-wrapper";
  const fs::path links = fs::temp_directory_path() /
                         ("gui_ports_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(links);
  platform::SetEnv("PORTWIRE_DOSDEVICES", links.string());
  {
    UmockdevBed bed;
    UmockdevBed::UsbDevice vendor;
    vendor.port = "1-1";
    vendor.devnum = 2;
    vendor.serial = "V0001";
    vendor.interfaceClass = "ff";
    UmockdevBed::UsbDevice printer;
    printer.port = "1-2";
    printer.devnum = 3;
    printer.serial = "K4AB01";
    printer.lpIndex = 0;
    ASSERT_TRUE(bed.Add(UmockdevBed::Uart(0, 4) + UmockdevBed::UsbTty("ttyUSB0", "2-1") + UmockdevBed::Parallel(0) +
                        UmockdevBed::Usb(vendor) + UmockdevBed::Usb(printer)));
    CEnumPort e;
    std::vector<PortEntry> list;
    e.EnumPorts(kPortSerial, list);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"COM1", "COM33"}));
    EXPECT_EQ(list[1].number, 33);
    e.EnumPorts(kPortParallel, list);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"LPT1"}));
    e.EnumPorts(kPortUsb, list);
    ASSERT_EQ(Names(list), (std::vector<std::string>{"KPUSB-001", "USB-001"}));
    EXPECT_EQ(list[0].usbClass, kUsbVendorClass);
    EXPECT_EQ(list[1].usbClass, kUsbPrinterClass);
    const std::string detail(list[1].detail.begin(), list[1].detail.end());
    EXPECT_NE(detail.find("vid_7a5e"), std::string::npos) << detail;
  }
  platform::SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
  fs::remove_all(links);
}

}  // namespace
}  // namespace tw::gui
