// Paired Bluetooth devices on Linux: BlueZ's objects on the system bus
// (org.bluez.Device1: Paired, Address, Name) through sd-bus, and the rfcomm
// ttys bound to their addresses (machine_ports.h).
#include <systemd/sd-bus.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/bluetooth.h"
#include "platform/machine_ports.h"

namespace tw::platform {
namespace {

using Clock = std::chrono::steady_clock;

// A Bluetooth daemon that hangs must not hold a listing (and the library's
// API lock with it) for sd-bus's default 25 s: every call of one query,
// connecting included, shares this budget, and running out of it counts as
// "no BlueZ". A listing makes two queries (support level, then the search).
constexpr std::chrono::milliseconds kQueryBudget{1000};

// The system bus with every call bounded by the time left of one budget.
class Bus {
 public:
  Bus() : deadline_(Clock::now() + kQueryBudget) {
    // Built by hand rather than with sd_bus_open_system, so that the bound
    // applies to the connection's own greeting too.
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (sd_bus_new(&bus_) < 0) {
      bus_ = nullptr;
      return;
    }
    if (sd_bus_set_address(bus_, address && *address ? address : "unix:path=/run/dbus/system_bus_socket") < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || !Bound() || sd_bus_start(bus_) < 0) {
      sd_bus_flush_close_unref(bus_);
      bus_ = nullptr;
    }
  }
  ~Bus() { sd_bus_flush_close_unref(bus_); }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  sd_bus* get() const { return bus_; }
  explicit operator bool() const { return bus_ != nullptr; }
  // Limits the next call to the time left; false when none is left.
  bool Bound() {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - Clock::now());
    if (left.count() <= 0) return false;
    return sd_bus_set_method_call_timeout(bus_, static_cast<uint64_t>(left.count())) >= 0;
  }

 private:
  sd_bus* bus_ = nullptr;
  Clock::time_point deadline_;
};

struct Message {
  sd_bus_message* m = nullptr;
  ~Message() { sd_bus_message_unref(m); }
};

struct Error {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  ~Error() { sd_bus_error_free(&e); }
};

// BlueZ owns its name on the bus and answers there itself (a ping), within
// the budget. A daemon that holds the name but does not answer is no BlueZ.
bool BluezAnswers(Bus& bus) {
  if (!bus.Bound()) return false;
  Message reply;
  Error error;
  if (sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", &error.e, &reply.m, "s", "org.bluez") < 0) {
    return false;
  }
  int has = 0;
  if (sd_bus_message_read(reply.m, "b", &has) < 0 || has == 0) return false;
  if (!bus.Bound()) return false;
  Message pong;
  Error pingError;
  return sd_bus_call_method(bus.get(), "org.bluez", "/", "org.freedesktop.DBus.Peer", "Ping", &pingError.e, &pong.m,
                            "") >= 0;
}

// "AA:BB:CC:DD:EE:FF" -> six bytes, most significant first.
bool ParseAddress(const std::string& text, std::uint8_t out[6]) {
  if (text.size() != 17) return false;
  for (int i = 0; i < 6; ++i) {
    const std::string part = text.substr(static_cast<size_t>(i) * 3, 2);
    if (!std::isxdigit(static_cast<unsigned char>(part[0])) || !std::isxdigit(static_cast<unsigned char>(part[1])) ||
        (i < 5 && text[static_cast<size_t>(i) * 3 + 2] != ':')) {
      return false;
    }
    out[i] = static_cast<std::uint8_t>(std::strtoul(part.c_str(), nullptr, 16));
  }
  return true;
}

struct DeviceProperties {
  bool isDevice = false;
  bool paired = false;
  std::string address;
  std::string name;
};

// Reads one a{sv} of org.bluez.Device1; other properties are skipped.
int ReadDeviceProperties(sd_bus_message* m, DeviceProperties& d) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
    const std::string k = key ? key : "";
    if (k == "Paired") {
      int value = 0;
      r = sd_bus_message_read(m, "v", "b", &value);
      d.paired = value != 0;
    } else if (k == "Address" || k == "Name") {
      const char* value = nullptr;
      r = sd_bus_message_read(m, "v", "s", &value);
      (k == "Address" ? d.address : d.name) = value ? value : "";
    } else {
      r = sd_bus_message_skip(m, "v");
    }
    if (r < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

// Every object's org.bluez.Device1 from GetManagedObjects (a{oa{sa{sv}}}).
int ReadDevices(sd_bus_message* m, std::vector<DeviceProperties>& out) {
  int r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
    const char* path = nullptr;
    if ((r = sd_bus_message_read(m, "o", &path)) < 0) return r;
    if ((r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}")) < 0) return r;
    DeviceProperties d;
    while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
      const char* iface = nullptr;
      if ((r = sd_bus_message_read(m, "s", &iface)) < 0) return r;
      if (iface && std::string(iface) == "org.bluez.Device1") {
        d.isDevice = true;
        r = ReadDeviceProperties(m, d);
      } else {
        r = sd_bus_message_skip(m, "a{sv}");
      }
      if (r < 0) return r;
      if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;  // a{sa{sv}}
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;  // e
    if (d.isDevice) out.push_back(std::move(d));
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int SearchPairedBluetoothDevices(std::vector<PairedBluetoothDevice>& out, std::uint32_t* lastError) {
  out.clear();
  if (lastError) *lastError = 0;
  Bus bus;
  if (!bus || !BluezAnswers(bus) || !bus.Bound()) return kBluetoothUnavailable;
  Message reply;
  Error error;
  int r = sd_bus_call_method(bus.get(), "org.bluez", "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects",
                             &error.e, &reply.m, "");
  // Out of time: BlueZ stopped answering halfway, as good as absent.
  if (r == -ETIMEDOUT || sd_bus_error_has_name(&error.e, SD_BUS_ERROR_TIMEOUT) ||
      sd_bus_error_has_name(&error.e, SD_BUS_ERROR_NO_REPLY)) {
    return kBluetoothUnavailable;
  }
  std::vector<DeviceProperties> devices;
  if (r >= 0) r = ReadDevices(reply.m, devices);
  if (r < 0) {
    if (lastError) *lastError = static_cast<std::uint32_t>(-r);
    return kBluetoothFailed;
  }
  const std::vector<SerialPort> serial = MachinePorts().SerialPorts();
  for (const DeviceProperties& d : devices) {
    PairedBluetoothDevice device;
    if (!d.paired || !ParseAddress(d.address, device.address)) continue;
    for (const SerialPort& port : serial) {
      if (port.kind == SerialKind::kBluetooth && Upper(port.btAddress) == Upper(d.address)) {
        device.comPort = "COM" + std::to_string(port.number);
        break;
      }
    }
    if (device.comPort.empty()) continue;  // paired, but no serial port bound
    device.name = d.name;
    out.push_back(std::move(device));
  }
  return out.empty() ? kBluetoothNone : kBluetoothFound;
}

int BluetoothSupportLevel() {
  Bus bus;
  return bus && BluezAnswers(bus) ? 2 : 0;
}

}  // namespace tw::platform
