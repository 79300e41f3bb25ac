#pragma once
// The library's one port manager, shared by every export.

#include "portlib/manager/kp_comm.h"

namespace tw::portwire {

// Built when the library is loaded, with the backends that ship with it;
// destroyed when the library is unloaded.
KPComm& PortManager();

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
