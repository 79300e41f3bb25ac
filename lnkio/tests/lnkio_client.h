#pragma once
// Test-side view of the port-access library: loaded by file name the way the
// direct backend loads it, every call through the C contract.

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "lnkio/link_open_block.h"
#include "lnkio/lnkioapi.h"
#include "platform/module.h"

namespace tw::lnkio::testing {

struct LnkioClient {
  platform::Module module = platform::Module::Load(u"lnkioapi.dll");
  OpenFn open = module.Function<OpenFn>("LNKIO_Open");
  WriteFn write = module.Function<WriteFn>("LNKIO_Write");
  ReadFn read = module.Function<ReadFn>("LNKIO_Read");
  VoidFn close = module.Function<VoidFn>("LNKIO_Close");
  SetNoFlowFn setNoFlow = module.Function<SetNoFlowFn>("LNKIO_SetNoFlow");
  VoidFn isOpen = module.Function<VoidFn>("LNKIO_GetIsOpen");
  VoidFn isOnline = module.Function<VoidFn>("LNKIO_GetIsOnLine");
  VoidFn terminate = module.Function<VoidFn>("LNKIO_Terminate");
  WaitReadableFn waitReadable = module.Function<WaitReadableFn>("LNKIO_WaitReadable");

  bool Complete() const {
    return open && write && read && close && setNoFlow && isOpen && isOnline && terminate && waitReadable;
  }

  int Write(const std::vector<std::uint8_t>& bytes, int32_t* written = nullptr) {
    int32_t n = 0;
    const int code = write(bytes.data(), static_cast<int32_t>(bytes.size()), &n);
    if (written) *written = n;
    return code;
  }

  struct Received {
    int code = 0;
    std::vector<std::uint8_t> bytes;
  };

  // Waits (through LNKIO_WaitReadable) for the next packet of any code but 0.
  Received Next(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::uint8_t> buffer(65791);
    for (;;) {
      int32_t len = 0;
      const int code = read(buffer.data(), static_cast<int32_t>(buffer.size()), &len);
      if (code != kLnkioReadNothing) return {code, {buffer.begin(), buffer.begin() + len}};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !isOpen()) return {};
      if (!waitReadable(static_cast<int32_t>(left.count()))) return {};
      if (!isOpen()) {
        // Packets received before the drop are still handed out.
        len = 0;
        const int c = read(buffer.data(), static_cast<int32_t>(buffer.size()), &len);
        return {c, {buffer.begin(), buffer.begin() + len}};
      }
    }
  }

  // The next packet that is not an automatic status.
  Received NextReply(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    for (;;) {
      Received r = Next(timeout);
      if (r.code != kLnkioReadStatus) return r;
    }
  }
};

inline LinkOpenBlock NetworkBlock(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, int timeoutMs = 2000) {
  LinkOpenBlock block{};
  block.kind = kLinkNetwork;
  block.enabled = 1;
  block.ipv4[0] = a;
  block.ipv4[1] = b;
  block.ipv4[2] = c;
  block.ipv4[3] = d;
  block.linkTimeoutMs = timeoutMs;
  return block;
}

inline LinkOpenBlock SerialBlock(int comNumber, int speedCode = 5, int timeoutMs = 2000) {
  LinkOpenBlock block{};
  block.kind = kLinkSerial;
  block.enabled = 1;
  block.serialIndex = comNumber - 1;
  block.speedCode = speedCode;
  block.dataBits = 8;
  block.parity = 0;
  block.flowMode = kFlowHardware;
  block.linkTimeoutMs = timeoutMs;
  return block;
}

// Printer commands the programs send.
inline const std::vector<std::uint8_t> kBufferClear = {0x10, 0x14, 0x08, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08};
inline const std::vector<std::uint8_t> kModelQuery = {0x10, 0x14, 0x12, 0x00, 0x00};
inline const std::vector<std::uint8_t> kModelCodeQuery = {0x10, 0x14, 0x12, 0x00, 0x03};
inline const std::vector<std::uint8_t> kStatusEnable = {0x1D, 0x61, 0xFF};
inline const std::vector<std::uint8_t> kOpenFrame = {0x1C, 0x7C, 0x7F, 0x24, 0x01, 0xFE, 0x80, 0x00, 0x00};
inline const std::vector<std::uint8_t> kLevelRead = {0x1C, 0x7C, 0x7F, 0x24, 0x0A, 0xF5, 0x05, 0x01, 0x00, 0x40};
inline const std::vector<std::uint8_t> kAfterWrite = {0x1C, 0x7C, 0x7F, 0x24, 0x63, 0x9C, 0xB1, 0x00, 0x00};
inline const std::vector<std::uint8_t> kCloseFrame = {0x1C, 0x7C, 0x7F, 0x24, 0x02, 0xFD, 0x01, 0x00, 0x00};
inline std::vector<std::uint8_t> ThresholdWrite(std::uint8_t th) {
  return {0x1C, 0x7C, 0x7F, 0x24, 0x16, 0xE9, 0x0B, 0x03, 0x00, 0x0B, th, static_cast<std::uint8_t>(0xF4 - th)};
}

}  // namespace tw::lnkio::testing
