#include "platform/ipv4_text.h"

namespace tw::platform {

bool ParseDottedIpv4(std::string_view text, unsigned char bytes[4]) {
  unsigned char parsed[4];
  int part = 0;
  unsigned value = 0;
  int digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool end = i == text.size();
    const char c = end ? '.' : text[i];
    if (c == '.') {
      if (digits == 0 || part > 3) return false;
      parsed[part++] = static_cast<unsigned char>(value);
      value = 0;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (++digits > 3 || value > 255) return false;
    } else {
      return false;
    }
  }
  if (part != 4) return false;
  for (int i = 0; i < 4; ++i) bytes[i] = parsed[i];
  return true;
}

}  // namespace tw::platform
