#include "platform/files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/module.h"
#include "platform/text.h"

namespace tw::platform {

bool CreateNewFolder(const std::filesystem::path& folder, std::string& reason) {
  // mkdir itself, not create_directory: an existing folder must count as a
  // failure, and the check and the creation must be one step.
  if (::mkdir(folder.c_str(), 0777) == 0) return true;
  reason = std::strerror(errno);
  return false;
}

bool RegularFileExists(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec);
}

bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to, std::string& reason) {
  std::error_code ec;
  if (std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec)) return true;
  reason = ec ? ec.message() : std::string("not copied");
  return false;
}

std::string NativeDeliverableFileName(std::u16string_view windowsFileName) {
  std::string name = Utf16ToUtf8(windowsFileName);
  const std::string exe = ".exe";
  if (name.size() > exe.size()) {
    std::string tail = name.substr(name.size() - exe.size());
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail == exe) return name.substr(0, name.size() - exe.size());
  }
  return NativeModuleFileName(windowsFileName);
}

}  // namespace tw::platform
