#include "platform/signals.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/text.h"

namespace tw::platform {
namespace {

std::atomic<bool> stopRequested{false};
HANDLE stopEvent = nullptr;  // this process's named stop event, once watched

BOOL WINAPI OnConsoleControl(DWORD type) {
  stopRequested.store(true);
  if (stopEvent) SetEvent(stopEvent);
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;  // handled: the main thread winds down by itself
    default:
      // Closing the console, log-off, shut-down: the process ends when this
      // handler returns, so hold it while the main thread closes the port
      // (it ends the process itself, which ends this thread too).
      Sleep(5000);
      return TRUE;
  }
}

}  // namespace

void WatchStopRequests() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string name = StopEventName(GetCurrentProcessId());
    // Manual reset: once set it stays set; the parent may have created it first.
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<const wchar_t*>(Utf8ToUtf16(name).c_str()));
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  });
}

bool StopRequested() {
  if (stopRequested.load()) return true;
  if (stopEvent && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
    stopRequested.store(true);
    return true;
  }
  return false;
}

bool SleepUnlessStopped(int milliseconds) {
  if (StopRequested()) return true;
  if (!stopEvent) {
    Sleep(static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds));
    return StopRequested();
  }
  const DWORD r = WaitForSingleObject(stopEvent, static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds));
  if (r == WAIT_OBJECT_0) stopRequested.store(true);
  return StopRequested();
}

std::string StopEventName(std::uint32_t processId) { return "TrimsenseStop-" + std::to_string(processId); }

void ResetStopRequest() {
  stopRequested.store(false);
  if (stopEvent) ResetEvent(stopEvent);
}

}  // namespace tw::platform
