// Device events on Linux: a libudev monitor on its own thread. The thread
// waits on the monitor's socket and on a wake-up pipe; the destructor writes
// to the pipe and joins.
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_events.h"
#include "platform/machine_ports.h"
#include "platform/machine_ports_udev.h"
#include "platform/text.h"

namespace tw::platform {
namespace {

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

std::string Attr(udev_device* d, const char* name) {
  std::string v = Text(udev_device_get_sysattr_value(d, name));
  while (!v.empty() && (v.back() == '\n' || v.back() == ' ')) v.pop_back();
  return v;
}

// The event name of a USB device from its attributes; empty for a device
// that is not fully described (a hub's interface, a half-made node).
std::string NameFromAttributes(udev_device* usbDevice) {
  const std::string vendor = Attr(usbDevice, "idVendor");
  const std::string product = Attr(usbDevice, "idProduct");
  if (vendor.empty() || product.empty()) return {};
  const std::string instance =
      UsbInstanceText(Text(udev_device_get_sysattr_value(usbDevice, "serial")), Text(udev_device_get_sysname(usbDevice)));
  return UsbIdentityPrefix(static_cast<std::uint16_t>(std::strtoul(vendor.c_str(), nullptr, 16)),
                           static_cast<std::uint16_t>(std::strtoul(product.c_str(), nullptr, 16)), instance);
}

// The event name from the uevent alone (PRODUCT=7a5e/202/100), for a device
// that left before its attributes could be read.
std::string NameFromProperties(udev_device* usbDevice) {
  const std::string product = Text(udev_device_get_property_value(usbDevice, "PRODUCT"));
  const auto slash = product.find('/');
  if (slash == std::string::npos) return {};
  const auto vendor = static_cast<std::uint16_t>(std::strtoul(product.substr(0, slash).c_str(), nullptr, 16));
  const auto id = static_cast<std::uint16_t>(std::strtoul(product.substr(slash + 1).c_str(), nullptr, 16));
  return UsbIdentityPrefix(vendor, id,
                           UsbInstanceText(Text(udev_device_get_property_value(usbDevice, "ID_SERIAL_SHORT")),
                                           Text(udev_device_get_sysname(usbDevice))));
}

using Clock = std::chrono::steady_clock;

// How long a printer-class device's arrival waits for its printer node (the
// kernel's printer driver binds a moment after the device appears). A device
// whose node never comes is announced when the wait ends.
constexpr std::chrono::milliseconds kNodeWait{2000};

class UdevWatcher : public DeviceEventWatcher {
 public:
  UdevWatcher(udev* u, udev_monitor* monitor, int wakeRead, int wakeWrite, Handler handler)
      : udev_(u), monitor_(monitor), wakeRead_(wakeRead), wakeWrite_(wakeWrite), handler_(std::move(handler)) {
    RememberPresentDevices();  // Start holds the udev lock
    thread_ = std::thread([this] { Run(); });
  }
  ~UdevWatcher() override {
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &b, 1);
    thread_.join();  // the handler never stops its own watcher
    const std::lock_guard<std::mutex> udevLock(UdevLock());
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
  }

 private:
  // Names of the devices present now, so a removal can be named after the
  // device's attributes are gone.
  void RememberPresentDevices() {
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (!e) return;
    udev_enumerate_add_match_subsystem(e, "usb");
    udev_enumerate_add_match_property(e, "DEVTYPE", "usb_device");
    udev_enumerate_scan_devices(e);
    for (udev_list_entry* it = udev_enumerate_get_list_entry(e); it; it = udev_list_entry_get_next(it)) {
      udev_device* d = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(it));
      if (!d) continue;
      const std::string name = NameFromAttributes(d);
      if (!name.empty()) names_[Text(udev_device_get_syspath(d))] = name;
      udev_device_unref(d);
    }
    udev_enumerate_unref(e);
  }

  void Run() {
    const int monitorFd = udev_monitor_get_fd(monitor_);
    for (;;) {
      pollfd fds[2] = {{monitorFd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
      if (::poll(fds, 2, PollTimeoutMs()) < 0) continue;
      if (fds[1].revents) return;
      {
        // The events are worked out under the lock and handed on after it:
        // the handler lists ports itself.
        const std::lock_guard<std::mutex> udevLock(UdevLock());
        AnnounceOverdue();
        if (fds[0].revents & POLLIN) {
          if (udev_device* d = udev_monitor_receive_device(monitor_)) {
            Handle(d);
            udev_device_unref(d);
          }
        }
      }
      std::vector<DeviceEvent> events;
      events.swap(due_);
      for (const DeviceEvent& event : events) handler_(event);
    }
  }

  // One plug-in is one arrival. A device with a printer interface is
  // announced when its printer node (the one a link opens) is added, or when
  // kNodeWait has passed without one; any other device at once.
  void Handle(udev_device* d) {
    const std::string action = Text(udev_device_get_action(d));
    const std::string subsystem = Text(udev_device_get_subsystem(d));
    const std::string type = Text(udev_device_get_devtype(d));
    if (subsystem == "usb" && type == "usb_device") {
      const std::string path = Text(udev_device_get_syspath(d));
      if (action == "add") {
        const std::string name = NameFromAttributes(d);
        if (name.empty()) return;
        names_[path] = name;
        if (WaitsForPrinterNode(d)) {
          pending_[path] = Pending{name, Clock::now() + kNodeWait};
        } else {
          Signal(true, name);
        }
      } else if (action == "remove") {
        pending_.erase(path);
        const auto it = names_.find(path);
        const std::string name = it != names_.end() ? it->second : NameFromProperties(d);
        if (it != names_.end()) names_.erase(it);
        if (!name.empty()) Signal(false, name);
      }
    } else if (subsystem == "usbmisc" && action == "add") {
      udev_device* parent = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device");
      if (!parent) return;
      const auto it = pending_.find(Text(udev_device_get_syspath(parent)));
      if (it != pending_.end()) {
        const std::string name = it->second.name;
        pending_.erase(it);
        Signal(true, name);
      } else if (const std::string name = NameFromAttributes(parent); !name.empty()) {
        // A node for a device announced earlier (its driver bound late).
        Signal(true, name);
      }
    }
  }

  void Signal(bool arrival, const std::string& name) { due_.push_back(DeviceEvent{arrival, Utf8ToUtf16(name)}); }

  // Whether the device has a printer interface whose node is not there yet.
  // Its configuration descriptor tells before the interfaces are made;
  // without it the interfaces present so far do.
  bool WaitsForPrinterNode(udev_device* d) {
    if (HasChildIn(d, "usbmisc")) return false;
    std::ifstream in(Text(udev_device_get_syspath(d)) + "/descriptors", std::ios::binary);
    const std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t deviceDescriptor = raw.empty() ? 0 : static_cast<unsigned char>(raw[0]);
    if (deviceDescriptor > 0 && raw.size() > deviceDescriptor) {
      const int kind = ClassifyConfigurationDescriptor(reinterpret_cast<const std::uint8_t*>(raw.data()) + deviceDescriptor,
                                                       raw.size() - deviceDescriptor);
      if (kind >= 0) return kind == 1;
    }
    bool anyInterface = false;
    bool printerInterface = false;
    ForEachChild(d, "usb", [&](udev_device* child) {
      if (Text(udev_device_get_devtype(child)) != "usb_interface") return;
      anyInterface = true;
      if (std::strtoul(Attr(child, "bInterfaceClass").c_str(), nullptr, 16) == 7) printerInterface = true;
    });
    return printerInterface || !anyInterface;
  }

  template <typename Each>
  void ForEachChild(udev_device* d, const char* subsystem, Each&& each) {
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (!e) return;
    udev_enumerate_add_match_parent(e, d);
    udev_enumerate_add_match_subsystem(e, subsystem);
    udev_enumerate_scan_devices(e);
    for (udev_list_entry* it = udev_enumerate_get_list_entry(e); it; it = udev_list_entry_get_next(it)) {
      udev_device* child = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(it));
      if (!child) continue;
      each(child);
      udev_device_unref(child);
    }
    udev_enumerate_unref(e);
  }

  bool HasChildIn(udev_device* d, const char* subsystem) {
    bool any = false;
    ForEachChild(d, subsystem, [&](udev_device*) { any = true; });
    return any;
  }

  // Until the next arrival that waits for its node is due; -1: none waits.
  int PollTimeoutMs() const {
    if (pending_.empty()) return -1;
    Clock::time_point first = Clock::time_point::max();
    for (const auto& [path, p] : pending_) first = std::min(first, p.until);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kNodeWait.count()));
  }

  void AnnounceOverdue() {
    const Clock::time_point now = Clock::now();
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->second.until > now) {
        ++it;
        continue;
      }
      const std::string name = it->second.name;
      it = pending_.erase(it);
      Signal(true, name);
    }
  }

  udev* udev_;
  udev_monitor* monitor_;
  int wakeRead_;
  int wakeWrite_;
  Handler handler_;
  std::map<std::string, std::string> names_;  // syspath -> event name; monitor thread only after start
  struct Pending {
    std::string name;
    Clock::time_point until;
  };
  std::map<std::string, Pending> pending_;    // syspath -> arrival waiting for its printer node; monitor thread
  std::vector<DeviceEvent> due_;              // worked out, not yet handed on; monitor thread
  std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceEventWatcher> DeviceEventWatcher::Start(Handler handler) {
  const std::lock_guard<std::mutex> udevLock(UdevLock());
  udev* u = udev_new();
  if (!u) return nullptr;
  udev_monitor* monitor = udev_monitor_new_from_netlink(u, "udev");
  if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor, "usbmisc", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    if (monitor) udev_monitor_unref(monitor);
    udev_unref(u);
    return nullptr;
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    udev_monitor_unref(monitor);
    udev_unref(u);
    return nullptr;
  }
  try {
    return std::make_unique<UdevWatcher>(u, monitor, wake[0], wake[1], std::move(handler));
  } catch (...) {
    // No thread could be started: no events.
    udev_monitor_unref(monitor);
    udev_unref(u);
    ::close(wake[0]);
    ::close(wake[1]);
    return nullptr;
  }
}

}  // namespace tw::platform
