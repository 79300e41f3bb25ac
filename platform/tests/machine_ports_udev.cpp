// The machine-ports service on Linux against a umockdev test bed: which ttys
// are serial ports and their COM numbers, parallel ports, and the USB printers
// of both classes with their descriptors and order.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/machine_ports.h"
#include "platform/port_names.h"
#include "platform/process.h"
#include "platform/tests/umockdev_bed.h"

namespace tw::platform {
namespace {

namespace fs = std::filesystem;
using tw::testing::UmockdevBed;

class MachinePortsBed : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UmockdevBed::Usable()) GTEST_SKIP() << "needs umockdev-wrapper";
    links = fs::temp_directory_path() /
            ("machine_ports_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(links);
    SetEnv("PORTWIRE_DOSDEVICES", links.string());
    bed = std::make_unique<UmockdevBed>();
  }
  void TearDown() override {
    bed.reset();
    SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
    if (!links.empty()) fs::remove_all(links);
  }
  std::unique_ptr<UmockdevBed> bed;
  fs::path links;
};

UmockdevBed::UsbDevice PrinterClass() {
  UmockdevBed::UsbDevice d;
  d.port = "1-2";
  d.devnum = 3;
  d.serial = "K4AB01";
  d.lpIndex = 0;
  return d;
}

UmockdevBed::UsbDevice VendorClass() {
  UmockdevBed::UsbDevice d;
  d.port = "1-1";
  d.devnum = 2;
  d.product = "0e15";
  d.serial = "V0001";
  d.interfaceClass = "ff";
  d.speed = "12";
  d.version = " 1.10";
  d.bcdDevice = "0203";
  return d;
}

TEST_F(MachinePortsBed, SerialPortsAreTheTtysWithADeviceNumberedByKind) {
  ASSERT_TRUE(bed->Add(UmockdevBed::Uart(0, 4) + UmockdevBed::Uart(1, 0) + UmockdevBed::UsbTty("ttyUSB0", "2-1") +
                       UmockdevBed::UsbTty("ttyACM1", "2-2") + UmockdevBed::Rfcomm(0, "00:11:22:aa:bb:cc")));
  const auto ports = MachinePorts().SerialPorts();
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[0].number, 1);  // ttyS0: a real UART; ttyS1 (type unknown) is not listed
  EXPECT_EQ(ports[0].device, "/dev/ttyS0");
  EXPECT_EQ(ports[0].kind, SerialKind::kUart);
  EXPECT_EQ(ports[1].number, 33);
  EXPECT_EQ(ports[1].device, "/dev/ttyUSB0");
  EXPECT_EQ(ports[1].kind, SerialKind::kUsbSerial);
  EXPECT_EQ(ports[2].number, 98);
  EXPECT_EQ(ports[2].kind, SerialKind::kAcm);
  EXPECT_EQ(ports[3].number, 161);
  EXPECT_EQ(ports[3].kind, SerialKind::kBluetooth);
  EXPECT_EQ(ports[3].btAddress, "00:11:22:AA:BB:CC");

  // Listing and opening share the table.
  EXPECT_EQ(ListComPorts(), (std::vector<int>{1, 33, 98, 161}));
  for (const SerialPort& p : ports) EXPECT_EQ(ResolveComPort(p.number)->string(), p.device);
  EXPECT_EQ(*ResolveComPort(2), fs::path("/dev/ttyS1"));  // opened if asked for, but not listed
}

TEST_F(MachinePortsBed, ALinkWinsForItsNumber) {
  ASSERT_TRUE(bed->Add(UmockdevBed::UsbTty("ttyUSB0", "2-1") + UmockdevBed::UsbTty("ttyUSB1", "2-3")));
  std::ofstream(links / "printer").put('x');
  fs::create_symlink(links / "printer", links / "com33");
  fs::create_symlink(links / "gone", links / "com34");  // dangling: hides ttyUSB1
  fs::create_symlink(links / "printer", links / "com7");
  const auto ports = MachinePorts().SerialPorts();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].number, 7);
  EXPECT_EQ(ports[1].number, 33);
  EXPECT_EQ(ports[1].device, (links / "com33").string());
  EXPECT_EQ(ports[1].kind, SerialKind::kLinked);
  EXPECT_EQ(*ResolveComPort(33), links / "com33");
}

TEST_F(MachinePortsBed, ParallelPortsAreTheLpDevicesOfAParport) {
  ASSERT_TRUE(bed->Add(UmockdevBed::Parallel(0) + UmockdevBed::Parallel(2)));
  const auto ports = MachinePorts().ParallelPorts();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].number, 1);
  EXPECT_EQ(ports[0].device, "/dev/lp0");
  EXPECT_EQ(ports[1].number, 3);
  EXPECT_EQ(ListLptPorts(), (std::vector<int>{1, 3}));
}

TEST_F(MachinePortsBed, UsbPrintersPerClassWithDescriptorsInBusOrder) {
  UmockdevBed::UsbDevice other = PrinterClass();  // another maker's printer, later on the bus
  other.port = "1-10";
  other.devnum = 5;
  other.vendor = "04b8";
  other.product = "0005";
  other.serial = "";
  other.lpIndex = 1;
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(other) + UmockdevBed::Usb(PrinterClass()) + UmockdevBed::Usb(VendorClass())));

  const auto printers = MachinePorts().UsbPrinters(kUsbClassPrinter);
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0].number, 1);
  EXPECT_EQ(printers[0].node, "/dev/usb/lp0");
  EXPECT_EQ(printers[0].identity, "\\\\?\\usb#vid_7a5e&pid_0202#K4AB01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
  const UsbDescriptors& d = printers[0].descriptors;
  EXPECT_EQ(d.vendorId, 0x7A5E);
  EXPECT_EQ(d.productId, 0x0202);
  EXPECT_EQ(d.bcdUsb, 0x0200);
  EXPECT_EQ(d.bcdDevice, 0x0100);
  EXPECT_EQ(d.serial, "K4AB01");
  EXPECT_EQ(d.product, "KP-S410");
  EXPECT_EQ(d.interfaceKind, 1);
  EXPECT_EQ(d.speedMbps, 480);
  EXPECT_TRUE(d.HighSpeed());
  EXPECT_EQ(printers[0].busNumber, 1);
  EXPECT_EQ(printers[0].deviceAddress, 3);
  EXPECT_EQ(printers[1].number, 2);
  EXPECT_EQ(printers[1].node, "/dev/usb/lp1");
  // Without a serial number the instance part is the place on the bus.
  EXPECT_EQ(printers[1].identity, "\\\\?\\usb#vid_04b8&pid_0005#usb-1-10#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");

  const auto vendor = MachinePorts().UsbPrinters(kUsbClassVendor);
  ASSERT_EQ(vendor.size(), 1u);
  EXPECT_EQ(vendor[0].number, 1);
  EXPECT_EQ(vendor[0].node, "/dev/bus/usb/001/002");
  EXPECT_EQ(vendor[0].identity, "\\\\?\\usb#vid_7a5e&pid_0e15#V0001#{6a1c43e2-9d07-4b58-a3f1-52c8e07d9b14}");
  EXPECT_EQ(vendor[0].descriptors.bcdUsb, 0x0110);
  EXPECT_EQ(vendor[0].descriptors.interfaceKind, 0);
  EXPECT_FALSE(vendor[0].descriptors.HighSpeed());

  // The maker's devices in bus order, with the identities of the lists.
  const auto maker = MachinePorts().MakerUsbDevices();
  ASSERT_EQ(maker.size(), 2u);
  EXPECT_EQ(maker[0].identity, vendor[0].identity);
  EXPECT_EQ(maker[1].identity, printers[0].identity);
}

// A printer-class printer that the kernel's printer driver did not claim is
// listed in its class through its usbfs node, with the number and identity it
// would have with the driver; one the driver is bound to waits for its node.
TEST_F(MachinePortsBed, PrinterClassPrintersWithoutThePrinterDriverKeepTheirPlace) {
  UmockdevBed::UsbDevice claimed = PrinterClass();  // "1-2", /dev/usb/lp0
  UmockdevBed::UsbDevice unclaimed = PrinterClass();
  unclaimed.port = "1-1";
  unclaimed.devnum = 2;
  unclaimed.serial = "K4AB02";
  unclaimed.lpIndex = -1;
  UmockdevBed::UsbDevice nodePending = unclaimed;
  nodePending.port = "1-3";
  nodePending.devnum = 4;
  nodePending.serial = "K4AB03";
  nodePending.interfaceDriver = "usblp";
  UmockdevBed::UsbDevice otherMaker = unclaimed;  // never taken from its owner
  otherMaker.port = "1-4";
  otherMaker.devnum = 5;
  otherMaker.vendor = "04b8";
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(claimed) + UmockdevBed::Usb(unclaimed) + UmockdevBed::Usb(nodePending) +
                       UmockdevBed::Usb(otherMaker)));

  const auto printers = MachinePorts().UsbPrinters(kUsbClassPrinter);
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0].number, 1);
  EXPECT_EQ(printers[0].node, "/dev/bus/usb/001/002");
  EXPECT_TRUE(printers[0].withoutPrinterDriver);
  EXPECT_EQ(printers[0].identity, "\\\\?\\usb#vid_7a5e&pid_0202#K4AB02#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
  EXPECT_EQ(printers[0].descriptors.serial, "K4AB02");
  EXPECT_EQ(printers[1].number, 2);
  EXPECT_EQ(printers[1].node, "/dev/usb/lp0");
  EXPECT_FALSE(printers[1].withoutPrinterDriver);
  EXPECT_TRUE(MachinePorts().UsbPrinters(kUsbClassVendor).empty());

  // Once the driver claims it, the same device keeps number and identity.
  bed->RemoveUsb(unclaimed);
  unclaimed.lpIndex = 1;
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(unclaimed)));
  const auto later = MachinePorts().UsbPrinters(kUsbClassPrinter);
  ASSERT_EQ(later.size(), 2u);
  EXPECT_EQ(later[0].node, "/dev/usb/lp1");
  EXPECT_FALSE(later[0].withoutPrinterDriver);
  EXPECT_EQ(later[0].identity, printers[0].identity);
}

TEST_F(MachinePortsBed, NothingPresentNothingListed) {
  EXPECT_TRUE(MachinePorts().SerialPorts().empty());
  EXPECT_TRUE(MachinePorts().ParallelPorts().empty());
  EXPECT_TRUE(MachinePorts().UsbPrinters(kUsbClassPrinter).empty());
  EXPECT_TRUE(MachinePorts().UsbPrinters(kUsbClassVendor).empty());
  EXPECT_TRUE(MachinePorts().UsbPrinters(7).empty());
}

}  // namespace
}  // namespace tw::platform
