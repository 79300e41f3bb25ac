#include "platform/port_access.h"

namespace tw::platform {
namespace {

constexpr unsigned kGroupReadWrite = 060;
constexpr int kNoSuchFile = 2;  // ENOENT, the same number on every system we build for

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::string JoinGroupFix(const std::string& group) {
  return "members of group " + group + " may open it: sudo usermod -aG " + group + " $USER, then log in again";
}

// The group that such devices belong to on Linux (what the judgement is
// about, on whatever system it runs).
std::string UsualGroup(DeviceAccess kind) {
  switch (kind) {
    case DeviceAccess::kSerial: return "dialout";
    case DeviceAccess::kParallel:
    case DeviceAccess::kUsbPrinter: return "lp";
    default: return {};
  }
}

// No group may open the node: what would make one, by kind of port.
std::string NoGroupFix(const std::string& node, DeviceAccess kind) {
  if (kind == DeviceAccess::kUsbVendor ||
      (kind == DeviceAccess::kUsbPrinter && StartsWith(node, "/dev/bus/usb/"))) {
    std::string fix;
    if (kind == DeviceAccess::kUsbPrinter) fix = "usblp has not claimed the printer (sudo modprobe usblp), or ";
    return fix + "the udev rule 70-trimsense.rules of the package is missing (it gives group lp and the user at "
                 "the seat access); install it and plug the printer in again";
  }
  const std::string group = UsualGroup(kind);
  if (group.empty()) return "only its owner may open it";
  return "only its owner may open it; a udev rule with GROUP=\"" + group + "\", MODE=\"0660\" lets group " + group +
         " open it";
}

}  // namespace

PortAccess JudgePortAccess(const std::string& node, DeviceAccess kind, const NodeFacts& facts,
                           const UserFacts& user) {
  PortAccess access;
  if (!facts.exists) {
    access.reason = OsErrorText(kNoSuchFile);
    if (kind == DeviceAccess::kUsbPrinter && StartsWith(node, "/dev/usb/lp")) {
      access.fix = "the usblp module is not loaded: sudo modprobe usblp";
    } else {
      access.fix = "the device is not present (unplugged?)";
    }
    return access;
  }
  if (facts.accessError == 0) {
    access.mayOpen = true;
    return access;
  }
  access.reason = OsErrorText(facts.accessError);
  const bool groupMayOpen = (facts.mode & kGroupReadWrite) == kGroupReadWrite && facts.groupGid != 0 &&
                            !facts.groupName.empty();
  if (!groupMayOpen) {
    access.fix = NoGroupFix(node, kind);
    return access;
  }
  access.group = facts.groupName;
  if (user.inNodeGroupListed && !user.inNodeGroupNow) {
    access.fix = "the user is in group " + facts.groupName + ", but this session began before: log in again";
  } else {
    access.fix = JoinGroupFix(facts.groupName);
  }
  return access;
}

}  // namespace tw::platform
