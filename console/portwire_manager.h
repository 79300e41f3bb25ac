#pragma once
// Binds the communication library at run time by file name and resolves the
// eight entry points that the adjustment needs.

#include "console/portwire.h"
#include "include/portwire.h"
#include "platform/module.h"

namespace tw::console {

class CPortwireManager : public IPortwireLibrary {
 public:
  // Entry-point types from the library's public header.
  using InitializeFn = decltype(&::KPC_Initialize);
  using TerminateFn = decltype(&::KPC_Terminate);
  using OpenFn = decltype(&::KPC_Open);
  using CloseFn = decltype(&::KPC_Close);
  using ReadFn = decltype(&::KPC_Read);
  using WriteFn = decltype(&::KPC_Write);
  using SetPortFn = decltype(&::KPC_SetPort);
  using SetFlowCtrlForcedFn = decltype(&::KPC_SetFlowCtrlForced);

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
  std::string WhyNotLinked(const PortSettings& settings) override;

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
