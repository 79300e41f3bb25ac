// KPC_EnumDevPort of the Windows Portwire.dll, run under Wine by
// scripts/wine/50-enumdevport.sh: every port type lists without a crash and
// returns 0 (an unknown type 0x80000000); prints one line per type.
#include <cstdio>
#include <vector>

#include "platform/module.h"
#include "portwire.h"

int main() {
  tw::platform::Module module = tw::platform::Module::Load(u"Portwire.dll");
  auto enumDevPort = module.Function<decltype(&::KPC_EnumDevPort)>("KPC_EnumDevPort");
  auto terminate = module.Function<decltype(&::KPC_Terminate)>("KPC_Terminate");
  if (!enumDevPort || !terminate) {
    std::printf("Portwire.dll or KPC_EnumDevPort missing\n");
    return 2;
  }
  std::vector<PortSettings> records(64);
  std::vector<PortSettings*> slots;
  for (auto& r : records) slots.push_back(&r);
  int failures = 0;
  const struct {
    const char16_t* type;
    const char* name;
    int32_t expected;
  } cases[] = {{u"COM", "COM", PW_OK}, {u"USB", "USB", PW_OK}, {u"LPT", "LPT", PW_OK},
               {u"SERIAL", "SERIAL", PW_OK}, {u"XYZ", "XYZ", PW_FAILED}};
  for (const auto& c : cases) {
    uint32_t found = 12345;
    const int32_t r = enumDevPort(reinterpret_cast<const uint16_t*>(c.type), slots.data(),
                                  static_cast<uint32_t>(slots.size()), &found);
    std::printf("%s result=0x%08X found=%u\n", c.name, static_cast<unsigned>(r), found);
    if (r != c.expected || found > slots.size()) ++failures;
  }
  terminate();
  return failures == 0 ? 0 : 1;
}
