#pragma once
// Loading a shared module by its Windows file name.
//
// Programs and the library name modules the way Windows does ("Portwire.dll").
// On Windows the name goes to LoadLibraryW unchanged. On Linux "X.dll" means the
// file "libX.so": first in the running program's own folder (as Windows searches
// the application folder first), then through the standard dynamic linker search.

#include <memory>
#include <string>
#include <string_view>

namespace tw::platform {

class Module {
 public:
  Module() = default;
  ~Module();
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Loads the module; an empty Module on failure (never throws).
  static Module Load(std::u16string_view windowsFileName);
  // The module when this process has already loaded it (found where Load
  // looks), with a reference of its own; an empty Module otherwise. Never
  // loads anything.
  static Module FindLoaded(std::u16string_view windowsFileName);

  bool IsLoaded() const { return handle_ != nullptr; }
  // Address of an exported symbol, or null.
  void* Symbol(const char* name) const;
  // Unloads now; harmless when nothing is loaded.
  void Unload();

  template <typename Fn>
  Fn Function(const char* name) const {
    return reinterpret_cast<Fn>(Symbol(name));
  }

 private:
  explicit Module(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

// The file name that the loader tries on this OS for a Windows module name
// (Linux: "Portwire.dll" -> "libPortwire.so"; Windows: unchanged).
std::string NativeModuleFileName(std::u16string_view windowsFileName);

}  // namespace tw::platform
