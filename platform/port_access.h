#pragma once
// May the current user open a port's device, and if not, what would let them.
//
// The most common reason a port "does not work" on Linux is a device node the
// user may not open: not a member of dialout or lp, a session started before
// joining the group, a USB device without the udev rule, a printer-class
// device that usblp did not claim. The port lists of the front end and the
// port listing program show this answer next to each port, so that the fix is
// found before a run fails.
//
// Windows: no group grants access to a port and opening one to find out
// would take it from its owner, so the answer is always "may open" there.

#include <string>

#include "platform/os_error.h"

namespace tw::platform {

struct PortAccess {
  bool mayOpen = false;
  // Why not, in the system's words ("Permission denied", "No such file or
  // directory"); empty when mayOpen.
  std::string reason;
  // The group whose members may open it ("dialout", "lp"); empty when no
  // group grants access.
  std::string group;
  // One line (no line end) saying what gives access, e.g. "members of group
  // dialout may open it: sudo usermod -aG dialout $USER, then log in again";
  // empty when mayOpen.
  std::string fix;
};

// Looks at `node` (e.g. /dev/ttyUSB0, /dev/usb/lp0, /dev/bus/usb/001/004) for
// a port of the given kind, for the calling process's user and groups.
// Opens nothing.
PortAccess CheckPortAccess(const std::string& node, DeviceAccess kind);

// ----- The judgement itself, apart from the system calls (same everywhere) -----

// What the system says about a device node.
struct NodeFacts {
  bool exists = false;
  // errno of the check for read and write access as the process (0: granted,
  // ACLs such as the seat's uaccess included).
  int accessError = 0;
  unsigned mode = 0;         // permission bits (0777 part)
  unsigned groupGid = 0;
  std::string groupName;     // empty when the group has no name
};

// Who is asking.
struct UserFacts {
  bool inNodeGroupNow = false;    // the process holds the node's group (primary or supplementary)
  bool inNodeGroupListed = false; // the group database lists the user in the node's group
};

PortAccess JudgePortAccess(const std::string& node, DeviceAccess kind, const NodeFacts& node_facts,
                           const UserFacts& user);

}  // namespace tw::platform
