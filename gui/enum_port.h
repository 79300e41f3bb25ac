#pragma once
// Finding the ports the front end offers, by kind, as PortEntry lists: serial
// and parallel ports by their names, USB printers by interface class, network
// printers by the UDP discovery (discovery.h).

#include <stop_token>
#include <string>
#include <vector>

#include "gui/port_entry.h"

namespace tw::gui {

// Highest COM/LPT number offered; higher numbered devices are never listed.
constexpr int kMaxListedPortNumber = 255;
// USB members searched per interface class.
constexpr int kMaxUsbMembers = 127;

// One device of a USB interface class: its position among the class's
// members (0-based; a member whose details could not be read leaves a gap)
// and its device path.
struct UsbMember {
  int index = 0;
  std::u16string path;
};

// What the machine has, as the platform reports it. Calls may come from a
// worker thread.
class IPortSource {
 public:
  virtual ~IPortSource() = default;
  // Numbers of present COMn / LPTn ports, any order.
  virtual std::vector<int> ComPortNumbers() = 0;
  virtual std::vector<int> LptPortNumbers() = 0;
  // Members of the USB interface class kUsbVendorClass or kUsbPrinterClass.
  virtual std::vector<UsbMember> UsbMembers(int usbClass) = 0;
  // What to show beside a port just listed by the calls above (for USB,
  // `number` is the member index + 1 within `usbClass`). Empty when unknown.
  virtual PortDetails Details(int kind, int number, int usbClass) {
    (void)kind, (void)number, (void)usbClass;
    return {};
  }
};

// The details as the lists show them: the device, the product name and
// whether the user may open it (with the fix when not), one per line; empty
// when nothing is known.
std::u16string DescribePortDetails(const PortDetails& details);

// The platform's ports.
IPortSource& MachinePortSource();

// The network printers that answer a discovery: their IPv4 addresses as
// "a.b.c.d", in arrival order (twice for a printer that answered twice).
class INetworkFinder {
 public:
  virtual ~INetworkFinder() = default;
  // A stop request on `stop` ends the search early with what it found.
  virtual std::vector<std::u16string> FindPrinters(std::stop_token stop = {}) = 0;
};

// The discovery of discovery.h.
INetworkFinder& NetworkDiscoveryFinder();

class IEnumPort {
 public:
  virtual ~IEnumPort() = default;
  // Empties `list` and fills it with the ports of `kind`; any other kind
  // leaves it empty. The number of entries.
  virtual int EnumPorts(int kind, std::vector<PortEntry>& list) = 0;
  // The same; a slow search (the network's) ends early on a stop request.
  virtual int EnumPorts(int kind, std::vector<PortEntry>& list, std::stop_token stop) {
    (void)stop;
    return EnumPorts(kind, list);
  }
};

class CEnumPort : public IEnumPort {
 public:
  // Both sources default to the machine's own (not owned).
  explicit CEnumPort(IPortSource* ports = nullptr, INetworkFinder* network = nullptr);
  int EnumPorts(int kind, std::vector<PortEntry>& list) override;
  int EnumPorts(int kind, std::vector<PortEntry>& list, std::stop_token stop) override;

  void EnumComPorts(std::vector<PortEntry>& list);
  void EnumLptPorts(std::vector<PortEntry>& list);
  void EnumUsbPorts(std::vector<PortEntry>& list);
  void EnumNetworkPorts(std::vector<PortEntry>& list, std::stop_token stop = {});

 private:
  IPortSource* ports_;
  INetworkFinder* network_;
};

// "COM%d", "LPT%d", "KPUSB-%03d" / "USB-%03d".
std::u16string PortName(int kind, int number, int usbClass = kUsbVendorClass);

}  // namespace tw::gui
