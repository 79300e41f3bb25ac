// The library's port listing and the completion of the current record, over a
// fake of the machine-ports service and of the Bluetooth search (so the same
// cases run on every system).
#include "portlib/manager/port_enumeration.h"

#include <gtest/gtest.h>

#include "portlib/manager/tests/scripted_backend.h"

namespace tw::portwire {
namespace {

using testing::ManagerRig;

class FakePorts : public platform::IMachinePorts {
 public:
  std::vector<platform::SerialPort> serial;
  std::vector<platform::ParallelPort> parallel;
  std::vector<platform::UsbPrinter> usb[2];
  std::vector<platform::MakerUsbDevice> maker;
  std::vector<platform::SerialPort> SerialPorts() override { return serial; }
  std::vector<platform::ParallelPort> ParallelPorts() override { return parallel; }
  std::vector<platform::UsbPrinter> UsbPrinters(int c) override {
    return c == 0 || c == 1 ? usb[c] : std::vector<platform::UsbPrinter>{};
  }
  std::vector<platform::MakerUsbDevice> MakerUsbDevices() override { return maker; }
};

platform::SerialPort Ser(int number, const std::string& device) {
  platform::SerialPort p;
  p.number = number;
  p.device = device;
  return p;
}

platform::UsbPrinter Usb(int cls, int number, const std::string& identity) {
  platform::UsbPrinter p;
  p.usbClass = cls;
  p.number = number;
  p.identity = identity;
  return p;
}

struct Rig {
  ManagerRig manager{false, false, true};
  FakePorts ports;
  int btLevel = 0;
  int btResult = platform::kBluetoothNone;
  std::vector<platform::PairedBluetoothDevice> paired;
  int searches = 0;
  std::vector<PortSettings> records = std::vector<PortSettings>(8, MakeZeroPortSettings());
  std::vector<PortSettings*> slots;
  CPortEnumeration enumeration;

  Rig()
      : enumeration(manager.m(), PortEnumerationServices{&ports, [this] { return btLevel; },
                                                         [this](std::vector<platform::PairedBluetoothDevice>& out) {
                                                           ++searches;
                                                           out = paired;
                                                           return btResult;
                                                         }}) {
    for (PortSettings& r : records) slots.push_back(&r);
  }
  Result Enum(std::u16string_view type, uint32_t capacity, uint32_t& count) {
    return enumeration.EnumDevPort(type, slots.data(), capacity, &count);
  }
  std::u16string Name(size_t i) const { return std::u16string(GetText(records[i].portName)); }
};

TEST(PortListing, SerialAndParallelPortsAscendingFromTheDefaults) {
  Rig rig;
  rig.ports.serial = {Ser(1, "/dev/ttyS0"), Ser(3, "/dev/ttyS2"), Ser(33, "/dev/ttyUSB0")};
  rig.ports.parallel = {platform::ParallelPort{2, "/dev/lp1"}};
  uint32_t count = 99;
  ASSERT_EQ(rig.Enum(u"com", 8, count), kResultOk);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(rig.Name(0), u"COM1");
  EXPECT_EQ(rig.Name(1), u"COM3");
  EXPECT_EQ(rig.Name(2), u"COM33");
  EXPECT_EQ(GetText(rig.records[1].portType), u"COM");
  EXPECT_EQ(rig.records[1].baudRate, 9600);  // record defaults
  EXPECT_EQ(GetText(rig.records[1].modelName), u"Unknown");

  ASSERT_EQ(rig.Enum(u"LPT", 8, count), kResultOk);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(rig.Name(0), u"LPT2");
  EXPECT_EQ(GetText(rig.records[0].portType), u"LPT");
}

TEST(PortListing, CapacityUnknownTypesAndMissingArguments) {
  Rig rig;
  rig.ports.serial = {Ser(1, "a"), Ser(2, "b"), Ser(5, "c")};
  uint32_t count = 7;
  EXPECT_EQ(rig.Enum(u"COM", 2, count), kResultOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(rig.Name(1), u"COM2");
  EXPECT_EQ(GetText(rig.records[2].portType), u"");  // never touched
  EXPECT_EQ(rig.Enum(u"COM", 0, count), kResultOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(rig.enumeration.EnumDevPort(u"COM", nullptr, 0, &count), kResultOk);

  EXPECT_EQ(rig.Enum(u"XYZ", 8, count), kResultFailed);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(rig.Enum(u"", 8, count), kResultFailed);
  EXPECT_EQ(rig.enumeration.EnumDevPort(u"COM", nullptr, 2, &count), kResultInvalidArgument);
  EXPECT_EQ(rig.enumeration.EnumDevPort(u"COM", rig.slots.data(), 2, nullptr), kResultInvalidArgument);
  rig.slots[1] = nullptr;
  EXPECT_EQ(rig.Enum(u"COM", 2, count), kResultInvalidArgument);
  EXPECT_EQ(count, 1u);  // the record before the hole
  // Entries past what is written are never read: a null there is no error.
  EXPECT_EQ(rig.Enum(u"COM", 1, count), kResultOk);
  EXPECT_EQ(count, 1u);
  rig.ports.serial.clear();
  EXPECT_EQ(rig.enumeration.EnumDevPort(u"COM", rig.slots.data(), 0xFFFFFFFFu, &count), kResultOk);
  EXPECT_EQ(count, 0u);
}

TEST(PortListing, KnownPortsCarryTheDriversSettings) {
  Rig rig;
  rig.ports.serial = {Ser(4, "x")};
  PortSettings known = MakeDefaultPortSettings();
  SetText(known.portType, u"COM");
  SetText(known.portName, u"com4");
  SetText(known.modelName, u"KP-S410");
  known.baudRate = 38400;
  known.route = 1;
  rig.manager.m().FoundPorts().push_back(known);
  uint32_t count = 0;
  ASSERT_EQ(rig.Enum(u"COM", 8, count), kResultOk);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(rig.records[0].baudRate, 38400);
  EXPECT_EQ(rig.records[0].route, 1);
  EXPECT_EQ(GetText(rig.records[0].modelName), u"KP-S410");
}

TEST(PortListing, UsbVendorClassFirstNumberedAcrossBothClassesAndRemembered) {
  Rig rig;
  rig.ports.usb[0] = {Usb(0, 1, "\\\\?\\usb#vid_7a5e&pid_0e15#V1#{6a1c}")};
  rig.ports.usb[1] = {Usb(1, 1, "\\\\?\\usb#vid_7a5e&pid_0202#P1#{28d7}"), Usb(1, 3, "\\\\?\\usb#vid_04b8&pid_0005#Q#{28d7}")};
  rig.manager.m().UsbDevices().push_back(MakeDefaultPortSettings());  // from an earlier listing
  uint32_t count = 0;
  ASSERT_EQ(rig.Enum(u"Usb", 8, count), kResultOk);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(rig.Name(0), u"001");
  EXPECT_EQ(rig.records[0].usbClass, 0);
  EXPECT_EQ(GetText(rig.records[0].servicePortName), u"\\\\?\\usb#vid_7a5e&pid_0e15#V1#{6a1c}");
  EXPECT_EQ(rig.Name(1), u"002");
  EXPECT_EQ(rig.records[1].usbClass, 1);
  EXPECT_EQ(rig.Name(2), u"003");
  const auto& list = rig.manager.m().UsbDevices();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(GetText(list[1].servicePortName), GetText(rig.records[1].servicePortName));

  ASSERT_EQ(rig.Enum(u"USB", 2, count), kResultOk);  // stops both passes at the capacity
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(rig.manager.m().UsbDevices().size(), 2u);
}

TEST(PortListing, BluetoothSplitsTheSerialPortsByPairedDevice) {
  Rig rig;
  rig.ports.serial = {Ser(1, "/dev/ttyS0"), Ser(33, "/dev/ttyUSB0"), Ser(161, "/dev/rfcomm0"), Ser(162, "/dev/rfcomm1")};
  platform::PairedBluetoothDevice printer;
  const uint8_t address[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
  std::copy(address, address + 6, printer.address);
  printer.name = "KP-S410 BT";
  printer.comPort = "COM161";
  rig.paired = {printer};
  rig.btResult = platform::kBluetoothFound;

  uint32_t count = 0;
  rig.btLevel = 0;  // no Bluetooth support: "BT" lists as "COM"
  ASSERT_EQ(rig.Enum(u"BT", 8, count), kResultOk);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(rig.searches, 0);

  rig.btLevel = 2;
  ASSERT_EQ(rig.Enum(u"BT", 8, count), kResultOk);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(rig.Name(0), u"COM161");
  EXPECT_EQ(GetText(rig.records[0].portType), u"COM");
  EXPECT_EQ(GetText(rig.records[0].bluetoothAddress), u"00:11:22:AA:BB:CC");
  EXPECT_EQ(GetText(rig.records[0].modelName), u"KP-S410 BT");

  ASSERT_EQ(rig.Enum(u"SERIAL", 8, count), kResultOk);
  ASSERT_EQ(count, 3u);  // rfcomm1 belongs to no paired device: a plain serial port
  EXPECT_EQ(rig.Name(0), u"COM1");
  EXPECT_EQ(rig.Name(2), u"COM162");
  EXPECT_EQ(GetText(rig.records[2].bluetoothAddress), u"Unknown");
  // "bt" in other case takes the Bluetooth path but lists as "SERIAL".
  ASSERT_EQ(rig.Enum(u"bt", 8, count), kResultOk);
  EXPECT_EQ(count, 3u);

  rig.btResult = platform::kBluetoothNone;
  rig.paired.clear();
  ASSERT_EQ(rig.Enum(u"BT", 8, count), kResultOk);
  EXPECT_EQ(count, 0u);
  rig.btResult = platform::kBluetoothUnavailable;  // a failed search lists as "COM"
  ASSERT_EQ(rig.Enum(u"BT", 8, count), kResultOk);
  EXPECT_EQ(count, 4u);
}

platform::MakerUsbDevice Maker(const std::string& serial, const std::string& product, int kind, int speed) {
  platform::MakerUsbDevice m;
  m.descriptors.vendorId = 0x7A5E;
  m.descriptors.productId = 0x0202;
  m.descriptors.bcdUsb = 0x0200;
  m.descriptors.bcdDevice = 0x0105;
  m.descriptors.serial = serial;
  m.descriptors.product = product;
  m.descriptors.interfaceKind = kind;
  m.descriptors.speedMbps = speed;
  return m;
}

PortSettings UsbRecord(std::u16string_view name, int usbClass, std::u16string_view service) {
  PortSettings r = MakeDefaultPortSettings();
  SetText(r.portType, u"USB");
  SetText(r.portName, name);
  SetText(r.servicePortName, service);
  r.usbClass = usbClass;
  return r;
}

TEST(UsbDetails, TheDeviceWhoseSerialNumberTheNameCarries) {
  Rig rig;
  rig.ports.maker = {Maker("", "QX-NOSERIAL", 1, 480), Maker("zz9", "Other", 0, 12),
                     Maker("k4ab01", "QX-U01", 1, 480), Maker("later", "x", 1, 480)};
  PortSettings r = UsbRecord(u"001", 1, u"\\\\?\\USB#VID_7A5E&PID_0202#K4AB01#{28d7}");
  EXPECT_EQ(rig.enumeration.FillUsbDetails(r), 1);
  EXPECT_EQ(GetText(r.interfaceName), u"QX-U01");
  EXPECT_EQ(GetText(r.versionText), u"1.05");
  EXPECT_EQ(GetText(r.usbSerialNumber), u"K4AB01");
  EXPECT_EQ(GetText(r.usbSpeedText), u"USB2.0 HighSpeed,  USB Printer Class");
  EXPECT_EQ(r.interfaceBoard, 1);
  EXPECT_EQ(GetText(r.servicePortName), u"\\\\?\\usb#vid_7a5e&pid_0202#k4ab01#{28d7}");  // lower-cased in place

  PortSettings other = UsbRecord(u"001", 0, u"\\\\?\\usb#vid_7a5e&pid_0e15#ZZ9#{6a1c}");
  rig.ports.maker = {Maker("ZZ9", "ORLEX QX-V", 0, 12)};
  rig.enumeration.FillUsbDetails(other);
  EXPECT_EQ(GetText(other.usbSpeedText), u"USB2.0 FullSpeed,  USB Vender Class");
  EXPECT_EQ(other.interfaceBoard, 1);

  // A device of neither class, or no match: the detail texts end up empty.
  PortSettings none = UsbRecord(u"001", 0, u"nothing");
  rig.ports.maker = {Maker("ABC", "QX", -1, 12), Maker("DEF", "QX", 1, 12)};
  rig.enumeration.FillUsbDetails(none);
  EXPECT_EQ(GetText(none.interfaceName), u"");
  EXPECT_EQ(GetText(none.usbSerialNumber), u"");
  EXPECT_EQ(none.interfaceBoard, 0);
}

TEST(UsbDetails, CompletionOnlyWhileNoPortIsOpen) {
  Rig rig;
  rig.ports.maker = {Maker("P1", "KP-S410", 1, 480)};
  rig.ports.usb[1] = {Usb(1, 1, "\\\\?\\usb#vid_7a5e&pid_0202#P1#{28d7}")};
  PortSettings r = UsbRecord(u"001", 1, u"\\\\?\\usb#vid_7a5e&pid_0202#P1#{28d7}");
  ASSERT_EQ(rig.enumeration.CompletePortDetails(r), kResultOk);
  EXPECT_EQ(GetText(r.usbSerialNumber), u"P1");
  EXPECT_EQ(GetText(r.servicePortName), u"\\\\?\\usb#vid_7a5e&pid_0202#P1#{28d7}");  // the device path again

  // The device path of number n of the record's class.
  PortSettings byNumber = UsbRecord(u"001", 1, u"");
  rig.enumeration.FillUsbDevicePath(byNumber);
  EXPECT_EQ(GetText(byNumber.servicePortName), u"\\\\?\\usb#vid_7a5e&pid_0202#P1#{28d7}");
  PortSettings vendor = UsbRecord(u"001", 0, u"kept");
  rig.enumeration.FillUsbDevicePath(vendor);
  EXPECT_EQ(GetText(vendor.servicePortName), u"kept");

  ASSERT_EQ(rig.manager.SetPort(u"USB", u"001"), kResultOk);
  ASSERT_EQ(rig.manager.m().Open(1), kResultOk);
  PortSettings open = UsbRecord(u"001", 1, u"\\\\?\\usb#vid_7a5e&pid_0202#P1#{28d7}");
  ASSERT_EQ(rig.enumeration.CompletePortDetails(open), kResultOk);
  EXPECT_EQ(GetText(open.usbSerialNumber), u"Unknown");
}

TEST(UsbDetails, SpeedTextFollowsTheRealSpeed) {
  platform::UsbDescriptors d;
  d.bcdUsb = 0x0110;
  d.speedMbps = 12;
  EXPECT_EQ(CPortEnumeration::SpeedAndClassText(d, 1), u"USB1.1 FullSpeed,  USB Printer Class");
  d.bcdUsb = 0x0300;
  d.speedMbps = 5000;
  EXPECT_EQ(CPortEnumeration::SpeedAndClassText(d, 0), u"USB3.0 HighSpeed,  USB Vender Class");
}

}  // namespace
}  // namespace tw::portwire
