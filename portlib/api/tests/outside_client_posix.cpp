// A client of the shipped library written the way integrators write them: it
// loads the library by file name, resolves the functions by name and talks to
// the simulated printer, which it runs in a process of its own (forked before
// the library is loaded, so the client can stop or kill it mid-exchange).
// portlib_outside_client_tests runs each case in a child process with a
// watchdog.
//
// Usage: portwire_outside_client <case> <loopback address> [argument]
//   callback-read ADDR SLEEPMS    a status callback calls KPC_GetStatus (and
//                                 sleeps) while the main thread reads replies
//   callback-commtest ADDR SLEEPMS the same during KPC_CommunicationTest
//   random ADDR SECONDS           eight threads call exports at random, then
//                                 KPC_Terminate while they still run
//   enum-guard                    KPC_EnumDevPort with the array's end against
//                                 an unreadable page
//   flood ADDR                    the printer floods 8 s, nobody reads
//   probe ADDR                    (and the next address) hostile arguments, calling order, re-entrant
//                                 callbacks and faults mid-exchange
// Prints what it measured; exit code 0 when every check held, 1 otherwise.

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "portwire.h"
#include "sim/printer/sim_printer.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// ----- the library, as an outside client binds it -----

#define PW_FUNCTIONS(X)                                                                                        \
  X(KPC_SetPort) X(KPC_GetPort) X(KPC_Open) X(KPC_Close) X(KPC_Read) X(KPC_Write) X(KPC_GetStatus)             \
  X(KPC_Initialize) X(KPC_Purge) X(KPC_Reset) X(KPC_RegisterStatusProc) X(KPC_UnregisterStatusProc)            \
  X(KPC_RegisterBatStatusProc) X(KPC_UnregisterBatStatusProc) X(KPC_RegistRawStatusCallBack)                   \
  X(KPC_UnregistRawStatusCallback) X(KPC_SetDisableOffOffline) X(KPC_SetResponseACK) X(KPC_SetFlowCtrlForced) \
  X(KPC_Terminate) X(KPC_GetAccessVersion) X(KPC_FindPort) X(KPC_RecoverySending) X(KPC_ReopenPort)           \
  X(KPC_SetModelType) X(KPC_SetPortConnector) X(KPC_IsPortConnectorEnabled) X(KPC_GetCaller) X(KPC_SetCaller) \
  X(KPC_EnumPort) X(KPC_AddPort) X(KPC_PortSetting) X(KPC_CommunicationTest) X(KPC_EnumDevPort)                \
  X(KPC_RegisterDeviceStateCallback) X(KPC_UnregisterDeviceStateCallback)

struct Api {
  tw::platform::Module module;
#define PW_MEMBER(name) decltype(&::name) name = nullptr;
  PW_FUNCTIONS(PW_MEMBER)
#undef PW_MEMBER
  bool Load() {
    module = tw::platform::Module::Load(u"Portwire.dll");
    bool all = module.IsLoaded();
#define PW_RESOLVE(name)                                        \
  name = module.Function<decltype(name)>(#name);                \
  if (name == nullptr) {                                        \
    std::printf("missing export %s\n", #name);                  \
    all = false;                                                \
  }
    PW_FUNCTIONS(PW_RESOLVE)
#undef PW_RESOLVE
    return all;
  }
};
Api g_api;

PortSettings NetRecord(const std::string& address, int32_t timeoutMs) {
  PortSettings record;
  std::memset(&record, 0, sizeof record);
  const char16_t net[] = u"NET";
  std::memcpy(record.portType, net, sizeof net);
  for (size_t i = 0; i < address.size() && i + 1 < 260; ++i) record.portName[i] = static_cast<uint16_t>(address[i]);
  record.readTimeout = record.writeTimeout = timeoutMs;
  return record;
}

const std::vector<uint8_t> kModelQuery = {0x10, 0x14, 0x12, 0x00, 0x00};
// Status enabling and the model query in one write: the printer answers with
// a status packet, then the reply.
const std::vector<uint8_t> kStatusThenQuery = {0x1D, 0x61, 0xFF, 0x10, 0x14, 0x12, 0x00, 0x00};

bool IsModelReply(const uint8_t* b, uint32_t n) { return n >= 4 && b[0] == 0x37 && b[1] == 0x4D; }

// Writes `command` and reads blocks until the model query's reply arrives;
// the time it took, or -1. *elapsedMs (when given) gets the time spent either way.
long long AskModel(const std::vector<uint8_t>& command, int32_t timeoutMs, long long* elapsedMs = nullptr) {
  const auto start = Clock::now();
  long long result = -1;
  uint32_t written = 0;
  if (g_api.KPC_Write(command.data(), static_cast<uint32_t>(command.size()), &written, 2000) == PW_OK) {
    uint8_t buffer[65800];
    while (MsSince(start) < timeoutMs) {
      uint32_t received = 0;
      const int32_t r = g_api.KPC_Read(buffer, sizeof buffer, &received, timeoutMs);
      if (r == PW_OK && IsModelReply(buffer, received)) {
        result = MsSince(start);
        break;
      }
      if (r != PW_OK && r != PW_TIMEOUT) break;
    }
  }
  if (elapsedMs != nullptr) *elapsedMs = MsSince(start);
  return result;
}

// ----- the simulated printer, in a forked process -----

struct SimProcess {
  pid_t pid = -1;
  bool Start(const std::string& address, std::set<tw::sim::Fault> faults = {}, int floodMs = 8000,
             size_t floodBytes = 0) {
    int ready[2];
    if (::pipe(ready) != 0) return false;
    pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      ::close(ready[0]);
      tw::sim::SimConfig config;
      config.tcpAddress = address;
      config.resetMs = 0;
      config.floodMs = floodMs;
      config.floodBytes = floodBytes;
      config.behaviour.faults = std::move(faults);
      tw::sim::SimPrinter sim(config);
      const char ok = sim.Start() ? 1 : 0;
      [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
      if (!ok) ::_exit(3);
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, SIGTERM);
      pthread_sigmask(SIG_BLOCK, &set, nullptr);
      int sig = 0;
      sigwait(&set, &sig);
      sim.Stop();
      ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    const bool started = ::read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);
    return started;
  }
  void Signal(int sig) const {
    if (pid > 0) ::kill(pid, sig);
  }
  void End() {
    if (pid <= 0) return;
    ::kill(pid, SIGCONT);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
  }
  ~SimProcess() { End(); }
};

// ----- status callbacks that call back into the library -----

std::atomic<int> g_callbackSleepMs{0};
std::atomic<int> g_statusCalls{0};
std::atomic<long long> g_slowestCallbackMs{0};

void PORTWIRE_CALL StatusCallingBack(int32_t, void*) {
  const auto start = Clock::now();
  int32_t status = 0;
  g_api.KPC_GetStatus(&status);
  if (g_callbackSleepMs.load() > 0) std::this_thread::sleep_for(milliseconds(g_callbackSleepMs.load()));
  ++g_statusCalls;
  const long long took = MsSince(start);
  long long prev = g_slowestCallbackMs.load();
  while (took > prev && !g_slowestCallbackMs.compare_exchange_weak(prev, took)) {
  }
}
void PORTWIRE_CALL BatteryCallingBack(uint32_t, void*) {
  int32_t status = 0;
  g_api.KPC_GetStatus(&status);
}
void PORTWIRE_CALL RawCallingBack(int32_t, const uint8_t* bytes, void*) {
  volatile uint8_t sink = bytes != nullptr ? bytes[0] : 0;
  (void)sink;
  int32_t version = 0;
  g_api.KPC_GetAccessVersion(&version);
}

// ----- cases -----

int CallbackRead(const std::string& address, int sleepMs) {
  SimProcess sim;
  if (!sim.Start(address)) return 2;
  if (!g_api.Load()) return 2;
  g_callbackSleepMs = sleepMs;
  g_api.KPC_RegisterStatusProc(StatusCallingBack, nullptr);
  PortSettings record = NetRecord(address, 5000);
  if (g_api.KPC_SetPort(&record) != PW_OK || g_api.KPC_Open(1) != PW_OK) return 2;
  bool ok = true;
  for (int i = 0; i < 3; ++i) {
    long long elapsed = 0;
    const long long took = AskModel(kStatusThenQuery, 5000, &elapsed);
    std::printf("read %d: %s after %lld ms (time-out 5000 ms)\n", i + 1, took >= 0 ? "reply" : "NO reply", elapsed);
    if (took < 0 || took > 2000) ok = false;
  }
  g_api.KPC_Close();
  g_api.KPC_Terminate();
  std::printf("status callbacks: %d, slowest %lld ms\n", g_statusCalls.load(), g_slowestCallbackMs.load());
  return ok ? 0 : 1;
}

int CallbackCommTest(const std::string& address, int sleepMs) {
  SimProcess sim;
  if (!sim.Start(address)) return 2;
  if (!g_api.Load()) return 2;
  g_callbackSleepMs = sleepMs;
  g_api.KPC_RegisterStatusProc(StatusCallingBack, nullptr);
  PortSettings record = NetRecord(address, 2000);
  const auto start = Clock::now();
  const int32_t r = g_api.KPC_CommunicationTest(&record);
  const long long took = MsSince(start);
  g_api.KPC_Terminate();
  std::printf("KPC_CommunicationTest = 0x%08X after %lld ms; status callbacks: %d\n", static_cast<unsigned>(r), took,
              g_statusCalls.load());
  return r == PW_OK && took < 1000 ? 0 : 1;
}

// Eight threads at random. Every call's time in flight is measured against
// its own time-out; the API lock serialises calls, so a call may also wait
// for the others' (short) ones: the margin. Nothing purges, so every
// exchange's reply is there for some read.
constexpr int kRandomThreads = 8;
constexpr int32_t kRandomIoTimeoutMs = 300;
constexpr int32_t kExchangeTimeoutMs = 5000;
constexpr long long kInFlightMarginMs = 2000;

int Random(const std::string& address, int seconds) {
  SimProcess sim;
  if (!sim.Start(address)) return 2;
  if (!g_api.Load()) return 2;
  PortSettings record = NetRecord(address, kRandomIoTimeoutMs);
  if (g_api.KPC_SetPort(&record) != PW_OK || g_api.KPC_Open(1) != PW_OK) return 2;
  g_api.KPC_RegisterStatusProc(StatusCallingBack, nullptr);
  g_api.KPC_RegisterBatStatusProc(BatteryCallingBack, nullptr);
  g_api.KPC_RegistRawStatusCallBack(RawCallingBack, nullptr);

  std::atomic<bool> stop{false};
  std::atomic<long long> slowestOverOwn{0};  // time in flight minus own time-out
  std::atomic<long long> calls{0};
  std::mutex namesLock;
  std::string slowestName;
  auto worker = [&](int seed) {
    std::mt19937 random(static_cast<unsigned>(seed));
    uint8_t buffer[65800];
    std::vector<PortSettings> records(4);
    std::vector<PortSettings*> slots;
    for (auto& r : records) slots.push_back(&r);
    while (!stop.load()) {
      const int op = static_cast<int>(random() % 9);
      const auto start = Clock::now();
      long long own = 0;
      const char* name = "";
      uint32_t n = 0;
      int32_t value = 0;
      switch (op) {
        case 0: {
          // An exchange: the reply is on its way, so the read needs no more
          // than moments unless replies are held up.
          name = "KPC_Write+KPC_Read"; own = kExchangeTimeoutMs;
          g_api.KPC_Write(kStatusThenQuery.data(), static_cast<uint32_t>(kStatusThenQuery.size()), &n,
                          kRandomIoTimeoutMs);
          g_api.KPC_Read(buffer, sizeof buffer, &n, kExchangeTimeoutMs);
          break;
        }
        case 1: name = "KPC_Write"; own = kRandomIoTimeoutMs;  // a reply more than is read
          g_api.KPC_Write(kModelQuery.data(), static_cast<uint32_t>(kModelQuery.size()), &n, kRandomIoTimeoutMs);
          break;
        case 2: name = "KPC_GetStatus"; g_api.KPC_GetStatus(&value); break;
        case 3: name = "KPC_GetAccessVersion"; g_api.KPC_GetAccessVersion(&value); break;
        case 4: {
          name = "KPC_EnumDevPort";
          static const char16_t* const types[] = {u"COM", u"LPT", u"USB", u"XYZ"};
          g_api.KPC_EnumDevPort(reinterpret_cast<const uint16_t*>(types[random() % 4]), slots.data(), 4, &n);
          break;
        }
        case 5: name = "KPC_RecoverySending"; g_api.KPC_RecoverySending(); break;
        case 6: {
          name = "KPC_CommunicationTest"; own = 3 * 2000;
          PortSettings test = NetRecord(address, 2000);
          g_api.KPC_CommunicationTest(&test);
          break;
        }
        case 7: name = "KPC_SetFlowCtrlForced"; g_api.KPC_SetFlowCtrlForced(static_cast<int32_t>(random() % 2)); break;
        default: {
          name = "KPC_Write+KPC_Read"; own = kExchangeTimeoutMs;
          g_api.KPC_Write(kModelQuery.data(), static_cast<uint32_t>(kModelQuery.size()), &n, kRandomIoTimeoutMs);
          g_api.KPC_Read(buffer, sizeof buffer, &n, kExchangeTimeoutMs);
          break;
        }
      }
      ++calls;
      const long long over = MsSince(start) - own;
      long long prev = slowestOverOwn.load();
      while (over > prev && !slowestOverOwn.compare_exchange_weak(prev, over)) {
      }
      if (over >= prev) {
        std::lock_guard<std::mutex> guard(namesLock);
        slowestName = name;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < kRandomThreads; ++i) threads.emplace_back(worker, 17 + i);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const auto start = Clock::now();
  const int32_t terminated = g_api.KPC_Terminate();
  const long long terminateMs = MsSince(start);
  stop = true;
  for (auto& t : threads) t.join();
  std::printf("%d threads, %d s: %lld calls, slowest call %lld ms beyond its own time-out (%s), "
              "status callbacks %d; KPC_Terminate = 0x%08X after %lld ms\n",
              kRandomThreads, seconds, calls.load(), slowestOverOwn.load(), slowestName.c_str(), g_statusCalls.load(),
              static_cast<unsigned>(terminated), terminateMs);
  return slowestOverOwn.load() <= kInFlightMarginMs && terminateMs < 2000 ? 0 : 1;
}

// An array of two record pointers whose end touches an unreadable page.
struct GuardedArray {
  void* pages = MAP_FAILED;
  size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  ::PortSettings** slots = nullptr;
  std::array<::PortSettings, 2> records{};
  GuardedArray() {
    pages = ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return;
    ::mprotect(static_cast<char*>(pages) + page, page, PROT_NONE);
    slots = reinterpret_cast<::PortSettings**>(static_cast<char*>(pages) + page - 2 * sizeof(::PortSettings*));
    slots[0] = &records[0];
    slots[1] = &records[1];
  }
  ~GuardedArray() {
    if (pages != MAP_FAILED) ::munmap(pages, 2 * page);
  }
};

// A link folder whose dangling links hide every serial and parallel port of
// the machine: "COM" and "LPT" have nothing to list.
void HideMachinePorts() {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("pw-noports-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  for (int n = 1; n <= 256; ++n) {
    std::error_code ec;
    std::filesystem::create_symlink("/nonexistent", folder / ("com" + std::to_string(n)), ec);
    std::filesystem::create_symlink("/nonexistent", folder / ("lpt" + std::to_string(n)), ec);
  }
  ::setenv("PORTWIRE_DOSDEVICES", folder.c_str(), 1);
}

int EnumGuard() {
  HideMachinePorts();
  if (!g_api.Load()) return 2;
  GuardedArray array;
  if (array.slots == nullptr) return 2;
  bool ok = true;
  uint32_t found = 99;
  int32_t r = g_api.KPC_EnumDevPort(reinterpret_cast<const uint16_t*>(u"XYZ"), array.slots, 3, &found);
  std::printf("EnumDevPort(\"XYZ\", 2 records, capacity 3) = 0x%08X, found %u\n", static_cast<unsigned>(r), found);
  ok = ok && r == PW_FAILED && found == 0;
  for (const char16_t* type : {u"LPT", u"COM"}) {
    found = 99;
    r = g_api.KPC_EnumDevPort(reinterpret_cast<const uint16_t*>(type), array.slots, 0xFFFFFFFFu, &found);
    std::printf("EnumDevPort(\"%s\", 2 records, capacity 0xFFFFFFFF) = 0x%08X, found %u\n",
                type[0] == u'L' ? "LPT" : "COM", static_cast<unsigned>(r), found);
    ok = ok && r == PW_OK && found == 0;
  }
  g_api.KPC_Terminate();
  return ok ? 0 : 1;
}

long ResidentKiB() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  long size = 0, resident = 0;
  if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
  std::fclose(f);
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

int Flood(const std::string& address) {
  constexpr int kFloodMs = 8000;
  SimProcess sim;
  if (!sim.Start(address, {tw::sim::Fault::kFlood}, kFloodMs)) return 2;
  if (!g_api.Load()) return 2;
  PortSettings record = NetRecord(address, 2000);
  if (g_api.KPC_SetPort(&record) != PW_OK) return 2;
  const long before = ResidentKiB();
  if (g_api.KPC_Open(1) != PW_OK) return 2;
  long peak = before;
  const auto start = Clock::now();
  while (MsSince(start) < kFloodMs + 500) {
    std::this_thread::sleep_for(milliseconds(100));
    peak = std::max(peak, ResidentKiB());
  }
  const long growthKiB = peak - before;
  g_api.KPC_Purge();
  long long took = -1;
  for (int i = 0; i < 3 && took < 0; ++i) {
    g_api.KPC_Purge();
    took = AskModel(kModelQuery, 2000);
  }
  g_api.KPC_Close();
  g_api.KPC_Terminate();
  std::printf("flood of %d ms with nobody reading: client memory grew by %ld KiB (peak %ld KiB); "
              "KPC_Read afterwards: reply after %lld ms\n",
              kFloodMs, growthKiB, peak, took);
  // A race detector's shadow memory grows with the memory the program
  // touches; its builds say by how much (PORTWIRE_TEST_MEMORY_FACTOR).
  const char* factorText = std::getenv("PORTWIRE_TEST_MEMORY_FACTOR");
  const long factor = factorText != nullptr && std::atoi(factorText) > 0 ? std::atoi(factorText) : 1;
  return growthKiB < factor * 16 * 1024 && took >= 0 ? 0 : 1;
}

// ----- the hostile-integrator probe -----

struct Outcomes {
  long long calls = 0;
  std::map<std::string, long long> classes;
  bool failed = false;
  void Note(const std::string& what, int32_t r) {
    ++calls;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(r));
    ++classes[code];
    (void)what;
  }
  void Expect(const std::string& what, int32_t r, int32_t expected) {
    Note(what, r);
    if (r != expected) {
      std::printf("probe: %s = 0x%08X, expected 0x%08X\n", what.c_str(), static_cast<unsigned>(r),
                  static_cast<unsigned>(expected));
      failed = true;
    }
  }
  void Bounded(const std::string& what, Clock::time_point start, long long limitMs) {
    const long long took = MsSince(start);
    if (took > limitMs) {
      std::printf("probe: %s took %lld ms (limit %lld)\n", what.c_str(), took, limitMs);
      failed = true;
    }
  }
};

std::atomic<int> g_reentered{0};
void PORTWIRE_CALL ReentrantStatus(int32_t, void*) {
  ++g_reentered;
  // A callback that re-registers itself, unregisters others and reads.
  g_api.KPC_UnregistRawStatusCallback();
  g_api.KPC_RegisterBatStatusProc(nullptr, nullptr);
  uint8_t buffer[16];
  uint32_t n = 0;
  g_api.KPC_Read(buffer, sizeof buffer, &n, 10);
  int32_t status = 0;
  g_api.KPC_GetStatus(&status);
}

// The next loopback address (127.0.0.97 -> 127.0.0.98).
std::string NextAddress(const std::string& address) {
  const size_t dot = address.rfind('.');
  return address.substr(0, dot + 1) + std::to_string(std::atoi(address.c_str() + dot + 1) + 1);
}

int Probe(const std::string& address) {
  // Both printers start before the library makes any thread: forking later
  // is not safe.
  SimProcess sim;
  if (!sim.Start(address)) return 2;
  const std::string megabyteAddress = NextAddress(address);
  SimProcess megabyte;
  if (!megabyte.Start(megabyteAddress, {tw::sim::Fault::kFlood}, 5000, 1 << 20)) return 2;
  HideMachinePorts();
  if (!g_api.Load()) return 2;
  Outcomes o;
  uint8_t buffer[256];
  uint32_t n = 0;

  // Wrong calling order: everything before any SetPort or Open.
  o.Expect("Read before Open", g_api.KPC_Read(buffer, sizeof buffer, &n, 10), PW_NOT_OPEN);
  o.Expect("Write length 0", g_api.KPC_Write(buffer, 0, &n, 10), PW_FAILED);
  o.Expect("Close before Open", g_api.KPC_Close(), PW_FAILED);
  o.Expect("Initialize before Open", g_api.KPC_Initialize(), PW_NOT_OPEN);
  o.Expect("Reset before Open", g_api.KPC_Reset(), PW_NOT_OPEN);
  o.Expect("RecoverySending before Open", g_api.KPC_RecoverySending(), PW_NOT_OPEN);
  o.Expect("ReopenPort before Open", g_api.KPC_ReopenPort(), PW_NOT_OPEN);
  o.Expect("SetPortConnector before Open", g_api.KPC_SetPortConnector(1), PW_NOT_OPEN);

  // Null pointers and sizes 0 and 0xFFFFFFFF.
  o.Expect("SetPort(null)", g_api.KPC_SetPort(nullptr), PW_INVALID_ARGUMENT);
  o.Expect("GetPort(null)", g_api.KPC_GetPort(nullptr), PW_INVALID_ARGUMENT);
  o.Expect("AddPort(null)", g_api.KPC_AddPort(nullptr), PW_INVALID_ARGUMENT);
  o.Expect("PortSetting(null)", g_api.KPC_PortSetting(nullptr), PW_INVALID_ARGUMENT);
  o.Expect("CommunicationTest(null)", g_api.KPC_CommunicationTest(nullptr), PW_INVALID_ARGUMENT);
  o.Expect("GetStatus(null)", g_api.KPC_GetStatus(nullptr), PW_INVALID_ARGUMENT);
  o.Expect("GetAccessVersion(null)", g_api.KPC_GetAccessVersion(nullptr), PW_FAILED);
  o.Expect("GetCaller(null)", g_api.KPC_GetCaller(nullptr), PW_INVALID_ARGUMENT);
  o.Expect("SetCaller(0xFFFFFFFF)", g_api.KPC_SetCaller(0xFFFFFFFFu), PW_INVALID_ARGUMENT);
  o.Note("FindPort(null)", g_api.KPC_FindPort(0, nullptr));
  o.Expect("EnumDevPort(null type)", g_api.KPC_EnumDevPort(nullptr, nullptr, 0, &n), PW_INVALID_ARGUMENT);
  o.Note("EnumDevPort(COM, null found)",
         g_api.KPC_EnumDevPort(reinterpret_cast<const uint16_t*>(u"COM"), nullptr, 0, nullptr));
  o.Note("EnumDevPort(COM, null array, 0xFFFFFFFF)",
         g_api.KPC_EnumDevPort(reinterpret_cast<const uint16_t*>(u"COM"), nullptr, 0xFFFFFFFFu, &n));
  {
    // An unterminated type text that fills the whole allowance and more.
    std::vector<uint16_t> longType(1000, u'C');
    o.Note("EnumDevPort(unterminated type)", g_api.KPC_EnumDevPort(longType.data(), nullptr, 0, &n));
  }
  o.Note("RegisterDeviceStateCallback(null)", g_api.KPC_RegisterDeviceStateCallback(nullptr, nullptr));
  o.Note("IsPortConnectorEnabled(null)", g_api.KPC_IsPortConnectorEnabled(nullptr));

  // Records with garbage: every byte 0xFF (no terminating zero anywhere),
  // then random bytes.
  {
    PortSettings garbage;
    std::memset(&garbage, 0xFF, sizeof garbage);
    o.Note("SetPort(all 0xFF)", g_api.KPC_SetPort(&garbage));
    o.Note("Open(all 0xFF)", g_api.KPC_Open(1));
    g_api.KPC_Close();
    std::memset(&garbage, 0xFF, sizeof garbage);
    o.Note("AddPort(all 0xFF)", g_api.KPC_AddPort(&garbage));
    std::memset(&garbage, 0xFF, sizeof garbage);
    o.Note("PortSetting(all 0xFF)", g_api.KPC_PortSetting(&garbage));
    std::mt19937 random(4);
    for (int i = 0; i < 20; ++i) {
      auto* bytes = reinterpret_cast<uint8_t*>(&garbage);
      for (size_t k = 0; k < sizeof garbage; ++k) bytes[k] = static_cast<uint8_t>(random());
      // Keep it away from the network and the maker's software.
      const char16_t com[] = u"COM";
      std::memcpy(garbage.portType, com, sizeof com);
      garbage.route = 0;
      o.Note("SetPort(random)", g_api.KPC_SetPort(&garbage));
      const auto start = Clock::now();
      o.Note("Open(random)", g_api.KPC_Open(static_cast<int32_t>(random())));
      o.Bounded("Open(random)", start, 5000);
      g_api.KPC_Close();
      o.Note("GetPort", g_api.KPC_GetPort(&garbage));
    }
  }

  // A real port: sizes 0 and 0xFFFFFFFF on a live exchange.
  PortSettings record = NetRecord(address, 500);
  o.Expect("SetPort", g_api.KPC_SetPort(&record), PW_OK);
  o.Expect("Open", g_api.KPC_Open(1), PW_OK);
  o.Expect("Open twice", g_api.KPC_Open(1), PW_ALREADY_OPEN);
  o.Expect("SetPort while open", g_api.KPC_SetPort(&record), PW_ALREADY_OPEN);
  o.Expect("Read(null buffer)", g_api.KPC_Read(nullptr, 16, &n, 10), PW_INVALID_ARGUMENT);
  o.Expect("Write(null data)", g_api.KPC_Write(nullptr, 5, &n, 10), PW_INVALID_ARGUMENT);
  o.Expect("Write", g_api.KPC_Write(kModelQuery.data(), 5, nullptr, 500), PW_OK);
  {
    // The reply does not fit a 0-byte buffer; it stays for a larger read.
    uint8_t none[1];
    const auto start = Clock::now();
    int32_t r = PW_TIMEOUT;
    for (int i = 0; i < 5 && r == PW_TIMEOUT; ++i) r = g_api.KPC_Read(none, 0, &n, 500);
    o.Expect("Read(size 0) of a waiting reply", r, PW_BUFFER_TOO_SMALL);
    o.Expect("Read afterwards", g_api.KPC_Read(buffer, sizeof buffer, &n, 500), PW_OK);
    o.Bounded("Read(size 0)", start, 3000);
  }
  {
    std::vector<uint8_t> big(1 << 20, 0x00);  // size 0xFFFFFFFF would claim more than this
    o.Note("Read(size 0xFFFFFFFF)", g_api.KPC_Read(big.data(), 0xFFFFFFFFu, &n, 50));
  }
  o.Note("Write(length 0xFFFFFFFF)", PW_OK);  // not sent: no client owns 4 GiB to pass

  // Re-entrant callbacks: registration's immediate call and later reports
  // call back into the library.
  o.Expect("RegisterStatusProc(re-entrant)", g_api.KPC_RegisterStatusProc(ReentrantStatus, &record), PW_OK);
  o.Expect("RegistRawStatusCallBack", g_api.KPC_RegistRawStatusCallBack(RawCallingBack, nullptr), PW_OK);
  o.Expect("Initialize", g_api.KPC_Initialize(), PW_OK);
  {
    const long long took = AskModel(kStatusThenQuery, 3000);
    o.Note("exchange with re-entrant callbacks", took >= 0 ? PW_OK : PW_TIMEOUT);
    if (took < 0) {
      std::printf("probe: no reply with re-entrant callbacks\n");
      o.failed = true;
    }
  }

  // Eight threads at random against the open port, for a moment.
  {
    std::atomic<bool> stop{false};
    std::atomic<long long> threadCalls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        std::mt19937 random(static_cast<unsigned>(100 + t));
        uint8_t local[512];
        uint32_t got = 0;
        int32_t v = 0;
        while (!stop.load()) {
          switch (random() % 6) {
            case 0: g_api.KPC_Read(local, sizeof local, &got, 50); break;
            case 1: g_api.KPC_Write(kStatusThenQuery.data(), 8, &got, 50); break;
            case 2: g_api.KPC_GetStatus(&v); break;
            case 3: g_api.KPC_Purge(); break;
            case 4: g_api.KPC_RegisterStatusProc(random() % 2 ? ReentrantStatus : nullptr, nullptr); break;
            default: g_api.KPC_GetAccessVersion(&v); break;
          }
          ++threadCalls;
        }
      });
    }
    std::this_thread::sleep_for(milliseconds(1500));
    stop = true;
    for (auto& t : threads) t.join();
    o.calls += threadCalls.load();
    o.classes["threads at random"] += threadCalls.load();
  }

  // Faults mid-exchange.
  // (1) printer stopped (SIGSTOP): reads time out in their own time.
  sim.Signal(SIGSTOP);
  {
    const auto start = Clock::now();
    g_api.KPC_Write(kModelQuery.data(), 5, &n, 500);
    o.Note("Read from a stopped printer", g_api.KPC_Read(buffer, sizeof buffer, &n, 500));
    o.Bounded("Read from a stopped printer", start, 3000);
  }
  sim.Signal(SIGCONT);
  g_api.KPC_Purge();
  o.Note("exchange after SIGCONT", AskModel(kModelQuery, 2000) >= 0 ? PW_OK : PW_TIMEOUT);
  // (2) closing at once, with a reply under way, and opening again.
  for (int i = 0; i < 5; ++i) {
    g_api.KPC_Write(kModelQuery.data(), 5, &n, 500);
    const auto start = Clock::now();
    o.Expect("Close at once", g_api.KPC_Close(), PW_OK);
    o.Bounded("Close at once", start, 3000);
    o.Expect("Open again", g_api.KPC_Open(1), PW_OK);
  }
  // (3) printer killed mid-exchange: no hang, errors are result codes.
  g_api.KPC_Write(kModelQuery.data(), 5, &n, 500);
  sim.Signal(SIGKILL);
  {
    const auto start = Clock::now();
    for (int i = 0; i < 3; ++i) {
      o.Note("Write to a killed printer", g_api.KPC_Write(kModelQuery.data(), 5, &n, 500));
      o.Note("Read from a killed printer", g_api.KPC_Read(buffer, sizeof buffer, &n, 300));
    }
    o.Bounded("calls to a killed printer", start, 10000);
    o.Note("Close after the kill", g_api.KPC_Close());
    o.Bounded("Close after the kill", start, 13000);
  }
  ::waitpid(sim.pid, nullptr, 0);
  sim.pid = -1;
  // (4) a megabyte without a terminating zero, then a normal reply.
  PortSettings megabyteRecord = NetRecord(megabyteAddress, 500);
  o.Expect("SetPort to a printer that sends a megabyte", g_api.KPC_SetPort(&megabyteRecord), PW_OK);
  o.Expect("Open to a printer that sends a megabyte", g_api.KPC_Open(1), PW_OK);
  {
    const auto start = Clock::now();
    long long bytes = 0;
    while (bytes < (1 << 20) && MsSince(start) < 5000) {
      std::vector<uint8_t> big(70000);
      if (g_api.KPC_Read(big.data(), static_cast<uint32_t>(big.size()), &n, 500) == PW_OK) bytes += n;
    }
    std::printf("probe: %lld bytes of the megabyte read in %lld ms\n", bytes, MsSince(start));
    g_api.KPC_Purge();
    o.Note("exchange after the megabyte", AskModel(kModelQuery, 2000) >= 0 ? PW_OK : PW_TIMEOUT);
  }
  o.Expect("Close", g_api.KPC_Close(), PW_OK);
  g_api.KPC_UnregisterStatusProc();
  g_api.KPC_UnregistRawStatusCallback();
  const auto start = Clock::now();
  o.Expect("Terminate", g_api.KPC_Terminate(), PW_OK);
  o.Bounded("Terminate", start, 2000);
  o.Expect("Terminate twice", g_api.KPC_Terminate(), PW_OK);
  // After Terminate the components are unloaded until the library is loaded
  // again: an Open is refused, it does not crash.
  o.Expect("Open after Terminate", g_api.KPC_Open(1), PW_FAILED);
  o.Expect("Read after Terminate", g_api.KPC_Read(buffer, sizeof buffer, &n, 10), PW_NOT_OPEN);

  std::printf("probe summary: %lld calls; outcomes:", o.calls);
  for (const auto& [name, count] : o.classes) std::printf(" %s x%lld;", name.c_str(), count);
  std::printf(" status callbacks re-entered %d times; %s\n", g_reentered.load(), o.failed ? "FAILED" : "all checks held");
  return o.failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  const std::string address = argc > 2 ? argv[2] : "";
  const int number = argc > 3 ? std::atoi(argv[3]) : 0;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (mode == "callback-read") return CallbackRead(address, number);
  if (mode == "callback-commtest") return CallbackCommTest(address, number);
  if (mode == "random") return Random(address, number > 0 ? number : 20);
  if (mode == "enum-guard") return EnumGuard();
  if (mode == "flood") return Flood(address);
  if (mode == "probe") return Probe(address);
  return 2;
}
