// The console program's command line: arbitrary argument lists (NUL-separated
// in the input) through the option parser. The parser must never read past an
// argument's end, overflow a field or crash, whatever the user types.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console/option_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each argument in a heap block of its exact size, so a read past its end
  // is caught.
  std::vector<std::string> args{"Trimsense"};
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<std::vector<char>> blocks;
  std::vector<char*> argv;
  blocks.reserve(args.size());
  for (const std::string& a : args) {
    blocks.emplace_back(a.begin(), a.end());
    blocks.back().push_back('\0');
    argv.push_back(blocks.back().data());
  }
  argv.push_back(nullptr);

  tw::console::COptionInfo options;
  const int rc = options.Parse(static_cast<int>(args.size()), argv.data());
  if (rc != 0 && rc != -1) __builtin_trap();
  return 0;
}
