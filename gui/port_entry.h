#pragma once
// The front end's port record: an entry of a list of found ports, the state of
// a configuration page, and the current choice of the two dialogs.

#include <cstdint>
#include <string>

namespace tw::gui {

// Kinds of port, numbered as the record stores them.
enum PortKind : std::int32_t {
  kPortNone = 0,
  kPortSerial = 1,
  kPortParallel = 2,
  kPortUsb = 3,
  kPortNetwork = 4,
};

// USB interface classes: the maker's vendor-class driver and the system's
// printer class.
constexpr std::int32_t kUsbVendorClass = 0;
constexpr std::int32_t kUsbPrinterClass = 1;

// Serial parity values.
constexpr std::int32_t kParityNone = 1;
constexpr std::int32_t kParityEven = 2;
constexpr std::int32_t kParityOdd = 3;

// What the port lists show beside a port's name, so a technician can tell
// which COM number is the adapter just plugged in and whether it will open.
// Not part of the choice: the console program's options never use it.
struct PortDetails {
  std::u16string device;   // device node or path ("/dev/ttyUSB0", a link, "\\.\COM3"); empty: unknown
  std::u16string product;  // product name, when the system knows one
  bool mayOpen = true;     // the user may open the device
  std::u16string fix;      // when not: what grants access (group, udev rule, usblp)

  bool operator==(const PortDetails&) const = default;
};

// A value type: copied whole. An empty entry has kind 0, every number 0 and
// both texts empty.
struct PortEntry {
  std::int32_t kind = kPortNone;
  std::int32_t number = 0;    // COMn/LPTn number; USB ordinal within its class; 0 for network
  std::u16string name;        // shown to the user; the IP address text for network
  std::int32_t baudRate = 0;  // serial only
  std::int32_t parity = 0;    // serial only: kParityNone/Even/Odd
  std::int32_t dataBits = 0;  // serial only: 7 or 8
  std::int32_t usbClass = 0;  // USB only: kUsbVendorClass or kUsbPrinterClass
  std::u16string detail;      // USB: device path; network list rows: "a.b.c.d"
  PortDetails details;        // shown beside the name in the port lists (serial, parallel, USB)

  bool operator==(const PortEntry&) const = default;
};

}  // namespace tw::gui
