#include "platform/icmp_echo.h"

namespace tw::platform {

bool ParseDottedIpv4(std::string_view text, unsigned char bytes[4]) {
  int part = 0;
  unsigned value = 0;
  int digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool end = i == text.size();
    const char c = end ? '.' : text[i];
    if (c == '.') {
      if (digits == 0 || part > 3) return false;
      bytes[part++] = static_cast<unsigned char>(value);
      value = 0;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (++digits > 3 || value > 255) return false;
    } else {
      return false;
    }
  }
  return part == 4;
}

bool IsProbeableIpv4(const unsigned char bytes[4]) {
  if (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0) return false;
  if (bytes[0] >= 224) return false;  // multicast, reserved and the limited broadcast
  return true;
}

}  // namespace tw::platform
