#pragma once
// PortSettings: the one record that describes a port to the communication
// library. It crosses the boundary between separately built programs, so its
// layout is a fixed binary format: 5764 bytes, little-endian int32 fields and
// UTF-16 string fields of 260 units holding zero-terminated text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tw {

constexpr size_t kPortTextUnits = 260;            // per string field, terminator included
constexpr size_t kPortTextMaxChars = kPortTextUnits - 1;

using PortText = char16_t[kPortTextUnits];

struct PortSettings {
  PortText portType;         // "COM", "LPT", "USB", "NET" or "BT"
  PortText portName;         // per type: "COM3", "LPT1", "001", "192.168.0.5", "BTx3"
  int32_t readTimeout;       // ms when a read asks for -1; -1 here means 2000
  int32_t writeTimeout;      // ms when a write asks for -1; -1 here means 2000
  int32_t route;             // 1: driver path / port service; anything else: direct
  PortText deviceName;       // name under which the driver path opens the device
  PortText servicePortName;  // port service name, USB interface path or MAC text
  PortText modelName;        // "KP-S..." switches status interpretation to the slip series
  int32_t reserved;
  int32_t baudRate;          // serial only
  int32_t parity;            // serial only: 0 none, 1 odd, 2 even
  int32_t dataBits;          // serial only: 7 or 8
  int32_t flowControl;       // serial only, 1 = on
  int32_t interfaceBoard;    // 1 for USB interface boards named "QX-..."
  int32_t usbClass;          // USB only: 1 printer class, 0 vendor class
  PortText bluetoothAddress; // "%02X:%02X:%02X:%02X:%02X:%02X"
  PortText interfaceName;    // USB product string or network interface name
  PortText versionText;
  PortText secondVersionText;
  PortText usbSerialNumber;
  PortText usbSpeedText;
  int32_t routeKind;         // 2 driver path, 3 port service, 0 otherwise
};

static_assert(sizeof(char16_t) == 2);
static_assert(offsetof(PortSettings, portType) == 0x0000);
static_assert(offsetof(PortSettings, portName) == 0x0208);
static_assert(offsetof(PortSettings, readTimeout) == 0x0410);
static_assert(offsetof(PortSettings, writeTimeout) == 0x0414);
static_assert(offsetof(PortSettings, route) == 0x0418);
static_assert(offsetof(PortSettings, deviceName) == 0x041C);
static_assert(offsetof(PortSettings, servicePortName) == 0x0624);
static_assert(offsetof(PortSettings, modelName) == 0x082C);
static_assert(offsetof(PortSettings, reserved) == 0x0A34);
static_assert(offsetof(PortSettings, baudRate) == 0x0A38);
static_assert(offsetof(PortSettings, parity) == 0x0A3C);
static_assert(offsetof(PortSettings, dataBits) == 0x0A40);
static_assert(offsetof(PortSettings, flowControl) == 0x0A44);
static_assert(offsetof(PortSettings, interfaceBoard) == 0x0A48);
static_assert(offsetof(PortSettings, usbClass) == 0x0A4C);
static_assert(offsetof(PortSettings, bluetoothAddress) == 0x0A50);
static_assert(offsetof(PortSettings, interfaceName) == 0x0C58);
static_assert(offsetof(PortSettings, versionText) == 0x0E60);
static_assert(offsetof(PortSettings, secondVersionText) == 0x1068);
static_assert(offsetof(PortSettings, usbSerialNumber) == 0x1270);
static_assert(offsetof(PortSettings, usbSpeedText) == 0x1478);
static_assert(offsetof(PortSettings, routeKind) == 0x1680);
static_assert(sizeof(PortSettings) == 5764);

// A zero-filled record.
PortSettings MakeZeroPortSettings();

// The library's default record: every string field "Unknown", timeouts 2000 and
// 2000, 9600 baud, 8 data bits, everything else 0.
PortSettings MakeDefaultPortSettings();

// Text of a string field, up to its terminator (never beyond the field).
std::u16string_view GetText(const PortText& field);

// Stores text with its terminator. Returns false, and leaves the field unchanged,
// when the text does not fit (more than 259 characters).
bool SetText(PortText& field, std::u16string_view text);

// ASCII case-insensitive equality, as the library compares port types.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace tw
