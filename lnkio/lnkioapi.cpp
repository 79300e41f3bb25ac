// The exported functions: one process-wide link, replaced by each Open.
#include "lnkio/lnkioapi.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "lnkio/link.h"
#include "lnkio/link_open_block.h"
#include "lnkio/transport.h"
#include "platform/process.h"

namespace {

using tw::lnkio::Link;

// The current link, why the last LNKIO_Open failed, and their lock. A client's
// own static destructors may close the link at process exit after this
// library, loaded later, was torn down: so this state lives in storage that no
// destructor ends, and the Reaper below only lets go of what it holds.
struct State {
  std::mutex mutex;
  std::shared_ptr<Link> link;
  int32_t openCode = kLnkioOk;
  tw::lnkio::OpenFailure openFailure;
};

State& Current() {
  alignas(State) static unsigned char storage[sizeof(State)];
  static State* const state = new (storage) State();
  return *state;
}

void RememberOpen(int32_t code, tw::lnkio::OpenFailure failure) {
  State& s = Current();
  std::lock_guard<std::mutex> lock(s.mutex);
  // A USB printer is tried in both classes in turn: that the other class has
  // no device of that number must not hide why the device itself failed.
  using Usb = tw::lnkio::OpenFailure::Usb;
  if (failure.usb == Usb::kNotInClass && s.openCode != kLnkioOk && s.openFailure.usb == Usb::kDevice) return;
  s.openCode = code;
  s.openFailure = std::move(failure);
}

std::shared_ptr<Link> CurrentLink() {
  State& s = Current();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.link;
}

void CloseCurrent() {
  State& s = Current();
  std::shared_ptr<Link> old;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    old.swap(s.link);
  }
  // A Write still running on another thread holds its own reference; Shutdown
  // makes it return at once, and the device closes when it lets go.
  if (old) old->Shutdown();
}

// Closes a link still open when the library goes (unloaded, or the process
// ends without LNKIO_Close). At process exit on Windows the reader is already
// gone and the loader lock is held: the OS closes the device then.
struct Reaper {
  Reaper() { Current(); }
  ~Reaper() {
    if (tw::platform::ProcessIsExiting()) return;
    CloseCurrent();
    State& s = Current();
    std::lock_guard<std::mutex> lock(s.mutex);
    // Assigning an empty text would keep the old buffer; swapping hands it to
    // a temporary that frees it, so nothing stays behind after unload.
    std::string().swap(s.openFailure.device);
  }
};
Reaper g_reaper;

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
    State& s = Current();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.link = std::move(link);
    s.openCode = kLnkioOk;
    s.openFailure = {};
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
  State& s = Current();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (osError) *osError = s.openFailure.osError;
  if (device && deviceSize > 0) {
    const std::size_t n = std::min(s.openFailure.device.size(), static_cast<std::size_t>(deviceSize - 1));
    std::memcpy(device, s.openFailure.device.data(), n);
    device[n] = '\0';
  }
  return s.openCode;
}

int32_t FirmwareCompare(void) { return kLnkioErrUnsupported; }
int32_t FirmwareUpdate(void) { return kLnkioErrUnsupported; }
int32_t RegisteredCallbackProgress(void) { return kLnkioErrUnsupported; }
int32_t GetFirmware(void) { return kLnkioErrUnsupported; }
int32_t FirmwareUpload(void) { return kLnkioErrUnsupported; }

}  // extern "C"
