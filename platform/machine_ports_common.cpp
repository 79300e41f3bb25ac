// The parts of the machine-ports service that are the same on every system:
// the COM number table, the USB sort key and identity text, and the walk of a
// configuration descriptor.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/machine_ports.h"

namespace tw::platform {
namespace {

// One fixed range of COM numbers per kind of serial device. The ranges never
// move, so a number found by one program opens the same device in another.
struct ComRange {
  const char* prefix;
  int first;   // COM number of <prefix>0
  int count;
};

constexpr ComRange kComRanges[] = {
    {"ttyS", 1, 32},
    {"ttyUSB", 33, 64},
    {"ttyACM", 97, 64},
    {"rfcomm", 161, 64},
};

// The decimal number after `prefix` in `name`, or -1 (no leading zeros
// except "0" itself, so each device has one name).
int IndexAfter(const std::string& name, const char* prefix) {
  const std::string p(prefix);
  if (name.size() <= p.size() || name.compare(0, p.size(), p) != 0) return -1;
  const std::string digits = name.substr(p.size());
  if (digits.size() > 4 || (digits.size() > 1 && digits[0] == '0')) return -1;
  int value = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

int ComNumberOfTty(const std::string& ttyName) {
  for (const ComRange& r : kComRanges) {
    const int index = IndexAfter(ttyName, r.prefix);
    if (index >= 0 && index < r.count) return r.first + index;
  }
  return 0;
}

std::string TtyOfComNumber(int n) {
  for (const ComRange& r : kComRanges) {
    if (n >= r.first && n < r.first + r.count) return std::string(r.prefix) + std::to_string(n - r.first);
  }
  return {};
}

std::vector<int> UsbSortKey(const std::string& sysName) {
  std::vector<int> key;
  int value = 0;
  bool any = false;
  for (char c : sysName) {
    if (c >= '0' && c <= '9') {
      if (value < 100000) value = value * 10 + (c - '0');
      any = true;
    } else if (c == '-' || c == '.') {
      key.push_back(any ? value : 0);
      value = 0;
      any = false;
    } else {
      break;  // ":1.0" of an interface name
    }
  }
  key.push_back(any ? value : 0);
  return key;
}

std::string UsbIdentityPrefix(std::uint16_t vendorId, std::uint16_t productId, const std::string& instance) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vendorId, productId);
  // '#' separates the parts of the text; a serial number must not add one.
  std::string inst;
  for (char c : instance) inst += (c == '#' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
  return std::string("\\\\?\\usb#") + ids + "#" + inst + "#";
}

std::string UsbIdentity(std::uint16_t vendorId, std::uint16_t productId, const std::string& instance, int usbClass) {
  const char* guid = usbClass == kUsbClassPrinter ? "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"
                                                  : "{6a1c43e2-9d07-4b58-a3f1-52c8e07d9b14}";
  return UsbIdentityPrefix(vendorId, productId, instance) + guid;
}

std::string UsbInstanceText(const std::string& rawSerial, const std::string& sysName) {
  const auto blank = [](char c) { return c == ' ' || static_cast<unsigned char>(c) < 0x20; };
  size_t begin = 0;
  size_t end = rawSerial.size();
  while (begin < end && blank(rawSerial[begin])) ++begin;
  while (end > begin && blank(rawSerial[end - 1])) --end;
  if (begin == end) return "usb-" + sysName;
  return rawSerial.substr(begin, end - begin);
}

namespace {

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool IsUsbIdentity(std::string_view text) {
  constexpr std::string_view kStart = "\\\\?\\usb#";
  return text.size() > kStart.size() && Lowered(text.substr(0, kStart.size())) == kStart;
}

std::string UsbDevicePart(std::string_view identity) {
  if (!IsUsbIdentity(identity)) return {};
  std::string lowered = Lowered(identity);
  const auto cut = lowered.rfind('#');
  lowered.resize(cut + 1);
  return lowered;
}

const UsbPrinter* FindUsbPrinter(const std::vector<UsbPrinter>& list, std::string_view identity) {
  const std::string wanted = UsbDevicePart(identity);
  // At least the ids and the instance, each ended by its '#'.
  if (std::count(wanted.begin(), wanted.end(), '#') < 3) return nullptr;
  for (const UsbPrinter& p : list) {
    if (UsbDevicePart(p.identity) == wanted) return &p;
  }
  return nullptr;
}

int ClassifyConfigurationDescriptor(const std::uint8_t* bytes, std::size_t length) {
  if (bytes == nullptr) return -1;
  std::size_t at = 0;
  while (length - at >= 3) {
    const std::size_t len = bytes[at];
    if (len == 0 || len > length - at) break;
    if (bytes[at + 1] == 4 && len >= 6) {
      if (bytes[at + 5] == 7) return 1;
      if (bytes[at + 5] == 0xFF) return 0;
    }
    at += len;
  }
  return -1;
}

}  // namespace tw::platform
