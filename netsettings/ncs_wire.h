#pragma once
// Wire format of the interface configuration protocol (UDP 3289) and of the
// one SNMP request we send: building requests and reading replies.
//
// Every reader here works on a received datagram of known length and never
// looks past that length: a missing field makes the reader fail (numbers) or
// reads as NUL padding (texts), whatever the buffer behind it holds.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "netsettings/ncs_records.h"

namespace tw::ncs {

constexpr std::uint16_t kConfigPort = 3289;
constexpr std::uint16_t kSnmpPort = 161;
constexpr std::size_t kBufferSize = 1024;
constexpr std::size_t kHeaderSize = 14;
constexpr std::size_t kMaxPassword = 16;

// Result codes that replies carry.
constexpr std::uint16_t kReplyExtended = 0xE000;   // basic information in extended form
constexpr std::uint16_t kReplyWrongPassword = 0x1000;
constexpr std::uint16_t kReplyRejected = 0x2000;

// Command codes (bytes 6-9, big-endian).
namespace cmd {
constexpr std::uint32_t kBasicInfo = 0x00000000;
constexpr std::uint32_t kIdentity = 0x00000100;     // "Q": identity; "S": login command
constexpr std::uint32_t kLocation = 0x00000003;
constexpr std::uint32_t kAdmin = 0x00000004;
constexpr std::uint32_t kIpSettings = 0x00000010;
constexpr std::uint32_t kDnsNames = 0x00000011;
constexpr std::uint32_t kDnsServers = 0x00000012;
constexpr std::uint32_t kWirelessName = 0x00000051;
constexpr std::uint32_t kWirelessKeys = 0x00000052;
constexpr std::uint32_t kWirelessStatus = 0x00000061;
constexpr std::uint32_t kWirelessSecurity = 0x00000064;
constexpr std::uint32_t kReceiverName = 0x03000001;
constexpr std::uint32_t kAutoStatus = 0x03000010;
constexpr std::uint32_t kReset = 0x03000012;
constexpr std::uint32_t kClearBuffer = 0x03000013;
constexpr std::uint32_t kBufferSizes = 0x03000014;
constexpr std::uint32_t kForceSend = 0x03000015;
constexpr std::uint32_t kClearTimeout = 0x03000016;
constexpr std::uint32_t kConnectionAddress = 0x03000017;
constexpr std::uint32_t kOnline = 0x03000020;
}  // namespace cmd

// Login operations.
enum class LoginOp { kLogIn, kLogOut, kStoreAndRestart };

// Minimum whole-datagram lengths that the client requires.
constexpr std::size_t kIdentityReplyMin = 25;
constexpr std::size_t kLoginReplyMin = 25;
constexpr std::size_t kBasicInfoMin = 68;
constexpr std::size_t kBasicInfoExtendedMin = 76;
constexpr std::size_t kIpSettingsReplyMin = 35;
constexpr std::size_t kIpSettingsSetReplyMin = 37;
constexpr std::size_t kWirelessNameReplyMin = 80;
constexpr std::size_t kWirelessSecurityReplyMin = 34;
constexpr std::size_t kReceiverNameReplyMin = 184;
constexpr std::size_t kOnlineReplyMin = 15;
constexpr std::size_t kBufferSizesReplyMin = 22;
// Payload bytes of a wireless-status reply before its SSID text.
constexpr std::size_t kWirelessStatusFixedBytes = 18;

// Writes the 14-byte header and `payloadLength` bytes of `payload` (may be null
// when the length is 0) into `out` (at least kBufferSize bytes). Returns the
// request length, or 0 when it would not fit.
std::size_t BuildRequest(std::uint8_t* out, char letter, std::uint32_t code, const std::uint8_t* payload,
                         std::size_t payloadLength);

// Login command payload: MAC, operation, password length, password (at most 16
// bytes; longer ones must have been refused by the caller). Returns the request length.
std::size_t BuildLogin(std::uint8_t* out, const std::uint8_t mac[6], LoginOp op, const char* password,
                       std::size_t passwordLength);

// The 48-byte SNMP SetRequest that starts the interface's self-test.
constexpr std::size_t kSnmpSelfTestLength = 48;
std::size_t BuildSnmpSelfTest(std::uint8_t* out, std::uint8_t value);

// A received datagram.
class Reply {
 public:
  Reply(const std::uint8_t* data, std::size_t length) : data_(data), length_(data ? length : 0) {}
  std::size_t Length() const { return length_; }
  // Whether `count` payload bytes from payload offset `offset` lie inside the datagram.
  bool HasPayload(std::size_t offset, std::size_t count) const {
    return length_ >= kHeaderSize && offset + count <= length_ - kHeaderSize;
  }
  std::uint16_t ResultCode() const;   // 0 when the datagram has no header
  std::uint8_t Byte(std::size_t payloadOffset) const;    // 0 outside the datagram
  std::uint16_t Be16(std::size_t payloadOffset) const;   // 0 outside the datagram
  std::uint32_t Be32(std::size_t payloadOffset) const;   // 0 outside the datagram
  // Copies `count` payload bytes; bytes outside the datagram read as 0.
  void Copy(std::size_t payloadOffset, void* out, std::size_t count) const;

 private:
  const std::uint8_t* data_;
  std::size_t length_;
};

// Whether a datagram answers `request` (request letter after any change, code):
// magic, lower-case letter, echoed command code, and the MAC at a datagram
// offset when a filter is given and the offset is not negative.
bool AcceptsReply(const std::uint8_t* request, const std::uint8_t* datagram, std::size_t length,
                  const std::uint8_t* macFilter, int filterOffset);

// Reply readers. Each returns kOk or the code that the reply earns.
struct BasicInfo {
  std::uint16_t model = 0;
  std::uint16_t version = 0;
  std::uint8_t mac[6] = {};
  bool wireless = false;   // extended form whose payload byte 55 is 2
};
int ReadIdentity(const Reply& r, std::uint8_t mac[6]);
int ReadBasicInfo(const Reply& r, BasicInfo& out);
int ReadIpSettings(const Reply& r, AddressSettings& out);
int ReadWirelessName(const Reply& r, WirelessSettings& out);
int ReadWirelessSecurity(const Reply& r, WirelessSettings& out);
int ReadWirelessStatus(const Reply& r, WirelessStatus& out);
int ReadDnsNames(const Reply& r, DnsSettings& out);
int ReadDnsServers(const Reply& r, DnsSettings& out);
int ReadAutoStatus(const Reply& r, AsbStatus& out);
int ReadReceiverName(const Reply& r, char out[32]);
// Online state byte (0..255) or a negative code.
int ReadOnline(const Reply& r);
int ReadBufferSizes(const Reply& r, std::uint32_t& first, std::uint32_t& second);
int ReadConnectionAddress(const Reply& r, std::uint32_t& address);
// Texts of 256 bytes (location, administrator): payload bytes that the
// datagram lacks read as NUL.
void ReadText256(const Reply& r, char out[256]);

// The discovery-reply rule: a plain reply whose name begins with "QX", or an
// extended reply with capability bit 2; replies shorter than their layout are
// dropped. nullopt when the reply is not listed.
std::optional<DiscoveryRecord> ReadDiscoveryReply(const Reply& r, std::uint32_t sender);

DiscoverySummary SummaryOf(const DiscoveryRecord& record);

}  // namespace tw::ncs
