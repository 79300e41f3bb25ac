#pragma once
// Paired Bluetooth devices and the serial ports bound to them.
//
// Windows: bthprops.cpl, loaded at run time (the system runs without it), for
// the paired and remembered devices; each device's COM port from the device
// setup class of ports. Linux: BlueZ over D-Bus on the system bus
// (org.bluez.Device1 with Paired, Address, Name); each device's serial port is
// the rfcomm tty bound to its address, named by the COM number table
// (machine_ports.h).

#include <cstdint>
#include <string>
#include <vector>

namespace tw::platform {

struct PairedBluetoothDevice {
  std::uint8_t address[6] = {};   // most significant byte first
  std::string name;               // UTF-8
  std::string comPort;            // "COM161"
};

// Search results.
inline constexpr int kBluetoothFound = 0;        // at least one device with a serial port
inline constexpr int kBluetoothFailed = 1;       // an unexpected error of the system
inline constexpr int kBluetoothNone = 2;         // no device, or none with a serial port
inline constexpr int kBluetoothUnavailable = 3;  // no Bluetooth API, or its service kept failing

// Lists the paired devices that have a serial port, in the system's order.
// `lastError` (may be null) receives the system's error code of a failed step.
int SearchPairedBluetoothDevices(std::vector<PairedBluetoothDevice>& out, std::uint32_t* lastError);

// 0: no Bluetooth API; 1: an early one; 2: full support. Linux: 2 when BlueZ
// answers on the system bus, else 0.
//
// Linux: each of the two calls waits at most about a second for the bus; a
// BlueZ that holds its name but does not answer in that time counts as absent
// (level 0, search kBluetoothUnavailable), so a hung daemon costs one listing
// about two seconds at most.
int BluetoothSupportLevel();

}  // namespace tw::platform
