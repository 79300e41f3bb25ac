#include "platform/port_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tw::platform {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The group that usually grants a kind of device, by its node's name.
std::string UsualGroup(const std::string& node) {
  const std::string name = node.substr(node.find_last_of('/') + 1);
  for (const char* tty : {"ttyS", "ttyUSB", "ttyACM", "rfcomm"}) {
    if (StartsWith(name, tty)) return "dialout";
  }
  if (StartsWith(name, "lp") || StartsWith(node, "/dev/usb/")) return "lp";
  return {};
}

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group g{};
  group* found = nullptr;
  if (getgrgid_r(gid, &g, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return found->gr_name;
}

// The groups of the user's account (what a new login would give).
std::vector<gid_t> AccountGroups() {
  std::vector<char> buffer(16384);
  passwd p{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &p, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return {};
  }
  groups.resize(static_cast<std::size_t>(count));
  return groups;
}

std::string JoinGroupFix(const std::string& group, gid_t gid) {
  const std::vector<gid_t> account = AccountGroups();
  if (std::find(account.begin(), account.end(), gid) != account.end()) {
    return "log out and in again: this session started before the user joined group " + group;
  }
  return "add the user to group " + group + " (sudo usermod -aG " + group + " $USER), then log in again";
}

}  // namespace

PortAccess CheckPortAccess(const std::string& deviceNode) {
  if (deviceNode.empty()) return PortAccess{false, "no device node"};
  struct stat st{};
  if (::stat(deviceNode.c_str(), &st) != 0) {
    if (errno == EACCES) return PortAccess{false, "a folder on the way to " + deviceNode + " is closed to this user"};
    if (StartsWith(deviceNode, "/dev/usb/lp")) {
      return PortAccess{false, "no " + deviceNode + ": load the usblp module (sudo modprobe usblp)"};
    }
    return PortAccess{false, "no " + deviceNode + ": the device is gone or the link is broken"};
  }
  if (::access(deviceNode.c_str(), R_OK | W_OK) == 0) return PortAccess{true, {}};

  const std::string group = GroupName(st.st_gid);
  const bool groupMayUse = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP);
  if (groupMayUse && st.st_gid != 0 && !group.empty()) return PortAccess{false, JoinGroupFix(group, st.st_gid)};
  if (StartsWith(deviceNode, "/dev/bus/usb/")) {
    return PortAccess{false, "only root may open it: install the udev rule 70-trimsense.rules of the package "
                             "(/usr/lib/udev/rules.d) and plug the printer in again"};
  }
  const std::string usual = UsualGroup(deviceNode);
  return PortAccess{false, "only root may open it: a udev rule must give it MODE=\"0660\"" +
                               (usual.empty() ? std::string() : ", GROUP=\"" + usual + "\"")};
}

}  // namespace tw::platform
