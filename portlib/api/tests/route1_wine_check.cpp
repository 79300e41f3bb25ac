// Windows check of route 1 (scripts/wine/50-route1.sh): loads Portwire.dll by
// name and runs KPC_CommunicationTest with a record that names a port of the
// simulated maker's software by its port name (the library finds its device
// name in the software's port list). Prints the model name and the access
// version.
// Usage: route1_wine_check PORT_NAME EXPECTED_ACCESS_VERSION
// Exit code 0 when the test succeeds with a model name and that version.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/module.h"
#include "portwire.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: route1_wine_check PORT_NAME EXPECTED_ACCESS_VERSION\n");
    return 2;
  }
  tw::platform::Module lib = tw::platform::Module::Load(u"Portwire.dll");
  auto test = lib.Function<decltype(&KPC_CommunicationTest)>("KPC_CommunicationTest");
  auto terminate = lib.Function<decltype(&KPC_Terminate)>("KPC_Terminate");
  if (!test || !terminate) {
    std::fprintf(stderr, "Portwire.dll or its functions not found\n");
    return 1;
  }
  PortSettings record;
  std::memset(&record, 0, sizeof record);
  const char* type = "NET";
  for (size_t i = 0; type[i]; ++i) record.portType[i] = static_cast<uint16_t>(type[i]);
  const std::string port = argv[1];
  for (size_t i = 0; i < port.size() && i < 259; ++i) record.portName[i] = static_cast<uint16_t>(port[i]);
  record.readTimeout = 2000;
  record.writeTimeout = 2000;
  record.route = 1;
  const int32_t rc = test(&record);
  std::string model;
  for (size_t i = 0; i < 260 && record.modelName[i]; ++i) model += static_cast<char>(record.modelName[i]);
  std::printf("result=0x%X\nmodel=%s\naccess_version=%d\n", static_cast<unsigned>(rc), model.c_str(),
              record.routeKind);
  terminate();
  const bool ok = rc == 0 && !model.empty() && record.routeKind == std::atoi(argv[2]);
  return ok ? 0 : 1;
}
