#include "portlib/backends/open_block_builder.h"

#include <string>

#include "platform/ipv4_text.h"

namespace tw::portwire {
namespace {

constexpr int64_t kNumberCap = 1'000'000'000;
// Serial ports up to COM255, the numbers that the port listing knows: on Linux
// USB-serial adapters and Bluetooth ttys are numbered above 32.
constexpr int32_t kMaxSerialNumber = 255;

bool SerialNumber(std::u16string_view name, int32_t maxNumber, int32_t& index) {
  const int64_t n = name.size() > 3 ? LeadingDecimal(name.substr(3)) : 0;
  if (n < 1 || n > maxNumber) return false;
  index = static_cast<int32_t>(n - 1);
  return true;
}

// The record's address text (ParseDottedIpv4). Each UTF-16 unit counts by its
// low byte, as the name is narrowed.
bool NetworkAddress(std::u16string_view name, uint8_t out[4]) {
  if (name.size() > kPortTextMaxChars) return false;
  std::string narrow(name.size(), '\0');
  for (size_t i = 0; i < name.size(); ++i) narrow[i] = static_cast<char>(name[i] & 0xFF);
  return platform::ParseDottedIpv4(narrow, out);
}

}  // namespace

int64_t LeadingDecimal(std::u16string_view text) {
  int64_t n = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    if (n < kNumberCap) n = n * 10 + (c - u'0');
  }
  return n;
}

int32_t SpeedCodeOfBaud(int32_t baud) {
  for (int32_t code = 0; code < lnkio::kSpeedCodeCount; ++code) {
    if (lnkio::SpeedCodeToBaud(code) == baud) return code;
  }
  return -1;
}

bool BuildOpenBlock(const PortSettings& settings, lnkio::LinkOpenBlock& block) {
  const std::u16string_view type = GetText(settings.portType);
  const std::u16string_view name = GetText(settings.portName);
  lnkio::LinkOpenBlock b = block;

  if (type == u"COM") {
    if (!SerialNumber(name, kMaxSerialNumber, b.serialIndex)) return false;
    b.kind = lnkio::kLinkSerial;
    const int32_t speed = SpeedCodeOfBaud(settings.baudRate);
    if (speed >= 0) b.speedCode = speed;
    b.dataBits = settings.dataBits;
    b.parity = settings.parity;
    b.flowMode = lnkio::kFlowHardware;
    b.serialOption = 0;
  } else if (type == u"LPT") {
    if (!SerialNumber(name, 9, b.parallelIndex)) return false;
    b.kind = lnkio::kLinkParallel;
  } else if (type == u"USB") {
    if (settings.usbClass == 0) {
      b.kind = lnkio::kLinkUsbVendor;
    } else if (settings.usbClass == 1) {
      b.kind = lnkio::kLinkUsbPrinter;
    } else if (b.kind != lnkio::kLinkUsbVendor && b.kind != lnkio::kLinkUsbPrinter) {
      // An unknown class keeps the USB kind of the last open; never a
      // serial or network kind left over from another port.
      b.kind = lnkio::kLinkUsbVendor;
    }
    b.usbIndex = static_cast<int32_t>(LeadingDecimal(name) - 1);
    b.usbOption = 0;
  } else if (type == u"NET") {
    uint8_t address[4];
    if (!NetworkAddress(name, address)) return false;
    b.kind = lnkio::kLinkNetwork;
    for (int i = 0; i < 4; ++i) b.ipv4[i] = address[i];
  } else if (type == u"BT") {
    if (!SerialNumber(name, kMaxSerialNumber, b.serialIndex)) return false;
    b.kind = lnkio::kLinkSerial;
    b.speedCode = 7;
    b.dataBits = 8;
    b.parity = 0;
    b.flowMode = lnkio::kFlowBluetooth;
    b.serialOption = 0;
  } else {
    // Opening whatever the block described before would reach a port the
    // caller never named.
    return false;
  }
  b.enabled = 1;
  b.reserved0 = 0;
  b.reserved1 = 0;
  b.reserved2 = 0;
  b.linkTimeoutMs = kOpenBlockLinkTimeoutMs;
  block = b;
  return true;
}

}  // namespace tw::portwire
