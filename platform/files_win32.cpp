#include "platform/files.h"

#include <windows.h>

#include <string>

#include "platform/text.h"

namespace tw::platform {

namespace {

std::string LastErrorText() {
  const DWORD code = GetLastError();
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  if (text.empty()) return "error " + std::to_string(code);
  return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace

bool CreateNewFolder(const std::filesystem::path& folder, std::string& reason) {
  if (CreateDirectoryW(folder.c_str(), nullptr)) return true;
  reason = LastErrorText();
  return false;
}

bool RegularFileExists(const std::filesystem::path& file) {
  const DWORD attributes = GetFileAttributesW(file.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to, std::string& reason) {
  if (CopyFileW(from.c_str(), to.c_str(), FALSE)) return true;
  reason = LastErrorText();
  return false;
}

std::string NativeDeliverableFileName(std::u16string_view windowsFileName) {
  return Utf16ToUtf8(windowsFileName);
}

}  // namespace tw::platform
