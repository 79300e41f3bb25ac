#include "portlib/manager/port_maintenance.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "netsettings/ncs_client.h"
#include "platform/icmp_echo.h"
#include "portlib/manager/port_enumeration.h"

namespace tw::portwire {
namespace {

constexpr int32_t kServiceDeviceStateEvent = 0x60001;
constexpr int32_t kDriverDeviceStateEvent = 0x40002;

// The backend of the driver software that served the last route-1 open.
CServiceCommBase* ServiceBackendOfRouteKind(KPComm& m, int32_t routeKind) {
  if (routeKind == kRouteKindPortService) return m.PortServiceBackend();
  if (routeKind == kRouteKindDriverPath) return m.DriverPathBackend();
  return nullptr;
}

// A record field's text as an IPv4 address in wire order (bytes in text order).
bool FieldAddress(const PortText& field, uint8_t bytes[4]) {
  std::string narrow;
  for (char16_t c : GetText(field)) {
    if (c > 0x7F) return false;
    narrow += static_cast<char>(c);
  }
  return platform::ParseDottedIpv4(narrow, bytes);
}

uint32_t WireAddress(const uint8_t bytes[4]) {
  uint32_t address = 0;
  std::memcpy(&address, bytes, 4);
  return address;
}

std::u16string Number3(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", n);
  return std::u16string(text, text + std::strlen(text));
}

Result ChangeNetworkAddress(KPComm& m, const PortSettings& current, const PortSettings& record,
                            const NetworkLookup& lookUp) {
  // The interface's present data: from the last lookup when it was of this
  // address, else looked up now.
  uint8_t here[4];
  if (!FieldAddress(current.portName, here)) return kResultSettingsMismatch;
  NetworkDetails& data = LastNetworkDetails();
  if (!data.known || data.address != WireAddress(here)) {
    PortSettings copy = current;
    if (!lookUp || !lookUp(copy) || !data.known) return kResultSettingsMismatch;
  }
  uint8_t next[4];
  if (!FieldAddress(record.portName, next)) return kResultSettingsMismatch;
  for (int i = 0; i < 4; ++i) {
    // The new address must stay in the interface's present subnet.
    if ((next[i] & data.addressSettings.mask[i]) != (data.addressSettings.ip[i] & data.addressSettings.mask[i])) {
      return kResultSettingsMismatch;
    }
  }
  m.Close();
  if (record.route == kRouteDriverSoftware) {
    CServiceCommBase* service = ServiceBackendOfRouteKind(m, current.routeKind);
    if (service == nullptr || service->RenameNetworkPort(&record) != kResultOk) return kResultFailed;
  }
  ncs::AddressSettings changed = data.addressSettings;
  std::memcpy(changed.ip, next, 4);
  if (ncs::SetSettingsByMAC(data.mac, data.address, &changed, nullptr, nullptr) != 0) return kResultFailed;
  // The interface now answers at its new address.
  data.addressSettings = changed;
  data.address = WireAddress(next);
  m.ModifyCurrentSettings([&](PortSettings& s) { s = record; });
  return kResultOk;
}

}  // namespace

Result EnumPort(KPComm& m) {
  m.EnsureInitialized();
  if (m.PortServiceAvailable() && m.PortServiceBackend()) {
    m.PortServiceBackend()->EnumeratePorts();
  } else if (m.DriverPathAvailable() && m.DriverPathBackend()) {
    m.DriverPathBackend()->EnumeratePorts();
  }
  return kResultOk;
}

Result AddPort(KPComm& m, PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  m.EnsureInitialized();
  if (m.IsPortOpen()) return kResultAlreadyOpen;
  CServiceCommBase* service =
      m.RouteKind() == kRouteKindPortService ? m.PortServiceBackend() : m.DriverPathBackend();
  if (service != nullptr) service->FindPort(record);
  if (EqualsIgnoreCase(GetText(record->portType), u"USB") && record->route == 0) {
    int number = 0;
    for (const PortSettings& device : m.UsbDevices()) {
      if (!EqualsIgnoreCase(Number3(++number), GetText(record->portName))) continue;
      record->usbClass = device.usbClass;
      std::copy(std::begin(device.servicePortName), std::end(device.servicePortName),
                std::begin(record->servicePortName));
      break;
    }
  }
  return kResultOk;
}

Result PortSetting(KPComm& m, const PortSettings* record, const NetworkLookup& lookUpNetwork) {
  if (record == nullptr) return kResultInvalidArgument;
  if (!m.IsPortOpen()) return kResultNotOpen;
  const PortSettings current = m.CurrentSettings();
  const std::u16string_view type = GetText(current.portType);
  if (EqualsIgnoreCase(type, u"USB")) {
    m.ModifyCurrentSettings([&](PortSettings& s) { s.usbClass = record->usbClass; });
    return kResultOk;
  }
  if (EqualsIgnoreCase(type, u"COM")) {
    m.Close();  // the caller opens the port again with the new settings
    const bool route1 = current.route == kRouteDriverSoftware;
    if (route1) {
      CServiceCommBase* service = ServiceBackendOfRouteKind(m, current.routeKind);
      if (service == nullptr) return kResultFailed;
      const Result r = service->ApplySerialSettings(record);
      if (r != kResultOk) return r;
    }
    m.ModifyCurrentSettings([&](PortSettings& s) {
      s.baudRate = record->baudRate;
      s.parity = record->parity;
      if (!route1) s.dataBits = record->dataBits;
      s.flowControl = record->flowControl;
    });
    return kResultOk;
  }
  if (EqualsIgnoreCase(type, u"NET")) return ChangeNetworkAddress(m, current, *record, lookUpNetwork);
  return kResultFailed;
}

namespace {

Result RouteDeviceStateCallback(KPComm& m, bool subscribe, void* callback, void* context) {
  if (!m.IsPortOpen()) return kResultNotOpen;
  // The route kind, not the current backend, chooses the target.
  const int32_t routeKind = m.RouteKind();
  CServiceCommBase* service = ServiceBackendOfRouteKind(m, routeKind);
  if (service == nullptr) return kResultFailed;
  const int32_t event = routeKind == kRouteKindPortService ? kServiceDeviceStateEvent : kDriverDeviceStateEvent;
  return subscribe ? service->RegisterDeviceStateCallback(event, callback, context)
                   : service->UnregisterDeviceStateCallback(event, callback, context);
}

}  // namespace

Result RegisterDeviceStateCallback(KPComm& m, void* callback, void* context) {
  return RouteDeviceStateCallback(m, true, callback, context);
}

Result UnregisterDeviceStateCallback(KPComm& m, void* callback, void* context) {
  return RouteDeviceStateCallback(m, false, callback, context);
}

}  // namespace tw::portwire
