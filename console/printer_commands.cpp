#include "console/printer_commands.h"

namespace tw::console::commands {

ByteArray BuildFrame(uint8_t type, const ByteArray& data) {
  const bool checksummed = !data.empty() && (type == 4 || type == 5 || type == 22 || type == 97);
  const size_t length = data.size() + (checksummed ? 1 : 0);
  ByteArray frame;
  frame.reserve(9 + length);
  for (uint8_t b : {uint8_t{0x1C}, uint8_t{0x7C}, uint8_t{0x7F}, uint8_t{0x24}, type, static_cast<uint8_t>(~type),
                    static_cast<uint8_t>((type >> 1) | (type << 7)), static_cast<uint8_t>(length & 0xFF),
                    static_cast<uint8_t>((length >> 8) & 0xFF)}) {
    frame.push_back(b);
  }
  for (uint8_t b : data) frame.push_back(b);
  if (checksummed) {
    uint8_t sum = 0;
    for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
    frame.push_back(static_cast<uint8_t>(0xFF - sum));
  }
  return frame;
}

bool IsReadyReply(const ByteArray& reply) { return reply.size() >= 4 && reply[2] == 0x30; }

std::optional<uint16_t> ParseLevelReply(const ByteArray& reply) {
  if (reply.size() < 6 || reply[0] != 0x31 || reply[5] != 0x00) return std::nullopt;
  uint16_t level = 0;
  for (size_t i = 1; i < 5; ++i) {
    const uint8_t c = reply[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      break;
    }
    level = static_cast<uint16_t>(level * 16 + digit);
  }
  return level;
}

uint8_t ThresholdForLevel(uint16_t level) {
  if (level < 61) return 21;
  if (level >= 231) return 81;
  return static_cast<uint8_t>(level * 35 / 100);
}

}  // namespace tw::console::commands
