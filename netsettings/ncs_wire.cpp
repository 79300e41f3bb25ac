#include "netsettings/ncs_wire.h"

#include <algorithm>
#include <cstring>

namespace tw::ncs {

namespace {

constexpr char kMagic[5] = {'O', 'R', 'L', 'E', 'X'};

void PutBe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void PutBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

char ReplyLetterFor(std::uint8_t requestLetter) {
  switch (requestLetter) {
    case 'Q': return 'q';
    case 'S': return 's';
    case 'C': return 'c';
    case 'P': return 'p';
    case 'I': return 'i';
    default: return 0;   // other letters accept nothing
  }
}

}  // namespace

const char* ResultName(int code) {
  switch (code) {
    case kOk: return "ok";
    case kInvalidArgument: return "invalid argument";
    case kSocketFailed: return "socket failed";
    case kNoReply: return "no reply";
    case kSendFailed: return "send failed";
    case kReceiveFailed: return "receive failed";
    case kBadReply: return "bad reply";
    case kRefused: return "refused";
    case kWrongPassword: return "wrong password";
    case kIndexOutOfRange: return "index out of range";
    case kUnexpected: return "unexpected result";
    default: return "unknown";
  }
}

std::size_t BuildRequest(std::uint8_t* out, char letter, std::uint32_t code, const std::uint8_t* payload,
                         std::size_t payloadLength) {
  if (!out || payloadLength > kBufferSize - kHeaderSize || (payloadLength && !payload)) return 0;
  std::memcpy(out, kMagic, 5);
  out[5] = static_cast<std::uint8_t>(letter);
  PutBe32(out + 6, code);
  PutBe16(out + 10, 0);
  PutBe16(out + 12, static_cast<std::uint16_t>(payloadLength));
  if (payloadLength) std::memcpy(out + kHeaderSize, payload, payloadLength);
  return kHeaderSize + payloadLength;
}

std::size_t BuildLogin(std::uint8_t* out, const std::uint8_t mac[6], LoginOp op, const char* password,
                       std::size_t passwordLength) {
  passwordLength = std::min(passwordLength, kMaxPassword);
  std::uint8_t payload[11 + kMaxPassword] = {};
  std::memcpy(payload, mac, 6);
  switch (op) {
    case LoginOp::kLogIn: payload[6] = 0xF0; payload[7] = 0x00; payload[8] = 0x0A; break;
    case LoginOp::kLogOut: break;
    case LoginOp::kStoreAndRestart: payload[6] = 0x01; payload[7] = 0x00; payload[8] = 0x12; break;
  }
  PutBe16(payload + 9, static_cast<std::uint16_t>(passwordLength));
  if (passwordLength) std::memcpy(payload + 11, password, passwordLength);
  return BuildRequest(out, 'S', cmd::kIdentity, payload, 11 + passwordLength);
}

std::size_t BuildSnmpSelfTest(std::uint8_t* out, std::uint8_t value) {
  static const std::uint8_t kTemplate[kSnmpSelfTestLength] = {
      0x30, 0x2E,                                      // SEQUENCE
      0x02, 0x01, 0x00,                                // version 1 (0)
      0x04, 0x05, 'v', 'o', 'r', 'p', 'a',             // community
      0xA3, 0x22,                                      // SetRequest-PDU
      0x02, 0x03, 0x00, 0x11, 0x22,                    // request-id
      0x02, 0x01, 0x00,                                // error-status
      0x02, 0x01, 0x00,                                // error-index
      0x30, 0x15, 0x30, 0x13,                          // bindings, one binding
      0x06, 0x0E, 0x2B, 0x06, 0x01, 0x04, 0x01, 0xAD, 0x35, 0x01, 0x01, 0x03, 0x01, 0x01, 0x23, 0x00,
      0x02, 0x01, 0x00};                               // INTEGER value
  std::memcpy(out, kTemplate, kSnmpSelfTestLength);
  out[kSnmpSelfTestLength - 1] = value;
  return kSnmpSelfTestLength;
}

std::uint16_t Reply::ResultCode() const {
  if (length_ < kHeaderSize) return 0;
  return static_cast<std::uint16_t>((data_[10] << 8) | data_[11]);
}

std::uint8_t Reply::Byte(std::size_t offset) const {
  return HasPayload(offset, 1) ? data_[kHeaderSize + offset] : 0;
}

std::uint16_t Reply::Be16(std::size_t offset) const {
  if (!HasPayload(offset, 2)) return 0;
  const std::uint8_t* p = data_ + kHeaderSize + offset;
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t Reply::Be32(std::size_t offset) const {
  if (!HasPayload(offset, 4)) return 0;
  const std::uint8_t* p = data_ + kHeaderSize + offset;
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void Reply::Copy(std::size_t offset, void* out, std::size_t count) const {
  auto* dst = static_cast<std::uint8_t*>(out);
  std::memset(dst, 0, count);
  if (length_ <= kHeaderSize) return;
  const std::size_t payload = length_ - kHeaderSize;
  if (offset >= payload) return;
  std::memcpy(dst, data_ + kHeaderSize + offset, std::min(count, payload - offset));
}

bool AcceptsReply(const std::uint8_t* request, const std::uint8_t* d, std::size_t length,
                  const std::uint8_t* macFilter, int filterOffset) {
  if (!request || !d || length < kHeaderSize) return false;
  if (std::memcmp(d, kMagic, 5) != 0) return false;
  const char expected = ReplyLetterFor(request[5]);
  if (expected == 0 || d[5] != static_cast<std::uint8_t>(expected)) return false;
  if (std::memcmp(d + 6, request + 6, 4) != 0) return false;
  if (macFilter && filterOffset >= 0) {
    const auto off = static_cast<std::size_t>(filterOffset);
    if (length < off + 6 || std::memcmp(d + off, macFilter, 6) != 0) return false;
  }
  return true;
}

int ReadIdentity(const Reply& r, std::uint8_t mac[6]) {
  if (r.Length() < kIdentityReplyMin) return kBadReply;
  r.Copy(0, mac, 6);
  return kOk;
}

int ReadBasicInfo(const Reply& r, BasicInfo& out) {
  out = BasicInfo{};
  if (r.Length() < kBasicInfoMin) return kBadReply;
  out.model = r.Be16(36);
  out.version = r.Be16(38);
  r.Copy(40, out.mac, 6);
  // The extended bytes count only when the datagram actually carries them.
  out.wireless = r.ResultCode() == kReplyExtended && r.Length() >= kBasicInfoExtendedMin && r.Byte(55) == 2;
  return kOk;
}

int ReadIpSettings(const Reply& r, AddressSettings& out) {
  out = AddressSettings{};
  if (r.Length() < kIpSettingsReplyMin) return kBadReply;
  out.method = r.Be16(7);
  if (out.method == 0) out.method = 0x8000;
  r.Copy(9, out.ip, 4);
  r.Copy(13, out.mask, 4);
  r.Copy(17, out.gateway, 4);
  return kOk;
}

int ReadWirelessName(const Reply& r, WirelessSettings& out) {
  if (r.Length() < kWirelessNameReplyMin) return kBadReply;
  out.channel = r.Byte(7);
  r.Copy(8, out.ssid, sizeof out.ssid);
  out.ssidEnd = 0;
  return kOk;
}

int ReadWirelessSecurity(const Reply& r, WirelessSettings& out) {
  if (r.Length() < kWirelessSecurityReplyMin) return kBadReply;
  out.mode = r.Byte(17);
  out.encryption = r.Byte(18);
  out.keyIndex = r.Byte(19);
  out.keyLength = out.encryption == 0 ? 0 : (out.encryption == 1 ? 5 : 13);
  return kOk;
}

int ReadWirelessStatus(const Reply& r, WirelessStatus& out) {
  out = WirelessStatus{};
  // The fixed fields must all be there; the SSID text (payload 18-49) may be
  // cut short, as interfaces send it without its trailing NULs, and reads as
  // NUL padding.
  if (r.ResultCode() != 0 || !r.HasPayload(0, kWirelessStatusFixedBytes)) return kBadReply;
  out.value0 = r.Byte(6);
  out.value1 = r.Be16(7);
  out.value3 = r.Byte(9);
  out.value4 = r.Byte(10);
  out.value5 = r.Byte(11);
  r.Copy(12, out.value6, 4);
  r.Copy(16, out.value10, 2);
  r.Copy(18, out.ssid, 32);
  out.ssidEnd = 0;
  return kOk;
}

int ReadDnsNames(const Reply& r, DnsSettings& out) {
  if (!r.HasPayload(0, 2)) return kBadReply;
  r.Copy(0, out.nameValue, 2);
  r.Copy(2, out.firstName, 63);
  out.firstName[63] = 0;
  r.Copy(65, out.secondName, 252);
  out.secondName[252] = 0;
  return kOk;
}

int ReadDnsServers(const Reply& r, DnsSettings& out) {
  if (!r.HasPayload(0, 3)) return kBadReply;
  const std::uint8_t count = r.Byte(2);
  if (count > 8) return kUnexpected;
  if (!r.HasPayload(3, 4u * count)) return kBadReply;
  r.Copy(0, out.serverValue, 2);
  out.serverCount = count;
  std::memset(out.servers, 0, sizeof out.servers);
  r.Copy(3, out.servers, 4u * count);
  return kOk;
}

int ReadAutoStatus(const Reply& r, AsbStatus& out) {
  out = AsbStatus{};
  if (r.ResultCode() != 0 || !r.HasPayload(1, 12)) return kBadReply;
  r.Copy(1, out.values, 12);
  return kOk;
}

int ReadReceiverName(const Reply& r, char out[32]) {
  if (r.Length() < kReceiverNameReplyMin || r.ResultCode() != 0) return kBadReply;
  r.Copy(6, out, 32);
  return kOk;
}

int ReadOnline(const Reply& r) {
  if (r.Length() < kOnlineReplyMin || r.ResultCode() != 0) return kBadReply;
  return r.Byte(0);
}

int ReadBufferSizes(const Reply& r, std::uint32_t& first, std::uint32_t& second) {
  if (r.Length() < kBufferSizesReplyMin || r.ResultCode() != 0) return kBadReply;
  first = r.Be32(0);
  second = r.Be32(4);
  return kOk;
}

int ReadConnectionAddress(const Reply& r, std::uint32_t& address) {
  if (r.ResultCode() != 0 || !r.HasPayload(0, 4)) return kBadReply;
  r.Copy(0, &address, 4);
  return kOk;
}

void ReadText256(const Reply& r, char out[256]) { r.Copy(0, out, 256); }

std::optional<DiscoveryRecord> ReadDiscoveryReply(const Reply& r, std::uint32_t sender) {
  const std::uint16_t result = r.ResultCode();
  if (result == 0) {
    if (r.Length() < kBasicInfoMin || r.Byte(0) != 'Q' || r.Byte(1) != 'X') return std::nullopt;
  } else if (result == kReplyExtended) {
    if (r.Length() < kBasicInfoExtendedMin || (r.Byte(61) & 0x04) == 0) return std::nullopt;
  } else {
    return std::nullopt;
  }
  DiscoveryRecord rec;
  rec.sender = sender;
  rec.result = result;
  r.Copy(0, rec.name, 32);
  rec.name[32] = 0;
  rec.value32 = r.Be32(32);
  rec.model = r.Be16(36);
  rec.version = r.Be16(38);
  r.Copy(40, rec.mac, 6);
  rec.value46 = r.Be32(46);
  rec.value50 = r.Be32(50);
  if (result == kReplyExtended) {
    r.Copy(54, rec.extended, 4);
    rec.capabilities = r.Be32(58);
    rec.wireless = rec.extended[1] == 2 ? 1 : 0;
  }
  return rec;
}

DiscoverySummary SummaryOf(const DiscoveryRecord& record) {
  DiscoverySummary s{};
  std::memcpy(s.mac, record.mac, 6);
  s.address = record.sender;
  s.model = record.model;
  s.version = record.version;
  s.wireless = record.wireless;
  return s;
}

}  // namespace tw::ncs
