#include "portlib/manager/port_enumeration.h"

#include <cstdio>
#include <cstring>

#include "netsettings/ncs_client.h"
#include "platform/text.h"
#include "platform/udp_socket.h"
#include "portlib/backends/bt_search.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire {
namespace {

constexpr char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
constexpr char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

void LowerInPlace(PortText& field) {
  for (size_t i = 0; i < kPortTextUnits && field[i] != u'\0'; ++i) field[i] = Lower(field[i]);
}

std::u16string Ascii(const char* text) {
  std::u16string out;
  for (const char* p = text; *p; ++p) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
  return out;
}

std::u16string Format(const char* format, int value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return Ascii(buffer);
}

std::u16string VersionText(uint16_t bcd) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%X.%02X", bcd >> 8, bcd & 0xFF);
  return Ascii(buffer);
}

std::u16string MacText(const uint8_t* b) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  return Ascii(buffer);
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

}  // namespace

NetworkDetails& LastNetworkDetails() {
  static NetworkDetails details;
  return details;
}

CPortEnumeration::CPortEnumeration(KPComm& manager, PortEnumerationServices services)
    : manager_(manager), services_(std::move(services)) {
  if (services_.ports == nullptr) services_.ports = &platform::MachinePorts();
  if (!services_.bluetoothSupportLevel) services_.bluetoothSupportLevel = [] { return CBTSearch::BluetoothSupportLevel(); };
  if (!services_.bluetoothSearch) {
    services_.bluetoothSearch = [](std::vector<platform::PairedBluetoothDevice>& out) {
      CBTSearch search;
      const int result = search.Search();
      out = search.Devices();
      return result;
    };
  }
}

PortSettings* CPortEnumeration::Next(PortSettings* const* array, uint32_t capacity, uint32_t count) const {
  // The array is read only here, one entry when a record is to be written:
  // a caller may pass a capacity larger than its array ("no limit").
  if (count >= capacity || array == nullptr) return nullptr;
  PortSettings* record = array[count];
  if (record == nullptr) {
    holeSeen_ = true;
    return nullptr;
  }
  *record = MakeDefaultPortSettings();
  return record;
}

Result CPortEnumeration::EnumDevPort(std::u16string_view portType, PortSettings* const* array, uint32_t capacity,
                                     uint32_t* outCount) {
  manager_.EnsureInitialized();
  if (outCount == nullptr) return kResultInvalidArgument;
  *outCount = 0;
  const bool com = EqualsIgnoreCase(portType, u"COM");
  const bool known = com || EqualsIgnoreCase(portType, u"BT") || EqualsIgnoreCase(portType, u"SERIAL") ||
                     EqualsIgnoreCase(portType, u"LPT") || EqualsIgnoreCase(portType, u"USB") ||
                     EqualsIgnoreCase(portType, u"NET");
  if (!known) return kResultFailed;
  if (capacity > 0 && array == nullptr) return kResultInvalidArgument;
  // A null entry where a record is due ends the listing with an error; the
  // records before it are filled and counted.
  holeSeen_ = false;
  const Result result = EnumDevPortInto(portType, array, capacity, outCount);
  return holeSeen_ ? kResultInvalidArgument : result;
}

Result CPortEnumeration::EnumDevPortInto(std::u16string_view portType, PortSettings* const* array, uint32_t capacity,
                                         uint32_t* outCount) {
  const bool com = EqualsIgnoreCase(portType, u"COM");
  if (EqualsIgnoreCase(portType, u"BT") || EqualsIgnoreCase(portType, u"SERIAL")) {
    if (services_.bluetoothSupportLevel() != 0 &&
        EnumBluetoothSerialPorts(portType, array, capacity, outCount) == kResultOk) {
      return kResultOk;
    }
    *outCount = 0;
  } else if (com) {
  } else if (EqualsIgnoreCase(portType, u"LPT")) {
    std::vector<int> numbers;
    for (const platform::ParallelPort& p : services_.ports->ParallelPorts()) numbers.push_back(p.number);
    FillNumbered(u"LPT", "LPT%d", numbers, array, capacity, outCount);
    return kResultOk;
  } else if (EqualsIgnoreCase(portType, u"USB")) {
    return EnumUsb(array, capacity, outCount);
  } else if (EqualsIgnoreCase(portType, u"NET")) {
    return EnumNetwork(array, capacity, outCount);
  } else {
    return kResultFailed;
  }
  std::vector<int> numbers;
  for (const platform::SerialPort& p : services_.ports->SerialPorts()) numbers.push_back(p.number);
  FillNumbered(u"COM", "COM%d", numbers, array, capacity, outCount);
  return kResultOk;
}

void CPortEnumeration::FillNumbered(std::u16string_view type, const char* format, const std::vector<int>& numbers,
                                    PortSettings* const* array, uint32_t capacity, uint32_t* outCount) {
  for (int n : numbers) {
    if (n < 1 || n > platform::kMaxListedPortNumber) continue;
    PortSettings* record = Next(array, capacity, *outCount);
    if (record == nullptr) break;
    SetText(record->portType, type);
    SetText(record->portName, Format(format, n));
    manager_.ApplyKnownPort(record);
    ++*outCount;
  }
}

Result CPortEnumeration::EnumUsb(PortSettings* const* array, uint32_t capacity, uint32_t* outCount) {
  std::vector<PortSettings>& known = manager_.UsbDevices();
  known.clear();
  for (int usbClass : {platform::kUsbClassVendor, platform::kUsbClassPrinter}) {
    for (const platform::UsbPrinter& p : services_.ports->UsbPrinters(usbClass)) {
      PortSettings* record = Next(array, capacity, *outCount);
      if (record == nullptr) return kResultOk;
      SetText(record->portType, u"USB");
      SetText(record->portName, Format("%03d", static_cast<int>(*outCount) + 1));
      SetText(record->servicePortName, platform::Utf8ToUtf16(p.identity));
      record->usbClass = usbClass;
      manager_.ApplyKnownPort(record);
      known.push_back(*record);
      ++*outCount;
    }
  }
  return kResultOk;
}

Result CPortEnumeration::EnumNetwork(PortSettings* const* array, uint32_t capacity, uint32_t* outCount) {
  ncs::WinsockStartup();
  const int found = ncs::ListUp(0xFFFFFFFFu, 3);
  for (int i = 0; i < found; ++i) {
    ncs::DiscoverySummary nic{};
    if (ncs::GetNIC(i, &nic) != ncs::kOk) continue;
    PortSettings* record = Next(array, capacity, *outCount);
    if (record == nullptr) break;
    const auto* a = reinterpret_cast<const uint8_t*>(&nic.address);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    SetText(record->portType, u"NET");
    SetText(record->portName, Ascii(text));
    manager_.ApplyKnownPort(record);
    ++*outCount;
  }
  return kResultOk;
}

Result CPortEnumeration::EnumBluetoothSerialPorts(std::u16string_view portType, PortSettings* const* array,
                                                  uint32_t capacity, uint32_t* outCount) {
  *outCount = 0;
  std::vector<platform::SerialPort> serial = services_.ports->SerialPorts();
  std::vector<platform::PairedBluetoothDevice> devices;
  const int searched = services_.bluetoothSearch(devices);
  if (searched != platform::kBluetoothFound && searched != platform::kBluetoothNone) return kResultFailed;
  const bool bluetoothOnly = portType == u"BT";
  for (const platform::SerialPort& port : serial) {
    if (port.number < 1 || port.number > platform::kMaxListedPortNumber) continue;
    const std::string name = "COM" + std::to_string(port.number);
    const platform::PairedBluetoothDevice* device = nullptr;
    for (const auto& d : devices) {
      if (d.comPort == name) {
        device = &d;
        break;
      }
    }
    if (bluetoothOnly ? device == nullptr : device != nullptr) continue;
    PortSettings* record = Next(array, capacity, *outCount);
    if (record == nullptr) break;
    if (device != nullptr) {
      SetText(record->bluetoothAddress, MacText(device->address));
      SetText(record->modelName, platform::Utf8ToUtf16(device->name).substr(0, kPortTextUnits - 1));
    }
    SetText(record->portType, u"COM");
    SetText(record->portName, Ascii(name.c_str()));
    manager_.ApplyKnownPort(record);
    ++*outCount;
  }
  return kResultOk;
}

Result CPortEnumeration::CompletePortDetails(PortSettings& record) {
  manager_.EnsureInitialized();
  if (manager_.IsPortOpen()) return kResultOk;
  const std::u16string_view type = GetText(record.portType);
  if (EqualsIgnoreCase(type, u"USB")) {
    FillUsbDetails(record);
    FillUsbDevicePath(record);
  } else if (EqualsIgnoreCase(type, u"NET")) {
    LookupNetworkDetails(record);
  }
  return kResultOk;
}

std::u16string CPortEnumeration::SpeedAndClassText(const platform::UsbDescriptors& d, int printerClass) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "USB%X.%X %s,  USB %s Class", d.bcdUsb >> 8, (d.bcdUsb >> 4) & 0xF,
                d.HighSpeed() ? "HighSpeed" : "FullSpeed", printerClass == 1 ? "Printer" : "Vender");
  return Ascii(buffer);
}

int CPortEnumeration::FillUsbDetails(PortSettings& record) {
  for (const platform::MakerUsbDevice& device : services_.ports->MakerUsbDevices()) {
    const platform::UsbDescriptors& d = device.descriptors;
    if (d.vendorId != platform::kMakerUsbVendorId) continue;
    SetText(record.interfaceName, u"");
    SetText(record.versionText, u"");
    SetText(record.usbSerialNumber, u"");
    SetText(record.usbSpeedText, u"");
    if (d.interfaceKind != 0 && d.interfaceKind != 1) continue;
    const std::u16string product = platform::Utf8ToUtf16(d.product).substr(0, kPortTextUnits - 1);
    std::u16string serial = platform::Utf8ToUtf16(d.serial).substr(0, kPortTextUnits - 1);
    LowerInPlace(record.servicePortName);
    for (char16_t& c : serial) c = Lower(c);
    // A device without a serial number cannot be told apart from another
    // one: it never matches (an empty text would be found in any name).
    if (serial.empty() || GetText(record.servicePortName).find(serial) == std::u16string_view::npos) continue;
    for (char16_t& c : serial) c = Upper(c);
    SetText(record.interfaceName, product);
    SetText(record.versionText, VersionText(d.bcdDevice));
    SetText(record.usbSerialNumber, serial);
    SetText(record.usbSpeedText, SpeedAndClassText(d, d.interfaceKind));
    if (StartsWith(product, u"QX-") || StartsWith(product, u"ORLEX QX-")) record.interfaceBoard = 1;
    break;
  }
  return 1;
}

void CPortEnumeration::FillUsbDevicePath(PortSettings& record) {
  const int usbClass = record.usbClass != 0 ? platform::kUsbClassPrinter : platform::kUsbClassVendor;
  const std::string identity = platform::Utf16ToUtf8(GetText(record.servicePortName));
  if (platform::IsUsbIdentity(identity)) {
    // A listed record names its device; its number counts across both
    // classes and would name another one (or none) here.
    const auto printers = services_.ports->UsbPrinters(usbClass);
    if (const platform::UsbPrinter* p = platform::FindUsbPrinter(printers, identity)) {
      SetText(record.servicePortName, platform::Utf8ToUtf16(p->identity));
    }
    return;
  }
  const int64_t n = [&] {
    int64_t v = 0;
    for (char16_t c : GetText(record.portName)) {
      if (c < u'0' || c > u'9') break;
      if (v < 1000000) v = v * 10 + (c - u'0');
    }
    return v;
  }();
  for (const platform::UsbPrinter& p : services_.ports->UsbPrinters(usbClass)) {
    if (p.number == n) {
      SetText(record.servicePortName, platform::Utf8ToUtf16(p.identity));
      return;
    }
  }
}

bool CPortEnumeration::LookupNetworkDetails(PortSettings& record) {
  const std::string name = platform::Utf16ToUtf8(GetText(record.portName));
  uint32_t address = 0;
  if (!platform::ParseIpv4(name.c_str(), address)) return false;
  ncs::WinsockStartup();
  ncs::SetMaxTimeout(2);
  ncs::DiscoverySummary info{};
  if (ncs::GetNICInfo(address, &info) != ncs::kOk) return false;

  SetText(record.servicePortName, MacText(info.mac));
  const uint16_t w = info.model;
  std::u16string interfaceName;
  if (info.wireless != 1) {
    switch (w) {
      case 0x0100: interfaceName = u"QX-E01"; break;
      case 0x0200: interfaceName = u"QX-E02"; break;
      case 0x0300: interfaceName = u"QX-E03"; break;
      case 0x0400: interfaceName = u"QX-E04"; break;
      default: interfaceName = w < 0x1400 ? u"QX-E Series" : u"Built-in Ethernet I/F"; break;
    }
  } else if (w >= 0x1400) {
    interfaceName = u"Wi-Fi I/F";
  } else {
    char rx[33] = {};
    interfaceName = ncs::GetRxName(address, rx) == ncs::kOk ? platform::Utf8ToUtf16(std::string(rx, strnlen(rx, 32)))
                                                           : u"QX-R Series";
  }
  SetText(record.interfaceName, interfaceName);
  SetText(record.versionText, VersionText(w));
  SetText(record.secondVersionText, VersionText(info.version));

  NetworkDetails& details = LastNetworkDetails();
  details = NetworkDetails{};
  std::memcpy(details.mac, info.mac, 6);
  details.address = info.address;
  details.wireless = info.wireless == 1;
  const int r = ncs::GetSettingsByMAC(info.mac, info.address, &details.addressSettings,
                                      details.wireless ? &details.wirelessSettings : nullptr);
  details.known = r == ncs::kOk;
  return details.known;
}

}  // namespace tw::portwire
