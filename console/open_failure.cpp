#include "console/open_failure.h"

#include "platform/os_error.h"
#include "platform/text.h"

namespace tw::console {
namespace {

platform::DeviceAccess AccessKind(std::u16string_view portType) {
  if (portType == u"COM" || portType == u"BT") return platform::DeviceAccess::kSerial;
  if (portType == u"LPT") return platform::DeviceAccess::kParallel;
  if (portType == u"USB") return platform::DeviceAccess::kUsbPrinter;
  return platform::DeviceAccess::kOther;
}

}  // namespace

std::string DescribeOpenFailure(const PortSettings& settings, const OpenFailure& failure) {
  const std::string port = platform::Utf16ToUtf8(GetText(settings.portName));
  std::string line = "Trimsense: cannot open " + (port.empty() ? std::string("the port") : port);
  if (!failure.known) return line + ": the communication library gave no reason";
  if (!failure.device.empty() && failure.device != port) line += " (" + failure.device + ")";
  if (failure.osError == 0) return line + ": no such port";
  line += ": " + platform::OsErrorText(failure.osError);
  const std::string group = platform::AccessGroupFor(AccessKind(GetText(settings.portType)), failure.osError);
  if (!group.empty()) line += "; members of group " + group + " may open it";
  return line;
}

}  // namespace tw::console
