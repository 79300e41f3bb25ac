#pragma once
// What the benchmarks need of the library as an outside client: the port
// functions resolved by name from the built library, and a port record.
#include <cstring>
#include <string>

#include "platform/module.h"
#include "portwire.h"
#include "shared/port_settings.h"

namespace tw::bench {

struct PortwireClient {
  tw::platform::Module module;
  decltype(&::KPC_SetPort) SetPort = nullptr;
  decltype(&::KPC_Open) Open = nullptr;
  decltype(&::KPC_Close) Close = nullptr;
  decltype(&::KPC_Read) Read = nullptr;
  decltype(&::KPC_Write) Write = nullptr;
  decltype(&::KPC_Initialize) Initialize = nullptr;
  decltype(&::KPC_Terminate) Terminate = nullptr;
  bool Load() {
    module = tw::platform::Module::Load(u"Portwire.dll");
    SetPort = module.Function<decltype(SetPort)>("KPC_SetPort");
    Open = module.Function<decltype(Open)>("KPC_Open");
    Close = module.Function<decltype(Close)>("KPC_Close");
    Read = module.Function<decltype(Read)>("KPC_Read");
    Write = module.Function<decltype(Write)>("KPC_Write");
    Initialize = module.Function<decltype(Initialize)>("KPC_Initialize");
    Terminate = module.Function<decltype(Terminate)>("KPC_Terminate");
    return SetPort && Open && Close && Read && Write && Initialize && Terminate;
  }
};

// A record for the port: 38400 baud, 8 data bits, 2000 ms time-outs.
inline ::PortSettings Record(const char16_t* type, const std::u16string& name) {
  tw::PortSettings s = tw::MakeZeroPortSettings();
  tw::SetText(s.portType, type);
  tw::SetText(s.portName, name);
  s.readTimeout = s.writeTimeout = 2000;
  s.baudRate = 38400;
  s.dataBits = 8;
  ::PortSettings out;
  std::memcpy(&out, &s, sizeof out);
  return out;
}

}  // namespace tw::bench
