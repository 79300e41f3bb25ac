#pragma once
// May the current user open a port's device node, and if not, what fixes it.
// For a port listing that a technician reads before calling for help.
//
// Linux: the node's owner, group and mode against the process's rights. The
// fix names the usual remedies: membership of the group that owns the node
// ("dialout" for serial lines, "lp" for printers), a fresh login when the
// membership is newer than the session, the package's udev rule for nodes
// that only root may open, and the usblp module for a missing /dev/usb/lpN.
// Windows: no group grants access to a port, so every user may open it.

#include <string>

namespace tw::platform {

struct PortAccess {
  bool mayOpen = false;
  std::string fix;   // one line, empty when mayOpen
};

PortAccess CheckPortAccess(const std::string& deviceNode);

}  // namespace tw::platform
