#include "portlib/backends/comm_base.h"

namespace tw::portwire {

bool CCommBase::Load() { return true; }
Result CCommBase::Open(int32_t) { return kResultOk; }
Result CCommBase::Close() { return kResultOk; }
Result CCommBase::Read(uint8_t*, uint32_t, uint32_t*, int32_t) { return kResultOk; }
Result CCommBase::Write(const uint8_t*, uint32_t, uint32_t*, int32_t) { return kResultOk; }
Result CCommBase::Initialize(int32_t) { return kResultOk; }
Result CCommBase::Unload() { return kResultOk; }
Result CCommBase::Reset() { return kResultOk; }
Result CCommBase::Purge() { return kResultOk; }
Result CCommBase::SetFlowCtrlForced(int32_t) { return kResultOk; }
Result CCommBase::SetDisableOffOffline() { return kResultOk; }
Result CCommBase::SetResponseACK(int32_t) { return kResultOk; }
Result CCommBase::TranslateResult(int32_t) { return kResultOk; }
int32_t CCommBase::DeviceStateToStatus(const uint32_t*) { return 0; }
Result CCommBase::RegisterDeviceStateCallback(int32_t, void*, void*) { return kResultOk; }
Result CCommBase::UnregisterDeviceStateCallback(int32_t, void*, void*) { return kResultOk; }
Result CCommBase::RecoverySending() { return kResultOk; }
Result CCommBase::ReopenPort() { return kResultOk; }
Result CCommBase::SetPortConnector(int32_t) { return kResultOk; }

Result CCommBase::IsPortConnectorEnabled(int32_t* outEnabled) {
  if (outEnabled != nullptr) *outEnabled = 0;
  return kResultOk;
}

Result CCommBase::GetPortName(char16_t*) { return kResultFailed; }
void CCommBase::SetResponseStore(IStoreResponse*) {}

bool CServiceCommBase::LoadConfiguration() { return true; }
Result CServiceCommBase::FindPort(PortSettings*) { return kResultFailed; }
Result CServiceCommBase::VerifySerialSettings(const PortSettings*) { return kResultFailed; }
Result CServiceCommBase::ApplySerialSettings(const PortSettings*) { return kResultFailed; }
Result CServiceCommBase::QueryPortInfo(PortSettings*) { return kResultFailed; }
Result CServiceCommBase::EnumeratePorts() { return kResultFailed; }
Result CServiceCommBase::RenameNetworkPort(const PortSettings*) { return kResultFailed; }
Result CServiceCommBase::SetCustomValueString(const char16_t*, const char16_t*) { return kResultFailed; }
void* CServiceCommBase::ReplyCallback() const { return nullptr; }

}  // namespace tw::portwire
