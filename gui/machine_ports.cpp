#include "gui/enum_port.h"
#include "platform/machine_ports.h"
#include "platform/text.h"

namespace tw::gui {
namespace {

// The platform's port service: the same lists, numbers and order as the
// console program and the library see.
class MachinePorts : public IPortSource {
 public:
  std::vector<int> ComPortNumbers() override {
    std::vector<int> numbers;
    for (const auto& p : platform::MachinePorts().SerialPorts()) numbers.push_back(p.number);
    return numbers;
  }
  std::vector<int> LptPortNumbers() override {
    std::vector<int> numbers;
    for (const auto& p : platform::MachinePorts().ParallelPorts()) numbers.push_back(p.number);
    return numbers;
  }
  std::vector<UsbMember> UsbMembers(int usbClass) override {
    std::vector<UsbMember> members;
    for (const auto& p : platform::MachinePorts().UsbPrinters(usbClass)) {
      members.push_back({p.number - 1, platform::Utf8ToUtf16(p.identity)});
    }
    return members;
  }
};

}  // namespace

IPortSource& MachinePortSource() {
  static MachinePorts ports;
  return ports;
}

}  // namespace tw::gui
