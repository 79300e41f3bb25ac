#include "console/portwire_manager.h"

#include <algorithm>
#include <cstring>

#include "lnkio/lnkioapi.h"

namespace tw::console {

CPortwireManager::~CPortwireManager() {
  if (module_.IsLoaded()) {
    if (terminate_) terminate_();
    Forget();
  }
}

void CPortwireManager::Forget() {
  module_.Unload();
  initialize_ = nullptr;
  terminate_ = nullptr;
  open_ = nullptr;
  close_ = nullptr;
  read_ = nullptr;
  write_ = nullptr;
  setPort_ = nullptr;
  setFlowCtrlForced_ = nullptr;
}

bool CPortwireManager::Load() {
  if (module_.IsLoaded()) return true;
  module_ = platform::Module::Load(u"Portwire.dll");
  if (!module_.IsLoaded()) return false;
  initialize_ = module_.Function<InitializeFn>("KPC_Initialize");
  terminate_ = module_.Function<TerminateFn>("KPC_Terminate");
  open_ = module_.Function<OpenFn>("KPC_Open");
  close_ = module_.Function<CloseFn>("KPC_Close");
  read_ = module_.Function<ReadFn>("KPC_Read");
  write_ = module_.Function<WriteFn>("KPC_Write");
  setPort_ = module_.Function<SetPortFn>("KPC_SetPort");
  setFlowCtrlForced_ = module_.Function<SetFlowCtrlForcedFn>("KPC_SetFlowCtrlForced");
  if (!initialize_ || !terminate_ || !open_ || !close_ || !read_ || !write_ || !setPort_ ||
      !setFlowCtrlForced_) {
    if (terminate_) terminate_();
    Forget();
    return false;
  }
  return true;
}

namespace {

// The port-access library's account of its last open. The library keeps no
// reason of its own: the port-access library it loaded into this process
// does. Found, never loaded, here.
OpenFailure LastLinkFailure() {
  OpenFailure failure;
  const platform::Module portAccess = platform::Module::FindLoaded(u"lnkioapi.dll");
  if (const auto getOpenError = portAccess.Function<lnkio::GetOpenErrorFn>("LNKIO_GetOpenError")) {
    char device[512] = {};
    int32_t osError = 0;
    if (getOpenError(&osError, device, static_cast<int32_t>(sizeof device)) != kLnkioOk) {
      failure.known = true;
      failure.osError = osError;
      failure.device = device;
    }
  }
  return failure;
}

}  // namespace

std::string CPortwireManager::WhyNotOpened(const PortSettings& settings) {
  if (!module_.IsLoaded()) {
    return "Trimsense: cannot load the communication library " + platform::NativeModuleFileName(u"Portwire.dll") +
           " (missing, or without the functions this program needs)";
  }
  return DescribeOpenFailure(settings, LastLinkFailure());
}

std::string CPortwireManager::WhyNotLinked(const PortSettings& settings) {
  if (!module_.IsLoaded()) return {};
  const OpenFailure failure = LastLinkFailure();
  return failure.known ? DescribeOpenFailure(settings, failure) : std::string();
}

void CPortwireManager::ReleasePort() {
  if (!module_.IsLoaded()) return;
  setFlowCtrlForced_(0);
  close_();
}

int32_t CPortwireManager::Open(const PortSettings* settings) {
  if (!module_.IsLoaded()) return 4;
  // The library only reads the record, but its entry point is not const.
  ::PortSettings copy;
  static_assert(sizeof copy == sizeof *settings);
  std::memcpy(&copy, settings, sizeof copy);
  setPort_(&copy);
  const int32_t result = open_(1);
  if (result == PW_ALREADY_OPEN) return 0;
  if (result != 0) return 2;
  initialize_();
  setFlowCtrlForced_(1);
  return 0;
}

int32_t CPortwireManager::Close() {
  if (!module_.IsLoaded()) return 4;
  setFlowCtrlForced_(0);
  return close_() != 0 ? 0x7FFFFFFF : 0;
}

int32_t CPortwireManager::Read(ByteArray& reply, int32_t timeoutMs) {
  reply.clear();
  if (!module_.IsLoaded()) return 4;
  uint8_t buffer[kReadBlockSize] = {};
  uint32_t received = 0;
  if (read_(buffer, kReadBlockSize, &received, timeoutMs) != 0) return 3;
  // Never trust a count beyond the buffer we handed out.
  received = std::min<uint32_t>(received, kReadBlockSize);
  reply.assign(buffer, buffer + received);
  return 0;
}

int32_t CPortwireManager::Write(const uint8_t* data, uint32_t count, uint32_t* written, int32_t timeoutMs) {
  if (!module_.IsLoaded()) return -1;
  return write_(data, count, written, timeoutMs) != 0 ? 3 : 0;
}

}  // namespace tw::console
