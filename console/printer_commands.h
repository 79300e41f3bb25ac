#pragma once
// Fixed command byte strings and the maintenance frame of the KP-S410.

#include <cstdint>
#include <optional>

#include "console/portwire.h"

namespace tw::console::commands {

inline const ByteArray kBufferClear = {0x10, 0x14, 0x08, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08};
inline const ByteArray kModelQuery = {0x10, 0x14, 0x12, 0x00, 0x00};
inline const ByteArray kSecondQuery = {0x10, 0x14, 0x12, 0x00, 0x03};
inline const ByteArray kReadinessQuery = {0x10, 0x14, 0x06, 0x01, 0x03, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08};

enum FrameType : uint8_t {
  kFrameOpen = 1,
  kFrameClose = 2,
  kFrameLevelRead = 10,
  kFrameWriteItem = 22,
  kFrameAfterWrite = 99,
};

inline constexpr uint8_t kThresholdItem = 0x0B;
inline const ByteArray kLevelReadData = {0x40};

// 1C 7C 7F 24, type, ~type, type rotated right, 16-bit length, data, checksum
// (types 4, 5, 22 and 97 carry one when they have data).
ByteArray BuildFrame(uint8_t type, const ByteArray& data = {});

// Readiness: at least 4 bytes and "0" at index 2.
bool IsReadyReply(const ByteArray& reply);

// "1", hex digits, 0x00 at index 5. Empty when the reply has another form.
std::optional<uint16_t> ParseLevelReply(const ByteArray& reply);

// 35 % of the level, kept between 21 and 81.
uint8_t ThresholdForLevel(uint16_t level);

}  // namespace tw::console::commands
