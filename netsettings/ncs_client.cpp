#include "netsettings/ncs_client.h"

#include <cstring>
#include <mutex>
#include <thread>

#include "netsettings/ncs_engine.h"
#include "netsettings/ncs_wire.h"

namespace tw::ncs {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Datagram offset of a payload offset, for the MAC filter.
constexpr int At(int payloadOffset) { return static_cast<int>(kHeaderSize) + payloadOffset; }

// Length of a caller's text, looking at no more than `limit` + 1 bytes: a text
// without a terminator in reach counts as longer than the limit.
std::size_t BoundedLength(const char* text, std::size_t limit) {
  if (!text) return 0;
  std::size_t n = 0;
  while (n <= limit && text[n] != 0) ++n;
  return n;
}

bool PasswordTooLong(const char* password) { return BoundedLength(password, kMaxPassword) > kMaxPassword; }

// One request: builds it in the send buffer and runs Transact. With a MAC the
// request is MAC-addressed and replies must carry the MAC at `filterAt`.
int Exchange(platform::UdpSocket& s, std::uint32_t dest, char letter, std::uint32_t code,
             const std::uint8_t* payload, std::size_t payloadLength, const std::uint8_t* mac = nullptr,
             int filterAt = -1) {
  ClientState& st = State();
  const std::size_t length = BuildRequest(st.send.data(), letter, code, payload, payloadLength);
  if (length == 0) return kInvalidArgument;
  return Transact(s, dest, length, mac, filterAt);
}

Reply LastReply(int length) { return Reply(State().receive.data(), static_cast<std::size_t>(length)); }

// A socket for the length of one call, closed on every way out.
class CallSocket {
 public:
  explicit CallSocket(bool broadcast) { ok_ = OpenSocket(socket_, broadcast); }
  ~CallSocket() {
    if (ok_) CloseSocket(socket_);
  }
  bool ok() const { return ok_; }
  platform::UdpSocket& get() { return socket_; }

 private:
  platform::UdpSocket socket_;
  bool ok_ = false;
};

int QueryBasicInfo(platform::UdpSocket& s, std::uint32_t dest, const std::uint8_t* mac, BasicInfo& info) {
  const int n = Exchange(s, dest, 'Q', cmd::kBasicInfo, nullptr, 0, mac, At(40));
  if (n < 0) return n;
  const int rc = ReadBasicInfo(LastReply(n), info);
  if (rc == kOk) State().wireless = info.wireless;
  return rc;
}

// Identity query: saves the interface's MAC.
int QueryIdentity(platform::UdpSocket& s, std::uint32_t dest, const std::uint8_t* mac) {
  const int n = Exchange(s, dest, 'Q', cmd::kIdentity, nullptr, 0, mac, At(0));
  if (n < 0) return n;
  return ReadIdentity(LastReply(n), State().savedMac);
}

int LoginCommand(platform::UdpSocket& s, std::uint32_t dest, const std::uint8_t* mac, LoginOp op,
                 const char* password) {
  ClientState& st = State();
  const std::size_t length =
      BuildLogin(st.send.data(), st.savedMac, op, password ? password : "", BoundedLength(password, kMaxPassword));
  return Transact(s, dest, length, mac, At(0));
}

int LogIn(platform::UdpSocket& s, std::uint32_t dest, const std::uint8_t* mac, const char* password) {
  const int n = LoginCommand(s, dest, mac, LoginOp::kLogIn, password);
  if (n < 0) return n;
  if (static_cast<std::size_t>(n) < kLoginReplyMin) return kBadReply;
  const std::uint16_t result = LastReply(n).ResultCode();
  if (result == kReplyWrongPassword) return kWrongPassword;
  return result == 0 ? kOk : kRefused;
}

int LogOut(platform::UdpSocket& s, std::uint32_t dest, const std::uint8_t* mac, LoginOp op, const char* password) {
  const int n = LoginCommand(s, dest, mac, op, password);
  if (n < 0) return n;
  if (n <= 24) return kBadReply;
  return LastReply(n).ResultCode() == 0 ? kOk : kRefused;
}

// Identity query and log-in: the start of every change.
int OpenSession(platform::UdpSocket& s, std::uint32_t dest, const std::uint8_t* mac, const char* password) {
  if (const int rc = QueryIdentity(s, dest, mac); rc != kOk) return rc;
  return LogIn(s, dest, mac, password);
}

int WirelessResult(std::uint16_t result) {
  switch (result) {
    case 0: return kOk;
    case kReplyWrongPassword: return kInvalidArgument;
    case kReplyRejected: return kRefused;
    default: return kUnexpected;
  }
}

bool ValidAddressSettings(const AddressSettings& a) {
  static const std::uint8_t kLoopback[4] = {127, 0, 0, 1};
  static const std::uint8_t kAllOnes[4] = {255, 255, 255, 255};
  if (std::memcmp(a.ip, kLoopback, 4) == 0 || std::memcmp(a.ip, kAllOnes, 4) == 0) return false;
  return a.mask[0] == 255;
}

bool ValidWirelessSettings(const WirelessSettings& w) {
  if (w.channel == 0 || w.channel > 11) return false;
  if (w.mode != 0 && w.mode != 1 && w.mode != 4 && w.mode != 5) return false;
  if (w.encryption > 3 || w.keyIndex > 3) return false;
  return w.keyLength == 0 || w.keyLength == 5 || w.keyLength == 13;
}

int SendAddressSettings(platform::UdpSocket& s, std::uint32_t dest, const std::uint8_t* mac,
                        const AddressSettings& a) {
  std::uint8_t payload[21] = {0x01};
  std::memcpy(payload + 1, State().savedMac, 6);
  payload[7] = static_cast<std::uint8_t>(a.method >> 8);
  payload[8] = static_cast<std::uint8_t>(a.method);
  std::memcpy(payload + 9, a.ip, 4);
  std::memcpy(payload + 13, a.mask, 4);
  std::memcpy(payload + 17, a.gateway, 4);
  const int n = Exchange(s, dest, 'S', cmd::kIpSettings, payload, sizeof payload, mac, At(1));
  if (n < 0) return n;
  if (static_cast<std::size_t>(n) < kIpSettingsSetReplyMin) return kBadReply;
  // An interface that refuses the address must not be reported as changed.
  return LastReply(n).ResultCode() == 0 ? kOk : kBadReply;
}

// The wireless commands carry the saved MAC and go out unfiltered.
int SendWirelessSettings(platform::UdpSocket& s, std::uint32_t dest, const WirelessSettings& w) {
  const ClientState& st = State();
  std::uint8_t security[9];
  std::memcpy(security, st.savedMac, 6);
  security[6] = w.mode;
  security[7] = w.encryption;
  security[8] = w.keyIndex;
  int n = Exchange(s, dest, 'S', cmd::kWirelessSecurity, security, sizeof security);
  if (n < 0) return n;
  if (const int rc = WirelessResult(LastReply(n).ResultCode()); rc != kOk) return rc;
  if (w.encryption == 0 || w.keyLength == 0) return kOk;

  std::uint8_t keys[10 + 4 * 13] = {};
  std::memcpy(keys, st.savedMac, 6);
  std::uint8_t count = 0;
  for (int k = 0; k < 4; ++k) {
    if (!w.keys[k].present) continue;
    keys[6] |= static_cast<std::uint8_t>(1u << k);
    std::memcpy(keys + 10 + count * w.keyLength, w.keys[k].key, w.keyLength);
    ++count;
  }
  if (count == 0) return kInvalidArgument;
  keys[7] = 0x00;
  keys[8] = count;
  keys[9] = w.keyLength;
  n = Exchange(s, dest, 'S', cmd::kWirelessKeys, keys, 10u + count * w.keyLength);
  if (n < 0) return n;
  return WirelessResult(LastReply(n).ResultCode());
}

struct SequenceResult {
  int code;
  bool atLogout;   // failed while logging out (the sequence may run again)
};

SequenceResult SettingsSequence(platform::UdpSocket& s, std::uint32_t dest, const std::uint8_t* mac,
                                const AddressSettings* a, const WirelessSettings* w, const char* password) {
  if (const int rc = OpenSession(s, dest, mac, password); rc != kOk) return {rc, false};
  if (a) {
    if (const int rc = SendAddressSettings(s, dest, mac, *a); rc != kOk) return {rc, false};
  }
  if (w) {
    if (const int rc = SendWirelessSettings(s, dest, *w); rc != kOk) return {rc, false};
  }
  return {LogOut(s, dest, mac, LoginOp::kStoreAndRestart, password), true};
}

void WaitForRestart() { std::this_thread::sleep_for(State().overrides.restartWait); }

int SetSettings(const std::uint8_t* mac, std::uint32_t dest, const AddressSettings* a, const WirelessSettings* w,
                const char* password) {
  // Nothing to store: logging in would only restart the interface for nothing.
  if (!a && !w) return kInvalidArgument;
  if (a && !ValidAddressSettings(*a)) return kInvalidArgument;
  if (w && !ValidWirelessSettings(*w)) return kInvalidArgument;
  if (PasswordTooLong(password)) return kWrongPassword;
  Guard guard(Lock());
  CallSocket s(mac != nullptr);
  if (!s.ok()) return kSocketFailed;
  SequenceResult r = SettingsSequence(s.get(), dest, mac, a, w, password);
  // A failed log-out leaves the changes unapplied: the whole sequence runs once more.
  if (r.code != kOk && r.atLogout) r = SettingsSequence(s.get(), dest, mac, a, w, password);
  if (r.code != kOk) return r.code;
  WaitForRestart();
  return kOk;
}

int GetSettings(const std::uint8_t* mac, std::uint32_t dest, AddressSettings* a, WirelessSettings* w) {
  if (!a && !w) return kInvalidArgument;
  if (a) std::memset(a, 0, sizeof *a);
  if (w) std::memset(w, 0, sizeof *w);
  Guard guard(Lock());
  CallSocket s(mac != nullptr);
  if (!s.ok()) return kSocketFailed;
  BasicInfo info;
  if (const int rc = QueryBasicInfo(s.get(), dest, mac, info); rc != kOk) return rc;
  if (a) {
    const int n = Exchange(s.get(), dest, 'Q', cmd::kIpSettings, nullptr, 0, mac, At(1));
    if (n < 0) return n;
    if (const int rc = ReadIpSettings(LastReply(n), *a); rc != kOk) return rc;
  }
  if (w && State().wireless) {
    int n = Exchange(s.get(), dest, 'Q', cmd::kWirelessName, nullptr, 0, mac, At(0));
    if (n < 0) return n;
    if (const int rc = ReadWirelessName(LastReply(n), *w); rc != kOk) return rc;
    n = Exchange(s.get(), dest, 'Q', cmd::kWirelessSecurity, nullptr, 0, mac, At(0));
    if (n < 0) return n;
    if (const int rc = ReadWirelessSecurity(LastReply(n), *w); rc != kOk) return rc;
  }
  return kOk;
}

int GetText(std::uint32_t address, std::uint32_t code, char* buffer) {
  if (!buffer) return kInvalidArgument;
  buffer[0] = 0;
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  const int n = Exchange(s.get(), address, 'Q', code, nullptr, 0);
  if (n < 0) return n;
  ReadText256(LastReply(n), buffer);
  return kOk;
}

int SetText(std::uint32_t address, std::uint32_t code, const char* text, const char* password) {
  if (!text) return kInvalidArgument;
  if (PasswordTooLong(password)) return kWrongPassword;
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  if (const int rc = OpenSession(s.get(), address, nullptr, password); rc != kOk) return rc;
  std::uint8_t payload[256] = {};
  std::memcpy(payload, text, BoundedLength(text, 255));   // at most 256 bytes
  const int n = Exchange(s.get(), address, 'S', code, payload, sizeof payload);
  if (n < 0) return n;
  if (LastReply(n).ResultCode() != 0) return kBadReply;
  return LogOut(s.get(), address, nullptr, LoginOp::kLogOut, password);
}

// A control command whose reply must carry result 0.
int Control(std::uint32_t address, std::uint32_t code, const std::uint8_t* payload, std::size_t length,
            int noSocketCode) {
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return noSocketCode;
  const int n = Exchange(s.get(), address, 'C', code, payload, length);
  if (n < 0) return n;
  return LastReply(n).ResultCode() == 0 ? kOk : kBadReply;
}

}  // namespace

int WinsockStartup() { return platform::SocketsStartup(); }
int WinsockCleanup() { return platform::SocketsCleanup(); }
int Version() { return kApiVersion; }

int LastError() {
  Guard guard(Lock());
  return State().lastError;
}

int MaxTimeout() {
  Guard guard(Lock());
  return State().maxWaitSeconds;
}

int SetMaxTimeout(int seconds) {
  Guard guard(Lock());
  State().maxWaitSeconds = seconds == 0 ? kDefaultWaitSeconds : seconds;
  return State().maxWaitSeconds;
}

int MaxRetry() {
  Guard guard(Lock());
  return State().maxAttempts;
}

int SetMaxRetry(int count) {
  Guard guard(Lock());
  State().maxAttempts = count == 0 ? kDefaultAttempts : count;
  return State().maxAttempts;
}

int GetNICInfo(std::uint32_t address, DiscoverySummary* out) {
  if (!out) return kInvalidArgument;
  std::memset(out, 0, sizeof *out);
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  BasicInfo info;
  if (const int rc = QueryBasicInfo(s.get(), address, nullptr, info); rc != kOk) return rc;
  std::memcpy(out->mac, info.mac, 6);
  out->address = address;
  out->model = info.model;
  out->version = info.version;
  out->wireless = info.wireless ? 1 : 0;
  return kOk;
}

int GetSettingsByIP(std::uint32_t address, AddressSettings* a, WirelessSettings* w) {
  return GetSettings(nullptr, address, a, w);
}

int GetSettingsByMAC(const std::uint8_t* mac, std::uint32_t destination, AddressSettings* a, WirelessSettings* w) {
  if (!mac) return kInvalidArgument;
  Guard guard(Lock());
  return GetSettings(mac, BroadcastDestination(destination), a, w);
}

int SetSettingsByIP(std::uint32_t address, const AddressSettings* a, const WirelessSettings* w, const char* password) {
  return SetSettings(nullptr, address, a, w, password);
}

int SetSettingsByMAC(const std::uint8_t* mac, std::uint32_t destination, const AddressSettings* a,
                     const WirelessSettings* w, const char* password) {
  if (!mac) return kInvalidArgument;
  Guard guard(Lock());
  return SetSettings(mac, BroadcastDestination(destination), a, w, password);
}

int GetWiFiStatus(std::uint32_t address, WirelessStatus* out) {
  if (!out) return kInvalidArgument;
  std::memset(out, 0, sizeof *out);
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  const int n = Exchange(s.get(), address, 'Q', cmd::kWirelessStatus, nullptr, 0);
  if (n < 0) return n;
  return ReadWirelessStatus(LastReply(n), *out);
}

int GetLocation(std::uint32_t address, char* buffer) { return GetText(address, cmd::kLocation, buffer); }
int GetAdmin(std::uint32_t address, char* buffer) { return GetText(address, cmd::kAdmin, buffer); }

int SetLocation(std::uint32_t address, const char* text, const char* password) {
  return SetText(address, cmd::kLocation, text, password);
}

int SetAdmin(std::uint32_t address, const char* text, const char* password) {
  return SetText(address, cmd::kAdmin, text, password);
}

int GetDNS(std::uint32_t address, DnsSettings* out) {
  if (!out) return kInvalidArgument;
  std::memset(out, 0, sizeof *out);
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  int n = Exchange(s.get(), address, 'Q', cmd::kDnsNames, nullptr, 0);
  if (n < 0) return n;
  if (const int rc = ReadDnsNames(LastReply(n), *out); rc != kOk) return rc;
  n = Exchange(s.get(), address, 'Q', cmd::kDnsServers, nullptr, 0);
  if (n < 0) return n;
  return ReadDnsServers(LastReply(n), *out);
}

int SetDNS(std::uint32_t address, const DnsSettings* d, const char* password) {
  // The record holds eight addresses; a larger count would send bytes from
  // beyond it.
  if (!d || d->serverCount > 8) return kInvalidArgument;
  if (PasswordTooLong(password)) return kWrongPassword;
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  if (const int rc = OpenSession(s.get(), address, nullptr, password); rc != kOk) return rc;

  std::uint8_t names[317] = {};
  std::memcpy(names, d->nameValue, 2);
  std::memcpy(names + 2, d->firstName, BoundedLength(d->firstName, 62));      // at most 63
  std::memcpy(names + 65, d->secondName, BoundedLength(d->secondName, 251));  // at most 252
  int n = Exchange(s.get(), address, 'S', cmd::kDnsNames, names, sizeof names);
  if (n < 0) return n;
  if (LastReply(n).ResultCode() != 0) return kBadReply;

  std::uint8_t servers[3 + 4 * 8] = {};
  std::memcpy(servers, d->serverValue, 2);
  servers[2] = d->serverCount;
  std::memcpy(servers + 3, d->servers, 4u * d->serverCount);
  n = Exchange(s.get(), address, 'S', cmd::kDnsServers, servers, 3u + 4u * d->serverCount);
  if (n < 0) return n;
  if (LastReply(n).ResultCode() != 0) return kBadReply;

  if (const int rc = LogOut(s.get(), address, nullptr, LoginOp::kStoreAndRestart, password); rc != kOk) return rc;
  WaitForRestart();
  return kOk;
}

int ChangePassword(std::uint32_t address, const char* current, const char* next) {
  if (PasswordTooLong(current) || PasswordTooLong(next)) return kWrongPassword;
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  if (const int rc = OpenSession(s.get(), address, nullptr, current); rc != kOk) return rc;
  return LogOut(s.get(), address, nullptr, LoginOp::kStoreAndRestart, next);
}

int SelfTest(std::uint32_t address, int value) {
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  ClientState& st = State();
  const std::size_t length = BuildSnmpSelfTest(st.send.data(), static_cast<std::uint8_t>(value));
  TransactSnmp(s.get(), address, length);   // the interface restarts: no answer is expected
  return kOk;
}

int GetASB(std::uint32_t address, AsbStatus* out) {
  if (!out) return kInvalidArgument;
  std::memset(out, 0, sizeof *out);
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  const int n = Exchange(s.get(), address, 'Q', cmd::kAutoStatus, nullptr, 0);
  if (n < 0) return n;
  return ReadAutoStatus(LastReply(n), *out);
}

int GetRxName(std::uint32_t address, char* buffer) {
  if (!buffer) return kInvalidArgument;
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  const int n = Exchange(s.get(), address, 'Q', cmd::kReceiverName, nullptr, 0);
  if (n < 0) return n;
  return ReadReceiverName(LastReply(n), buffer);
}

int GetOnline(std::uint32_t address) {
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kSocketFailed;
  const int n = Exchange(s.get(), address, 'Q', cmd::kOnline, nullptr, 0);
  if (n < 0) return n;
  return ReadOnline(LastReply(n));
}

int GetBufferSize(std::uint32_t address, std::uint32_t* first, std::uint32_t* second) {
  if (!first || !second) return kInvalidArgument;
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kInvalidArgument;
  const int n = Exchange(s.get(), address, 'Q', cmd::kBufferSizes, nullptr, 0);
  if (n < 0) return n;
  return ReadBufferSizes(LastReply(n), *first, *second);
}

int GetConnectionIP(std::uint32_t address, std::uint32_t* out) {
  if (!out) return kInvalidArgument;
  *out = 0;
  Guard guard(Lock());
  CallSocket s(false);
  if (!s.ok()) return kInvalidArgument;
  const int n = Exchange(s.get(), address, 'Q', cmd::kConnectionAddress, nullptr, 0);
  if (n < 0) return n;
  return ReadConnectionAddress(LastReply(n), *out);
}

int Reset(std::uint32_t address) {
  const std::uint8_t one = 0x01;
  return Control(address, cmd::kReset, &one, 1, kSocketFailed);
}

int ClearBuffer(std::uint32_t address) { return Control(address, cmd::kClearBuffer, nullptr, 0, kInvalidArgument); }
int ClearTimeout(std::uint32_t address) { return Control(address, cmd::kClearTimeout, nullptr, 0, kSocketFailed); }

int ForceSend(std::uint32_t address, int value) {
  const auto v = static_cast<std::uint8_t>(value);
  return Control(address, cmd::kForceSend, &v, 1, kSocketFailed);
}

int ListUp(std::uint32_t broadcast, int seconds, std::stop_token stop) {
  Guard guard(Lock());
  ClientState& st = State();
  st.discovered.clear();
  if (DiscoversOnEveryInterface(broadcast)) {
    std::vector<platform::UdpSocket> sockets = OpenInterfaceSockets();
    if (!sockets.empty()) {
      std::vector<platform::UdpSocket*> each;
      for (auto& s : sockets) each.push_back(&s);
      const int rc = CollectReplies(each, broadcast, seconds, stop);
      for (auto& s : sockets) CloseSocket(s);
      if (rc < 0) return rc;
      return static_cast<int>(st.discovered.size());
    }
    // No interface to tie a socket to: one unbound socket, as the system routes it.
  }
  CallSocket s(true);
  if (!s.ok()) return kSocketFailed;
  const int rc = CollectReplies(s.get(), broadcast, seconds, std::move(stop));
  if (rc < 0) return rc;
  return static_cast<int>(st.discovered.size());
}

int GetNIC(int index, DiscoverySummary* out) {
  if (!out) return kInvalidArgument;
  std::memset(out, 0, sizeof *out);
  Guard guard(Lock());
  const auto& list = State().discovered;
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return kIndexOutOfRange;
  *out = SummaryOf(list[static_cast<std::size_t>(index)]);
  return kOk;
}

std::vector<DiscoveryRecord> DiscoveredRecords() {
  Guard guard(Lock());
  return State().discovered;
}

}  // namespace tw::ncs
