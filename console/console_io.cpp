#include "console/console_io.h"

#include <cstdio>
#include <vector>

#include "platform/signals.h"

namespace tw::console {

void IConsole::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    Write(std::string(buf.data(), static_cast<size_t>(n)));
  }
  va_end(args);
}

void CStdConsole::Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void CStdConsole::WriteError(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

CStdConsole::CStdConsole() { platform::WatchStopRequests(); }

void CStdConsole::Sleep(int milliseconds) { platform::SleepUnlessStopped(milliseconds); }

bool CStdConsole::StopRequested() { return platform::StopRequested(); }

}  // namespace tw::console
