// The exported functions: one process-wide link, replaced by each Open.
#include "lnkio/lnkioapi.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "lnkio/link.h"
#include "lnkio/link_open_block.h"
#include "lnkio/transport.h"

namespace {

using tw::lnkio::Link;

std::mutex g_mutex;
std::shared_ptr<Link> g_link;
// Why the last LNKIO_Open failed (g_mutex).
int32_t g_openCode = kLnkioOk;
tw::lnkio::OpenFailure g_openFailure;

void RememberOpen(int32_t code, tw::lnkio::OpenFailure failure) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_openCode = code;
  g_openFailure = std::move(failure);
}

std::shared_ptr<Link> CurrentLink() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_link;
}

void CloseCurrent() {
  std::shared_ptr<Link> old;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    old.swap(g_link);
  }
  // A Write still running on another thread holds its own reference; Shutdown
  // makes it return at once, and the device closes when it lets go.
  if (old) old->Shutdown();
}

}  // namespace

extern "C" {

int32_t LNKIO_Open(const void* blockPtr) {
  if (!blockPtr) return kLnkioErrParameter;
  tw::lnkio::LinkOpenBlock block;
  std::memcpy(&block, blockPtr, sizeof block);
  if (block.kind == tw::lnkio::kLinkPriming) return kLnkioOk;
  CloseCurrent();
  int code = kLnkioErrNoDevice;
  try {
    tw::lnkio::OpenFailure failure;
    auto transport = tw::lnkio::OpenTransport(block, &code, &failure);
    if (!transport) {
      RememberOpen(code, std::move(failure));
      return code;
    }
    auto link = std::make_shared<Link>(std::move(transport), block.linkTimeoutMs);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_link = std::move(link);
    g_openCode = kLnkioOk;
    g_openFailure = {};
  } catch (...) {
    return kLnkioErrIo;  // out of memory
  }
  return kLnkioOk;
}

int32_t LNKIO_Write(const void* data, int32_t length, int32_t* written) {
  if (written) *written = 0;
  if (length < 0 || (!data && length > 0)) return kLnkioErrParameter;
  auto link = CurrentLink();
  if (!link) return kLnkioErrNotOpen;
  std::size_t taken = 0;
  const int code = link->Write(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(length), &taken);
  if (written) *written = static_cast<int32_t>(taken);
  return code;
}

int32_t LNKIO_Read(void* buffer, int32_t size, int32_t* length) {
  if (length) *length = 0;
  if (!buffer || !length || size < 0) return kLnkioErrParameter;
  auto link = CurrentLink();
  if (!link) return kLnkioReadNothing;
  std::size_t got = 0;
  const int code = link->Read(static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(size), &got);
  *length = static_cast<int32_t>(got);
  return code;
}

int32_t LNKIO_Close(void) {
  CloseCurrent();
  return kLnkioOk;
}

int32_t LNKIO_SetNoFlow(uint8_t noFlow) {
  auto link = CurrentLink();
  if (!link) return kLnkioErrNotOpen;
  return link->SetNoFlow(noFlow != 0) ? kLnkioOk : kLnkioErrIo;
}

int32_t LNKIO_GetIsOpen(void) {
  auto link = CurrentLink();
  return link && link->IsOpen() ? 1 : 0;
}

int32_t LNKIO_GetIsOnLine(void) {
  auto link = CurrentLink();
  return link && link->IsOnline() ? 1 : 0;
}

int32_t LNKIO_Terminate(void) {
  CloseCurrent();
  return kLnkioOk;
}

int32_t LNKIO_WaitReadable(int32_t timeoutMs) {
  auto link = CurrentLink();
  if (!link) return 1;
  return link->WaitReadable(timeoutMs);
}

int32_t LNKIO_GetOpenError(int32_t* osError, char* device, int32_t deviceSize) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (osError) *osError = g_openFailure.osError;
  if (device && deviceSize > 0) {
    const std::size_t n = std::min(g_openFailure.device.size(), static_cast<std::size_t>(deviceSize - 1));
    std::memcpy(device, g_openFailure.device.data(), n);
    device[n] = '\0';
  }
  return g_openCode;
}

int32_t FirmwareCompare(void) { return kLnkioErrUnsupported; }
int32_t FirmwareUpdate(void) { return kLnkioErrUnsupported; }
int32_t RegisteredCallbackProgress(void) { return kLnkioErrUnsupported; }
int32_t GetFirmware(void) { return kLnkioErrUnsupported; }
int32_t FirmwareUpload(void) { return kLnkioErrUnsupported; }

}  // extern "C"
