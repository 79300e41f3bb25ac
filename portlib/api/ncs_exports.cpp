// The network settings exports: a flat frame over the network settings client.
// Nothing escapes the frame: a failure inside the client becomes -1.
//
// The public header is included so that the compiler checks every definition
// here against the declaration integrators compile with, and the header's
// records against the client's own (same offsets and sizes, field by field).

#include <cstddef>
#include <cstdint>
#include <exception>
#include <type_traits>

#include "include/portwire.h"
#include "netsettings/ncs_client.h"

namespace {

namespace ncs = tw::ncs;

// The header's result codes are the client's.
static_assert(NCS_OK == ncs::kOk && NCS_INVALID_ARGUMENT == ncs::kInvalidArgument &&
              NCS_SOCKET_FAILED == ncs::kSocketFailed && NCS_NO_REPLY == ncs::kNoReply &&
              NCS_SEND_FAILED == ncs::kSendFailed && NCS_RECEIVE_FAILED == ncs::kReceiveFailed &&
              NCS_BAD_REPLY == ncs::kBadReply && NCS_REFUSED == ncs::kRefused &&
              NCS_WRONG_PASSWORD == ncs::kWrongPassword && NCS_INDEX_OUT_OF_RANGE == ncs::kIndexOutOfRange &&
              NCS_UNEXPECTED == ncs::kUnexpected);
static_assert(ncs::kApiVersion == 530);

// Field `field` lies at `offset` in both records, with the same size.
#define NCS_SAME_FIELD(outer, inner, field, offset)                                              \
  static_assert(offsetof(outer, field) == (offset) && offsetof(ncs::inner, field) == (offset) && \
                sizeof(outer::field) == sizeof(ncs::inner::field))
#define NCS_SAME_RECORD(outer, inner, size)                                                  \
  static_assert(sizeof(outer) == (size) && sizeof(ncs::inner) == (size) &&                 \
                std::is_trivially_copyable_v<outer> && std::is_trivially_copyable_v<ncs::inner>)

NCS_SAME_RECORD(NCSAddressSettings, AddressSettings, 16);
NCS_SAME_FIELD(NCSAddressSettings, AddressSettings, method, 0);
NCS_SAME_FIELD(NCSAddressSettings, AddressSettings, ip, 2);
NCS_SAME_FIELD(NCSAddressSettings, AddressSettings, mask, 6);
NCS_SAME_FIELD(NCSAddressSettings, AddressSettings, gateway, 10);
NCS_SAME_FIELD(NCSAddressSettings, AddressSettings, reserved, 14);

NCS_SAME_RECORD(NCSWirelessKey, WirelessKey, 15);
NCS_SAME_FIELD(NCSWirelessKey, WirelessKey, present, 0);
NCS_SAME_FIELD(NCSWirelessKey, WirelessKey, key, 1);

NCS_SAME_RECORD(NCSWirelessSettings, WirelessSettings, 98);
NCS_SAME_FIELD(NCSWirelessSettings, WirelessSettings, channel, 0);
NCS_SAME_FIELD(NCSWirelessSettings, WirelessSettings, ssid, 1);
NCS_SAME_FIELD(NCSWirelessSettings, WirelessSettings, ssidEnd, 33);
NCS_SAME_FIELD(NCSWirelessSettings, WirelessSettings, mode, 34);
NCS_SAME_FIELD(NCSWirelessSettings, WirelessSettings, encryption, 35);
NCS_SAME_FIELD(NCSWirelessSettings, WirelessSettings, keyIndex, 36);
NCS_SAME_FIELD(NCSWirelessSettings, WirelessSettings, keyLength, 37);
NCS_SAME_FIELD(NCSWirelessSettings, WirelessSettings, keys, 38);

NCS_SAME_RECORD(NCSWirelessStatus, WirelessStatus, 45);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, value0, 0);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, value1, 1);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, value3, 3);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, value4, 4);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, value5, 5);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, value6, 6);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, value10, 10);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, ssid, 12);
NCS_SAME_FIELD(NCSWirelessStatus, WirelessStatus, ssidEnd, 44);

NCS_SAME_RECORD(NCSDnsSettings, DnsSettings, 354);
NCS_SAME_FIELD(NCSDnsSettings, DnsSettings, nameValue, 0);
NCS_SAME_FIELD(NCSDnsSettings, DnsSettings, firstName, 2);
NCS_SAME_FIELD(NCSDnsSettings, DnsSettings, secondName, 66);
NCS_SAME_FIELD(NCSDnsSettings, DnsSettings, serverValue, 319);
NCS_SAME_FIELD(NCSDnsSettings, DnsSettings, serverCount, 321);
NCS_SAME_FIELD(NCSDnsSettings, DnsSettings, servers, 322);

NCS_SAME_RECORD(NCSAsbStatus, AsbStatus, 12);
NCS_SAME_FIELD(NCSAsbStatus, AsbStatus, values, 0);

NCS_SAME_RECORD(NCSDiscoverySummary, DiscoverySummary, 18);
NCS_SAME_FIELD(NCSDiscoverySummary, DiscoverySummary, mac, 0);
NCS_SAME_FIELD(NCSDiscoverySummary, DiscoverySummary, address, 6);
NCS_SAME_FIELD(NCSDiscoverySummary, DiscoverySummary, model, 10);
NCS_SAME_FIELD(NCSDiscoverySummary, DiscoverySummary, version, 12);
NCS_SAME_FIELD(NCSDiscoverySummary, DiscoverySummary, wireless, 14);

#undef NCS_SAME_FIELD
#undef NCS_SAME_RECORD

// The caller's record as the client's type (same layout, checked above).
template <typename Inner, typename Outer>
auto* In(Outer* record) {
  using Target = std::conditional_t<std::is_const_v<Outer>, const Inner, Inner>;
  return reinterpret_cast<Target*>(record);
}

template <typename Fn>
int32_t Guarded(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (...) {
    return ncs::kInvalidArgument;
  }
}

}  // namespace

PW_EXPORT int32_t PW_CALL NCSWSAStartup() { return Guarded([] { return ncs::WinsockStartup(); }); }
PW_EXPORT int32_t PW_CALL NCSWSACleanup() { return Guarded([] { return ncs::WinsockCleanup(); }); }
PW_EXPORT int32_t PW_CALL NCSGetVersion() { return ncs::Version(); }
PW_EXPORT int32_t PW_CALL NCSGetLastError() { return Guarded([] { return ncs::LastError(); }); }
PW_EXPORT int32_t PW_CALL NCSGetMaxTimeout() { return Guarded([] { return ncs::MaxTimeout(); }); }
PW_EXPORT int32_t PW_CALL NCSSetMaxTimeout(int32_t seconds) {
  return Guarded([=] { return ncs::SetMaxTimeout(seconds); });
}
PW_EXPORT int32_t PW_CALL NCSGetMaxRetry() { return Guarded([] { return ncs::MaxRetry(); }); }
PW_EXPORT int32_t PW_CALL NCSSetMaxRetry(int32_t count) { return Guarded([=] { return ncs::SetMaxRetry(count); }); }

PW_EXPORT int32_t PW_CALL NCSGetNICInfo(uint32_t address, NCSDiscoverySummary* out) {
  return Guarded([=] { return ncs::GetNICInfo(address, In<ncs::DiscoverySummary>(out)); });
}

PW_EXPORT int32_t PW_CALL NCSGetSettingsByIP(uint32_t address, NCSAddressSettings* addressOut,
                                             NCSWirelessSettings* wirelessOut) {
  return Guarded([=] {
    return ncs::GetSettingsByIP(address, In<ncs::AddressSettings>(addressOut), In<ncs::WirelessSettings>(wirelessOut));
  });
}

PW_EXPORT int32_t PW_CALL NCSGetSettingsByMAC(const uint8_t* mac, uint32_t destination, NCSAddressSettings* addressOut,
                                              NCSWirelessSettings* wirelessOut) {
  return Guarded([=] {
    return ncs::GetSettingsByMAC(mac, destination, In<ncs::AddressSettings>(addressOut),
                                 In<ncs::WirelessSettings>(wirelessOut));
  });
}

PW_EXPORT int32_t PW_CALL NCSSetSettingsByIP(uint32_t address, const NCSAddressSettings* settings,
                                             const NCSWirelessSettings* wireless, const char* password) {
  return Guarded([=] {
    return ncs::SetSettingsByIP(address, In<ncs::AddressSettings>(settings), In<ncs::WirelessSettings>(wireless),
                                password);
  });
}

PW_EXPORT int32_t PW_CALL NCSSetSettingsByMAC(const uint8_t* mac, uint32_t destination,
                                              const NCSAddressSettings* settings,
                                              const NCSWirelessSettings* wireless, const char* password) {
  return Guarded([=] {
    return ncs::SetSettingsByMAC(mac, destination, In<ncs::AddressSettings>(settings),
                                 In<ncs::WirelessSettings>(wireless), password);
  });
}

PW_EXPORT int32_t PW_CALL NCSGetWiFiStatus(uint32_t address, NCSWirelessStatus* out) {
  return Guarded([=] { return ncs::GetWiFiStatus(address, In<ncs::WirelessStatus>(out)); });
}

PW_EXPORT int32_t PW_CALL NCSGetLocation(uint32_t address, char* buffer) {
  return Guarded([=] { return ncs::GetLocation(address, buffer); });
}

PW_EXPORT int32_t PW_CALL NCSGetAdmin(uint32_t address, char* buffer) {
  return Guarded([=] { return ncs::GetAdmin(address, buffer); });
}

PW_EXPORT int32_t PW_CALL NCSSetLocation(uint32_t address, const char* text, const char* password) {
  return Guarded([=] { return ncs::SetLocation(address, text, password); });
}

PW_EXPORT int32_t PW_CALL NCSSetAdmin(uint32_t address, const char* text, const char* password) {
  return Guarded([=] { return ncs::SetAdmin(address, text, password); });
}

PW_EXPORT int32_t PW_CALL NCSGetDNS(uint32_t address, NCSDnsSettings* out) {
  return Guarded([=] { return ncs::GetDNS(address, In<ncs::DnsSettings>(out)); });
}

PW_EXPORT int32_t PW_CALL NCSSetDNS(uint32_t address, const NCSDnsSettings* settings, const char* password) {
  return Guarded([=] { return ncs::SetDNS(address, In<ncs::DnsSettings>(settings), password); });
}

PW_EXPORT int32_t PW_CALL NCSChangePasswd(uint32_t address, const char* current, const char* next) {
  return Guarded([=] { return ncs::ChangePassword(address, current, next); });
}

PW_EXPORT int32_t PW_CALL NCSSelfTest(uint32_t address, int32_t value) {
  return Guarded([=] { return ncs::SelfTest(address, value); });
}

PW_EXPORT int32_t PW_CALL NCSGetASB(uint32_t address, NCSAsbStatus* out) {
  return Guarded([=] { return ncs::GetASB(address, In<ncs::AsbStatus>(out)); });
}

PW_EXPORT int32_t PW_CALL NCSGetRxName(uint32_t address, char* buffer) {
  return Guarded([=] { return ncs::GetRxName(address, buffer); });
}

PW_EXPORT int32_t PW_CALL NCSGetOnline(uint32_t address) { return Guarded([=] { return ncs::GetOnline(address); }); }

PW_EXPORT int32_t PW_CALL NCSGetBufferSize(uint32_t address, uint32_t* first, uint32_t* second) {
  return Guarded([=] { return ncs::GetBufferSize(address, first, second); });
}

PW_EXPORT int32_t PW_CALL NCSGetConnectionIP(uint32_t address, uint32_t* out) {
  return Guarded([=] { return ncs::GetConnectionIP(address, out); });
}

PW_EXPORT int32_t PW_CALL NCSReset(uint32_t address) { return Guarded([=] { return ncs::Reset(address); }); }
PW_EXPORT int32_t PW_CALL NCSClearBuffer(uint32_t address) {
  return Guarded([=] { return ncs::ClearBuffer(address); });
}
PW_EXPORT int32_t PW_CALL NCSClearTimeout(uint32_t address) {
  return Guarded([=] { return ncs::ClearTimeout(address); });
}

PW_EXPORT int32_t PW_CALL NCSForceSend(uint32_t address, int32_t value) {
  return Guarded([=] { return ncs::ForceSend(address, value); });
}

PW_EXPORT int32_t PW_CALL NCSListUp(uint32_t broadcast, int32_t seconds) {
  return Guarded([=] { return ncs::ListUp(broadcast, seconds); });
}

PW_EXPORT int32_t PW_CALL NCSGetNIC(int32_t index, NCSDiscoverySummary* out) {
  return Guarded([=] { return ncs::GetNIC(index, In<ncs::DiscoverySummary>(out)); });
}
