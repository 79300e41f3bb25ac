// The network settings exports: a flat frame over the network settings client.
// Nothing escapes the frame: a failure inside the client becomes -1.

#include <cstdint>
#include <exception>

#include "netsettings/ncs_client.h"

namespace {

using namespace tw::ncs;

template <typename Fn>
int Guarded(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (...) {
    return kInvalidArgument;
  }
}

}  // namespace

PW_EXPORT int PW_CALL NCSWSAStartup() { return Guarded([] { return WinsockStartup(); }); }
PW_EXPORT int PW_CALL NCSWSACleanup() { return Guarded([] { return WinsockCleanup(); }); }
PW_EXPORT int PW_CALL NCSGetVersion() { return Version(); }
PW_EXPORT int PW_CALL NCSGetLastError() { return Guarded([] { return LastError(); }); }
PW_EXPORT int PW_CALL NCSGetMaxTimeout() { return Guarded([] { return MaxTimeout(); }); }
PW_EXPORT int PW_CALL NCSSetMaxTimeout(int seconds) { return Guarded([=] { return SetMaxTimeout(seconds); }); }
PW_EXPORT int PW_CALL NCSGetMaxRetry() { return Guarded([] { return MaxRetry(); }); }
PW_EXPORT int PW_CALL NCSSetMaxRetry(int count) { return Guarded([=] { return SetMaxRetry(count); }); }

PW_EXPORT int PW_CALL NCSGetNICInfo(std::uint32_t address, DiscoverySummary* out) {
  return Guarded([=] { return GetNICInfo(address, out); });
}

PW_EXPORT int PW_CALL NCSGetSettingsByIP(std::uint32_t address, AddressSettings* a, WirelessSettings* w) {
  return Guarded([=] { return GetSettingsByIP(address, a, w); });
}

PW_EXPORT int PW_CALL NCSGetSettingsByMAC(const std::uint8_t* mac, std::uint32_t destination, AddressSettings* a,
                                          WirelessSettings* w) {
  return Guarded([=] { return GetSettingsByMAC(mac, destination, a, w); });
}

PW_EXPORT int PW_CALL NCSSetSettingsByIP(std::uint32_t address, const AddressSettings* a, const WirelessSettings* w,
                                         const char* password) {
  return Guarded([=] { return SetSettingsByIP(address, a, w, password); });
}

PW_EXPORT int PW_CALL NCSSetSettingsByMAC(const std::uint8_t* mac, std::uint32_t destination,
                                          const AddressSettings* a, const WirelessSettings* w,
                                          const char* password) {
  return Guarded([=] { return SetSettingsByMAC(mac, destination, a, w, password); });
}

PW_EXPORT int PW_CALL NCSGetWiFiStatus(std::uint32_t address, WirelessStatus* out) {
  return Guarded([=] { return GetWiFiStatus(address, out); });
}

PW_EXPORT int PW_CALL NCSGetLocation(std::uint32_t address, char* buffer) {
  return Guarded([=] { return GetLocation(address, buffer); });
}

PW_EXPORT int PW_CALL NCSGetAdmin(std::uint32_t address, char* buffer) {
  return Guarded([=] { return GetAdmin(address, buffer); });
}

PW_EXPORT int PW_CALL NCSSetLocation(std::uint32_t address, const char* text, const char* password) {
  return Guarded([=] { return SetLocation(address, text, password); });
}

PW_EXPORT int PW_CALL NCSSetAdmin(std::uint32_t address, const char* text, const char* password) {
  return Guarded([=] { return SetAdmin(address, text, password); });
}

PW_EXPORT int PW_CALL NCSGetDNS(std::uint32_t address, DnsSettings* out) {
  return Guarded([=] { return GetDNS(address, out); });
}

PW_EXPORT int PW_CALL NCSSetDNS(std::uint32_t address, const DnsSettings* settings, const char* password) {
  return Guarded([=] { return SetDNS(address, settings, password); });
}

PW_EXPORT int PW_CALL NCSChangePasswd(std::uint32_t address, const char* current, const char* next) {
  return Guarded([=] { return ChangePassword(address, current, next); });
}

PW_EXPORT int PW_CALL NCSSelfTest(std::uint32_t address, int value) {
  return Guarded([=] { return SelfTest(address, value); });
}

PW_EXPORT int PW_CALL NCSGetASB(std::uint32_t address, AsbStatus* out) {
  return Guarded([=] { return GetASB(address, out); });
}

PW_EXPORT int PW_CALL NCSGetRxName(std::uint32_t address, char* buffer) {
  return Guarded([=] { return GetRxName(address, buffer); });
}

PW_EXPORT int PW_CALL NCSGetOnline(std::uint32_t address) { return Guarded([=] { return GetOnline(address); }); }

PW_EXPORT int PW_CALL NCSGetBufferSize(std::uint32_t address, std::uint32_t* first, std::uint32_t* second) {
  return Guarded([=] { return GetBufferSize(address, first, second); });
}

PW_EXPORT int PW_CALL NCSGetConnectionIP(std::uint32_t address, std::uint32_t* out) {
  return Guarded([=] { return GetConnectionIP(address, out); });
}

PW_EXPORT int PW_CALL NCSReset(std::uint32_t address) { return Guarded([=] { return Reset(address); }); }
PW_EXPORT int PW_CALL NCSClearBuffer(std::uint32_t address) { return Guarded([=] { return ClearBuffer(address); }); }
PW_EXPORT int PW_CALL NCSClearTimeout(std::uint32_t address) { return Guarded([=] { return ClearTimeout(address); }); }

PW_EXPORT int PW_CALL NCSForceSend(std::uint32_t address, int value) {
  return Guarded([=] { return ForceSend(address, value); });
}

PW_EXPORT int PW_CALL NCSListUp(std::uint32_t broadcast, int seconds) {
  return Guarded([=] { return ListUp(broadcast, seconds); });
}

PW_EXPORT int PW_CALL NCSGetNIC(int index, DiscoverySummary* out) {
  return Guarded([=] { return GetNIC(index, out); });
}
