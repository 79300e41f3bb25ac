// Port lists by kind: order, numbering, names and USB classes.
#include <gtest/gtest.h>

#include "fake_views.h"
#include "gui/enum_port.h"

namespace tw::gui {
namespace {

using testing::Narrow;

TEST(EnumPort, SerialPortsInAscendingOrderUpTo255) {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  src.com = {10, 2, 1, 256, 300};
  CEnumPort e(&src, &finder);
  std::vector<PortEntry> list(3);  // emptied first
  EXPECT_EQ(e.EnumPorts(kPortSerial, list), 3);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(Narrow(list[0].name), "COM1");
  EXPECT_EQ(Narrow(list[1].name), "COM2");
  EXPECT_EQ(Narrow(list[2].name), "COM10");
  EXPECT_EQ(list[2].number, 10);
  EXPECT_EQ(list[2].kind, kPortSerial);
  EXPECT_EQ(list[2].baudRate, 0);
  EXPECT_TRUE(list[2].detail.empty());

  src.lpt = {1, 3};
  e.EnumPorts(kPortParallel, list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(Narrow(list[1].name), "LPT3");
  EXPECT_EQ(list[1].kind, kPortParallel);

  e.EnumPorts(7, list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(finder.searches, 0);
}

TEST(EnumPort, UsbVendorClassFirstNumbersCountPerClassWithGaps) {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  src.usb[kUsbVendorClass] = {{0, u"vendor-a"}, {2, u"vendor-c"}};
  src.usb[kUsbPrinterClass] = {{0, u"usblp-a"}, {127, u"beyond"}};
  CEnumPort e(&src, &finder);
  std::vector<PortEntry> list;
  e.EnumPorts(kPortUsb, list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(Narrow(list[0].name), "KPUSB-001");
  EXPECT_EQ(list[0].usbClass, kUsbVendorClass);
  EXPECT_EQ(Narrow(list[0].detail), "vendor-a");
  EXPECT_EQ(Narrow(list[1].name), "KPUSB-003");
  EXPECT_EQ(list[1].number, 3);
  EXPECT_EQ(Narrow(list[2].name), "USB-001");
  EXPECT_EQ(list[2].number, 1);
  EXPECT_EQ(list[2].usbClass, kUsbPrinterClass);
  EXPECT_EQ(Narrow(PortName(kPortUsb, 127, kUsbPrinterClass)), "USB-127");
}

TEST(EnumPort, NetworkEntriesCarryTheAddressAsDetailInArrivalOrder) {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  finder.printers = {"127.0.0.9", "127.0.0.3", "127.0.0.9"};
  CEnumPort e(&src, &finder);
  std::vector<PortEntry> list;
  e.EnumPorts(kPortNetwork, list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(Narrow(list[0].detail), "127.0.0.9");
  EXPECT_EQ(Narrow(list[2].detail), "127.0.0.9");
  EXPECT_EQ(list[0].kind, kPortNetwork);
  EXPECT_EQ(list[0].number, 0);
  EXPECT_TRUE(list[0].name.empty());
}

// Each listed port carries what the lists show beside its name; the page
// lists keep the names as item texts and hand the details to the view.
TEST(EnumPort, DetailsGoWithTheListedPortsAndIntoTheLists) {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  src.com = {33, 1};
  src.details[{kPortSerial, 33, 0}] = {u"/dev/ttyUSB0", u"FT232R USB UART", false,
                                       u"members of group dialout may open it"};
  src.details[{kPortSerial, 1, 0}] = {u"/dev/ttyS0", u"", true, u""};
  src.usb[kUsbPrinterClass] = {{0, u"\\\\?\\usb#vid_7a5e"}};
  src.details[{kPortUsb, 1, kUsbPrinterClass}] = {u"/dev/usb/lp0", u"Orlex KP-S410", true, u""};
  CEnumPort e(&src, &finder);
  std::vector<PortEntry> list;
  e.EnumPorts(kPortSerial, list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(Narrow(DescribePortDetails(list[0].details)), "/dev/ttyS0\nmay be opened");
  EXPECT_EQ(Narrow(DescribePortDetails(list[1].details)),
            "/dev/ttyUSB0\nFT232R USB UART\ncannot be opened: members of group dialout may open it");
  EXPECT_EQ(Narrow(DescribePortDetails(PortDetails{})), "");  // nothing known, nothing shown
  e.EnumPorts(kPortUsb, list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(Narrow(list[0].details.product), "Orlex KP-S410");

  CConfigCOM com(&e);
  testing::FakeComView view;
  com.Attach(&view);
  com.OnInitDialog();
  EXPECT_EQ(view.ports.Rows(), (std::vector<std::string>{"COM1", "COM33"}));
  EXPECT_EQ(view.ports.details[1], Narrow(DescribePortDetails(src.details[{kPortSerial, 33, 0}])));
}

}  // namespace
}  // namespace tw::gui
