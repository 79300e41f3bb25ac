#include "platform/port_names.h"

#include <windows.h>

#include <cwctype>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace tw::platform {
namespace {

std::optional<fs::path> Resolve(const wchar_t* prefix, int n, int max) {
  if (n < 1 || n > max) return std::nullopt;
  return fs::path(std::wstring(L"\\\\.\\") + prefix + std::to_wstring(n));
}

// Every DOS device name of the system, from QueryDosDeviceW(NULL).
std::vector<std::wstring> DosDeviceNames() {
  std::vector<wchar_t> buffer(64 * 1024);
  for (int attempt = 0; attempt < 6; ++attempt) {
    DWORD n = QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n != 0) {
      std::vector<std::wstring> names;
      for (const wchar_t* p = buffer.data(); p < buffer.data() + n && *p; p += wcslen(p) + 1) names.emplace_back(p);
      return names;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

std::vector<int> List(const wchar_t* prefix, int max) {
  const size_t len = wcslen(prefix);
  std::set<int> numbers;
  for (const std::wstring& name : DosDeviceNames()) {
    if (name.size() <= len || name.size() > len + 3 || _wcsnicmp(name.c_str(), prefix, len) != 0) continue;
    bool digits = true;
    for (size_t i = len; i < name.size(); ++i) digits = digits && iswdigit(name[i]);
    if (!digits) continue;
    const int n = std::stoi(name.substr(len));
    if (n >= 1 && n <= max) numbers.insert(n);
  }
  return {numbers.begin(), numbers.end()};
}

}  // namespace

std::optional<fs::path> ResolveComPort(int n) { return Resolve(L"COM", n, kMaxComPort); }
std::optional<fs::path> ResolveLptPort(int n) { return Resolve(L"LPT", n, kMaxLptPort); }
std::vector<int> ListComPorts() { return List(L"COM", kMaxComPort); }
std::vector<int> ListLptPorts() { return List(L"LPT", kMaxLptPort); }

}  // namespace tw::platform
