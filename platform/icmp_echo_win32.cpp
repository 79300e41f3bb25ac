#include "platform/icmp_echo.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstring>
#include <vector>

namespace tw::platform {

bool IcmpEchoReachable(std::string_view ipv4, int timeoutMs, EchoMethod* usedMethod) {
  if (usedMethod) *usedMethod = EchoMethod::kNone;
  unsigned char bytes[4];
  if (!ParseDottedIpv4(ipv4, bytes) || !IsProbeableIpv4(bytes)) return false;
  if (timeoutMs < 0) timeoutMs = 0;
  IPAddr address = 0;
  std::memcpy(&address, bytes, 4);

  HANDLE icmp = IcmpCreateFile();
  if (icmp == INVALID_HANDLE_VALUE) return false;
  if (usedMethod) *usedMethod = EchoMethod::kIcmpApi;
  char data[kIcmpEchoData.size()];
  std::memcpy(data, kIcmpEchoData.data(), sizeof data);
  // Room for one reply structure of this build's pointer size, the echoed
  // data and the 8 bytes of an ICMP error that Windows may put there.
  std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + sizeof data + 8);
  const DWORD replies = IcmpSendEcho(icmp, address, data, static_cast<WORD>(sizeof data), nullptr, reply.data(),
                                     static_cast<DWORD>(reply.size()), static_cast<DWORD>(timeoutMs));
  IcmpCloseHandle(icmp);
  if (replies == 0) return false;
  ICMP_ECHO_REPLY echo;
  std::memcpy(&echo, reply.data(), sizeof echo);
  return echo.Status == IP_SUCCESS;
}

}  // namespace tw::platform
