#include "portlib/api/port_manager_instance.h"

#include <new>

#include "platform/process.h"
#include "portlib/backends/direct_comm.h"
#include "portlib/backends/gen2_comm.h"
#include "portlib/backends/gen3_comm.h"
#include "portlib/manager/port_enumeration.h"
#include "portlib/manager/trace.h"

namespace tw::portwire {
namespace {

KPCommBackends ShippedBackends() {
  KPCommBackends backends;
  backends.portService = std::make_unique<CGen3Comm>();
  backends.driverPath = std::make_unique<CGen2Comm>();
  backends.direct = std::make_unique<CDirectComm>();
  return backends;
}

// The manager lives as long as the library: built at load, destroyed at
// unload, closing whatever the client left open. At process exit on Windows
// the manager's threads are already gone and the loader lock is held, so it
// is left to the OS there instead (it would wait for threads that never
// answer); on Linux the same teardown runs as at unload.
class ManagerHolder {
 public:
  ManagerHolder() : manager_(new (storage_) KPComm(ShippedBackends())) {}
  ~ManagerHolder() {
    if (platform::ProcessIsExiting()) return;
    manager_->~KPComm();
    trace::Shutdown();
  }
  ManagerHolder(const ManagerHolder&) = delete;
  ManagerHolder& operator=(const ManagerHolder&) = delete;
  KPComm& Manager() { return *manager_; }

 private:
  alignas(KPComm) unsigned char storage_[sizeof(KPComm)];
  KPComm* manager_;
};

ManagerHolder g_manager;

// The listing works on the manager; the manager's SetPort uses the listing to
// find a port's service port name.
CPortEnumeration& Enumeration() {
  static CPortEnumeration enumeration(g_manager.Manager());
  return enumeration;
}

const bool g_enumeratorSet = [] {
  g_manager.Manager().SetPortEnumerator([](std::u16string_view type, tw::PortSettings* const* array, uint32_t capacity,
                                 uint32_t* count) { return Enumeration().EnumDevPort(type, array, capacity, count); });
  return true;
}();

}  // namespace

KPComm& PortManager() { return g_manager.Manager(); }

CPortEnumeration& PortEnumeration() { return Enumeration(); }

}  // namespace tw::portwire
