#pragma once
// The machine's ports: serial and parallel ports and the maker's USB printers,
// as every program of the system sees them (the library's listing, the
// port-access library's "USB n of class c", the device-change handling and
// the front end's port pages).
//
// Windows: COMn/LPTn are the system's DOS device names; USB printers are the
// device interfaces of two interface classes in SetupAPI's member order, with
// their descriptors read through the USB hubs.
//
// Linux: libudev answers (never a walk of /dev):
//   - serial ports are the ttys with a device behind them: ttyS with a UART
//     type other than "unknown", ttyUSB, ttyACM, rfcomm;
//   - parallel ports are the lp devices of a present parport;
//   - USB printer class: the usbmisc lp nodes, and the maker's printer-class
//     devices that no kernel printer driver claimed (their usbfs node);
//     USB vendor class: devices with vendor id 0x7A5E and a vendor-specific
//     (0xFF) interface.
//   COM numbers come from one table (ComNumberOfTty / TtyOfComNumber), shared
//   by listing and opening:
//     COM1..COM32     ttyS0..ttyS31
//     COM33..COM96    ttyUSB0..ttyUSB63   (USB-serial adapters)
//     COM97..COM160   ttyACM0..ttyACM63   (CDC-ACM devices)
//     COM161..COM224  rfcomm0..rfcomm63   (Bluetooth serial)
//   and a link "comN" in the link folder (PORTWIRE_DOSDEVICES, see
//   port_names.h) wins over the table for its number. LPTn is lp(n-1).
//
// USB printers are numbered per class from 1 in one order: by bus, then by
// the port path from the root hub (UsbSortKey), so the number of a device does
// not depend on when it was plugged in. Each carries an identity text with the
// information of a Windows device path:
//   \\?\usb#vid_7a5e&pid_0202#<serial>#{<interface class GUID>}
// (lower-case hex ids; the instance part is the serial number, or the USB port
// path "usb-<bus>-<ports>" when the device has none), so the device-name rules
// of the library work unchanged on both systems.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::platform {

inline constexpr std::uint16_t kMakerUsbVendorId = 0x7A5E;

// USB classes as the port settings record numbers them.
inline constexpr int kUsbClassVendor = 0;   // the maker's own driver class
inline constexpr int kUsbClassPrinter = 1;  // the USB printer class

inline constexpr int kMaxListedPortNumber = 255;  // COMn/LPTn listed up to this n
inline constexpr int kMaxUsbPerClass = 127;       // devices numbered per class

enum class SerialKind { kUart, kUsbSerial, kAcm, kBluetooth, kLinked };

struct SerialPort {
  int number = 0;           // n of COMn
  std::string device;       // what opening COMn opens (/dev/ttyUSB0, a link, \\.\COM3)
  SerialKind kind = SerialKind::kUart;
  std::string btAddress;    // Bluetooth serial: the bound device "AA:BB:CC:DD:EE:FF", else empty
  std::string product;      // USB-serial and CDC-ACM: the USB device's product string, else empty
};

struct ParallelPort {
  int number = 0;           // n of LPTn
  std::string device;
};

// What the library shows of a USB device of the maker. Read from the device
// descriptor and its strings.
struct UsbDescriptors {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t bcdUsb = 0;         // e.g. 0x0200
  std::uint16_t bcdDevice = 0;      // e.g. 0x0100
  std::string manufacturer;         // UTF-8; empty when the device has none
  std::string product;
  std::string serial;
  int interfaceKind = -1;           // 1 printer interface (class 7), 0 vendor (0xFF), -1 neither
  int speedMbps = 0;                // connection speed: 1 (1.5), 12, 480, 5000 ...; 0 unknown
  bool HighSpeed() const { return speedMbps >= 480; }
};

struct UsbPrinter {
  int usbClass = kUsbClassVendor;   // kUsbClassVendor or kUsbClassPrinter
  int number = 0;                   // position in its class's list, from 1
  std::string identity;             // see above; on Windows the device path
  std::string node;                 // Linux: /dev/usb/lpN or /dev/bus/usb/BBB/DDD; Windows: the device path
  int busNumber = 0;                // Linux: USB bus and device address (0 on Windows)
  int deviceAddress = 0;
  std::vector<int> sortKey;         // UsbSortKey of its place on the bus
  UsbDescriptors descriptors;       // see below (filled as far as known)
  // Linux, printer class: no kernel printer driver has claimed the device,
  // so `node` is its usbfs node and it is reached through libusb.
  bool withoutPrinterDriver = false;
};

// One USB device of the maker (vendor id 0x7A5E) as found on the bus, in bus
// order, whether or not its interface is one of the two classes.
struct MakerUsbDevice {
  std::string identity;             // the identity text of the device (see above)
  UsbDescriptors descriptors;
};

// The service. Tests of core code put in a fake; MachinePorts() is the real one.
class IMachinePorts {
 public:
  virtual ~IMachinePorts() = default;
  // Present serial ports, ascending by number, each number once.
  virtual std::vector<SerialPort> SerialPorts() = 0;
  // Present parallel ports, ascending by number.
  virtual std::vector<ParallelPort> ParallelPorts() = 0;
  // USB printers of one class in their numbering order (number = index + 1
  // on Linux; on Windows SetupAPI's member index + 1, so gaps are possible).
  virtual std::vector<UsbPrinter> UsbPrinters(int usbClass) = 0;
  // Every device of the maker on the bus, with its descriptors.
  virtual std::vector<MakerUsbDevice> MakerUsbDevices() = 0;
};

// The machine's real ports.
IMachinePorts& MachinePorts();

// ----- The COM number table (pure; the same on every system) -----

// COM number of a Linux serial device name ("ttyUSB3" -> 36), 0 when the name
// has no number in the table.
int ComNumberOfTty(const std::string& ttyName);
// The device name a COM number stands for without a link ("ttyS0" for 1),
// empty outside the table.
std::string TtyOfComNumber(int n);

// Sort key of a USB device's place: bus, then the port numbers from the root
// hub, read from a sysfs device name "1-2.3" (-> {1, 2, 3}).
std::vector<int> UsbSortKey(const std::string& sysName);

// The identity text of a USB device (see above). `instance` is the serial
// number, or a stand-in when the device has none.
std::string UsbIdentity(std::uint16_t vendorId, std::uint16_t productId, const std::string& instance,
                        int usbClass);

// The identity text up to the class part ("\\?\usb#vid_7a5e&pid_0202#<serial>#"):
// what a Linux device-change event names a device by, since the interfaces
// (and with them the class) are not known yet when a device arrives. Every
// identity text of the device contains it.
std::string UsbIdentityPrefix(std::uint16_t vendorId, std::uint16_t productId, const std::string& instance);

// The instance part of a USB device's identity text: its serial number with
// blanks and control characters at either end trimmed, or "usb-<sysName>"
// when that leaves nothing. The listing and the device-change events both
// name a device by it, so an event always matches the listed identity.
std::string UsbInstanceText(const std::string& rawSerial, const std::string& sysName);

// Whether a text (any case) is a USB identity text ("\\?\usb#..."), as the
// listing writes into a record's service port name.
bool IsUsbIdentity(std::string_view text);
// The device part of an identity text, lower-cased: up to and including the
// '#' before its class part. The same device listed in the other class has
// the same device part.
std::string UsbDevicePart(std::string_view identity);
// The printer of `list` that `identity` (any case) names, by its device
// part; null when none does.
const UsbPrinter* FindUsbPrinter(const std::vector<UsbPrinter>& list, std::string_view identity);

// Kind of a USB configuration descriptor's interfaces: walks the descriptors by
// their length bytes while at least 3 bytes remain (a length of 0 or one that
// runs past the end stops the walk); the first interface descriptor (type 4)
// of class 7 gives 1, the first of class 0xFF gives 0; none: -1.
int ClassifyConfigurationDescriptor(const std::uint8_t* bytes, std::size_t length);

}  // namespace tw::platform
