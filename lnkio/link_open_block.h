#pragma once
// The 64-byte block that describes the link LNKIO_Open makes: sixteen
// little-endian int32 fields. The direct backend fills it and hands it over by
// address; the port-access library reads it. Plain C++ without OS headers, so
// core code can include it.

#include <cstddef>
#include <cstdint>

namespace tw::lnkio {

enum LinkKind : std::int32_t {
  kLinkPriming = -1,       // first call after loading: nothing is opened
  kLinkSerial = 0,         // COM ports and Bluetooth serial ports
  kLinkParallel = 1,       // LPT ports
  kLinkUsbVendor = 2,      // USB devices of the printer maker's own class
  kLinkNetwork = 3,        // TCP port 9100 of an IPv4 address
  kLinkUsbPrinter = 4,     // USB printer class (kernel printer device)
};

// Flow mode values of the serial link.
enum SerialFlowMode : std::int32_t {
  kFlowHardware = 0,       // RTS/CTS obeyed (LNKIO_SetNoFlow can switch it off)
  kFlowBluetooth = 3,      // Bluetooth serial: no modem lines, flow control ignored
};

// Speed codes 0..7: 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 baud.
inline constexpr std::int32_t kSpeedCodeCount = 8;
inline constexpr std::int32_t SpeedCodeToBaud(std::int32_t code) {
  constexpr std::int32_t rates[kSpeedCodeCount] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  return code >= 0 && code < kSpeedCodeCount ? rates[code] : 0;
}

struct LinkOpenBlock {
  std::int32_t kind;              // LinkKind
  std::int32_t enabled;           // always 1
  std::int32_t serialIndex;       // COM number - 1 (0..254)
  std::int32_t speedCode;         // see SpeedCodeToBaud
  std::int32_t dataBits;          // 5..8
  std::int32_t parity;            // 0 none, 1 odd, 2 even
  std::int32_t serialOption;      // 0
  std::int32_t flowMode;          // SerialFlowMode
  std::int32_t parallelIndex;     // LPT number - 1 (0..8)
  std::int32_t usbIndex;          // USB number - 1
  std::int32_t usbOption;         // 0
  std::uint8_t ipv4[4];           // first part of the dotted address in ipv4[0]
  std::int32_t reserved0;
  std::int32_t reserved1;
  std::int32_t reserved2;
  std::int32_t linkTimeoutMs;     // connect and write time-out (EffectiveLinkTimeoutMs)
};

// The link timeout in effect for a block's value: 2000 ms when it is not
// positive.
inline constexpr std::int32_t kDefaultLinkTimeoutMs = 2000;
inline constexpr int EffectiveLinkTimeoutMs(std::int32_t ms) { return ms > 0 ? ms : kDefaultLinkTimeoutMs; }

static_assert(sizeof(LinkOpenBlock) == 64);
static_assert(offsetof(LinkOpenBlock, kind) == 0x00);
static_assert(offsetof(LinkOpenBlock, enabled) == 0x04);
static_assert(offsetof(LinkOpenBlock, serialIndex) == 0x08);
static_assert(offsetof(LinkOpenBlock, speedCode) == 0x0C);
static_assert(offsetof(LinkOpenBlock, dataBits) == 0x10);
static_assert(offsetof(LinkOpenBlock, parity) == 0x14);
static_assert(offsetof(LinkOpenBlock, serialOption) == 0x18);
static_assert(offsetof(LinkOpenBlock, flowMode) == 0x1C);
static_assert(offsetof(LinkOpenBlock, parallelIndex) == 0x20);
static_assert(offsetof(LinkOpenBlock, usbIndex) == 0x24);
static_assert(offsetof(LinkOpenBlock, usbOption) == 0x28);
static_assert(offsetof(LinkOpenBlock, ipv4) == 0x2C);
static_assert(offsetof(LinkOpenBlock, reserved0) == 0x30);
static_assert(offsetof(LinkOpenBlock, reserved1) == 0x34);
static_assert(offsetof(LinkOpenBlock, reserved2) == 0x38);
static_assert(offsetof(LinkOpenBlock, linkTimeoutMs) == 0x3C);

}  // namespace tw::lnkio
