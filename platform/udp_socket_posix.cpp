#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace tw::platform {

namespace {

sockaddr_in ToSockaddr(const Ipv4Endpoint& e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(e.port);
  sa.sin_addr.s_addr = e.address;
  return sa;
}

int Fd(std::intptr_t h) { return static_cast<int>(h); }

}  // namespace

int SocketsStartup() { return 0; }
int SocketsCleanup() { return 0; }

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : handle_(std::exchange(other.handle_, kInvalid)), lastError_(other.lastError_) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kInvalid);
    lastError_ = other.lastError_;
  }
  return *this;
}

UdpSocket UdpSocket::Open(int* error) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = errno;
    return UdpSocket();
  }
  if (error) *error = 0;
  return UdpSocket(fd);
}

bool UdpSocket::SetBroadcast(bool on) {
  const int v = on ? 1 : 0;
  if (::setsockopt(Fd(handle_), SOL_SOCKET, SO_BROADCAST, &v, sizeof v) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool UdpSocket::SetReuseAddress(bool on) {
  const int v = on ? 1 : 0;
  if (::setsockopt(Fd(handle_), SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool UdpSocket::Bind(const Ipv4Endpoint& local) {
  const sockaddr_in sa = ToSockaddr(local);
  if (::bind(Fd(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool UdpSocket::BindToInterface(const NetInterface& iface) {
  if (::setsockopt(Fd(handle_), SOL_SOCKET, SO_BINDTODEVICE, iface.name.c_str(),
                   static_cast<socklen_t>(iface.name.size() + 1)) == 0) {
    return true;
  }
  // Kernels before 5.7 allow SO_BINDTODEVICE to privileged users only. A
  // socket bound to the interface's address still sends its limited
  // broadcasts through that interface (the kernel picks the device of the
  // source address), it only misses replies sent to a broadcast address.
  if (errno != EPERM && errno != EACCES) {
    lastError_ = errno;
    return false;
  }
  return Bind(Ipv4Endpoint{iface.address, 0});
}

bool UdpSocket::LocalEndpoint(Ipv4Endpoint& local) const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(Fd(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  local.address = sa.sin_addr.s_addr;
  local.port = ntohs(sa.sin_port);
  return true;
}

int UdpSocket::SendTo(const void* data, std::size_t length, const Ipv4Endpoint& to) {
  const sockaddr_in sa = ToSockaddr(to);
  ssize_t n;
  do {
    n = ::sendto(Fd(handle_), data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    lastError_ = errno;
    return -1;
  }
  return static_cast<int>(n);
}

WaitResult UdpSocket::WaitReadable(std::chrono::microseconds limit) {
  using namespace std::chrono;
  if (limit.count() < 0) limit = microseconds(0);
  const auto deadline = steady_clock::now() + limit;
  for (;;) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now() + microseconds(999));
    pollfd p{Fd(handle_), POLLIN, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(left.count() < 0 ? 0 : left.count()));
    if (rc > 0) return WaitResult::kReadable;
    if (rc == 0) return WaitResult::kTimeout;
    if (errno == EINTR) continue;
    lastError_ = errno;
    return WaitResult::kError;
  }
}

WaitResult UdpSocket::WaitAnyReadable(std::span<UdpSocket* const> sockets, std::chrono::microseconds limit,
                                      std::size_t* ready, int* error) {
  using namespace std::chrono;
  if (limit.count() < 0) limit = microseconds(0);
  std::vector<pollfd> fds;
  fds.reserve(sockets.size());
  for (UdpSocket* s : sockets) fds.push_back(pollfd{Fd(s->handle_), POLLIN, 0});
  const auto deadline = steady_clock::now() + limit;
  for (;;) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now() + microseconds(999));
    const int rc = ::poll(fds.data(), fds.size(), static_cast<int>(left.count() < 0 ? 0 : left.count()));
    if (rc > 0) {
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
          if (ready) *ready = i;
          return WaitResult::kReadable;
        }
      }
    }
    if (rc == 0) return WaitResult::kTimeout;
    if (rc < 0 && errno == EINTR) continue;
    if (error) *error = rc < 0 ? errno : EBADF;
    return WaitResult::kError;
  }
}

int UdpSocket::ReceiveFrom(void* buffer, std::size_t capacity, Ipv4Endpoint* from) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t n;
  do {
    n = ::recvfrom(Fd(handle_), buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    lastError_ = errno;
    return -1;
  }
  if (static_cast<std::size_t>(n) > capacity) {
    // Longer than the buffer: an error, as Winsock reports it (WSAEMSGSIZE).
    lastError_ = EMSGSIZE;
    return -1;
  }
  if (from) {
    from->address = sa.sin_addr.s_addr;
    from->port = ntohs(sa.sin_port);
  }
  return static_cast<int>(n);
}

bool UdpSocket::Close() {
  if (handle_ == kInvalid) return true;
  const int fd = Fd(std::exchange(handle_, kInvalid));
  if (::close(fd) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

}  // namespace tw::platform
