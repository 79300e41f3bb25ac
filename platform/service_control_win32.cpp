#include "platform/service_control.h"

#include <windows.h>
// windows.h maps OpenService to OpenServiceW, which would rename our method.
#undef OpenService

#include <string>

namespace tw::platform {
namespace {

// Access to the manager: GENERIC_EXECUTE. To a service: query status, start, stop.
constexpr DWORD kManagerAccess = GENERIC_EXECUTE;
constexpr DWORD kServiceAccess = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;  // 0x34

class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE h) : h_(h) {}
  ~ScHandle() {
    if (h_ != nullptr) CloseServiceHandle(h_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return h_; }

 private:
  SC_HANDLE h_;
};

class Win32Service final : public IServiceHandle {
 public:
  explicit Win32Service(SC_HANDLE h) : handle_(h) {}

  std::optional<uint32_t> QueryState() override {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(handle_.get(), &status)) return std::nullopt;
    return status.dwCurrentState;
  }

  bool SendStop() override {
    SERVICE_STATUS status{};
    return ControlService(handle_.get(), SERVICE_CONTROL_STOP, &status) != 0;
  }

  bool Start() override { return StartServiceW(handle_.get(), 0, nullptr) != 0; }

 private:
  ScHandle handle_;
};

class Win32ServiceManager final : public IServiceControlManager {
 public:
  explicit Win32ServiceManager(SC_HANDLE h) : handle_(h) {}

  std::unique_ptr<IServiceHandle> OpenService(std::u16string_view name) override {
    std::wstring wide(name.begin(), name.end());
    SC_HANDLE service = OpenServiceW(handle_.get(), wide.c_str(), kServiceAccess);
    if (service == nullptr) return nullptr;
    return std::make_unique<Win32Service>(service);
  }

 private:
  ScHandle handle_;
};

}  // namespace

std::unique_ptr<IServiceControlManager> OpenServiceControlManager() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, kManagerAccess);
  if (manager == nullptr) return nullptr;
  return std::make_unique<Win32ServiceManager>(manager);
}

}  // namespace tw::platform
