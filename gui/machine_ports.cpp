#include "gui/enum_port.h"
#include "platform/machine_ports.h"
#include "platform/port_access.h"
#include "platform/text.h"

#include <filesystem>
#include <map>
#include <mutex>

namespace tw::gui {
namespace {

std::u16string U16(const std::string& s) { return platform::Utf8ToUtf16(s); }

// A link stands for its target: the device, then the link's name
// ("/dev/ttyUSB3 (link com5)").
std::string DeviceText(const std::string& device) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(device, ec)) return device;
  const auto target = std::filesystem::canonical(device, ec);
  if (ec) return device;
  return target.string() + " (link " + std::filesystem::path(device).filename().string() + ")";
}

PortDetails DetailsOf(const std::string& device, const std::string& product, platform::DeviceAccess kind) {
  PortDetails d;
  d.device = U16(DeviceText(device));
  d.product = U16(product);
  const platform::PortAccess access = platform::CheckPortAccess(device, kind);
  d.mayOpen = access.mayOpen;
  d.fix = U16(access.fix.empty() ? access.reason : access.fix);
  return d;
}

std::string SerialProduct(const platform::SerialPort& p) {
  if (!p.product.empty()) return p.product;
  switch (p.kind) {
    case platform::SerialKind::kUart: return "serial port";
    case platform::SerialKind::kBluetooth: return p.btAddress.empty() ? "Bluetooth serial port" : "Bluetooth " + p.btAddress;
    default: return {};
  }
}

std::string UsbProduct(const platform::UsbDescriptors& d) {
  if (d.manufacturer.empty()) return d.product;
  if (d.product.empty()) return d.manufacturer;
  return d.manufacturer + " " + d.product;
}

// The platform's port service: the same lists, numbers and order as the
// console program and the library see. Each listing is kept until the next,
// so the details of its ports need no second look at the machine.
class MachinePorts : public IPortSource {
 public:
  std::vector<int> ComPortNumbers() override {
    std::vector<int> numbers;
    std::lock_guard lock(mutex_);
    serial_.clear();
    for (const auto& p : platform::MachinePorts().SerialPorts()) {
      numbers.push_back(p.number);
      serial_[p.number] = p;
    }
    return numbers;
  }
  std::vector<int> LptPortNumbers() override {
    std::vector<int> numbers;
    std::lock_guard lock(mutex_);
    parallel_.clear();
    for (const auto& p : platform::MachinePorts().ParallelPorts()) {
      numbers.push_back(p.number);
      parallel_[p.number] = p;
    }
    return numbers;
  }
  std::vector<UsbMember> UsbMembers(int usbClass) override {
    std::vector<UsbMember> members;
    std::lock_guard lock(mutex_);
    auto& cache = usb_[usbClass];
    cache.clear();
    for (const auto& p : platform::MachinePorts().UsbPrinters(usbClass)) {
      members.push_back({p.number - 1, U16(p.identity)});
      cache[p.number] = p;
    }
    return members;
  }
  PortDetails Details(int kind, int number, int usbClass) override {
    std::lock_guard lock(mutex_);
    if (kind == kPortSerial) {
      if (auto it = serial_.find(number); it != serial_.end()) {
        return DetailsOf(it->second.device, SerialProduct(it->second), platform::DeviceAccess::kSerial);
      }
    } else if (kind == kPortParallel) {
      if (auto it = parallel_.find(number); it != parallel_.end()) {
        return DetailsOf(it->second.device, "parallel port", platform::DeviceAccess::kParallel);
      }
    } else if (kind == kPortUsb) {
      const auto& cache = usb_[usbClass];
      if (auto it = cache.find(number); it != cache.end()) {
        return DetailsOf(it->second.node, UsbProduct(it->second.descriptors),
                         usbClass == kUsbPrinterClass ? platform::DeviceAccess::kUsbPrinter
                                                      : platform::DeviceAccess::kUsbVendor);
      }
    }
    return {};
  }

 private:
  std::mutex mutex_;
  std::map<int, platform::SerialPort> serial_;
  std::map<int, platform::ParallelPort> parallel_;
  std::map<int, std::map<int, platform::UsbPrinter>> usb_;
};

}  // namespace

IPortSource& MachinePortSource() {
  static MachinePorts ports;
  return ports;
}

}  // namespace tw::gui
