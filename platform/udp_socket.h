#pragma once
// IPv4 UDP datagram sockets with broadcast and a readiness wait.
//
// Windows: Winsock (the caller starts it with SocketsStartup); Linux: BSD
// sockets. Every failing call records the system's error code (errno or
// WSAGetLastError) in LastError(); no call throws.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/ipv4_text.h"
#include "platform/net_interfaces.h"

namespace tw::platform {

// An IPv4 address as it travels on the wire: the four bytes of the dotted form
// in memory order (what inet_addr returns), and a port in host byte order.
struct Ipv4Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// Builds the network-order address value of a.b.c.d.
inline std::uint32_t Ipv4Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t v = 0;
  std::memcpy(&v, bytes, 4);
  return v;
}

// Parses dotted text of four decimal numbers up to 255 ("127.0.0.5") into the
// network-order value (ParseDottedIpv4); false for anything else.
inline bool ParseIpv4(const char* text, std::uint32_t& address) {
  unsigned char bytes[4];
  if (!text || !ParseDottedIpv4(text, bytes)) return false;
  address = Ipv4Address(bytes[0], bytes[1], bytes[2], bytes[3]);
  return true;
}

// Windows: WSAStartup asking for version 1.1, its result; Linux: 0.
int SocketsStartup();
// Windows: WSACleanup's result (0, or the error code); Linux: 0.
int SocketsCleanup();

enum class WaitResult { kReadable, kTimeout, kError };

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Creates an AF_INET/SOCK_DGRAM socket. On failure IsOpen() is false and
  // *error (when given) holds the system's error code.
  static UdpSocket Open(int* error);

  bool IsOpen() const { return handle_ != kInvalid; }
  // SO_BROADCAST on or off.
  bool SetBroadcast(bool on);
  // SO_REUSEADDR, before Bind (several listeners on one broadcast port).
  bool SetReuseAddress(bool on);
  bool Bind(const Ipv4Endpoint& local);
  // Ties the socket to one interface, before the first send, so that a
  // broadcast to 255.255.255.255 leaves through that interface whatever the
  // routes say, and replies arriving there are read. Linux: SO_BINDTODEVICE
  // (replies to broadcast addresses are read as well), or, where the system
  // refuses it to this user, a bind to the interface's address; Windows: a
  // bind to the interface's address.
  bool BindToInterface(const NetInterface& iface);
  // The locally bound endpoint (after Bind or the first send).
  bool LocalEndpoint(Ipv4Endpoint& local) const;

  // Bytes sent, or -1.
  int SendTo(const void* data, std::size_t length, const Ipv4Endpoint& to);
  // Waits until a datagram can be read; the limit is rounded to whole
  // microseconds. A negative limit is treated as zero.
  WaitResult WaitReadable(std::chrono::microseconds limit);
  // Waits until one of `sockets` can be read: kReadable with *ready its
  // index, kTimeout, or kError with the system's code in *error. The limit is
  // treated as in WaitReadable.
  static WaitResult WaitAnyReadable(std::span<UdpSocket* const> sockets, std::chrono::microseconds limit,
                                    std::size_t* ready, int* error);
  // Reads one datagram of at most `capacity` bytes; its length, or -1. A
  // longer datagram is consumed and gives -1 with LastError() EMSGSIZE /
  // WSAEMSGSIZE, never a cut-off success. `from` receives the sender when not
  // null.
  int ReceiveFrom(void* buffer, std::size_t capacity, Ipv4Endpoint* from);
  // Closes now; false (and LastError set) when the system reports a failure.
  // Closing a socket that is not open succeeds.
  bool Close();

  int LastError() const { return lastError_; }

 private:
  static constexpr std::intptr_t kInvalid = -1;
  explicit UdpSocket(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kInvalid;
  int lastError_ = 0;
};

}  // namespace tw::platform
