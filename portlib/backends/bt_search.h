#pragma once
// CBTSearch: one search for the computer's paired (and remembered) Bluetooth
// devices with the serial port bound to each, for the "BT" and "SERIAL"
// listings. The system part (bthprops.cpl loaded at run time on Windows,
// BlueZ over D-Bus on Linux) is platform/bluetooth.h; a missing Bluetooth
// stack is not an error (Search gives 3).
//
// Lifetime: one listing; construct, Search once, read Devices, destroy.

#include <cstdint>
#include <vector>

#include "platform/bluetooth.h"

namespace tw::portwire {

class CBTSearch {
 public:
  CBTSearch() = default;
  virtual ~CBTSearch() = default;

  // Fills the device list anew: 0 at least one device with a serial port,
  // 1 an unexpected system error, 2 none, 3 no Bluetooth (or its service kept
  // failing). Devices without a serial port are left out.
  int Search() { return platform::SearchPairedBluetoothDevices(devices_, &lastError_); }
  const std::vector<platform::PairedBluetoothDevice>& Devices() const { return devices_; }
  // The system's error code of the last failed step (2 after repeated
  // failures of the Bluetooth service).
  std::uint32_t LastError() const { return lastError_; }

  // 0 no Bluetooth API, 1 an early one, 2 full support.
  static int BluetoothSupportLevel() { return platform::BluetoothSupportLevel(); }

 private:
  std::vector<platform::PairedBluetoothDevice> devices_;
  std::uint32_t lastError_ = 0;
};

}  // namespace tw::portwire
