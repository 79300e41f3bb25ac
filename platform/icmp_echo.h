#pragma once
// Reachability of an IPv4 host by one ICMP echo request.
//
// Windows: IcmpCreateFile / IcmpSendEcho of Iphlpapi.dll.
// Linux, in this order:
//   1. a raw ICMP socket (needs root or CAP_NET_RAW);
//   2. the unprivileged ICMP datagram socket (needs the caller's group inside
//      net.ipv4.ping_group_range);
//   3. a TCP connection attempt to port 9100 (the printers' raw print port).
//      The question asked is the same as with an echo: "does the host
//      answer?". An accepted connection and a refused one (the host sent a
//      reset) both mean yes; only silence until the time-out, or a report that
//      the host or network is unreachable, mean no. The connection is closed
//      again at once without sending anything.
//
// The address must be four dotted decimal parts, each 0..255. The limited
// broadcast address, 0.0.0.0 and multicast addresses are refused (false)
// without sending anything, so a mistyped address never turns into a
// broadcast.

#include <string_view>

#include "platform/ipv4_text.h"

namespace tw::platform {

// Payload of the echo request and the time-out the library uses.
inline constexpr std::string_view kIcmpEchoData = "ICMP SEND DATA";
inline constexpr int kIcmpEchoTimeoutMs = 1000;
inline constexpr int kIcmpProbeTcpPort = 9100;

enum class EchoMethod {
  kNone,          // nothing was sent (bad address, or every method failed to start)
  kIcmpApi,       // Windows IcmpSendEcho
  kRawSocket,     // Linux raw ICMP socket
  kDatagramIcmp,  // Linux unprivileged ICMP socket
  kTcpProbe,      // Linux TCP connection attempt to port 9100
};

// True when the host at `ipv4` (dotted text) answered within `timeoutMs`.
// `usedMethod`, when given, receives the method that gave the answer.
bool IcmpEchoReachable(std::string_view ipv4, int timeoutMs = kIcmpEchoTimeoutMs, EchoMethod* usedMethod = nullptr);

// Whether an address (bytes in text order) may be probed: not 0.0.0.0, not
// multicast (224/4) and not the limited broadcast 255.255.255.255.
bool IsProbeableIpv4(const unsigned char bytes[4]);

}  // namespace tw::platform
