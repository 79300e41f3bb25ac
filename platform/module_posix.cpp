#include "platform/module.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/process.h"
#include "platform/text.h"

namespace tw::platform {

std::string NativeModuleFileName(std::u16string_view windowsFileName) {
  std::string name = Utf16ToUtf8(windowsFileName);
  // A path composed the Windows way ("<prefix>\\Folder\\X.dll") names folders
  // with "\\"; only the file name itself is mapped.
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  const size_t slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  const std::string ext = ".dll";
  if (file.size() > ext.size()) {
    std::string tail = file.substr(file.size() - ext.size());
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail == ext) file = "lib" + file.substr(0, file.size() - ext.size()) + ".so";
  }
  return folder + file;
}

namespace {

void* OpenModule(std::u16string_view windowsFileName, int flags) {
  if (windowsFileName.empty()) return nullptr;
  const std::string file = NativeModuleFileName(windowsFileName);
  if (file.find('/') == std::string::npos) {
    const std::filesystem::path beside = ExecutableFolder() / file;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) {
      if (void* h = dlopen(beside.c_str(), flags)) return h;
    }
  }
  return dlopen(file.c_str(), flags);
}

}  // namespace

Module Module::Load(std::u16string_view windowsFileName) {
  return Module(OpenModule(windowsFileName, RTLD_NOW | RTLD_LOCAL));
}

Module Module::FindLoaded(std::u16string_view windowsFileName) {
  return Module(OpenModule(windowsFileName, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD));
}

void* Module::Symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return dlsym(handle_, name);
}

void Module::Unload() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace tw::platform
