// A stand-in for the communication library that answers like a KP-S410, for
// running the built console program end to end without a printer. The
// behaviour comes from the environment variable TRIMSENSE_DOUBLE:
//   ok (default), other-model, silent, never-ready, open-fails, already-open,
//   no-reconnect (every open after the first fails).
// Built a second time without KPC_SetFlowCtrlForced to stand for an
// incomplete library.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "include/portwire.h"  // the definitions below are checked against it

namespace {

using Bytes = std::vector<uint8_t>;

std::string Mode() {
  const char* m = std::getenv("TRIMSENSE_DOUBLE");
  return m ? m : "ok";
}

std::deque<Bytes> g_pending;
int g_opens = 0;
bool g_open = false;

const Bytes kBufferClear = {0x10, 0x14, 0x08, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08};
const Bytes kModelQuery = {0x10, 0x14, 0x12, 0x00, 0x00};
const Bytes kSecondQuery = {0x10, 0x14, 0x12, 0x00, 0x03};
const Bytes kReadiness = {0x10, 0x14, 0x06, 0x01, 0x03, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08};
const Bytes kLevelRead = {0x1C, 0x7C, 0x7F, 0x24, 0x0A, 0xF5, 0x05, 0x01, 0x00, 0x40};

void Answer(const Bytes& c) {
  const std::string mode = Mode();
  if (mode == "silent") return;
  if (c == kBufferClear) g_pending.push_back({0x10, 0x14, 0x08, 0x00});
  if (c == kModelQuery) g_pending.push_back({0x10, 0x14, 0x12, uint8_t(mode == "other-model" ? '#' : '$'), 0x00});
  if (c == kSecondQuery) g_pending.push_back({0x10, 0x14, 0x12, 0x03, 0x00});
  if (c == kReadiness) g_pending.push_back({0x10, 0x14, uint8_t(mode == "never-ready" ? 0x31 : 0x30), 0x00});
  if (c == kLevelRead) g_pending.push_back({'1', '0', '0', '6', '4', 0x00});
}

}  // namespace

PW_EXPORT int32_t PW_CALL KPC_Initialize() { return g_open ? 0 : PW_NOT_OPEN; }
PW_EXPORT int32_t PW_CALL KPC_Terminate() { return 0; }
PW_EXPORT int32_t PW_CALL KPC_SetPort(::PortSettings*) { return PW_OK; }

PW_EXPORT int32_t PW_CALL KPC_Open(int32_t) {
  ++g_opens;
  const std::string mode = Mode();
  if (mode == "open-fails" || (mode == "no-reconnect" && g_opens > 1)) return PW_CANNOT_LINK;
  if (mode == "already-open") return PW_ALREADY_OPEN;
  g_open = true;
  return 0;
}

PW_EXPORT int32_t PW_CALL KPC_Close() {
  if (!g_open) return PW_FAILED;
  g_open = false;
  g_pending.clear();
  return 0;
}

PW_EXPORT int32_t PW_CALL KPC_Read(uint8_t* buffer, uint32_t size, uint32_t* received, int32_t) {
  if (!g_open && Mode() != "already-open") return PW_NOT_OPEN;
  if (received) *received = 0;
  if (g_pending.empty()) return PW_TIMEOUT;
  const Bytes b = g_pending.front();
  g_pending.pop_front();
  const uint32_t n = b.size() < size ? static_cast<uint32_t>(b.size()) : size;
  std::memcpy(buffer, b.data(), n);
  if (received) *received = n;
  return 0;
}

PW_EXPORT int32_t PW_CALL KPC_Write(const uint8_t* data, uint32_t length, uint32_t* written, int32_t) {
  if (length == 0) return PW_FAILED;
  if (!g_open && Mode() != "already-open") return PW_NOT_OPEN;
  Answer(Bytes(data, data + length));
  if (written) *written = length;
  return 0;
}

#ifndef DOUBLE_WITHOUT_FLOW_CONTROL
PW_EXPORT int32_t PW_CALL KPC_SetFlowCtrlForced(int32_t) { return g_open ? 0 : PW_NOT_OPEN; }
#endif
