// Paired Bluetooth devices on Linux: BlueZ's objects on the system bus
// (org.bluez.Device1: Paired, Address, Name) through sd-bus, and the rfcomm
// ttys bound to their addresses (machine_ports.h).
#include <systemd/sd-bus.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/bluetooth.h"
#include "platform/machine_ports.h"

namespace tw::platform {
namespace {

struct Bus {
  sd_bus* bus = nullptr;
  Bus() {
    if (sd_bus_open_system(&bus) < 0) bus = nullptr;
  }
  ~Bus() { sd_bus_flush_close_unref(bus); }
};

struct Message {
  sd_bus_message* m = nullptr;
  ~Message() { sd_bus_message_unref(m); }
};

struct Error {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  ~Error() { sd_bus_error_free(&e); }
};

bool BluezAnswers(sd_bus* bus) {
  Message reply;
  Error error;
  if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                         &error.e, &reply.m, "s", "org.bluez") < 0) {
    return false;
  }
  int has = 0;
  return sd_bus_message_read(reply.m, "b", &has) >= 0 && has != 0;
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
  if (!bus.bus || !BluezAnswers(bus.bus)) return kBluetoothUnavailable;
  Message reply;
  Error error;
  int r = sd_bus_call_method(bus.bus, "org.bluez", "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects",
                             &error.e, &reply.m, "");
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
  return bus.bus && BluezAnswers(bus.bus) ? 2 : 0;
}

}  // namespace tw::platform
