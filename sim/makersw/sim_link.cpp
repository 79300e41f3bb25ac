#include "sim/makersw/sim_link.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "lnkio/packet_framer.h"
#include "sim/makersw/sim_ports.h"
#include "sim/makersw/sim_service.h"

namespace tw::makersw {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollMs = 20;
constexpr auto kTableCheck = std::chrono::milliseconds(100);

#ifdef _WIN32
void CloseFd(intptr_t fd, bool) { closesocket(static_cast<SOCKET>(fd)); }
struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};
#else
void CloseFd(intptr_t fd, bool) { ::close(static_cast<int>(fd)); }
#endif

// "tcp:ADDR:PORT" -> a connected socket, or -1.
intptr_t ConnectTcp(const std::string& target) {
#ifdef _WIN32
  static WinsockUser winsock;
#endif
  const size_t colon = target.rfind(':');
  if (colon == std::string::npos) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(std::atoi(target.c_str() + colon + 1)));
  if (inet_pton(AF_INET, target.substr(0, colon).c_str(), &addr.sin_addr) != 1) return -1;
  const auto fd = socket(AF_INET, SOCK_STREAM, 0);
#ifdef _WIN32
  if (fd == INVALID_SOCKET) return -1;
#else
  if (fd < 0) return -1;
#endif
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    CloseFd(static_cast<intptr_t>(fd), false);
    return -1;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<intptr_t>(fd);
}

#ifndef _WIN32
intptr_t OpenSerial(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios tio{};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }
  return fd;
}
#endif

// Waits up to `ms` for bytes: >0 bytes read, 0 nothing, -1 closed or failed.
long ReceiveSome(intptr_t fd, bool serial, uint8_t* buffer, size_t size, int ms) {
#ifdef _WIN32
  (void)serial;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(fd), &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int ready = select(0, &set, nullptr, nullptr, &tv);
  if (ready <= 0) return ready == 0 ? 0 : -1;
  const int n = recv(static_cast<SOCKET>(fd), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
  return n > 0 ? n : -1;
#else
  pollfd p{static_cast<int>(fd), POLLIN, 0};
  const int ready = ::poll(&p, 1, ms);
  if (ready <= 0) return 0;
  const ssize_t n = serial ? ::read(static_cast<int>(fd), buffer, size)
                           : ::recv(static_cast<int>(fd), buffer, size, 0);
  return n > 0 ? static_cast<long>(n) : -1;
#endif
}

long SendAll(intptr_t fd, bool serial, const uint8_t* data, size_t length) {
  size_t sent = 0;
  while (sent < length) {
#ifdef _WIN32
    (void)serial;
    const int n = send(static_cast<SOCKET>(fd), reinterpret_cast<const char*>(data + sent),
                       static_cast<int>(length - sent), 0);
#else
    const ssize_t n = serial ? ::write(static_cast<int>(fd), data + sent, length - sent)
                             : ::send(static_cast<int>(fd), data + sent, length - sent, MSG_NOSIGNAL);
#endif
    if (n <= 0) return sent > 0 ? static_cast<long>(sent) : -1;
    sent += static_cast<size_t>(n);
  }
  return static_cast<long>(sent);
}

}  // namespace

PortLink::PortLink(Service& service, std::string port, std::string link, uint32_t state, uint32_t receiveMode)
    : service_(service), port_(std::move(port)), link_(std::move(link)), state_(state), receiveMode_(receiveMode) {}

PortLink::~PortLink() {
  stop_.store(true);
  if (reader_.joinable()) reader_.join();
  if (fd_ != -1) CloseFd(fd_, serial_);
}

bool PortLink::Connect() {
  std::lock_guard<std::mutex> guard(connectLock_);
  if (fd_ != -1) return true;
  if (link_.rfind("tcp:", 0) == 0) {
    fd_ = ConnectTcp(link_.substr(4));
#ifndef _WIN32
  } else if (link_.rfind("serial:", 0) == 0) {
    fd_ = OpenSerial(link_.substr(7));
    serial_ = true;
#endif
  }
  if (fd_ == -1) return false;
  reader_ = std::thread([this] { ReaderLoop(); });
  return true;
}

long PortLink::Send(const uint8_t* data, size_t length) {
  if (!Connect()) return -1;
  return SendAll(fd_, serial_, data, length);
}

void PortLink::ReaderLoop() {
  lnkio::PacketFramer framer(std::chrono::milliseconds(5), std::chrono::milliseconds(500));
  std::vector<uint8_t> buffer(4096);
  bool open = true;
  auto nextCheck = Clock::now() + kTableCheck;
  while (!stop_.load()) {
    int wait = kPollMs;
    if (auto deadline = framer.Deadline()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      wait = static_cast<int>(std::max<long long>(0, std::min<long long>(left + 1, kPollMs)));
    }
    if (open) {
      const long n = ReceiveSome(fd_, serial_, buffer.data(), buffer.size(), wait);
      if (n > 0) framer.Feed(buffer.data(), static_cast<size_t>(n), Clock::now());
      if (n < 0) open = false;  // the printer went away: the port stays, silent
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    if (greeting_.exchange(false)) {
      // An automatic status packet of an online printer without errors.
      LinkEvent event;
      event.kind = LinkEvent::kPacket;
      event.code = 2;
      event.bytes = {0x10, 0x00, 0x00, 0x00};
      service_.Deliver(port_, event);
    }
    while (auto packet = framer.Next(Clock::now())) {
      LinkEvent event;
      event.kind = LinkEvent::kPacket;
      event.code = packet->code;
      event.bytes = std::move(packet->bytes);
      service_.Deliver(port_, event);
    }
    if (Clock::now() >= nextCheck) {
      WatchTable();
      nextCheck = Clock::now() + kTableCheck;
    }
  }
}

void PortLink::WatchTable() {
  SimTable table = LoadTable();
  const SimPort* port = table.Find(port_);
  if (!port) return;
  const uint32_t state = static_cast<uint32_t>(port->Number("state", 0));
  const uint32_t mode = static_cast<uint32_t>(port->Number("recvmode", 1));
  if (state != state_) {
    state_ = state;
    LinkEvent event;
    event.kind = LinkEvent::kState;
    event.value = state;
    service_.Deliver(port_, event);
  }
  if (mode != receiveMode_) {
    receiveMode_ = mode;
    LinkEvent event;
    event.kind = LinkEvent::kReceiveMode;
    event.value = mode;
    service_.Deliver(port_, event);
  }
}

}  // namespace tw::makersw
