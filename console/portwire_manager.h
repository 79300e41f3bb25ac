#pragma once
// Binds the communication library at run time by file name and resolves the
// eight entry points that the adjustment needs.

#include "console/portwire.h"
#include "platform/module.h"

namespace tw::console {

class CPortwireManager : public IPortwireLibrary {
 public:
  using InitializeFn = int32_t(PW_CALL*)();
  using TerminateFn = int32_t(PW_CALL*)();
  using OpenFn = int32_t(PW_CALL*)(int32_t);
  using CloseFn = int32_t(PW_CALL*)();
  using ReadFn = int32_t(PW_CALL*)(uint8_t*, uint32_t, uint32_t*, int32_t);
  using WriteFn = int32_t(PW_CALL*)(const uint8_t*, uint32_t, uint32_t*, int32_t);
  using SetPortFn = int32_t(PW_CALL*)(PortSettings*);
  using SetFlowCtrlForcedFn = int32_t(PW_CALL*)(int32_t);

  static constexpr int32_t kPortAlreadyOpen = static_cast<int32_t>(0x80000002u);
  static constexpr uint32_t kReadBlockSize = 256;

  CPortwireManager() = default;
  ~CPortwireManager() override;
  CPortwireManager(const CPortwireManager&) = delete;
  CPortwireManager& operator=(const CPortwireManager&) = delete;

  bool Load() override;
  bool IsLoaded() const override { return module_.IsLoaded(); }
  void ReleasePort() override;
  // Asks the port-access library that the communication library loaded (its
  // optional LNKIO_GetOpenError) why the port did not open.
  std::string WhyNotOpened(const PortSettings& settings) override;

  int32_t Open(const PortSettings* settings) override;
  int32_t Close() override;
  int32_t Read(ByteArray& reply, int32_t timeoutMs) override;
  int32_t Write(const uint8_t* data, uint32_t count, uint32_t* written, int32_t timeoutMs) override;

 private:
  void Forget();

  platform::Module module_;
  InitializeFn initialize_ = nullptr;
  TerminateFn terminate_ = nullptr;
  OpenFn open_ = nullptr;
  CloseFn close_ = nullptr;
  ReadFn read_ = nullptr;
  WriteFn write_ = nullptr;
  SetPortFn setPort_ = nullptr;
  SetFlowCtrlForcedFn setFlowCtrlForced_ = nullptr;
};

}  // namespace tw::console
