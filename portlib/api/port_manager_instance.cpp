#include "portlib/api/port_manager_instance.h"

#include "portlib/backends/direct_comm.h"
#include "portlib/backends/gen2_comm.h"
#include "portlib/backends/gen3_comm.h"
#include "portlib/manager/port_enumeration.h"

namespace tw::portwire {
namespace {

KPCommBackends ShippedBackends() {
  KPCommBackends backends;
  backends.portService = std::make_unique<CGen3Comm>();
  backends.driverPath = std::make_unique<CGen2Comm>();
  backends.direct = std::make_unique<CDirectComm>();
  return backends;
}

// A namespace-scope object: constructed at load, destroyed at unload, as the
// library's lifetime is the manager's.
KPComm g_manager(ShippedBackends());

// The listing works on the manager; the manager's SetPort uses the listing to
// find a port's service port name.
CPortEnumeration& Enumeration() {
  static CPortEnumeration enumeration(g_manager);
  return enumeration;
}

const bool g_enumeratorSet = [] {
  g_manager.SetPortEnumerator([](std::u16string_view type, PortSettings* const* array, uint32_t capacity,
                                 uint32_t* count) { return Enumeration().EnumDevPort(type, array, capacity, count); });
  return true;
}();

}  // namespace

KPComm& PortManager() { return g_manager; }

CPortEnumeration& PortEnumeration() { return Enumeration(); }

}  // namespace tw::portwire
