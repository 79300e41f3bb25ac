#include "platform/udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <cstring>
#include <utility>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace tw::platform {

namespace {

sockaddr_in ToSockaddr(const Ipv4Endpoint& e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(e.port);
  sa.sin_addr.s_addr = e.address;
  return sa;
}

SOCKET Sock(std::intptr_t h) { return static_cast<SOCKET>(h); }

}  // namespace

int SocketsStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data);
}

int SocketsCleanup() { return WSACleanup() == 0 ? 0 : WSAGetLastError(); }

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
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) {
    if (error) *error = WSAGetLastError();
    return UdpSocket();
  }
  // An ICMP "port unreachable" for an earlier datagram would otherwise make the
  // next recvfrom fail; unconnected sockets on other systems never see it.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  if (error) *error = 0;
  return UdpSocket(static_cast<std::intptr_t>(s));
}

bool UdpSocket::SetBroadcast(bool on) {
  const BOOL v = on ? TRUE : FALSE;
  if (::setsockopt(Sock(handle_), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&v), sizeof v) != 0) {
    lastError_ = WSAGetLastError();
    return false;
  }
  return true;
}

bool UdpSocket::SetReuseAddress(bool on) {
  const BOOL v = on ? TRUE : FALSE;
  if (::setsockopt(Sock(handle_), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&v), sizeof v) != 0) {
    lastError_ = WSAGetLastError();
    return false;
  }
  return true;
}

bool UdpSocket::Bind(const Ipv4Endpoint& local) {
  const sockaddr_in sa = ToSockaddr(local);
  if (::bind(Sock(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    lastError_ = WSAGetLastError();
    return false;
  }
  return true;
}

bool UdpSocket::BindToInterface(const NetInterface& iface) {
  // Windows sends a limited broadcast through the interface of the socket's
  // own address.
  return Bind(Ipv4Endpoint{iface.address, 0});
}

bool UdpSocket::LocalEndpoint(Ipv4Endpoint& local) const {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(Sock(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  local.address = sa.sin_addr.s_addr;
  local.port = ntohs(sa.sin_port);
  return true;
}

int UdpSocket::SendTo(const void* data, std::size_t length, const Ipv4Endpoint& to) {
  const sockaddr_in sa = ToSockaddr(to);
  const int n = ::sendto(Sock(handle_), static_cast<const char*>(data), static_cast<int>(length), 0,
                         reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  if (n == SOCKET_ERROR) {
    lastError_ = WSAGetLastError();
    return -1;
  }
  return n;
}

WaitResult UdpSocket::WaitReadable(std::chrono::microseconds limit) {
  if (limit.count() < 0) limit = std::chrono::microseconds(0);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Sock(handle_), &readable);
  timeval tv{};
  tv.tv_sec = static_cast<long>(limit.count() / 1000000);
  tv.tv_usec = static_cast<long>(limit.count() % 1000000);
  const int rc = ::select(0, &readable, nullptr, nullptr, &tv);
  if (rc == SOCKET_ERROR) {
    lastError_ = WSAGetLastError();
    return WaitResult::kError;
  }
  return rc > 0 ? WaitResult::kReadable : WaitResult::kTimeout;
}

WaitResult UdpSocket::WaitAnyReadable(std::span<UdpSocket* const> sockets, std::chrono::microseconds limit,
                                      std::size_t* ready, int* error) {
  if (limit.count() < 0) limit = std::chrono::microseconds(0);
  if (sockets.size() > FD_SETSIZE) sockets = sockets.first(FD_SETSIZE);
  fd_set readable;
  FD_ZERO(&readable);
  for (UdpSocket* s : sockets) FD_SET(Sock(s->handle_), &readable);
  timeval tv{};
  tv.tv_sec = static_cast<long>(limit.count() / 1000000);
  tv.tv_usec = static_cast<long>(limit.count() % 1000000);
  const int rc = ::select(0, &readable, nullptr, nullptr, &tv);
  if (rc == SOCKET_ERROR) {
    if (error) *error = WSAGetLastError();
    return WaitResult::kError;
  }
  if (rc == 0) return WaitResult::kTimeout;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (FD_ISSET(Sock(sockets[i]->handle_), &readable)) {
      if (ready) *ready = i;
      return WaitResult::kReadable;
    }
  }
  return WaitResult::kTimeout;
}

int UdpSocket::ReceiveFrom(void* buffer, std::size_t capacity, Ipv4Endpoint* from) {
  sockaddr_in sa{};
  int len = sizeof sa;
  const int n = ::recvfrom(Sock(handle_), static_cast<char*>(buffer), static_cast<int>(capacity), 0,
                     reinterpret_cast<sockaddr*>(&sa), &len);
  if (n == SOCKET_ERROR) {
    // Also WSAEMSGSIZE: a datagram longer than the buffer is not a reply of
    // this protocol, and its cut-off bytes must not pass for a whole one.
    lastError_ = WSAGetLastError();
    return -1;
  }
  if (from) {
    from->address = sa.sin_addr.s_addr;
    from->port = ntohs(sa.sin_port);
  }
  return n;
}

bool UdpSocket::Close() {
  if (handle_ == kInvalid) return true;
  const SOCKET s = Sock(std::exchange(handle_, kInvalid));
  if (::closesocket(s) != 0) {
    lastError_ = WSAGetLastError();
    return false;
  }
  return true;
}

}  // namespace tw::platform
