// The console program's checks of the printer's replies during an adjustment:
// the readiness reply and the level reply, with the threshold derived from the
// level. Arbitrary reply bytes must give a verdict, never a read past the reply.

#include <cstddef>
#include <cstdint>

#include "console/printer_commands.h"

using namespace tw::console;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteArray reply(data, data + size);
  commands::IsReadyReply(reply);
  if (const auto level = commands::ParseLevelReply(reply)) {
    const std::uint8_t threshold = commands::ThresholdForLevel(*level);
    if (threshold < 21 || threshold > 81) __builtin_trap();
  }
  return 0;
}
