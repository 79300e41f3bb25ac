// The registry on Linux: a folder tree staged under PORTWIRE_REGISTRY_ROOT
// (layout in registry.h).

#include "platform/registry.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/process.h"
#include "platform/text.h"

namespace tw::platform {

namespace fs = std::filesystem;

struct RegistryKey::Impl {
  fs::path folder;
};

namespace {

char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return ToLowerAscii(x) < ToLowerAscii(y); });
}

// Subfolder names of `folder`, sorted as the registry enumerates subkeys.
std::vector<std::string> SubfolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  return names;
}

// The subfolder of `folder` named `name` ignoring case, if any.
std::optional<fs::path> FindSubfolder(const fs::path& folder, std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  std::error_code ec;
  fs::path exact = folder / std::string(name);
  if (fs::is_directory(exact, ec)) return exact;
  for (const std::string& candidate : SubfolderNames(folder)) {
    if (SameIgnoringCase(candidate, name)) return folder / candidate;
  }
  return std::nullopt;
}

std::optional<fs::path> Descend(fs::path folder, std::u16string_view path) {
  const std::string narrow = Utf16ToUtf8(path);
  size_t start = 0;
  while (start <= narrow.size()) {
    size_t end = narrow.find('\\', start);
    if (end == std::string::npos) end = narrow.size();
    const std::string_view part(narrow.data() + start, end - start);
    if (!part.empty()) {
      std::optional<fs::path> next = FindSubfolder(folder, part);
      if (!next) return std::nullopt;
      folder = *next;
    }
    start = end + 1;
  }
  return folder;
}

std::optional<uint32_t> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  try {
    size_t used = 0;
    const unsigned long long value = std::stoull(text, &used, 0);
    if (used != text.size() || value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(value);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

bool RegistryIsStaged() { return true; }

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RegistryKey RegistryKey::Open(RegistryHive hive, std::u16string_view path) {
  const std::optional<std::string> root = GetEnv("PORTWIRE_REGISTRY_ROOT");
  if (!root || root->empty()) return RegistryKey();
  const char* hiveName = "HKEY_LOCAL_MACHINE";
  switch (hive) {
    case RegistryHive::kLocalMachine: hiveName = "HKEY_LOCAL_MACHINE"; break;
  }
  std::optional<fs::path> hiveFolder = FindSubfolder(fs::path(*root), hiveName);
  if (!hiveFolder) return RegistryKey();
  std::optional<fs::path> folder = Descend(*hiveFolder, path);
  if (!folder) return RegistryKey();
  auto impl = std::make_unique<Impl>();
  impl->folder = *folder;
  return RegistryKey(std::move(impl));
}

bool RegistryKey::IsOpen() const { return impl_ != nullptr; }

std::optional<std::u16string> RegistryKey::SubkeyName(uint32_t index) const {
  if (!impl_) return std::nullopt;
  const std::vector<std::string> names = SubfolderNames(impl_->folder);
  if (index >= names.size()) return std::nullopt;
  return Utf8ToUtf16(names[index]);
}

RegistryKey RegistryKey::OpenSubkey(std::u16string_view name) const {
  if (!impl_ || name.empty() || name.find(u'\\') != std::u16string_view::npos) return RegistryKey();
  std::optional<fs::path> folder = FindSubfolder(impl_->folder, Utf16ToUtf8(name));
  if (!folder) return RegistryKey();
  auto impl = std::make_unique<Impl>();
  impl->folder = *folder;
  return RegistryKey(std::move(impl));
}

std::optional<RegistryValue> RegistryKey::ReadValue(std::u16string_view name, uint32_t maxBytes) const {
  if (!impl_) return std::nullopt;
  std::ifstream in(impl_->folder / "values", std::ios::binary);
  if (!in) return std::nullopt;
  const std::string wanted = Utf16ToUtf8(name);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string valueName = line.substr(0, eq);
    std::string type = "sz";
    const size_t colon = valueName.rfind(':');
    if (colon != std::string::npos) {
      type = valueName.substr(colon + 1);
      valueName.resize(colon);
    }
    if (!SameIgnoringCase(valueName, wanted)) continue;
    const std::string text = line.substr(eq + 1);
    RegistryValue value;
    if (SameIgnoringCase(type, "sz") || SameIgnoringCase(type, "expand")) {
      value.type = SameIgnoringCase(type, "sz") ? RegistryValueType::kString : RegistryValueType::kExpandString;
      value.text = Utf8ToUtf16(text);
      if ((value.text.size() + 1) * 2 > maxBytes) return std::nullopt;
    } else if (SameIgnoringCase(type, "dword")) {
      const std::optional<uint32_t> number = ParseNumber(text);
      if (!number || maxBytes < 4) return std::nullopt;
      value.type = RegistryValueType::kNumber;
      value.number = *number;
    } else {
      return std::nullopt;
    }
    return value;
  }
  return std::nullopt;
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
