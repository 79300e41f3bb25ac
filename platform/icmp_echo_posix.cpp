#include "platform/icmp_echo.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tw::platform {
namespace {

using Clock = std::chrono::steady_clock;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

uint16_t Checksum(const uint8_t* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2) sum += static_cast<uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

// Echo request: type 8, code 0, checksum, identifier, sequence, payload.
std::vector<uint8_t> EchoRequest(uint16_t id, uint16_t seq) {
  std::vector<uint8_t> packet(8 + kIcmpEchoData.size());
  packet[0] = 8;
  packet[4] = static_cast<uint8_t>(id >> 8);
  packet[5] = static_cast<uint8_t>(id);
  packet[6] = static_cast<uint8_t>(seq >> 8);
  packet[7] = static_cast<uint8_t>(seq);
  std::memcpy(packet.data() + 8, kIcmpEchoData.data(), kIcmpEchoData.size());
  const uint16_t sum = Checksum(packet.data(), packet.size());
  packet[2] = static_cast<uint8_t>(sum >> 8);
  packet[3] = static_cast<uint8_t>(sum);
  return packet;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

uint16_t NextSequence() {
  static std::atomic<uint16_t> seq{1};
  return seq.fetch_add(1);
}

enum class Outcome { kAnswered, kSilent, kUnavailable };

// One echo over an ICMP socket. `raw`: replies carry the IP header and every
// ICMP packet of the host arrives (our own request on loopback too), so the
// identifier and source are checked; the datagram socket's kernel picks the
// identifier and hands over only replies to this socket.
Outcome Echo(int type, const sockaddr_in& to, int timeoutMs) {
  Fd fd(::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!fd.valid()) return Outcome::kUnavailable;
  const bool raw = type == SOCK_RAW;
  const uint16_t id = static_cast<uint16_t>(::getpid() ^ 0x5A5A);
  const uint16_t seq = NextSequence();
  const std::vector<uint8_t> request = EchoRequest(id, seq);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (::sendto(fd.get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
    return errno == EACCES || errno == EPERM ? Outcome::kUnavailable : Outcome::kSilent;
  }
  uint8_t buffer[1500];
  for (;;) {
    pollfd p{fd.get(), POLLIN, 0};
    const int left = RemainingMs(deadline);
    if (left == 0) return Outcome::kSilent;
    const int r = ::poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return Outcome::kSilent;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(fd.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return Outcome::kSilent;
    }
    size_t offset = 0;
    if (raw) {
      if (n < 20) continue;
      offset = static_cast<size_t>(buffer[0] & 0x0F) * 4;
    }
    if (static_cast<size_t>(n) < offset + 8) continue;
    const uint8_t* icmp = buffer + offset;
    if (icmp[0] != 0 || icmp[1] != 0) continue;  // not an echo reply
    if (from.sin_addr.s_addr != to.sin_addr.s_addr) continue;
    const uint16_t replySeq = static_cast<uint16_t>(icmp[6] << 8 | icmp[7]);
    if (replySeq != seq) continue;
    if (raw && static_cast<uint16_t>(icmp[4] << 8 | icmp[5]) != id) continue;
    return Outcome::kAnswered;
  }
}

// A TCP connection attempt: accepted or refused both prove the host is there.
bool TcpProbe(sockaddr_in to, int timeoutMs) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return false;
  to.sin_port = htons(static_cast<uint16_t>(kIcmpProbeTcpPort));
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
  if (errno == ECONNREFUSED) return true;
  if (errno != EINPROGRESS) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd p{fd.get(), POLLOUT, 0};
    const int r = ::poll(&p, 1, RemainingMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0) return false;
    return error == 0 || error == ECONNREFUSED;
  }
}

}  // namespace

bool IcmpEchoReachable(std::string_view ipv4, int timeoutMs, EchoMethod* usedMethod) {
  if (usedMethod) *usedMethod = EchoMethod::kNone;
  unsigned char bytes[4];
  if (!ParseDottedIpv4(ipv4, bytes) || !IsProbeableIpv4(bytes)) return false;
  if (timeoutMs < 0) timeoutMs = 0;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  std::memcpy(&to.sin_addr.s_addr, bytes, 4);

  for (int type : {SOCK_RAW, SOCK_DGRAM}) {
    const Outcome o = Echo(type, to, timeoutMs);
    if (o == Outcome::kUnavailable) continue;
    if (usedMethod) *usedMethod = type == SOCK_RAW ? EchoMethod::kRawSocket : EchoMethod::kDatagramIcmp;
    return o == Outcome::kAnswered;
  }
  if (usedMethod) *usedMethod = EchoMethod::kTcpProbe;
  return TcpProbe(to, timeoutMs);
}

}  // namespace tw::platform
