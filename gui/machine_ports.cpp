#include "gui/enum_port.h"
#include "platform/port_names.h"

namespace tw::gui {
namespace {

// The ports the platform's port name table knows; USB printers come from the
// platform's device listing.
class MachinePorts : public IPortSource {
 public:
  std::vector<int> ComPortNumbers() override { return platform::ListComPorts(); }
  std::vector<int> LptPortNumbers() override { return platform::ListLptPorts(); }
  std::vector<UsbMember> UsbMembers(int /*usbClass*/) override { return {}; }
};

}  // namespace

IPortSource& MachinePortSource() {
  static MachinePorts ports;
  return ports;
}

}  // namespace tw::gui
