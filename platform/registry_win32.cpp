#include "platform/registry.h"

#include <windows.h>

#include <vector>

namespace tw::platform {

struct RegistryKey::Impl {
  HKEY key = nullptr;
  ~Impl() {
    if (key != nullptr) RegCloseKey(key);
  }
};

namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_64KEY;

}  // namespace

bool RegistryIsStaged() { return false; }

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RegistryKey RegistryKey::Open(RegistryHive hive, std::u16string_view path) {
  HKEY root = HKEY_LOCAL_MACHINE;
  switch (hive) {
    case RegistryHive::kLocalMachine: root = HKEY_LOCAL_MACHINE; break;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, Wide(path).c_str(), 0, kReadAccess, &key) != ERROR_SUCCESS) return RegistryKey();
  auto impl = std::make_unique<Impl>();
  impl->key = key;
  return RegistryKey(std::move(impl));
}

bool RegistryKey::IsOpen() const { return impl_ != nullptr && impl_->key != nullptr; }

std::optional<std::u16string> RegistryKey::SubkeyName(uint32_t index) const {
  if (!IsOpen()) return std::nullopt;
  wchar_t name[256];  // the longest key name the registry allows is 255 characters
  DWORD length = 256;
  if (RegEnumKeyExW(impl_->key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::u16string(name, name + length);
}

RegistryKey RegistryKey::OpenSubkey(std::u16string_view name) const {
  if (!IsOpen()) return RegistryKey();
  HKEY key = nullptr;
  if (RegOpenKeyExW(impl_->key, Wide(name).c_str(), 0, kReadAccess, &key) != ERROR_SUCCESS) return RegistryKey();
  auto impl = std::make_unique<Impl>();
  impl->key = key;
  return RegistryKey(std::move(impl));
}

std::optional<RegistryValue> RegistryKey::ReadValue(std::u16string_view name, uint32_t maxBytes) const {
  if (!IsOpen()) return std::nullopt;
  std::vector<BYTE> data(maxBytes + 2, 0);  // room for a terminator the value may lack
  DWORD type = 0;
  DWORD size = maxBytes;
  if (RegQueryValueExW(impl_->key, Wide(name).c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegistryValue value;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    value.type = type == REG_SZ ? RegistryValueType::kString : RegistryValueType::kExpandString;
    const auto* chars = reinterpret_cast<const wchar_t*>(data.data());
    size_t count = size / sizeof(wchar_t);
    while (count > 0 && chars[count - 1] == L'\0') --count;
    for (size_t i = 0; i < count && chars[i] != L'\0'; ++i) value.text.push_back(static_cast<char16_t>(chars[i]));
  } else if (type == REG_DWORD && size >= 4) {
    value.type = RegistryValueType::kNumber;
    value.number = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
                   (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
  } else {
    value.type = RegistryValueType::kOther;
  }
  return value;
}

std::optional<std::u16string> RegistryKey::ReadString(std::u16string_view name, uint32_t maxBytes) const {
  std::optional<RegistryValue> value = ReadValue(name, maxBytes);
  if (!value) return std::nullopt;
  if (value->type != RegistryValueType::kString && value->type != RegistryValueType::kExpandString) {
    return std::nullopt;
  }
  return std::move(value->text);
}

}  // namespace tw::platform
