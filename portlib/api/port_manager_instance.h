#pragma once
// The library's one port manager, shared by every export, and the rules for
// calls that meet the library's end.
//
// The manager is built when the library is loaded. When it is unloaded, or
// the process ends (a client's exit() with the library still loaded), the
// library first stops admitting calls: every export then returns
// PW_NOT_OPEN without touching the manager, and no client callback starts
// any more. It wakes the calls already inside and waits a short while for
// them to leave. When they have, the manager is closed and destroyed as
// always; when one is still inside (a read of another thread that exit()
// caught, a client callback that does not return), the manager is left as
// it is: its storage is never freed, so that thread finishes safely on
// memory that stays valid until the process is gone.

#include "include/portwire.h"
#include "portlib/manager/kp_comm.h"
#include "portlib/manager/port_enumeration.h"

namespace tw::portwire {

KPComm& PortManager();
// The library's port listing over that manager and the machine's ports.
CPortEnumeration& PortEnumeration();

// One export call (or one client callback) inside the library. Created first
// by every export; while the library ends it is not admitted and the export
// returns at once.
class LibraryCall {
 public:
  LibraryCall();
  ~LibraryCall();
  LibraryCall(const LibraryCall&) = delete;
  LibraryCall& operator=(const LibraryCall&) = delete;
  bool Admitted() const { return admitted_; }

 private:
  bool admitted_;
};
// True once the library has begun to end.
bool LibraryEnding();

// The client's status callbacks pass through these, so that none is called
// once the library has begun to end, and its end waits for those running.
// The manager holds the trampoline; the client's function is kept here.
KPC_StatusProc ClientStatusProc(KPC_StatusProc client);
KPC_BatStatusProc ClientBatStatusProc(KPC_BatStatusProc client);
KPC_RawStatusProc ClientRawStatusProc(KPC_RawStatusProc client);

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
