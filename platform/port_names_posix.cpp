#include "platform/port_names.h"

#include <cctype>
#include <set>
#include <string>
#include <system_error>

#include "platform/process.h"

namespace fs = std::filesystem;

namespace tw::platform {
namespace {

fs::path DosDevicesFolder() {
  auto env = GetEnv("PORTWIRE_DOSDEVICES");
  return env && !env->empty() ? fs::path(*env) : fs::path(kDefaultDosDevicesFolder);
}

struct Family {
  const char* linkPrefix;   // "com"
  const char* nodePrefix;   // "/dev/ttyS"
  int max;
};

constexpr Family kCom{"com", "/dev/ttyS", kMaxComPort};
constexpr Family kLpt{"lpt", "/dev/lp", kMaxLptPort};

std::optional<fs::path> Resolve(const Family& f, int n) {
  if (n < 1 || n > f.max) return std::nullopt;
  const fs::path link = DosDevicesFolder() / (std::string(f.linkPrefix) + std::to_string(n));
  std::error_code ec;
  if (fs::is_symlink(link, ec)) return link;
  return fs::path(std::string(f.nodePrefix) + std::to_string(n - 1));
}

// The number in "com12" / "ttyS11" (plus offset), or 0.
int NumberAfter(const std::string& name, const std::string& prefix, int offset) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string digits = name.substr(prefix.size());
  if (digits.size() > 4) return 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
  }
  return std::stoi(digits) + offset;
}

std::vector<int> List(const Family& f) {
  std::set<int> candidates;
  std::error_code ec;
  for (fs::directory_iterator it(DosDevicesFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    if (int n = NumberAfter(it->path().filename().string(), f.linkPrefix, 0)) candidates.insert(n);
  }
  const fs::path node(f.nodePrefix);
  ec.clear();
  for (fs::directory_iterator it(node.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    if (int n = NumberAfter(it->path().filename().string(), node.filename().string(), 1)) candidates.insert(n);
  }
  std::vector<int> result;
  for (int n : candidates) {
    auto path = Resolve(f, n);
    std::error_code e;
    if (path && fs::exists(*path, e)) result.push_back(n);  // exists() follows the link
  }
  return result;
}

}  // namespace

std::optional<fs::path> ResolveComPort(int n) { return Resolve(kCom, n); }
std::optional<fs::path> ResolveLptPort(int n) { return Resolve(kLpt, n); }
std::vector<int> ListComPorts() { return List(kCom); }
std::vector<int> ListLptPorts() { return List(kLpt); }

}  // namespace tw::platform
