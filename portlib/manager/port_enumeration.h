#pragma once
// CPortEnumeration: the library's port listing (KPC_EnumDevPort) and the
// completion of the current record with device details (KPC_GetPort when no
// port is open). Serial, parallel and USB ports come from the machine-ports
// service (platform/machine_ports.h), Bluetooth serial ports from the
// Bluetooth search, network printers from the network settings client. Every
// record found starts from the record defaults and goes through the port
// manager's ApplyKnownPort.
//
// Threads: the export frame calls these with the API lock held.

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "platform/bluetooth.h"
#include "platform/machine_ports.h"
#include "shared/result_codes.h"
#include "shared/port_settings.h"

namespace tw::portwire {

class KPComm;

// What the listing uses of the world; empty members get the real thing.
struct PortEnumerationServices {
  platform::IMachinePorts* ports = nullptr;
  std::function<int()> bluetoothSupportLevel;
  std::function<int(std::vector<platform::PairedBluetoothDevice>&)> bluetoothSearch;
};

class CPortEnumeration {
 public:
  explicit CPortEnumeration(KPComm& manager, PortEnumerationServices services = {});

  // Fills up to `capacity` records of `array` with the ports of `portType`
  // ("COM", "LPT", "USB", "NET", "BT", "SERIAL", ignoring case) and stores
  // their number in *outCount. kResultFailed for another type;
  // kResultInvalidArgument for a null count, or a null array (or a null
  // record in it) where records are to be filled.
  Result EnumDevPort(std::u16string_view portType, PortSettings* const* array, uint32_t capacity,
                     uint32_t* outCount);
  // The serial ports split by whether they belong to a paired Bluetooth
  // device: "BT" (exactly) lists those that do, any other text those that do
  // not. kResultFailed when the search failed.
  Result EnumBluetoothSerialPorts(std::u16string_view portType, PortSettings* const* array, uint32_t capacity,
                                  uint32_t* outCount);
  // Completes a copy of the current record: nothing while a port is open;
  // "USB": FillUsbDetails, then FillUsbDevicePath; "NET": LookupNetworkDetails.
  // Always kResultOk.
  Result CompletePortDetails(PortSettings& record);

  // Details of the maker's USB device whose serial number the record's
  // service port name contains (interface name, device version, serial
  // number, speed and class text, the interface board flag). 1.
  int FillUsbDetails(PortSettings& record);
  // A record whose service port name is a device identity: the identity of
  // that device as listed now in the record's class (left alone while it is
  // absent). Any other record: the identity of USB device n (the port name)
  // of the record's class.
  void FillUsbDevicePath(PortSettings& record);
  // The network interface at the record's address: hardware address,
  // interface name, versions; reads its settings into the process-wide
  // records (NetworkDetails). False when the interface does not answer.
  bool LookupNetworkDetails(PortSettings& record);

  // Speed and class text of a USB device, e.g. "USB2.0 HighSpeed,  USB Printer Class".
  static std::u16string SpeedAndClassText(const platform::UsbDescriptors& d, int printerClass);

 private:
  // The next record to fill, or null when the array is full (count reached)
  // or holds a null entry there (then holeSeen_ is set).
  PortSettings* Next(PortSettings* const* array, uint32_t capacity, uint32_t count) const;
  // EnumDevPort for a known type with checked arguments.
  Result EnumDevPortInto(std::u16string_view portType, PortSettings* const* array, uint32_t capacity,
                         uint32_t* outCount);
  void FillNumbered(std::u16string_view type, const char* format, const std::vector<int>& numbers,
                    PortSettings* const* array, uint32_t capacity, uint32_t* outCount);
  Result EnumUsb(PortSettings* const* array, uint32_t capacity, uint32_t* outCount);
  Result EnumNetwork(PortSettings* const* array, uint32_t capacity, uint32_t* outCount);

  KPComm& manager_;
  PortEnumerationServices services_;
  mutable bool holeSeen_ = false;  // API lock
};

}  // namespace tw::portwire

#include "netsettings/ncs_records.h"

namespace tw::portwire {

// The network interface data of the last LookupNetworkDetails (process-wide;
// the network part of KPC_PortSetting reads them).
struct NetworkDetails {
  bool known = false;
  std::uint8_t mac[6] = {};
  std::uint32_t address = 0;  // network order
  bool wireless = false;
  ncs::AddressSettings addressSettings{};
  ncs::WirelessSettings wirelessSettings{};
};
NetworkDetails& LastNetworkDetails();

}  // namespace tw::portwire
