// Printer procedures of the port manager: fixed command and reply sequences
// run against whichever backend is current.

#include <algorithm>

#include "portlib/manager/kp_comm.h"
#include "portlib/manager/printer_command_bytes.h"

namespace tw::portwire {
namespace {

using namespace printer;

constexpr uint32_t kReplyMaxBytes = 80;      // every reply is read into 80 bytes
constexpr size_t kQueryTextUnits = 80;       // model name / code texts
constexpr int kBufferClearAttempts = 10;
constexpr uint32_t kBufferClearPauseMs = 1;
constexpr int kModelNameAttempts = 5;
constexpr uint32_t kModelNamePauseMs = 100;
constexpr uint32_t kRouteSwitchPauseMs = 1000;
constexpr int32_t kReplyEvent = 0x60002;     // driver path: replies apart from data
constexpr char16_t kGenericSlipModel[] = u"KP-S300";
constexpr char16_t kModelNameKey[] = u"KP.PrinterID.67";

void CopyField(PortText& to, const PortText& from) { std::copy(std::begin(from), std::end(from), std::begin(to)); }

bool ContainsLowered(std::u16string_view text, std::u16string_view lowerNeedle) {
  std::u16string lowered(text);
  for (char16_t& c : lowered) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return lowered.find(lowerNeedle) != std::u16string::npos;
}

}  // namespace

Result KPComm::SendCommand(std::span<const uint8_t> bytes) {
  uint32_t written = 0;
  // Write applies the route's timeout rule to -1.
  return Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written, -1);
}

Result KPComm::ReadReply(std::vector<uint8_t>& reply, uint32_t maxBytes) {
  reply.clear();
  CCommBase* current = current_.load();
  if (current == nullptr) return kResultNotOpen;
  std::vector<uint8_t> buffer(maxBytes, 0);
  uint32_t length = 0;
  const Result r = current->Read(buffer.data(), maxBytes, &length, ResolveReadTimeout(-1));
  if (r != kResultOk) return r;
  buffer.resize(std::min(length, maxBytes));
  reply = std::move(buffer);
  return kResultOk;
}

Result KPComm::EnableStatusBack(bool realTime) {
  if (!IsPortOpen()) return kResultNotOpen;
  return realTime ? SendCommand(kStatusBackRealTime) : SendCommand(kStatusBack);
}

Result KPComm::ClearPrinterBuffers() {
  if (!IsPortOpen()) return kResultNotOpen;
  const Result sent = SendCommand(kBufferClear);
  if (sent != kResultOk) return sent;
  std::vector<uint8_t> reply;
  for (int attempt = 0; attempt < kBufferClearAttempts; ++attempt) {
    EnsureInitialized();
    if (!IsPortOpen()) return kResultFailed;
    if (ReadReply(reply, kReplyMaxBytes) != kResultOk) return kResultFailed;
    if (std::ranges::equal(reply, kBufferClearReply)) return kResultOk;
    environment_.sleep(kBufferClearPauseMs);
  }
  return kResultFailed;
}

Result KPComm::QueryModelName(char16_t* out) {
  if (out == nullptr) return kResultBufferTooSmall;
  if (!IsPortOpen()) return kResultNotOpen;
  const Result sent = SendCommand(kModelNameQuery);
  if (sent != kResultOk) return sent;
  Result result = kResultFailed;
  std::vector<uint8_t> reply;
  for (int attempt = 0; attempt < kModelNameAttempts; ++attempt) {
    if (attempt > 0) environment_.sleep(kModelNamePauseMs);
    EnsureInitialized();
    if (!IsPortOpen()) {
      result = kResultNotOpen;
      continue;
    }
    result = ReadReply(reply, kReplyMaxBytes);
    if (result != kResultOk) continue;
    const auto mark = std::find(reply.begin(), reply.end(), static_cast<uint8_t>('_'));
    if (mark == reply.end() || mark + 1 == reply.end()) {
      result = kResultFailed;
      continue;
    }
    // The name runs to its zero byte; a reply that stops short ends it too.
    size_t copied = 0;
    for (auto it = mark + 1; copied < kQueryTextUnits; ++it) {
      const uint8_t byte = (it < reply.end()) ? *it : 0;
      out[copied++] = static_cast<char16_t>(byte);
      if (byte == 0) return kResultOk;
    }
    // 80 characters without an end: not a name.
    out[kQueryTextUnits - 1] = u'\0';
    return kResultFailed;
  }
  return result;
}

Result KPComm::QueryModelCode(char16_t* out) {
  if (out == nullptr) return kResultBufferTooSmall;
  if (!IsPortOpen()) return kResultNotOpen;
  const Result sent = SendCommand(kModelCodeQuery);
  if (sent != kResultOk) return sent;
  EnsureInitialized();
  if (!IsPortOpen()) return kResultNotOpen;
  std::vector<uint8_t> reply;
  const Result r = ReadReply(reply, kReplyMaxBytes);
  if (r != kResultOk) return r;
  // The driver path hands this reply over apart from data: the read then
  // yields a single byte and the reply waits in the reply queue.
  if (Route() == kRouteDriverSoftware && reply.size() == 1) {
    std::optional<std::vector<uint8_t>> queued = replyQueue_.Pop();
    if (!queued) return kResultFailed;
    reply = std::move(*queued);
  }
  if (reply.size() < 5 || reply[0] != 0x37 || reply[1] != 0x4D || reply[2] != 0x43) return kResultFailed;
  size_t copied = 0;
  for (size_t i = 3; i < reply.size() && copied + 1 < kQueryTextUnits; ++i) {
    const uint8_t byte = reply[i];
    if (byte == 0x00 || byte == 0x1D || byte == 0x1F) break;
    out[copied++] = static_cast<char16_t>(byte);
  }
  out[copied] = u'\0';
  return kResultOk;
}

Result KPComm::GetModelName(char16_t* out) {
  if (out == nullptr) return kResultBufferTooSmall;
  if (!IsPortOpen()) return kResultNotOpen;
  Purge();
  char16_t name[kPortTextUnits] = {};
  const Result r = QueryModelName(name);
  if (r != kResultOk) return r;
  std::copy(std::begin(name), std::end(name), out);

  if (std::u16string_view(name) == kGenericSlipModel) {
    // One generic answer covers several models; the model code tells them apart.
    const bool driverPath = Route() == kRouteDriverSoftware && RouteKind() == kRouteKindDriverPath && driverPath_;
    if (driverPath) {
      replyQueue_.Clear();
      driverPath_->RegisterDeviceStateCallback(kReplyEvent, driverPath_->ReplyCallback(), this);
    }
    char16_t code[kQueryTextUnits] = {};
    const Result c = QueryModelCode(code);
    if (driverPath) driverPath_->UnregisterDeviceStateCallback(kReplyEvent, driverPath_->ReplyCallback(), this);
    if (c == kResultOk) {
      std::fill(out, out + kPortTextUnits, u'\0');
      std::copy(std::begin(code), std::end(code), out);
    }
  }
  if (RouteKind() == kRouteKindPortService && portService_) portService_->SetCustomValueString(kModelNameKey, out);
  return kResultOk;
}

CCommBase* KPComm::ServiceBackendForFindPort(int32_t routeKind) const {
  if (routeKind == kRouteKindPortService) return portService_.get();
  if (routeKind == kRouteKindDriverPath) return driverPath_.get();
  if (portServiceAvailable_.load() && portService_) return portService_.get();
  if (driverPathAvailable_.load() && driverPath_) return driverPath_.get();
  return nullptr;
}

Result KPComm::CommunicationTest(PortSettings* record) {
  if (record == nullptr) return kResultInvalidArgument;
  EnsureInitialized();

  PortSettings test = MakeDefaultPortSettings();
  CopyField(test.portType, record->portType);
  CopyField(test.portName, record->portName);
  CopyField(test.servicePortName, record->servicePortName);
  if (EqualsIgnoreCase(GetText(record->portType), u"COM")) {
    test.baudRate = record->baudRate;
    test.parity = record->parity;
    test.flowControl = record->flowControl;
    if (record->route != kRouteDriverSoftware) test.dataBits = record->dataBits;
  }
  if (ContainsLowered(GetText(record->deviceName), u"tcp://")) {
    test = *record;
  } else if (auto* service = static_cast<CServiceCommBase*>(ServiceBackendForFindPort(record->routeKind))) {
    service->FindPort(&test);
  }

  Result r = SetPort(&test);
  if (r != kResultOk) return r;
  const int32_t rememberedRoute = Route();
  r = Open(1);
  if (r != kResultOk) return r;
  const int32_t newRoute = Route();
  if (newRoute != rememberedRoute) {
    // Opening moved the port to another route: close it on the old one and
    // open it again on the new one.
    ModifyCurrentSettings([&](PortSettings& s) { s.route = rememberedRoute; });
    Close();
    environment_.sleep(kRouteSwitchPauseMs);
    ModifyCurrentSettings([&](PortSettings& s) { s.route = newRoute; });
    r = Open(1);
    if (r != kResultOk) return r;
  }
  const int32_t routeKind = RouteKind();
  record->routeKind = routeKind;

  if (Route() == kRouteDriverSoftware && EqualsIgnoreCase(GetText(test.portType), u"COM")) {
    CServiceCommBase* service = routeKind == kRouteKindPortService ? portService_.get()
                                : routeKind == kRouteKindDriverPath ? driverPath_.get()
                                                                    : nullptr;
    if (service == nullptr) {
      Close();
      return kResultFailed;
    }
    r = service->VerifySerialSettings(&test);
    if (r != kResultOk) {
      Close();
      return r;
    }
  }

  if (IsPortOpen()) {
    CCommBase* current = current_.load();
    r = current->RecoverySending();
    if (r == kResultOk) {
      EnsureInitialized();
      current->RecoverySending();
      r = current->Initialize(1);
      if (r == kResultOk) r = GetModelName(record->modelName);
    }
  } else {
    r = kResultNotOpen;
  }
  Close();
  return r;
}

}  // namespace tw::portwire
