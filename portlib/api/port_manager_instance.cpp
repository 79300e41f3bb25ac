#include "portlib/api/port_manager_instance.h"

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "platform/library_thread.h"
#include "platform/process.h"
#include "portlib/backends/direct_comm.h"
#include "portlib/backends/gen2_comm.h"
#include "portlib/backends/gen3_comm.h"
#include "portlib/manager/trace.h"

namespace tw::portwire {
namespace {

// How long the library's end waits for calls still inside (woken first).
constexpr auto kLeaveWait = std::chrono::milliseconds(1000);
constexpr auto kWakeInterval = std::chrono::milliseconds(5);

KPCommBackends ShippedBackends() {
  KPCommBackends backends;
  backends.portService = std::make_unique<CGen3Comm>();
  backends.driverPath = std::make_unique<CGen2Comm>();
  backends.direct = std::make_unique<CDirectComm>();
  return backends;
}

// Everything the exports work on. The listing works on the manager; the
// manager's SetPort uses the listing to find a port's service port name.
struct Library {
  KPComm manager{ShippedBackends()};
  CPortEnumeration enumeration{manager};
  Library() {
    manager.SetPortEnumerator([this](std::u16string_view type, tw::PortSettings* const* array, uint32_t capacity,
                                     uint32_t* count) { return enumeration.EnumDevPort(type, array, capacity, count); });
  }
};

// The admission state and the client's callbacks. Plain atomics: they must
// stay usable after static destruction (a thread calling in late).
std::atomic<bool> g_ending{false};
std::atomic<int> g_inside{0};
std::atomic<KPC_StatusProc> g_statusProc{nullptr};
std::atomic<KPC_BatStatusProc> g_batteryProc{nullptr};
std::atomic<KPC_RawStatusProc> g_rawProc{nullptr};

// Storage that no destructor ends, like the port-access library's: a thread
// still inside when the library ends keeps valid memory under it.
alignas(Library) unsigned char g_storage[sizeof(Library)];
Library* g_library = nullptr;

bool WaitUntilNoneInside(Library& library) {
  const auto until = std::chrono::steady_clock::now() + kLeaveWait;
  while (g_inside.load() != 0) {
    if (std::chrono::steady_clock::now() >= until) return false;
    // A read waiting for data (or status) gives up at once when woken; set
    // again and again, since a call may begin its wait after a wake-up.
    library.manager.DataArrivedEvent().Set();
    library.manager.StatusArrivedEvent().Set();
    std::this_thread::sleep_for(kWakeInterval);
  }
  return true;
}

// Built at load, ended at unload or process exit (see the header).
class LibraryLifetime {
 public:
  LibraryLifetime() { g_library = new (g_storage) Library(); }
  ~LibraryLifetime() {
    g_ending.store(true);
    // At process end on Windows the other threads are gone already and the
    // loader's lock is held: the OS takes everything back.
    if (platform::ProcessIsExiting()) return;
    if (!WaitUntilNoneInside(*g_library)) return;  // left as it is, never freed
    // On Windows this runs inside the system's unload step: the library's
    // threads are stopped without waiting for the loader's lock.
    platform::LibraryTeardownScope teardown;
    g_library->~Library();
    trace::Shutdown();
  }
  LibraryLifetime(const LibraryLifetime&) = delete;
  LibraryLifetime& operator=(const LibraryLifetime&) = delete;
};

LibraryLifetime g_lifetime;

void PORTWIRE_CALL StatusTrampoline(int32_t status, void* user) {
  const LibraryCall call;
  if (!call.Admitted()) return;
  if (KPC_StatusProc proc = g_statusProc.load()) proc(status, user);
}

void PORTWIRE_CALL BatteryTrampoline(uint32_t battery, void* user) {
  const LibraryCall call;
  if (!call.Admitted()) return;
  if (KPC_BatStatusProc proc = g_batteryProc.load()) proc(battery, user);
}

void PORTWIRE_CALL RawTrampoline(int32_t kind, const uint8_t* bytes, void* user) {
  const LibraryCall call;
  if (!call.Admitted()) return;
  if (KPC_RawStatusProc proc = g_rawProc.load()) proc(kind, bytes, user);
}

}  // namespace

LibraryCall::LibraryCall() {
  // Counted before the check, so that the end, which sets the flag before
  // it counts, either sees this call or this call sees the flag. A refused
  // call stops counting at once: a client that keeps calling in a loop must
  // not look like a call that never leaves.
  g_inside.fetch_add(1);
  admitted_ = !g_ending.load();
  if (!admitted_) g_inside.fetch_sub(1);
}

LibraryCall::~LibraryCall() {
  if (admitted_) g_inside.fetch_sub(1);
}

bool LibraryEnding() { return g_ending.load(); }

KPC_StatusProc ClientStatusProc(KPC_StatusProc client) {
  g_statusProc.store(client);
  return client ? &StatusTrampoline : nullptr;
}

KPC_BatStatusProc ClientBatStatusProc(KPC_BatStatusProc client) {
  g_batteryProc.store(client);
  return client ? &BatteryTrampoline : nullptr;
}

KPC_RawStatusProc ClientRawStatusProc(KPC_RawStatusProc client) {
  g_rawProc.store(client);
  return client ? &RawTrampoline : nullptr;
}

KPComm& PortManager() { return g_library->manager; }

CPortEnumeration& PortEnumeration() { return g_library->enumeration; }

}  // namespace tw::portwire
