#include "platform/module.h"

#include <windows.h>

#include "platform/text.h"

namespace tw::platform {

std::string NativeModuleFileName(std::u16string_view windowsFileName) {
  return Utf16ToUtf8(windowsFileName);
}

Module Module::Load(std::u16string_view windowsFileName) {
  if (windowsFileName.empty()) return Module();
  std::wstring name(windowsFileName.begin(), windowsFileName.end());
  return Module(reinterpret_cast<void*>(LoadLibraryW(name.c_str())));
}

Module Module::FindLoaded(std::u16string_view windowsFileName) {
  if (windowsFileName.empty()) return Module();
  std::wstring name(windowsFileName.begin(), windowsFileName.end());
  HMODULE h = nullptr;
  // Flags 0: the module's reference count goes up, as with LoadLibraryW.
  if (!GetModuleHandleExW(0, name.c_str(), &h)) return Module();
  return Module(reinterpret_cast<void*>(h));
}

void* Module::Symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Module::Unload() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

}  // namespace tw::platform
