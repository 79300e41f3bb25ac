#include "platform/known_folders.h"

#include <cstdlib>
#include <filesystem>

#include "platform/text.h"

namespace tw::platform {

std::u16string ProgramFilesFolder() {
  const char* prefix = std::getenv("PORTWIRE_PROGRAM_FILES");
  std::string folder = (prefix && *prefix) ? prefix : "/opt";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return Utf8ToUtf16(folder);
}

bool PathExists(std::u16string_view path) {
  std::string native = Utf16ToUtf8(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  std::error_code ec;
  return !native.empty() && std::filesystem::exists(native, ec);
}

std::u16string EnvironmentText(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value ? Utf8ToUtf16(value) : std::u16string();
}

}  // namespace tw::platform
