#include "tools/ports/port_listing.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/machine_ports.h"
#include "platform/port_access.h"
#include "platform/port_names.h"
#include "platform/text.h"

namespace tw::ports {

namespace {

constexpr std::uint32_t kCapacity = 256;

std::string Text(const PW_TEXT& field) {
  const auto* units = reinterpret_cast<const char16_t*>(field);
  std::size_t n = 0;
  while (n < 260 && units[n] != 0) ++n;
  return platform::Utf16ToUtf8(std::u16string_view(units, n));
}

// The library fills fields it knows nothing about with "Unknown".
std::string Known(const PW_TEXT& field) {
  std::string t = Text(field);
  return t == "Unknown" ? std::string() : t;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The records of one type, or false when the library refused the listing.
bool Enumerate(const LibraryPorts& lib, const char16_t* type, std::vector<PortSettings>& out, std::string& note) {
  auto records = std::make_unique<PortSettings[]>(kCapacity);
  std::vector<PortSettings*> slots;
  for (std::uint32_t i = 0; i < kCapacity; ++i) slots.push_back(&records[i]);
  std::uint32_t found = 0;
  const int32_t rc = lib.enumDevPort(reinterpret_cast<const uint16_t*>(type), slots.data(), kCapacity, &found);
  if (rc != PW_OK) {
    char text[64];
    std::snprintf(text, sizeof text, "%s: result 0x%08X",
                  platform::Utf16ToUtf8(std::u16string_view(type)).c_str(), static_cast<unsigned>(rc));
    note = text;
    return false;
  }
  out.assign(records.get(), records.get() + std::min(found, kCapacity));
  return true;
}

// The number after a prefix ("COM33" -> 33), 0 when there is none.
int NumberAfter(const std::string& name, std::size_t prefix) {
  int n = 0;
  for (std::size_t i = prefix; i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])); ++i) {
    n = n * 10 + (name[i] - '0');
    if (n > 100000) return 0;
  }
  return n;
}

void SetNode(PortRow& row, const std::filesystem::path& node, platform::DeviceAccess access) {
  row.node = node.string();
  std::error_code ec;
  if (std::filesystem::is_symlink(node, ec)) {
    const auto target = std::filesystem::canonical(node, ec);
    row.target = ec ? std::filesystem::read_symlink(node, ec).string() : target.string();
  }
  const platform::PortAccess verdict = platform::CheckPortAccess(row.node, access);
  row.mayOpen = verdict.mayOpen;
  row.fix = verdict.fix;
}

PortRow NumberedRow(const PortSettings& r, const char* kind, const char* option) {
  PortRow row;
  row.kind = kind;
  row.port = Text(r.portName);
  const int n = NumberAfter(row.port, 3);
  row.options = std::string(option) + std::to_string(n);
  const auto node = row.kind == "LPT" ? platform::ResolveLptPort(n) : platform::ResolveComPort(n);
  if (node) SetNode(row, *node, row.kind == "LPT" ? platform::DeviceAccess::kParallel : platform::DeviceAccess::kSerial);
  return row;
}

// The record completed by the library (KPC_SetPort, then KPC_GetPort).
PortSettings Completed(const LibraryPorts& lib, const PortSettings& r) {
  PortSettings copy = r, out = r;
  if (lib.setPort(&copy) != PW_OK || lib.getPort(&out) != PW_OK) return r;
  return out;
}

void AddUsb(const LibraryPorts& lib, const std::vector<PortSettings>& records, Listing& listing) {
  std::vector<platform::UsbPrinter> byClass[2] = {platform::MachinePorts().UsbPrinters(platform::kUsbClassVendor),
                                                  platform::MachinePorts().UsbPrinters(platform::kUsbClassPrinter)};
  int counted[2] = {0, 0};
  for (const PortSettings& r : records) {
    const int usbClass = r.usbClass != 0 ? 1 : 0;
    PortRow row;
    row.kind = "USB";
    row.port = Text(r.portName);
    row.identity = Text(r.servicePortName);
    // Trimsense numbers USB printers within their class.
    int number = ++counted[usbClass];
    const platform::UsbPrinter* device = nullptr;
    for (const auto& p : byClass[usbClass]) {
      if (Lower(p.identity) == Lower(row.identity)) device = &p;
    }
    if (device) number = device->number;
    row.options = "-u" + std::to_string(number) + (usbClass == 1 ? " -uCp" : " -uCv");
    row.product = Known(Completed(lib, r).interfaceName);
    if (device) {
      if (row.product.empty()) row.product = device->descriptors.product;
      SetNode(row, device->node,
              usbClass == 1 ? platform::DeviceAccess::kUsbPrinter : platform::DeviceAccess::kUsbVendor);
    } else {
      row.mayOpen = false;
      row.fix = "the device is no longer there";
    }
    listing.rows.push_back(std::move(row));
  }
}

}  // namespace

Listing ListPorts(const LibraryPorts& lib, bool network) {
  Listing listing;
  std::string note;
  std::vector<PortSettings> records;

  if (Enumerate(lib, u"COM", records, note)) {
    std::vector<PortSettings> bluetooth;
    std::string btNote;
    if (!Enumerate(lib, u"BT", bluetooth, btNote)) listing.notes.push_back(btNote);
    for (const PortSettings& r : records) {
      PortRow row = NumberedRow(r, "COM", "-c");
      for (const PortSettings& b : bluetooth) {
        // Without Bluetooth support "BT" lists every serial port, without an address.
        if (Text(b.portName) != row.port || Known(b.bluetoothAddress).empty()) continue;
        row.kind = "BT";
        row.identity = Known(b.bluetoothAddress);
        row.product = Known(b.modelName);
      }
      listing.rows.push_back(std::move(row));
    }
  } else {
    listing.notes.push_back(note);
    listing.complete = false;
  }

  if (Enumerate(lib, u"LPT", records, note)) {
    for (const PortSettings& r : records) listing.rows.push_back(NumberedRow(r, "LPT", "-l"));
  } else {
    listing.notes.push_back(note);
    listing.complete = false;
  }

  if (Enumerate(lib, u"USB", records, note)) {
    AddUsb(lib, records, listing);
  } else {
    listing.notes.push_back(note);
    listing.complete = false;
  }

  if (network) {
    if (Enumerate(lib, u"NET", records, note)) {
      for (const PortSettings& r : records) {
        PortRow row;
        row.kind = "NET";
        row.port = Text(r.portName);
        row.options = "-n" + row.port;
        const PortSettings details = Completed(lib, r);
        row.node = Known(details.servicePortName);
        row.product = Known(details.interfaceName);
        listing.rows.push_back(std::move(row));
      }
    } else {
      listing.notes.push_back(note);
      listing.complete = false;
    }
  }
  return listing;
}

std::string FormatText(const std::vector<PortRow>& rows) {
  struct Line {
    std::string cells[4];
    std::string access;
  };
  std::vector<Line> lines;
  lines.push_back({{"OPTIONS", "PORT", "DEVICE", "PRODUCT"}, "ACCESS"});
  for (const PortRow& r : rows) {
    std::string device = r.node.empty() ? r.identity : r.node;
    if (!r.target.empty()) device += " -> " + r.target;
    if (r.kind == "USB" && !r.node.empty() && !r.identity.empty()) device += " " + r.identity;
    if (r.kind == "BT" && !r.identity.empty()) device += " (" + r.identity + ")";
    if (device.empty()) device = "-";
    lines.push_back({{r.options, r.port, device, r.product.empty() ? "-" : r.product},
                     r.mayOpen ? "yes" : "no: " + r.fix});
  }
  std::size_t width[4] = {};
  for (const Line& l : lines) {
    for (int i = 0; i < 4; ++i) width[i] = std::max(width[i], l.cells[i].size());
  }
  std::string out;
  for (const Line& l : lines) {
    for (int i = 0; i < 4; ++i) {
      out += l.cells[i];
      out.append(width[i] - l.cells[i].size() + 2, ' ');
    }
    out += l.access;
    out += '\n';
  }
  return out;
}

namespace {

// Length of the well-formed UTF-8 sequence at text[i], 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = b(i);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
  else return 0;
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return n;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {
      // A file name need not be UTF-8; JSON must be.
      const std::size_t n = Utf8Length(text, i);
      if (n == 0) {
        out += "\\ufffd";
      } else {
        out.append(text, i, n);
        i += n - 1;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string FormatJson(const Listing& listing) {
  std::string out = "{\"ports\": [";
  for (std::size_t i = 0; i < listing.rows.size(); ++i) {
    const PortRow& r = listing.rows[i];
    out += i == 0 ? "\n  {" : ",\n  {";
    const std::pair<const char*, const std::string*> fields[] = {
        {"kind", &r.kind},         {"port", &r.port},         {"options", &r.options}, {"node", &r.node},
        {"target", &r.target},     {"identity", &r.identity}, {"product", &r.product}};
    for (const auto& [name, value] : fields) out += JsonString(name) + ": " + JsonString(*value) + ", ";
    out += "\"mayOpen\": " + std::string(r.mayOpen ? "true" : "false") + ", \"fix\": " + JsonString(r.fix) + "}";
  }
  out += listing.rows.empty() ? "],\n" : "\n],\n";
  out += " \"complete\": " + std::string(listing.complete ? "true" : "false") + ",\n \"notes\": [";
  for (std::size_t i = 0; i < listing.notes.size(); ++i) out += (i ? ", " : "") + JsonString(listing.notes[i]);
  out += "]}\n";
  return out;
}

}  // namespace tw::ports
