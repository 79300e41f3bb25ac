// A client that ends the way programs do on an error path: it loads the
// library, opens a network port, writes, and calls exit(0) without KPC_Close or
// KPC_Terminate. Usage: exit_without_close <IPv4 address of the printer>.
// Exit code 0 after the write went out, 1 when a step before it failed.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/module.h"
#include "portwire.h"

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  tw::platform::Module library = tw::platform::Module::Load(u"Portwire.dll");
  const auto setPort = library.Function<decltype(&::KPC_SetPort)>("KPC_SetPort");
  const auto open = library.Function<decltype(&::KPC_Open)>("KPC_Open");
  const auto write = library.Function<decltype(&::KPC_Write)>("KPC_Write");
  if (!setPort || !open || !write) return 1;

  PortSettings record;
  std::memset(&record, 0, sizeof record);
  const char16_t net[] = u"NET";
  std::memcpy(record.portType, net, sizeof net);
  const std::string address = argv[1];
  for (size_t i = 0; i < address.size() && i + 1 < 260; ++i) record.portName[i] = static_cast<uint16_t>(address[i]);
  record.readTimeout = 2000;
  record.writeTimeout = 2000;
  if (setPort(&record) != PW_OK || open(1) != PW_OK) return 1;
  const uint8_t modelQuery[] = {0x10, 0x14, 0x12, 0x00, 0x00};
  uint32_t written = 0;
  if (write(modelQuery, sizeof modelQuery, &written, 2000) != PW_OK) return 1;
  std::exit(0);  // the library is still loaded and the port still open
}
