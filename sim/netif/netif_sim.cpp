#include "sim/netif/netif_sim.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tw::sim {

namespace {

constexpr std::size_t kHeader = 14;
constexpr std::uint8_t kOtherMac[6] = {0x02, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void PutBe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void PutBe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::vector<std::uint8_t> Datagram(char letter, std::uint32_t code, std::uint16_t result, std::size_t payload) {
  std::vector<std::uint8_t> d(kHeader + payload, 0);
  std::memcpy(d.data(), "ORLEX", 5);
  d[5] = static_cast<std::uint8_t>(letter);
  PutBe32(d.data() + 6, code);
  PutBe16(d.data() + 10, result);
  PutBe16(d.data() + 12, static_cast<std::uint16_t>(payload));
  return d;
}

void PutText(std::vector<std::uint8_t>& d, std::size_t payloadOffset, const std::string& text, std::size_t field) {
  std::memcpy(d.data() + kHeader + payloadOffset, text.data(), std::min(text.size(), field));
}

char Lower(char c) { return static_cast<char>(c - 'A' + 'a'); }

}  // namespace

NetifSimulator::NetifSimulator(const NetifConfig& config) : config_(config), password_(config.password) {}

NetifSimulator::~NetifSimulator() { Stop(); }

bool NetifSimulator::Start(std::string* error) {
  int err = 0;
  socket_ = platform::UdpSocket::Open(&err);
  const platform::Ipv4Endpoint local{config_.bindAny ? 0u : config_.address, config_.port};
  if (!socket_.IsOpen() || (config_.reuseAddress && !socket_.SetReuseAddress(true)) ||
      !socket_.SetBroadcast(true) || !socket_.Bind(local)) {
    if (error) *error = "cannot bind the configuration port (error " + std::to_string(socket_.LastError()) + ")";
    socket_.Close();
    return false;
  }
  if (config_.snmpPort) {
    snmpSocket_ = platform::UdpSocket::Open(&err);
    if (!snmpSocket_.IsOpen() || !snmpSocket_.Bind({config_.address, config_.snmpPort})) {
      if (error) *error = "cannot bind the SNMP port";
      socket_.Close();
      snmpSocket_.Close();
      return false;
    }
    snmpThread_ = std::thread([this] { ServeSnmp(); });
  }
  stop_ = false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void NetifSimulator::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (snmpThread_.joinable()) snmpThread_.join();
  socket_.Close();
  snmpSocket_.Close();
}

NetifSettings NetifSimulator::Settings() const {
  std::lock_guard g(mutex_);
  return settings_;
}

void NetifSimulator::SetSettings(const NetifSettings& s) {
  std::lock_guard g(mutex_);
  settings_ = s;
}

void NetifSimulator::SetFaults(const NetifFaults& f) {
  std::lock_guard g(mutex_);
  faults_ = f;
  if (!f.flood) floodTo_.reset();
}

std::string NetifSimulator::Password() const {
  std::lock_guard g(mutex_);
  return password_;
}

std::vector<NetifRequest> NetifSimulator::Requests() const {
  std::lock_guard g(mutex_);
  return requests_;
}

int NetifSimulator::CountRequests(char letter, std::uint32_t code) const {
  std::lock_guard g(mutex_);
  return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                        [&](const NetifRequest& r) { return r.letter == letter && r.code == code; }));
}

void NetifSimulator::ClearRequests() {
  std::lock_guard g(mutex_);
  requests_.clear();
}

int NetifSimulator::Restarts() const {
  std::lock_guard g(mutex_);
  return restarts_;
}

std::vector<std::vector<std::uint8_t>> NetifSimulator::SnmpRequests() const {
  std::lock_guard g(mutex_);
  return snmp_;
}

void NetifSimulator::Serve() {
  std::uint8_t buffer[2048];
  while (!stop_) {
    std::optional<platform::Ipv4Endpoint> floodTo;
    {
      std::lock_guard g(mutex_);
      floodTo = floodTo_;
    }
    const auto wait = floodTo ? std::chrono::microseconds(200) : std::chrono::microseconds(20000);
    const platform::WaitResult w = socket_.WaitReadable(wait);
    if (w == platform::WaitResult::kReadable) {
      platform::Ipv4Endpoint from;
      const int n = socket_.ReceiveFrom(buffer, sizeof buffer, &from);
      if (n > 0) Handle(buffer, static_cast<std::size_t>(n), from);
    } else if (floodTo) {
      std::lock_guard g(mutex_);
      Send(BasicInfoReply('p'), *floodTo);
      ++floodSent_;
    }
  }
}

void NetifSimulator::ServeSnmp() {
  std::uint8_t buffer[2048];
  while (!stop_) {
    if (snmpSocket_.WaitReadable(std::chrono::milliseconds(20)) != platform::WaitResult::kReadable) continue;
    platform::Ipv4Endpoint from;
    const int n = snmpSocket_.ReceiveFrom(buffer, sizeof buffer, &from);
    if (n <= 0) continue;
    {
      std::lock_guard g(mutex_);
      snmp_.emplace_back(buffer, buffer + n);
    }
    static const std::uint8_t kResponse[2] = {0x30, 0x00};
    snmpSocket_.SendTo(kResponse, sizeof kResponse, from);
  }
}

void NetifSimulator::Send(const std::vector<std::uint8_t>& datagram, const platform::Ipv4Endpoint& to) {
  std::size_t length = datagram.size();
  if (faults_.shortReplies) length = std::min(length, faults_.shortReplies);
  const int times = faults_.duplicate ? 2 : 1;
  for (int i = 0; i < times; ++i) socket_.SendTo(datagram.data(), length, to);
}

std::vector<std::uint8_t> NetifSimulator::BasicInfoReply(char letter) const {
  const bool ext = config_.extended;
  auto d = Datagram(letter, 0, ext ? 0xE000 : 0, ext ? 62 : 54);
  PutText(d, 0, config_.name, 32);
  PutBe32(d.data() + kHeader + 32, 0x11223344);
  PutBe16(d.data() + kHeader + 36, config_.model);
  PutBe16(d.data() + kHeader + 38, config_.version);
  std::memcpy(d.data() + kHeader + 40, faults_.otherMac ? kOtherMac : config_.mac, 6);
  PutBe32(d.data() + kHeader + 46, 0x55667788);
  PutBe32(d.data() + kHeader + 50, 0x99AABBCC);
  if (ext) {
    d[kHeader + 54] = 1;
    d[kHeader + 55] = config_.wireless ? 2 : 1;
    PutBe32(d.data() + kHeader + 58, config_.capabilities);
  }
  return d;
}

void NetifSimulator::Handle(const std::uint8_t* data, std::size_t length, const platform::Ipv4Endpoint& from) {
  if (length < kHeader || std::memcmp(data, "ORLEX", 5) != 0) return;
  const char letter = static_cast<char>(data[5]);
  const std::uint32_t code = Be32(data + 6);
  const std::uint8_t* payload = data + kHeader;
  const std::size_t payloadLength = length - kHeader;
  auto at = [&](std::size_t i) -> std::uint8_t { return i < payloadLength ? payload[i] : 0; };

  std::lock_guard g(mutex_);
  NetifRequest logged{letter, code, std::vector<std::uint8_t>(payload, payload + payloadLength)};
  if (requests_.size() < 10000) requests_.push_back(std::move(logged));
  if (faults_.silent) return;
  if (faults_.dropFirst > 0) {
    --faults_.dropFirst;
    return;
  }
  if (letter != 'Q' && letter != 'S' && letter != 'C' && letter != 'P' && letter != 'I') return;
  const char replyLetter = Lower(letter);
  const std::uint8_t* mac = faults_.otherMac ? kOtherMac : config_.mac;

  // A MAC-addressed setting is applied only by the interface it names.
  if (letter == 'I') {
    const std::size_t macAt = code == 0x00000010 ? 1 : 0;
    if (payloadLength < macAt + 6 || std::memcmp(payload + macAt, config_.mac, 6) != 0) return;
  }

  std::vector<std::uint8_t> reply;
  std::uint16_t result = 0;
  const bool query = letter == 'Q' || letter == 'P';
  const bool setting = letter == 'S' || letter == 'I';
  NetifSettings& s = settings_;

  if (query) {
    switch (code) {
      case 0x00000000:
        reply = BasicInfoReply(replyLetter);
        if (letter == 'P' && faults_.flood) floodTo_ = from;
        break;
      case 0x00000100:
        reply = Datagram(replyLetter, code, 0, 11);
        std::memcpy(reply.data() + kHeader, mac, 6);
        break;
      case 0x00000010:
        reply = Datagram(replyLetter, code, 0, 21);
        reply[kHeader] = 1;
        std::memcpy(reply.data() + kHeader + 1, mac, 6);
        PutBe16(reply.data() + kHeader + 7, s.method);
        std::memcpy(reply.data() + kHeader + 9, s.ip, 4);
        std::memcpy(reply.data() + kHeader + 13, s.mask, 4);
        std::memcpy(reply.data() + kHeader + 17, s.gateway, 4);
        break;
      case 0x00000051:
        reply = Datagram(replyLetter, code, 0, 66);
        std::memcpy(reply.data() + kHeader, mac, 6);
        reply[kHeader + 7] = s.channel;
        PutText(reply, 8, s.ssid, 32);
        break;
      case 0x00000064:
        reply = Datagram(replyLetter, code, 0, 20);
        std::memcpy(reply.data() + kHeader, mac, 6);
        reply[kHeader + 17] = s.mode;
        reply[kHeader + 18] = s.encryption;
        reply[kHeader + 19] = s.keyIndex;
        break;
      case 0x00000061:
        reply = Datagram(replyLetter, code, 0, 50);
        std::memcpy(reply.data() + kHeader, s.wirelessStatus, 50);
        break;
      case 0x00000003:
      case 0x00000004:
        reply = Datagram(replyLetter, code, 0, 256);
        PutText(reply, 0, code == 3 ? s.location : s.admin, 256);
        break;
      case 0x00000011:
        reply = Datagram(replyLetter, code, 0, 317);
        reply[kHeader] = s.dnsNameValue[0];
        reply[kHeader + 1] = s.dnsNameValue[1];
        PutText(reply, 2, s.firstName, 63);
        PutText(reply, 65, s.secondName, 252);
        break;
      case 0x00000012: {
        const std::size_t count = std::min<std::size_t>(s.dnsServers.size(), 8);
        reply = Datagram(replyLetter, code, 0, 3 + 4 * count);
        reply[kHeader] = s.dnsServerValue[0];
        reply[kHeader + 1] = s.dnsServerValue[1];
        reply[kHeader + 2] = s.rawServerCount ? s.rawServerCount : static_cast<std::uint8_t>(count);
        for (std::size_t i = 0; i < count; ++i) std::memcpy(reply.data() + kHeader + 3 + 4 * i, &s.dnsServers[i], 4);
        break;
      }
      case 0x03000010:
        reply = Datagram(replyLetter, code, 0, 13);
        std::memcpy(reply.data() + kHeader + 1, s.autoStatus, 12);
        break;
      case 0x03000001:
        reply = Datagram(replyLetter, code, 0, 170);
        PutText(reply, 6, s.receiverName, 32);
        break;
      case 0x03000020:
        reply = Datagram(replyLetter, code, 0, 1);
        reply[kHeader] = s.online;
        break;
      case 0x03000014:
        reply = Datagram(replyLetter, code, 0, 8);
        PutBe32(reply.data() + kHeader, s.bufferSizes[0]);
        PutBe32(reply.data() + kHeader + 4, s.bufferSizes[1]);
        break;
      case 0x03000017:
        reply = Datagram(replyLetter, code, 0, 4);
        std::memcpy(reply.data() + kHeader, s.connectionAddress, 4);
        break;
      default:
        reply = Datagram(replyLetter, code, 0x0100, 0);
        break;
    }
  } else if (setting && code == 0x00000100) {
    const std::size_t pwLength = (std::size_t{at(9)} << 8) | at(10);
    const std::string sent(reinterpret_cast<const char*>(payload) + std::min<std::size_t>(11, payloadLength),
                           std::min(pwLength, payloadLength > 11 ? payloadLength - 11 : 0));
    const std::uint32_t op = (std::uint32_t{at(6)} << 16) | (std::uint32_t{at(7)} << 8) | at(8);
    if (op == 0xF0000A) {
      if (faults_.wrongPassword || sent != password_) {
        result = 0x1000;
      } else {
        loggedIn_ = true;
        staged_ = settings_;
      }
    } else if (op == 0x000000) {
      result = loggedIn_ ? 0 : 0x2000;
      loggedIn_ = false;
    } else if (op == 0x010012) {
      if (!loggedIn_) {
        result = 0x2000;
      } else if (faults_.failLogouts > 0) {
        --faults_.failLogouts;
        result = 0x2000;
        loggedIn_ = false;
      } else {
        settings_ = staged_;
        password_ = sent;
        loggedIn_ = false;
        ++restarts_;
      }
    } else {
      result = 0x2000;
    }
    reply = Datagram(replyLetter, code, result, 11);
    std::memcpy(reply.data() + kHeader, mac, 6);
  } else if (setting) {
    std::size_t replyPayload = 6;
    if (!loggedIn_) {
      result = 0x2000;
    } else {
      switch (code) {
        case 0x00000010:
          staged_.method = static_cast<std::uint16_t>((at(7) << 8) | at(8));
          for (int i = 0; i < 4; ++i) {
            staged_.ip[i] = at(9 + i);
            staged_.mask[i] = at(13 + i);
            staged_.gateway[i] = at(17 + i);
          }
          replyPayload = 23;
          break;
        case 0x00000064:
          staged_.mode = at(6);
          staged_.encryption = at(7);
          staged_.keyIndex = at(8);
          break;
        case 0x00000052: {
          const std::uint8_t maskBits = at(6), count = at(8), keyLength = at(9);
          if (keyLength > 13 || payloadLength < 10u + count * keyLength) {
            result = 0x1000;
            break;
          }
          staged_.keyLength = keyLength;
          std::size_t next = 0;
          for (int k = 0; k < 4; ++k) {
            staged_.keys[k] = NetifKey{};
            if (!(maskBits & (1u << k)) || next >= count) continue;
            staged_.keys[k].present = true;
            std::memcpy(staged_.keys[k].bytes, payload + 10 + next * keyLength, keyLength);
            ++next;
          }
          break;
        }
        case 0x00000003:
        case 0x00000004: {
          std::string text(reinterpret_cast<const char*>(payload), std::min<std::size_t>(payloadLength, 256));
          text = text.substr(0, text.find('\0'));
          (code == 3 ? settings_.location : settings_.admin) = text;
          break;
        }
        case 0x00000011: {
          staged_.dnsNameValue[0] = at(0);
          staged_.dnsNameValue[1] = at(1);
          std::string first, second;
          for (std::size_t i = 2; i < 65 && at(i); ++i) first += static_cast<char>(at(i));
          for (std::size_t i = 65; i < 317 && at(i); ++i) second += static_cast<char>(at(i));
          staged_.firstName = first;
          staged_.secondName = second;
          break;
        }
        case 0x00000012: {
          const std::size_t count = at(2);
          if (count > 8 || payloadLength < 3 + 4 * count) {
            result = 0x2000;
            break;
          }
          staged_.dnsServerValue[0] = at(0);
          staged_.dnsServerValue[1] = at(1);
          staged_.dnsServers.assign(count, 0);
          for (std::size_t i = 0; i < count; ++i) std::memcpy(&staged_.dnsServers[i], payload + 3 + 4 * i, 4);
          staged_.rawServerCount = 0;
          break;
        }
        default:
          result = 0x2000;
          break;
      }
    }
    // The IP-settings reply mirrors its request: 0x01, then the MAC.
    reply = Datagram(replyLetter, code, result, replyPayload);
    const std::size_t macAt = code == 0x00000010 ? 1 : 0;
    if (macAt) reply[kHeader] = 1;
    std::memcpy(reply.data() + kHeader + macAt, mac, 6);
  } else {   // control commands
    reply = Datagram(replyLetter, code, 0, 0);
    if (code != 0x03000012 && code != 0x03000013 && code != 0x03000015 && code != 0x03000016) PutBe16(reply.data() + 10, 0x0100);
  }

  if (faults_.refuseCode && *faults_.refuseCode == code) PutBe16(reply.data() + 10, faults_.refuseResult);
  if (faults_.strayFirst) {
    auto stray = reply;
    stray[9] ^= 0x5A;   // answers another command
    socket_.SendTo(stray.data(), stray.size(), from);
    socket_.SendTo("ORLE", 4, from);
  }
  Send(reply, from);
}

}  // namespace tw::sim
