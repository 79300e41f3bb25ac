// The machine's ports on Windows: DOS device names for COMn and LPTn,
// SetupAPI device interfaces for the two USB printer classes, and the USB
// hubs' IOCTLs for the descriptors of the maker's devices.
#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine_ports.h"
#include "platform/text.h"

namespace tw::platform {
namespace {

// {6A1C43E2-9D07-4B58-A3F1-52C8E07D9B14}: the maker's vendor-class USB printer interface.
const GUID kVendorClass = {0x6a1c43e2, 0x9d07, 0x4b58, {0xa3, 0xf1, 0x52, 0xc8, 0xe0, 0x7d, 0x9b, 0x14}};
// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}: USB printer class interface.
const GUID kPrinterClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
// {F18A0E88-C30C-11D0-8815-00A0C906BED8}: USB hubs.
const GUID kHubClass = {0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};

constexpr DWORD kIoctlConnectionInformationEx = 0x220448;
constexpr DWORD kIoctlDescriptorFromConnection = 0x220410;
constexpr int kConnectionInfoSize = 365;
constexpr int kMaxHubPorts = 29;

struct InfoSet {
  HDEVINFO h;
  explicit InfoSet(HDEVINFO set) : h(set) {}
  ~InfoSet() {
    if (h != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(h);
  }
  InfoSet(const InfoSet&) = delete;
  InfoSet& operator=(const InfoSet&) = delete;
};

struct FileHandle {
  HANDLE h;
  explicit FileHandle(HANDLE handle) : h(handle) {}
  ~FileHandle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
};

std::string Narrow(const std::wstring& w) {
  std::u16string u(w.begin(), w.end());
  return Utf16ToUtf8(u);
}

// Device paths of a device interface class with their member index + 1;
// an index that fails for another reason than the end is skipped.
std::vector<std::pair<int, std::wstring>> InterfacePaths(const GUID& cls) {
  std::vector<std::pair<int, std::wstring>> paths;
  InfoSet set(SetupDiGetClassDevsW(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (set.h == INVALID_HANDLE_VALUE) return paths;
  for (DWORD index = 0; index < static_cast<DWORD>(kMaxUsbPerClass); ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set.h, nullptr, &cls, index, &data)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
      continue;
    }
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set.h, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<std::uint8_t> buffer(size, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (SetupDiGetDeviceInterfaceDetailW(set.h, &data, detail, size, nullptr, nullptr)) {
      paths.emplace_back(static_cast<int>(index) + 1, std::wstring(detail->DevicePath));
    }
  }
  return paths;
}

bool DosDeviceExists(const std::wstring& name) {
  std::vector<wchar_t> target(4096);
  return QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size())) != 0;
}

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// A descriptor request to the device on hub port `port`: the whole reply
// (12-byte request header + data), empty on failure.
std::vector<std::uint8_t> RequestDescriptor(HANDLE hub, int port, std::uint16_t value, std::uint16_t length) {
  std::vector<std::uint8_t> buffer(12 + length, 0);
  const DWORD index = static_cast<DWORD>(port);
  std::memcpy(buffer.data(), &index, 4);
  buffer[4] = 0x80;  // device to host, standard, device
  buffer[5] = 6;     // GET_DESCRIPTOR
  buffer[6] = static_cast<std::uint8_t>(value & 0xFF);
  buffer[7] = static_cast<std::uint8_t>(value >> 8);
  buffer[10] = static_cast<std::uint8_t>(length & 0xFF);
  buffer[11] = static_cast<std::uint8_t>(length >> 8);
  DWORD returned = 0;
  if (!DeviceIoControl(hub, kIoctlDescriptorFromConnection, buffer.data(), static_cast<DWORD>(buffer.size()),
                       buffer.data(), static_cast<DWORD>(buffer.size()), &returned, nullptr)) {
    return {};
  }
  buffer.resize(returned);
  return buffer;
}

// String descriptor `index` as UTF-8; empty when the answer is not a whole,
// well-formed string descriptor.
std::string StringDescriptor(HANDLE hub, int port, std::uint8_t index) {
  const auto reply = RequestDescriptor(hub, port, static_cast<std::uint16_t>(0x0300 + index), 255);
  if (reply.size() < 14) return {};
  const std::uint8_t length = reply[12];
  if (reply[13] != 3 || reply.size() != 12u + length || (length & 1) != 0) return {};
  std::u16string text;
  for (std::size_t i = 14; i + 1 < reply.size(); i += 2) text.push_back(static_cast<char16_t>(Le16(&reply[i])));
  return Utf16ToUtf8(text);
}

// 1 printer class, 0 vendor class, -1 neither or unreadable.
int IsUsbPrinterClass(HANDLE hub, int port) {
  const auto head = RequestDescriptor(hub, port, 0x0200, 9);
  if (head.size() != 21) return -1;
  const std::uint16_t total = Le16(&head[12 + 2]);
  if (total <= 8) return -1;
  const auto full = RequestDescriptor(hub, port, 0x0200, total);
  if (full.size() != 12u + total || Le16(&full[12 + 2]) != total) return -1;
  return ClassifyConfigurationDescriptor(full.data() + 12, total);
}

class WindowsMachinePorts : public IMachinePorts {
 public:
  std::vector<SerialPort> SerialPorts() override {
    std::vector<SerialPort> ports;
    for (int n = 1; n <= kMaxListedPortNumber; ++n) {
      const std::wstring name = L"COM" + std::to_wstring(n);
      if (DosDeviceExists(name)) ports.push_back(SerialPort{n, "\\\\.\\COM" + std::to_string(n), SerialKind::kUart, {}});
    }
    return ports;
  }

  std::vector<ParallelPort> ParallelPorts() override {
    std::vector<ParallelPort> ports;
    for (int n = 1; n <= kMaxListedPortNumber; ++n) {
      if (DosDeviceExists(L"LPT" + std::to_wstring(n))) ports.push_back(ParallelPort{n, "\\\\.\\LPT" + std::to_string(n)});
    }
    return ports;
  }

  std::vector<UsbPrinter> UsbPrinters(int usbClass) override {
    std::vector<UsbPrinter> list;
    if (usbClass != kUsbClassVendor && usbClass != kUsbClassPrinter) return list;
    for (const auto& [number, path] : InterfacePaths(usbClass == kUsbClassPrinter ? kPrinterClass : kVendorClass)) {
      UsbPrinter p;
      p.usbClass = usbClass;
      p.number = number;
      p.identity = Narrow(path);
      p.node = p.identity;
      p.sortKey = {number};
      list.push_back(std::move(p));
    }
    return list;
  }

  std::vector<MakerUsbDevice> MakerUsbDevices() override {
    std::vector<MakerUsbDevice> found;
    for (const auto& [number, hubPath] : InterfacePaths(kHubClass)) {
      FileHandle hub(CreateFileW(hubPath.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
      if (hub.h == INVALID_HANDLE_VALUE) continue;
      for (int port = 1; port <= kMaxHubPorts; ++port) {
        std::uint8_t info[kConnectionInfoSize] = {};
        const DWORD index = static_cast<DWORD>(port);
        std::memcpy(info, &index, 4);
        DWORD returned = 0;
        if (!DeviceIoControl(hub.h, kIoctlConnectionInformationEx, info, sizeof info, info, sizeof info, &returned,
                             nullptr)) {
          break;
        }
        std::uint32_t status = 0;
        std::memcpy(&status, info + 31, 4);
        const std::uint8_t* dd = info + 4;  // device descriptor
        if (status == 0 || Le16(dd + 8) != kMakerUsbVendorId) continue;
        UsbDescriptors d;
        d.bcdUsb = Le16(dd + 2);
        d.vendorId = Le16(dd + 8);
        d.productId = Le16(dd + 10);
        d.bcdDevice = Le16(dd + 12);
        // The extended query reports the connection speed: 0 low, 1 full, 2 high, 3 super.
        static constexpr int kSpeeds[] = {1, 12, 480, 5000};
        d.speedMbps = info[23] < 4 ? kSpeeds[info[23]] : 0;
        d.interfaceKind = IsUsbPrinterClass(hub.h, port);
        if (dd[14]) d.manufacturer = StringDescriptor(hub.h, port, 1);
        if (dd[15]) d.product = StringDescriptor(hub.h, port, 2);
        if (dd[16]) d.serial = StringDescriptor(hub.h, port, 3);
        const int cls = d.interfaceKind == 1 ? kUsbClassPrinter : kUsbClassVendor;
        found.push_back(MakerUsbDevice{UsbIdentity(d.vendorId, d.productId, d.serial, cls), d});
      }
    }
    return found;
  }
};

}  // namespace

IMachinePorts& MachinePorts() {
  static WindowsMachinePorts ports;
  return ports;
}

}  // namespace tw::platform
