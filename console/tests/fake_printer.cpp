#include "console/tests/fake_printer.h"

#include <algorithm>
#include <cstdio>

namespace tw::console::testing {

FakePrinter::FakePrinter() {
  answer = [this](const ByteArray& command) { return DefaultAnswer(command, level); };
}

ByteArray FakePrinter::LevelReply(uint16_t level) {
  char text[8];
  std::snprintf(text, sizeof text, "1%04X", level);
  ByteArray reply(text, text + 5);
  reply.push_back(0x00);
  return reply;
}

ByteArray FakePrinter::ModelReply(uint8_t mark) { return {0x10, 0x14, 0x12, mark, 0x00, 0x01}; }

std::vector<ByteArray> FakePrinter::DefaultAnswer(const ByteArray& command, uint16_t level) {
  using namespace commands;
  if (command == kBufferClear) return {{0x10, 0x14, 0x08, 0x00}};
  if (command == kModelQuery) return {ModelReply()};
  if (command == kSecondQuery) return {{0x10, 0x14, 0x12, 0x03, 0x00}};
  if (command == kReadinessQuery) return {{0x10, 0x14, 0x30, 0x00}};
  if (command == BuildFrame(kFrameLevelRead, kLevelReadData)) return {LevelReply(level)};
  return {};
}

int32_t FakePrinter::Open(const PortSettings*) {
  ++opens;
  if (openResults.empty()) return 0;
  const size_t i = std::min(static_cast<size_t>(opens - 1), openResults.size() - 1);
  return openResults[i];
}

int32_t FakePrinter::Read(ByteArray& reply, int32_t timeoutMs) {
  readTimeouts.push_back(timeoutMs);
  reply.clear();
  if (pending.empty()) return 3;
  reply = pending.front();
  pending.pop_front();
  return 0;
}

int32_t FakePrinter::Write(const uint8_t* data, uint32_t count, uint32_t* out, int32_t timeoutMs) {
  writeTimeouts.push_back(timeoutMs);
  ByteArray command(data, data + count);
  written.push_back(command);
  if (failWrite(command)) return 3;
  if (out) *out = count;
  for (auto& r : answer(command)) pending.push_back(r);
  return 0;
}

size_t FakePrinter::CountWritten(const ByteArray& command) const {
  return static_cast<size_t>(std::count(written.begin(), written.end(), command));
}

}  // namespace tw::console::testing
