#include "gui/enum_port.h"

#include <algorithm>
#include <cstdio>

namespace tw::gui {
namespace {

std::u16string Widen(const char* s) {
  std::u16string out;
  while (*s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s++)));
  return out;
}

void AppendNumbered(std::vector<PortEntry>& list, std::vector<int> numbers, int kind, IPortSource& source) {
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  for (int n : numbers) {
    if (n < 1 || n > kMaxListedPortNumber) continue;
    PortEntry e;
    e.kind = kind;
    e.number = n;
    e.name = PortName(kind, n);
    e.details = source.Details(kind, n, 0);
    list.push_back(std::move(e));
  }
}

}  // namespace

std::u16string PortName(int kind, int number, int usbClass) {
  char buf[64];
  switch (kind) {
    case kPortSerial:
      std::snprintf(buf, sizeof buf, "COM%d", number);
      break;
    case kPortParallel:
      std::snprintf(buf, sizeof buf, "LPT%d", number);
      break;
    case kPortUsb:
      std::snprintf(buf, sizeof buf, usbClass == kUsbPrinterClass ? "USB-%03d" : "KPUSB-%03d", number);
      break;
    default:
      buf[0] = '\0';
  }
  return Widen(buf);
}

CEnumPort::CEnumPort(IPortSource* ports, INetworkFinder* network)
    : ports_(ports ? ports : &MachinePortSource()), network_(network ? network : &NetworkDiscoveryFinder()) {}

std::u16string DescribePortDetails(const PortDetails& d) {
  std::u16string text = d.device;
  if (!d.product.empty()) text += (text.empty() ? u"" : u"\n") + d.product;
  if (text.empty()) return text;
  if (d.mayOpen) {
    text += u"\nmay be opened";
  } else {
    text += u"\ncannot be opened";
    if (!d.fix.empty()) text += u": " + d.fix;
  }
  return text;
}

int CEnumPort::EnumPorts(int kind, std::vector<PortEntry>& list) { return EnumPorts(kind, list, {}); }

int CEnumPort::EnumPorts(int kind, std::vector<PortEntry>& list, std::stop_token stop) {
  list.clear();
  switch (kind) {
    case kPortSerial:
      EnumComPorts(list);
      break;
    case kPortParallel:
      EnumLptPorts(list);
      break;
    case kPortUsb:
      EnumUsbPorts(list);
      break;
    case kPortNetwork:
      EnumNetworkPorts(list, std::move(stop));
      break;
    default:
      break;
  }
  return static_cast<int>(list.size());
}

void CEnumPort::EnumComPorts(std::vector<PortEntry>& list) {
  AppendNumbered(list, ports_->ComPortNumbers(), kPortSerial, *ports_);
}

void CEnumPort::EnumLptPorts(std::vector<PortEntry>& list) {
  AppendNumbered(list, ports_->LptPortNumbers(), kPortParallel, *ports_);
}

void CEnumPort::EnumUsbPorts(std::vector<PortEntry>& list) {
  // The vendor class first, then the printer class; numbers count within each.
  for (int usbClass : {kUsbVendorClass, kUsbPrinterClass}) {
    auto members = ports_->UsbMembers(usbClass);
    std::stable_sort(members.begin(), members.end(),
                     [](const UsbMember& a, const UsbMember& b) { return a.index < b.index; });
    for (const auto& m : members) {
      if (m.index < 0 || m.index >= kMaxUsbMembers) continue;
      PortEntry e;
      e.kind = kPortUsb;
      e.number = m.index + 1;
      e.name = PortName(kPortUsb, e.number, usbClass);
      e.usbClass = usbClass;
      e.detail = m.path;
      e.details = ports_->Details(kPortUsb, e.number, usbClass);
      list.push_back(std::move(e));
    }
  }
}

void CEnumPort::EnumNetworkPorts(std::vector<PortEntry>& list, std::stop_token stop) {
  for (auto& address : network_->FindPrinters(std::move(stop))) {
    PortEntry e;
    e.kind = kPortNetwork;
    e.detail = std::move(address);
    list.push_back(std::move(e));
  }
}

}  // namespace tw::gui
