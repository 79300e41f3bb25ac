#include "platform/os_error.h"

#include <windows.h>

#include <iterator>

#include "platform/text.h"

namespace tw::platform {

std::string OsErrorText(int osError) {
  wchar_t buffer[512] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 static_cast<DWORD>(osError), 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  std::u16string text(buffer, buffer + n);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' || text.back() == u'.')) {
    text.pop_back();
  }
  if (text.empty()) return "error " + std::to_string(osError);
  return Utf16ToUtf8(text);
}

std::string AccessGroupFor(DeviceAccess, int) { return {}; }

}  // namespace tw::platform
