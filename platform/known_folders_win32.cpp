#include "platform/known_folders.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

namespace tw::platform {

std::u16string ProgramFilesFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder))) return {};
  const std::wstring text(folder);
  return std::u16string(text.begin(), text.end());
}

bool PathExists(std::u16string_view path) {
  const std::wstring text(path.begin(), path.end());
  return !text.empty() && PathFileExistsW(text.c_str()) != FALSE;
}

std::u16string EnvironmentText(std::string_view name) {
  const std::wstring wide(name.begin(), name.end());
  const DWORD needed = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (needed == 0) return {};
  std::wstring value(needed, L'\0');
  const DWORD got = GetEnvironmentVariableW(wide.c_str(), value.data(), needed);
  value.resize(got);
  return std::u16string(value.begin(), value.end());
}

}  // namespace tw::platform
