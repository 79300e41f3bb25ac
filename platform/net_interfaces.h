#pragma once
// The machine's IPv4 network interfaces, as far as a broadcast discovery needs
// them.
//
// A broadcast to 255.255.255.255 from an unbound socket leaves through one
// interface only (Linux: the one of the route to it, usually the default
// route; Windows: the preferred one), so a printer on a second network card or
// on a direct cable is never asked. A discovery therefore sends once per
// interface that BroadcastInterfaces() lists, from a socket tied to it with
// UdpSocket::BindToInterface (udp_socket.h).
//
// Linux: getifaddrs. Windows: GetAdaptersAddresses (operational adapters,
// their first IPv4 unicast address each).

#include <cstdint>
#include <string>
#include <vector>

namespace tw::platform {

struct NetInterface {
  std::string name;             // Linux: "eth0"; Windows: the adapter's name (its GUID text)
  unsigned index = 0;           // the system's interface index (0: unknown)
  std::uint32_t address = 0;    // IPv4 address, network order (as in Ipv4Endpoint)
  std::uint32_t netmask = 0;    // network order; 0 when unknown
  bool up = false;
  bool broadcast = false;       // the link carries broadcasts (not loopback, point-to-point, tunnel)
  bool loopback = false;
};

// Every IPv4 address of every interface, in the system's order. Empty when
// the system cannot tell (the error code in *error when given, else 0).
std::vector<NetInterface> ListIpv4Interfaces(int* error = nullptr);

// The interfaces a discovery asks: up, broadcast-capable, not loopback, with
// an address other than 0.0.0.0; one entry per interface (its first address),
// in the order of `all`. A pure function of its input, shared by every system.
std::vector<NetInterface> SelectBroadcastInterfaces(const std::vector<NetInterface>& all);

// SelectBroadcastInterfaces(ListIpv4Interfaces()).
std::vector<NetInterface> BroadcastInterfaces();

}  // namespace tw::platform
