// A client that unloads the library the way some point-of-sale programs do:
// it loads it, opens a network port, writes, registers a status callback, and
// frees the library again without KPC_Close or KPC_Terminate, many times in
// one process. Usage: unload_without_terminate <IPv4 address of the printer>
// <rounds>. Each round is bounded by a watchdog: a round that hangs (the
// library waiting for its threads under the loader's lock) ends the process
// with code 3. Exit code 0 after all rounds, 1 when a step failed.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/module.h"
#include "platform/process.h"
#include "portwire.h"

namespace {

// Generous: a round takes milliseconds; a hang is what this catches.
constexpr auto kRoundBound = std::chrono::seconds(20);

void PORTWIRE_CALL OnStatus(int32_t, void*) {}

int Round(const std::string& address) {
  tw::platform::Module library = tw::platform::Module::Load(u"Portwire.dll");
  const auto setPort = library.Function<decltype(&::KPC_SetPort)>("KPC_SetPort");
  const auto open = library.Function<decltype(&::KPC_Open)>("KPC_Open");
  const auto write = library.Function<decltype(&::KPC_Write)>("KPC_Write");
  const auto read = library.Function<decltype(&::KPC_Read)>("KPC_Read");
  const auto registerStatus = library.Function<decltype(&::KPC_RegisterStatusProc)>("KPC_RegisterStatusProc");
  if (!setPort || !open || !write || !read || !registerStatus) return 1;
  PortSettings record;
  std::memset(&record, 0, sizeof record);
  const char16_t net[] = u"NET";
  std::memcpy(record.portType, net, sizeof net);
  for (size_t i = 0; i < address.size() && i + 1 < 260; ++i) record.portName[i] = static_cast<uint16_t>(address[i]);
  record.readTimeout = 2000;
  record.writeTimeout = 2000;
  // A port already open here means the last round's library was never
  // really unloaded.
  if (setPort(&record) != PW_OK || open(1) != PW_OK) return 1;
  registerStatus(&OnStatus, nullptr);
  const uint8_t modelQuery[] = {0x10, 0x14, 0x12, 0x00, 0x00};
  uint32_t n = 0;
  if (write(modelQuery, sizeof modelQuery, &n, 2000) != PW_OK) return 1;
  uint8_t reply[256];
  read(reply, sizeof reply, &n, 1000);
  library.Unload();  // no KPC_Close, no KPC_Terminate: the monitor thread runs
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  const int rounds = std::atoi(argv[2]);
  std::mutex lock;
  std::condition_variable changed;
  int round = 0;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      const int seen = round;
      if (changed.wait_for(guard, kRoundBound, [&] { return done || round != seen; })) {
        if (done) return;
        continue;
      }
      std::printf("round %d still running after %lld s\n", seen + 1, static_cast<long long>(kRoundBound.count()));
      std::fflush(stdout);
      tw::platform::EndThisProcessNow(3);
    }
  });
  int result = 0;
  for (int i = 0; i < rounds && result == 0; ++i) {
    result = Round(argv[1]);
    if (result != 0) std::printf("round %d failed\n", i + 1);
    std::lock_guard<std::mutex> guard(lock);
    ++round;
    changed.notify_all();
  }
  {
    std::lock_guard<std::mutex> guard(lock);
    done = true;
  }
  changed.notify_all();
  watchdog.join();
  if (result == 0) std::printf("%d rounds of load, open, unload without terminate\n", rounds);
  return result;
}
