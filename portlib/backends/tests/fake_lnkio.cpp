// A scriptable stand-in for the port-access library, built as a shared
// library and loaded through the real module loader. The LNKIO_ names behave
// as the contract says; the FAKE_ names let a test script open results, read
// packets (with the time they become available), write results and the online
// state, and look at what the backend did.
//
// Variants: FAKE_NO_WAIT builds it without LNKIO_WaitReadable, FAKE_INCOMPLETE
// without one of the thirteen names.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "lnkio/lnkioapi.h"  // the definitions below are checked against it

namespace {

using Clock = std::chrono::steady_clock;

struct Packet {
  int32_t code;
  std::vector<uint8_t> bytes;
  Clock::time_point at;
};

struct State {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<int32_t> openResults;  // consumed in order, the last one repeats
  size_t openIndex = 0;
  std::vector<int32_t> openKinds;    // kind of every LNKIO_Open, priming included
  uint8_t lastBlock[64] = {};
  bool open = false;
  int32_t writeCode = 1;
  int32_t writeCount = -1;           // -1: everything
  std::vector<uint8_t> written;
  std::deque<Packet> reads;
  // Queued after every write, `replyDelayMs` later (empty: none).
  std::vector<uint8_t> replyOnWrite;
  int32_t replyCode = 1;
  int replyDelayMs = 0;
  int32_t online = 1;
  int32_t noFlowResult = 1;
  std::vector<uint8_t> noFlowCalls;
  int32_t readCalls = 0;
  int32_t closeCalls = 0;
  int32_t terminateCalls = 0;
  int isOpenDelayMs = 0;             // the next LNKIO_GetIsOpen waits this long
};

State& S() {
  static State s;
  return s;
}

}  // namespace

extern "C" {

// ----- the contract -----

int32_t LNKIO_Open(const void* block) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  int32_t kind;
  std::memcpy(&kind, block, 4);
  s.openKinds.push_back(kind);
  if (kind == -1) return kLnkioOk;
  std::memcpy(s.lastBlock, block, 64);
  int32_t r = kLnkioOk;
  if (!s.openResults.empty()) {
    r = s.openResults[std::min(s.openIndex, s.openResults.size() - 1)];
    ++s.openIndex;
  }
  s.open = r == kLnkioOk || r == 100;
  s.cv.notify_all();
  return r;
}

int32_t LNKIO_Write(const void* data, int32_t length, int32_t* written) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  const int32_t n = s.writeCount < 0 ? length : std::min(s.writeCount, length);
  const auto* p = static_cast<const uint8_t*>(data);
  s.written.insert(s.written.end(), p, p + n);
  if (written) *written = n;
  if (!s.replyOnWrite.empty()) {
    s.reads.push_back({s.replyCode, s.replyOnWrite, Clock::now() + std::chrono::milliseconds(s.replyDelayMs)});
    s.cv.notify_all();
  }
  return s.writeCode;
}

int32_t LNKIO_Read(void* buffer, int32_t size, int32_t* length) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  ++s.readCalls;
  *length = 0;
  if (s.reads.empty() || s.reads.front().at > Clock::now()) return kLnkioReadNothing;
  Packet p = std::move(s.reads.front());
  s.reads.pop_front();
  const int32_t n = std::min<int32_t>(size, static_cast<int32_t>(p.bytes.size()));
  std::memcpy(buffer, p.bytes.data(), static_cast<size_t>(n));
  *length = n;
  return p.code;
}

int32_t LNKIO_Close(void) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  ++s.closeCalls;
  s.open = false;
  s.cv.notify_all();
  return 1;
}

int32_t LNKIO_SetNoFlow(uint8_t noFlow) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.noFlowCalls.push_back(noFlow);
  return s.noFlowResult;
}

int32_t LNKIO_GetIsOpen(void) {
  State& s = S();
  std::unique_lock<std::mutex> lock(s.mu);
  const int delayMs = std::exchange(s.isOpenDelayMs, 0);
  if (delayMs > 0) {
    // A caller held up between its look at the port and what it does next.
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    lock.lock();
  }
  return s.open ? 1 : 0;
}

int32_t LNKIO_GetIsOnLine(void) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.open && s.online ? 1 : 0;
}

int32_t LNKIO_Terminate(void) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  ++s.terminateCalls;
  s.open = false;
  s.cv.notify_all();
  return 1;
}

#ifndef FAKE_NO_WAIT
int32_t LNKIO_WaitReadable(int32_t timeoutMs) {
  State& s = S();
  std::unique_lock<std::mutex> lock(s.mu);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!s.open) return 1;
    const auto now = Clock::now();
    if (!s.reads.empty() && s.reads.front().at <= now) return 1;
    if (now >= deadline) return 0;
    auto until = deadline;
    if (!s.reads.empty()) until = std::min(until, s.reads.front().at);
    s.cv.wait_until(lock, until);
  }
}
#endif

int32_t FirmwareCompare(void) { return kLnkioErrUnsupported; }
int32_t FirmwareUpdate(void) { return kLnkioErrUnsupported; }
int32_t RegisteredCallbackProgress(void) { return kLnkioErrUnsupported; }
int32_t GetFirmware(void) { return kLnkioErrUnsupported; }
#ifndef FAKE_INCOMPLETE
int32_t FirmwareUpload(void) { return kLnkioErrUnsupported; }
#endif

// ----- scripting -----

void FAKE_Reset(void) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.openResults.clear();
  s.openIndex = 0;
  s.openKinds.clear();
  std::memset(s.lastBlock, 0, sizeof s.lastBlock);
  s.open = false;
  s.writeCode = 1;
  s.writeCount = -1;
  s.written.clear();
  s.reads.clear();
  s.replyOnWrite.clear();
  s.replyCode = 1;
  s.replyDelayMs = 0;
  s.online = 1;
  s.noFlowResult = 1;
  s.noFlowCalls.clear();
  s.readCalls = 0;
  s.closeCalls = 0;
  s.terminateCalls = 0;
  s.isOpenDelayMs = 0;
}

void FAKE_SetOpenResults(const int32_t* codes, int32_t n) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.openResults.assign(codes, codes + n);
  s.openIndex = 0;
}

void FAKE_PushRead(int32_t code, const uint8_t* bytes, int32_t n) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.reads.push_back({code, std::vector<uint8_t>(bytes, bytes + n), Clock::now()});
  s.cv.notify_all();
}

void FAKE_SetWriteResult(int32_t code, int32_t count) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.writeCode = code;
  s.writeCount = count;
}

void FAKE_SetReplyOnWrite(int32_t code, const uint8_t* bytes, int32_t n, int32_t delayMs) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.replyCode = code;
  s.replyOnWrite.assign(bytes, bytes + n);
  s.replyDelayMs = delayMs;
}

void FAKE_DelayNextIsOpen(int32_t ms) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.isOpenDelayMs = ms;
}

void FAKE_SetOnline(int32_t online) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.online = online;
}

void FAKE_SetNoFlowResult(int32_t r) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.noFlowResult = r;
}

// Copies up to `cap` values out and returns how many there are.
int32_t FAKE_OpenKinds(int32_t* out, int32_t cap) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  const int32_t n = static_cast<int32_t>(s.openKinds.size());
  std::copy_n(s.openKinds.begin(), std::min(n, cap), out);
  return n;
}

void FAKE_LastBlock(void* out) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  std::memcpy(out, s.lastBlock, 64);
}

int32_t FAKE_Written(uint8_t* out, int32_t cap) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  const int32_t n = static_cast<int32_t>(s.written.size());
  std::copy_n(s.written.begin(), std::min(n, cap), out);
  return n;
}

int32_t FAKE_NoFlowCalls(uint8_t* out, int32_t cap) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  const int32_t n = static_cast<int32_t>(s.noFlowCalls.size());
  std::copy_n(s.noFlowCalls.begin(), std::min(n, cap), out);
  return n;
}

int32_t FAKE_Counter(int32_t which) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  switch (which) {
    case 0: return s.readCalls;
    case 1: return s.closeCalls;
    case 2: return s.terminateCalls;
    default: return -1;
  }
}

}  // extern "C"
