// A client whose main thread calls exit() while another of its threads is
// inside the library. Usage: exit_while_busy <IPv4 address of the printer>
// <read|write|callback> <delay ms>. The worker thread loops KPC_Read (read),
// KPC_Write and KPC_Read (write), or sits in a status callback that calls back
// into the library (callback); the main thread lets it run for the delay and
// exits with code 0. Exit code 1 when a step before that failed. Any other
// end (a signal, a hang that the caller's watchdog ends) is a fault.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/module.h"
#include "portwire.h"

namespace {

decltype(&::KPC_GetStatus) g_getStatus = nullptr;
std::atomic<bool> g_busy{false};

void PORTWIRE_CALL SlowStatusProc(int32_t, void*) {
  g_busy.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int32_t status = 0;
  g_getStatus(&status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 1;
  tw::platform::Module library = tw::platform::Module::Load(u"Portwire.dll");
  const auto setPort = library.Function<decltype(&::KPC_SetPort)>("KPC_SetPort");
  const auto open = library.Function<decltype(&::KPC_Open)>("KPC_Open");
  const auto read = library.Function<decltype(&::KPC_Read)>("KPC_Read");
  const auto write = library.Function<decltype(&::KPC_Write)>("KPC_Write");
  const auto registerStatus = library.Function<decltype(&::KPC_RegisterStatusProc)>("KPC_RegisterStatusProc");
  g_getStatus = library.Function<decltype(&::KPC_GetStatus)>("KPC_GetStatus");
  if (!setPort || !open || !read || !write || !registerStatus || !g_getStatus) return 1;

  PortSettings record;
  std::memset(&record, 0, sizeof record);
  const char16_t net[] = u"NET";
  std::memcpy(record.portType, net, sizeof net);
  const std::string address = argv[1];
  for (size_t i = 0; i < address.size() && i + 1 < 260; ++i) record.portName[i] = static_cast<uint16_t>(address[i]);
  record.readTimeout = 2000;
  record.writeTimeout = 2000;
  if (setPort(&record) != PW_OK || open(1) != PW_OK) return 1;

  const std::string mode = argv[2];
  std::thread worker([&] {
    const uint8_t modelQuery[] = {0x10, 0x14, 0x12, 0x00, 0x00};
    uint8_t buffer[512];
    for (;;) {
      uint32_t n = 0;
      if (mode == "read") {
        g_busy.store(true);
        read(buffer, sizeof buffer, &n, 60000);  // a long wait, as point-of-sale programs use
      } else if (mode == "write") {
        g_busy.store(true);
        write(modelQuery, sizeof modelQuery, &n, 2000);
        read(buffer, sizeof buffer, &n, 50);
      } else {
        // Called at once on this thread, and by the library's own threads
        // whenever the printer's status comes.
        registerStatus(&SlowStatusProc, nullptr);
      }
    }
  });
  worker.detach();
  while (!g_busy.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
  std::exit(0);  // the worker is inside the library
}
