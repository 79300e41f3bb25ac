#include "platform/port_names.h"

#include <string>
#include <system_error>

#include "platform/machine_ports.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace tw::platform {
namespace {

fs::path DosDevicesFolder() {
  auto env = GetEnv("PORTWIRE_DOSDEVICES");
  return env && !env->empty() ? fs::path(*env) : fs::path(kDefaultDosDevicesFolder);
}

}  // namespace

// COMn: the link "comN" when there is one, else the device of the number
// table (machine_ports.h). A number without either resolves to its link's
// place, which does not exist, so opening it fails as "no device".
std::optional<fs::path> ResolveComPort(int n) {
  if (n < 1 || n > kMaxComPort) return std::nullopt;
  const fs::path link = DosDevicesFolder() / ("com" + std::to_string(n));
  std::error_code ec;
  if (fs::is_symlink(link, ec)) return link;
  const std::string tty = TtyOfComNumber(n);
  return tty.empty() ? link : fs::path("/dev/" + tty);
}

std::optional<fs::path> ResolveLptPort(int n) {
  if (n < 1 || n > kMaxLptPort) return std::nullopt;
  const fs::path link = DosDevicesFolder() / ("lpt" + std::to_string(n));
  std::error_code ec;
  if (fs::is_symlink(link, ec)) return link;
  return fs::path("/dev/lp" + std::to_string(n - 1));
}

std::vector<int> ListComPorts() {
  std::vector<int> numbers;
  for (const SerialPort& p : MachinePorts().SerialPorts()) numbers.push_back(p.number);
  return numbers;
}

std::vector<int> ListLptPorts() {
  std::vector<int> numbers;
  for (const ParallelPort& p : MachinePorts().ParallelPorts()) numbers.push_back(p.number);
  return numbers;
}

}  // namespace tw::platform
