#pragma once
// The library's one port manager, shared by every export.

#include "portlib/manager/kp_comm.h"
#include "portlib/manager/port_enumeration.h"

namespace tw::portwire {

// Built when the library is loaded, with the backends that ship with it;
// destroyed when the library is unloaded.
KPComm& PortManager();
// The library's port listing over that manager and the machine's ports.
CPortEnumeration& PortEnumeration();

// Runs `body` and turns anything it throws into kResultFailed: no exception
// ever leaves the library.
template <typename Body>
Result Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return kResultFailed;
  }
}

}  // namespace tw::portwire
