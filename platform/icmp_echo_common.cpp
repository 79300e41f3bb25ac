#include "platform/icmp_echo.h"

namespace tw::platform {

bool IsProbeableIpv4(const unsigned char bytes[4]) {
  if (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0) return false;
  if (bytes[0] >= 224) return false;  // multicast, reserved and the limited broadcast
  return true;
}

}  // namespace tw::platform
