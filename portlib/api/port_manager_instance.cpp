#include "portlib/api/port_manager_instance.h"

#include "portlib/backends/direct_comm.h"
#include "portlib/backends/gen2_comm.h"
#include "portlib/backends/gen3_comm.h"

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

}  // namespace

KPComm& PortManager() { return g_manager; }

}  // namespace tw::portwire
