// The machine's ports on Linux, from libudev: the tty, printer (parport lp),
// usbmisc and usb subsystems. Links "comN"/"lptN" in the link folder win over
// the number table for their number.
#include <libudev.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>

#include "platform/machine_ports.h"
#include "platform/machine_ports_udev.h"
#include "platform/port_names.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace tw::platform {
namespace {

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using EnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;
using DevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

std::string Attr(udev_device* d, const char* name) {
  std::string v = Text(udev_device_get_sysattr_value(d, name));
  while (!v.empty() && (v.back() == '\n' || v.back() == ' ')) v.pop_back();
  while (!v.empty() && v.front() == ' ') v.erase(v.begin());
  return v;
}

unsigned HexAttr(udev_device* d, const char* name) {
  const std::string v = Attr(d, name);
  return v.empty() ? 0 : static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 16));
}

// Calls `each` with every device of a subsystem (devices that vanish between
// the scan and the look are skipped).
template <typename Each>
void ForEachDevice(udev* u, const char* subsystem, Each&& each) {
  EnumeratePtr e(udev_enumerate_new(u));
  if (!e) return;
  udev_enumerate_add_match_subsystem(e.get(), subsystem);
  udev_enumerate_scan_devices(e.get());
  for (udev_list_entry* it = udev_enumerate_get_list_entry(e.get()); it; it = udev_list_entry_get_next(it)) {
    DevicePtr d(udev_device_new_from_syspath(u, udev_list_entry_get_name(it)));
    if (d) each(d.get());
  }
}

fs::path LinkFolder() {
  auto env = GetEnv("PORTWIRE_DOSDEVICES");
  return env && !env->empty() ? fs::path(*env) : fs::path(kDefaultDosDevicesFolder);
}

// Links "<prefix>N" of the link folder: number -> link, for 1..max.
std::map<int, fs::path> Links(const std::string& prefix, int max) {
  std::map<int, fs::path> links;
  std::error_code ec;
  for (fs::directory_iterator it(LinkFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 3 || name.compare(0, prefix.size(), prefix)) {
      continue;
    }
    const std::string digits = name.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits[0] == '0') continue;
    const int n = std::stoi(digits);
    std::error_code e2;
    if (n >= 1 && n <= max && fs::is_symlink(it->path(), e2)) links[n] = it->path();
  }
  return links;
}

// Everything the usb subsystem says about one USB device.
struct UsbDeviceInfo {
  std::string sysName;               // "1-2.3"
  std::string devNode;
  int busNumber = 0;
  int deviceAddress = 0;
  UsbDescriptors d;
  std::vector<std::pair<std::string, int>> interfaces;  // (sysname, class)
  bool hasPrinterInterface = false;
  // The kernel's printer driver is bound to the printer interface, so its
  // printer node is there or on its way.
  bool printerDriverBound = false;
};

int SpeedMbps(const std::string& text) {
  if (text.empty()) return 0;
  return static_cast<int>(std::strtod(text.c_str(), nullptr));
}

// bcdUSB from the "version" attribute (" 2.00" -> 0x0200).
std::uint16_t BcdOfVersion(const std::string& text) {
  const auto dot = text.find('.');
  if (dot == std::string::npos) return 0;
  const unsigned major = static_cast<unsigned>(std::strtoul(text.substr(0, dot).c_str(), nullptr, 10));
  const unsigned minor = static_cast<unsigned>(std::strtoul(text.substr(dot + 1).c_str(), nullptr, 16));
  return static_cast<std::uint16_t>(((major & 0xFF) << 8) | (minor & 0xFF));
}

std::map<std::string, UsbDeviceInfo> UsbDevices(udev* u) {
  std::map<std::string, UsbDeviceInfo> devices;  // by syspath
  ForEachDevice(u, "usb", [&](udev_device* d) {
    const std::string type = Text(udev_device_get_devtype(d));
    if (type == "usb_device") {
      UsbDeviceInfo& info = devices[Text(udev_device_get_syspath(d))];
      info.sysName = Text(udev_device_get_sysname(d));
      info.devNode = Text(udev_device_get_devnode(d));
      info.busNumber = std::atoi(Attr(d, "busnum").c_str());
      info.deviceAddress = std::atoi(Attr(d, "devnum").c_str());
      if (info.devNode.empty() && info.busNumber > 0) {
        char node[64];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", info.busNumber, info.deviceAddress);
        info.devNode = node;
      }
      info.d.vendorId = static_cast<std::uint16_t>(HexAttr(d, "idVendor"));
      info.d.productId = static_cast<std::uint16_t>(HexAttr(d, "idProduct"));
      info.d.bcdDevice = static_cast<std::uint16_t>(HexAttr(d, "bcdDevice"));
      info.d.bcdUsb = BcdOfVersion(Attr(d, "version"));
      info.d.manufacturer = Attr(d, "manufacturer");
      info.d.product = Attr(d, "product");
      info.d.serial = Attr(d, "serial");
      info.d.speedMbps = SpeedMbps(Attr(d, "speed"));
    } else if (type == "usb_interface") {
      udev_device* parent = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device");
      if (!parent) return;
      const int cls = static_cast<int>(HexAttr(d, "bInterfaceClass"));
      UsbDeviceInfo& info = devices[Text(udev_device_get_syspath(parent))];
      info.interfaces.emplace_back(Text(udev_device_get_sysname(d)), cls);
      if (cls == 7 && Text(udev_device_get_driver(d)) == "usblp") info.printerDriverBound = true;
    }
  });
  for (auto it = devices.begin(); it != devices.end();) {
    UsbDeviceInfo& info = it->second;
    if (info.sysName.empty()) {  // an interface whose device was not listed
      it = devices.erase(it);
      continue;
    }
    std::sort(info.interfaces.begin(), info.interfaces.end());
    for (const auto& [name, cls] : info.interfaces) {
      if (cls == 7) info.hasPrinterInterface = true;
      if (info.d.interfaceKind < 0 && (cls == 7 || cls == 0xFF)) info.d.interfaceKind = cls == 7 ? 1 : 0;
    }
    ++it;
  }
  return devices;
}

std::string IdentityOf(const UsbDeviceInfo& info, int usbClass) {
  return UsbIdentity(info.d.vendorId, info.d.productId, UsbInstanceText(info.d.serial, info.sysName), usbClass);
}

// The product string of the USB device a tty belongs to ("FT232R USB UART").
std::string UsbProductOf(udev_device* tty) {
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  return usb ? Attr(usb, "product") : std::string();
}

UsbPrinter PrinterOf(const UsbDeviceInfo& info, int usbClass, const std::string& node) {
  UsbPrinter p;
  p.usbClass = usbClass;
  p.identity = IdentityOf(info, usbClass);
  p.node = node;
  p.busNumber = info.busNumber;
  p.deviceAddress = info.deviceAddress;
  p.sortKey = UsbSortKey(info.sysName);
  p.descriptors = info.d;
  return p;
}

void NumberInOrder(std::vector<UsbPrinter>& list) {
  std::stable_sort(list.begin(), list.end(), [](const UsbPrinter& a, const UsbPrinter& b) {
    return a.sortKey != b.sortKey ? a.sortKey < b.sortKey : a.node < b.node;
  });
  if (list.size() > static_cast<std::size_t>(kMaxUsbPerClass)) list.resize(kMaxUsbPerClass);
  for (std::size_t i = 0; i < list.size(); ++i) list[i].number = static_cast<int>(i) + 1;
}

class UdevMachinePorts : public IMachinePorts {
 public:
  std::vector<SerialPort> SerialPorts() override {
    const std::lock_guard<std::mutex> udevLock(UdevLock());
    std::map<int, SerialPort> found;
    if (UdevPtr u{udev_new()}) {
      ForEachDevice(u.get(), "tty", [&](udev_device* d) {
        const std::string name = Text(udev_device_get_sysname(d));
        const int n = ComNumberOfTty(name);
        if (n == 0) return;
        SerialPort port;
        port.number = n;
        port.device = "/dev/" + name;
        if (name.rfind("ttyS", 0) == 0) {
          // The kernel makes ttyS nodes for UARTs that are not there; their
          // type is 0 ("unknown").
          const std::string type = Attr(d, "type");
          if (type.empty() || type == "0") return;
          port.kind = SerialKind::kUart;
        } else if (name.rfind("ttyUSB", 0) == 0) {
          port.kind = SerialKind::kUsbSerial;
          port.product = UsbProductOf(d);
        } else if (name.rfind("ttyACM", 0) == 0) {
          port.kind = SerialKind::kAcm;
          port.product = UsbProductOf(d);
        } else {
          port.kind = SerialKind::kBluetooth;
          port.btAddress = Attr(d, "address");
          std::transform(port.btAddress.begin(), port.btAddress.end(), port.btAddress.begin(),
                         [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        }
        found[n] = port;
      });
    }
    // A link wins for its number; a dangling link hides the number.
    for (const auto& [n, link] : Links("com", kMaxComPort)) {
      found.erase(n);
      std::error_code ec;
      if (n <= kMaxListedPortNumber && fs::exists(link, ec)) {
        SerialPort port;
        port.number = n;
        port.device = link.string();
        port.kind = SerialKind::kLinked;
        found[n] = port;
      }
    }
    std::vector<SerialPort> result;
    for (auto& [n, port] : found) result.push_back(std::move(port));
    return result;
  }

  std::vector<ParallelPort> ParallelPorts() override {
    const std::lock_guard<std::mutex> udevLock(UdevLock());
    std::map<int, ParallelPort> found;
    if (UdevPtr u{udev_new()}) {
      ForEachDevice(u.get(), "printer", [&](udev_device* d) {
        const std::string name = Text(udev_device_get_sysname(d));
        if (name.rfind("lp", 0) != 0 || name.size() < 3) return;
        if (name.find_first_not_of("0123456789", 2) != std::string::npos) return;
        if (!udev_device_get_parent_with_subsystem_devtype(d, "parport", nullptr)) return;
        const int n = std::atoi(name.c_str() + 2) + 1;
        if (n > kMaxLptPort) return;
        found[n] = ParallelPort{n, "/dev/" + name};
      });
    }
    for (const auto& [n, link] : Links("lpt", kMaxLptPort)) {
      found.erase(n);
      std::error_code ec;
      if (fs::exists(link, ec)) found[n] = ParallelPort{n, link.string()};
    }
    std::vector<ParallelPort> result;
    for (auto& [n, port] : found) result.push_back(std::move(port));
    return result;
  }

  std::vector<UsbPrinter> UsbPrinters(int usbClass) override {
    const std::lock_guard<std::mutex> udevLock(UdevLock());
    std::vector<UsbPrinter> list;
    UdevPtr u{udev_new()};
    if (!u) return list;
    const auto devices = UsbDevices(u.get());
    if (usbClass == kUsbClassPrinter) {
      std::set<std::string> withNode;  // syspaths of devices that have a printer node
      ForEachDevice(u.get(), "usbmisc", [&](udev_device* d) {
        const std::string name = Text(udev_device_get_sysname(d));
        if (name.rfind("lp", 0) != 0) return;
        udev_device* parent = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device");
        if (!parent) return;
        const auto it = devices.find(Text(udev_device_get_syspath(parent)));
        if (it == devices.end()) return;
        std::string node = Text(udev_device_get_devnode(d));
        if (node.empty()) node = "/dev/usb/" + name;
        list.push_back(PrinterOf(it->second, kUsbClassPrinter, node));
        withNode.insert(it->first);
      });
      // The maker's printers that the kernel's printer driver did not claim
      // (usblp not loaded or blacklisted, as on many point-of-sale images)
      // are reached through their usbfs node. They keep their place in the
      // numbering and their identity. A device the driver is bound to but
      // whose node has not come yet is left out: it gets its node shortly.
      for (const auto& [path, info] : devices) {
        if (info.d.vendorId != kMakerUsbVendorId || !info.hasPrinterInterface || withNode.count(path) ||
            info.printerDriverBound || info.devNode.empty()) {
          continue;
        }
        UsbPrinter p = PrinterOf(info, kUsbClassPrinter, info.devNode);
        p.withoutPrinterDriver = true;
        list.push_back(std::move(p));
      }
    } else if (usbClass == kUsbClassVendor) {
      for (const auto& [path, info] : devices) {
        if (info.d.vendorId != kMakerUsbVendorId || info.hasPrinterInterface) continue;
        const bool vendorInterface = std::any_of(info.interfaces.begin(), info.interfaces.end(),
                                                 [](const auto& i) { return i.second == 0xFF; });
        if (vendorInterface) list.push_back(PrinterOf(info, kUsbClassVendor, info.devNode));
      }
    }
    NumberInOrder(list);
    return list;
  }

  std::vector<MakerUsbDevice> MakerUsbDevices() override {
    const std::lock_guard<std::mutex> udevLock(UdevLock());
    std::vector<std::pair<std::vector<int>, MakerUsbDevice>> found;
    if (UdevPtr u{udev_new()}) {
      for (const auto& [path, info] : UsbDevices(u.get())) {
        if (info.d.vendorId != kMakerUsbVendorId) continue;
        const int cls = info.hasPrinterInterface ? kUsbClassPrinter : kUsbClassVendor;
        found.emplace_back(UsbSortKey(info.sysName), MakerUsbDevice{IdentityOf(info, cls), info.d});
      }
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<MakerUsbDevice> result;
    for (auto& f : found) result.push_back(std::move(f.second));
    return result;
  }
};

}  // namespace

std::mutex& UdevLock() {
  // Never destroyed (a watcher may stop during static destruction), and
  // not on the heap, so unloading the library leaves nothing behind.
  alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
  static std::mutex* const lock = new (storage) std::mutex();
  return *lock;
}

IMachinePorts& MachinePorts() {
  static UdevMachinePorts ports;
  return ports;
}

}  // namespace tw::platform
