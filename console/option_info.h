#pragma once
// Command line of the console program: which port, its serial parameters, the
// USB class, and whether only the communication test runs.

#include <cstdint>

#include "console/console_io.h"
#include "shared/port_settings.h"

namespace tw::console {

class COptionInfo {
 public:
  COptionInfo();
  virtual ~COptionInfo() = default;

  // 0 when the options name a usable port, -1 otherwise. Unknown options and
  // unusable values are absorbed silently; only "no port" fails.
  int Parse(int argc, char** argv);

  // Banner and usage text.
  static void PrintUsage(IConsole& console);

  PortSettings settings;
  uint8_t testOnly;

 private:
  void ApplyPortNumber(const char* value, const char16_t* type, const char* format);
  void ApplySerialOption(const char* value);
  void ApplyUsbOption(const char* value);
  void ApplyNetworkOption(const char* value);
  bool networkTextTooLong_ = false;
};

}  // namespace tw::console
