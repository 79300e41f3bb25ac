#include "platform/port_access.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tw::platform {
namespace {

bool ProcessHoldsGroup(gid_t gid) {
  if (getegid() == gid) return true;
  const int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// The group's name and whether the database lists the user in it (as a
// member, or as the user's primary group).
void ReadGroup(gid_t gid, std::string& name, bool& listsUser) {
  std::vector<char> buffer(16384);
  group g{};
  group* found = nullptr;
  if (getgrgid_r(gid, &g, buffer.data(), buffer.size(), &found) != 0 || !found) return;
  name = found->gr_name ? found->gr_name : "";

  std::vector<char> pwBuffer(16384);
  passwd pw{};
  passwd* me = nullptr;
  if (getpwuid_r(geteuid(), &pw, pwBuffer.data(), pwBuffer.size(), &me) != 0 || !me) return;
  if (me->pw_gid == gid) listsUser = true;
  for (char** member = found->gr_mem; member && *member; ++member) {
    if (me->pw_name && std::strcmp(*member, me->pw_name) == 0) listsUser = true;
  }
}

}  // namespace

PortAccess CheckPortAccess(const std::string& node, DeviceAccess kind) {
  NodeFacts facts;
  UserFacts user;
  struct stat st{};
  if (!node.empty() && stat(node.c_str(), &st) == 0) {
    facts.exists = true;
    facts.mode = st.st_mode & 0777;
    facts.groupGid = st.st_gid;
    // As the process, ACLs included (the seat's uaccess is an ACL).
    facts.accessError = faccessat(AT_FDCWD, node.c_str(), R_OK | W_OK, AT_EACCESS) == 0 ? 0 : errno;
    ReadGroup(st.st_gid, facts.groupName, user.inNodeGroupListed);
    user.inNodeGroupNow = ProcessHoldsGroup(st.st_gid);
  }
  return JudgePortAccess(node, kind, facts, user);
}

}  // namespace tw::platform
