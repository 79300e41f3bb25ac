// portwire-ports: lists every port the communication library lists, with the
// options that give it to Trimsense and whether the current user may open it.
//   portwire-ports [--net] [--json]
// Exit codes: 0 listed (also when nothing was found), 1 wrong usage,
// 2 the library or one of its exports is missing, 3 a listing failed.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/module.h"
#include "tools/ports/port_listing.h"

namespace {

constexpr const char* kUsage =
    "Usage: portwire-ports [--net] [--json]\n"
    "Lists the serial, Bluetooth serial, parallel and USB ports that the Portwire\n"
    "library finds, with the options that give each to Trimsense.\n"
    "  --net   also search the network for printer interfaces (3 s or more)\n"
    "  --json  print the listing as JSON\n";

}  // namespace

int main(int argc, char** argv) {
  bool network = false, json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--net") == 0) {
      network = true;
    } else if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "portwire-ports: unknown option %s\n%s", argv[i], kUsage);
      return 1;
    }
  }

  tw::platform::Module library = tw::platform::Module::Load(u"Portwire.dll");
  if (!library.IsLoaded()) {
    std::fprintf(stderr, "portwire-ports: cannot load the library %s\n",
                 tw::platform::NativeModuleFileName(u"Portwire.dll").c_str());
    return 2;
  }
  tw::ports::LibraryPorts lib;
  lib.enumDevPort = library.Function<decltype(lib.enumDevPort)>("KPC_EnumDevPort");
  lib.setPort = library.Function<decltype(lib.setPort)>("KPC_SetPort");
  lib.getPort = library.Function<decltype(lib.getPort)>("KPC_GetPort");
  const auto terminate = library.Function<decltype(&::KPC_Terminate)>("KPC_Terminate");
  if (!lib.enumDevPort || !lib.setPort || !lib.getPort || !terminate) {
    std::fprintf(stderr, "portwire-ports: the library lacks KPC_EnumDevPort, KPC_SetPort, KPC_GetPort or KPC_Terminate\n");
    return 2;
  }

  const tw::ports::Listing listing = tw::ports::ListPorts(lib, network);
  terminate();
  const std::string out = json ? tw::ports::FormatJson(listing) : tw::ports::FormatText(listing.rows);
  std::fputs(out.c_str(), stdout);
  for (const std::string& note : listing.notes) std::fprintf(stderr, "portwire-ports: listing failed: %s\n", note.c_str());
  return listing.complete ? 0 : 3;
}
