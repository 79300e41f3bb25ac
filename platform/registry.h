#pragma once
// Read-only access to the registry values that the communication library looks
// at: the uninstall entries and the install folders of the maker's driver
// software.
//
// Windows: the system registry (64-bit view of the 64-bit build).
//
// Linux: a file-backed tree, so tests (and users who want to imitate an
// installation) can stage installed driver software. The tree's root folder is
// given by the environment variable PORTWIRE_REGISTRY_ROOT; without it no key
// exists. Layout:
//
//   $PORTWIRE_REGISTRY_ROOT/
//     HKEY_LOCAL_MACHINE/             one folder per hive
//       SOFTWARE/Microsoft/...        one folder per key, "\" in a key path is "/"
//         values                      the key's values (optional file)
//
// A key exists when its folder exists. Key names are matched ignoring ASCII case,
// as on Windows. Subkeys are enumerated in the order of their names compared
// ignoring case. The file "values" holds one value per line, UTF-8:
//
//   DisplayName=ORLEX Zavav Printer Driver 4     a string (REG_SZ)
//   InstallLocation:expand=C:\Somewhere          an expandable string (REG_EXPAND_SZ)
//   Flags:dword=12                               a 32-bit number, decimal or 0x hex
//
// The value name runs up to the first "=" (a ":type" suffix before it gives the
// type); the value is the rest of the line, without the line end. Blank lines and
// lines starting with "#" are ignored. Value names are matched ignoring case.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tw::platform {

enum class RegistryHive { kLocalMachine };

// True where keys come from the staged tree (Linux), false where they come
// from the system registry (Windows). Tests that stage keys skip otherwise.
bool RegistryIsStaged();

enum class RegistryValueType { kString, kExpandString, kNumber, kOther };

struct RegistryValue {
  RegistryValueType type = RegistryValueType::kOther;
  std::u16string text;  // kString and kExpandString, without a terminator
  uint32_t number = 0;  // kNumber
};

// An open key; closed by the destructor. A default-constructed or failed key is
// not open and every read on it fails.
class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens `path` ("SOFTWARE\\Microsoft\\...") below a hive for reading and
  // enumeration. Not open on failure.
  static RegistryKey Open(RegistryHive hive, std::u16string_view path);

  bool IsOpen() const;

  // Name of the subkey at `index` (0, 1, ...); nothing when there is none.
  std::optional<std::u16string> SubkeyName(uint32_t index) const;

  // Opens a direct subkey by name.
  RegistryKey OpenSubkey(std::u16string_view name) const;

  // A value of at most `maxBytes` bytes (strings counted in UTF-16 units with
  // their terminator, as Windows stores them). Nothing when the value is
  // missing or larger.
  std::optional<RegistryValue> ReadValue(std::u16string_view name, uint32_t maxBytes) const;

  // A string value (plain or expandable) within `maxBytes`; nothing otherwise.
  std::optional<std::u16string> ReadString(std::u16string_view name, uint32_t maxBytes) const;

 private:
  struct Impl;
  explicit RegistryKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace tw::platform
