#include "portlib/notify/device_change.h"

#include <string>

#include "portlib/backends/direct_comm.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire {
namespace {

std::u16string Lowered(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return out;
}

void Removal(CDirectComm& direct, KPComm& owner, const std::u16string& name) {
  if (owner.Route() == kRouteDriverSoftware || direct.LinkUp() != 1) return;
  // The stored service port name is compared (and kept) in lower case.
  std::u16string service;
  owner.ModifyCurrentSettings([&service](PortSettings& s) {
    service = Lowered(GetText(s.servicePortName));
    SetText(s.servicePortName, service);
  });
  if (service.find(name) == std::u16string::npos) return;
  direct.StopMonitor(CDirectComm::kStopWaitMs);
  direct.CloseLinkAfterRemoval();
  direct.NotifyLinkLost();
}

Result Arrival(CDirectComm& direct, KPComm& owner) {
  if (owner.Route() == kRouteDriverSoftware) return kResultOk;
  if (direct.OpenState() != kClosedState) {
    if (direct.LibraryHoldsLink()) return kResultOk;
    if (!direct.BuildOpenBlock()) return kResultFailed;
    // The printer may have come back in the other USB class.
    if (direct.RelinkWhileOpen() == CDirectComm::Relink::kFailed && direct.SwitchUsbClass()) {
      direct.RelinkWhileOpen();
    }
  }
  if (owner.HasStatusCallback()) direct.ReconnectStatusStep(false, true);
  return kResultOk;
}

}  // namespace

bool ConcernsThisLibrary(std::u16string_view deviceName) {
  const std::u16string name = Lowered(deviceName);
  return name.find(u"vid_7a5e&pid_0202") != std::u16string::npos ||
         name.find(u"vid_7a5e&pid_0e") != std::u16string::npos;
}

Result HandleDeviceChange(CDirectComm& direct, const platform::DeviceEvent& event) {
  const auto gate = direct.DeviceEventGate();
  KPComm* owner = direct.Owner();
  if (owner == nullptr || !direct.IsLoaded()) return kResultOk;
  const std::u16string name = Lowered(event.deviceName.substr(0, kPortTextMaxChars));
  if (!ConcernsThisLibrary(name)) return kResultOk;
  if (event.arrival) return Arrival(direct, *owner);
  Removal(direct, *owner, name);
  return kResultOk;
}

CDeviceChangeNotifier::CDeviceChangeNotifier(CDirectComm& direct) : direct_(direct) {}

CDeviceChangeNotifier::~CDeviceChangeNotifier() { TearDown(); }

bool CDeviceChangeNotifier::SetUp() {
  // Set up once per backend; a second Load keeps the watcher it has.
  if (watcher_) return true;
  watcher_ = platform::DeviceEventWatcher::Start(
      [this](const platform::DeviceEvent& event) { HandleDeviceChange(direct_, event); });
  return watcher_ != nullptr;
}

void CDeviceChangeNotifier::TearDown() { watcher_.reset(); }

}  // namespace tw::portwire
