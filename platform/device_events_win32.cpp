// Device events on Windows: one hidden message window per process, registered
// for device-interface arrival and removal of the two USB printer interface
// classes. The window belongs to the thread that started the watcher.
#include <windows.h>
#include <dbt.h>

#include <mutex>
#include <string>

#include "platform/device_events.h"

namespace tw::platform {
namespace {

// {6A1C43E2-9D07-4B58-A3F1-52C8E07D9B14}: the maker's vendor-class USB printer interface.
const GUID kVendorClass = {0x6a1c43e2, 0x9d07, 0x4b58, {0xa3, 0xf1, 0x52, 0xc8, 0xe0, 0x7d, 0x9b, 0x14}};
// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}: USB printer class interface.
const GUID kPrinterClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

constexpr wchar_t kClassName[] = L"WindowsMsgWndProc";
constexpr wchar_t kWindowName[] = L"KP-R50UtilityPnP";
constexpr size_t kMaxNameChars = 260;

// Process-wide: the window, its two registrations and the handler that the
// window procedure calls.
std::mutex g_lock;
HWND g_window = nullptr;
HDEVNOTIFY g_notify[2] = {nullptr, nullptr};
DeviceEventWatcher::Handler g_handler;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (auto event = DecodeDeviceChangeMessage(message, static_cast<std::uintptr_t>(wparam),
                                             reinterpret_cast<const void*>(lparam))) {
    DeviceEventWatcher::Handler handler;
    {
      std::lock_guard<std::mutex> guard(g_lock);
      handler = g_handler;
    }
    if (handler) handler(*event);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void Unregister() {
  for (HDEVNOTIFY& n : g_notify) {
    if (n) UnregisterDeviceNotification(n);
    n = nullptr;
  }
}

class WindowWatcher : public DeviceEventWatcher {
 public:
  ~WindowWatcher() override {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_window) DestroyWindow(g_window);
    g_window = nullptr;
    Unregister();
    g_handler = nullptr;
  }
};

}  // namespace

std::optional<DeviceEvent> DecodeDeviceChangeMessage(unsigned message, std::uintptr_t wparam, const void* lparam) {
  if (message != WM_DEVICECHANGE) return std::nullopt;
  if (wparam != DBT_DEVICEARRIVAL && wparam != DBT_DEVICEREMOVECOMPLETE) return std::nullopt;
  const auto* header = static_cast<const DEV_BROADCAST_HDR*>(lparam);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return std::nullopt;
  const auto* broadcast = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lparam);
  // The name runs to the end of the broadcast; never read past its size.
  const size_t offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  size_t limit = header->dbch_size > offset ? (header->dbch_size - offset) / sizeof(wchar_t) : 0;
  if (limit > kMaxNameChars) limit = kMaxNameChars;
  DeviceEvent event;
  event.arrival = wparam == DBT_DEVICEARRIVAL;
  for (size_t i = 0; i < limit && broadcast->dbcc_name[i] != L'\0'; ++i) {
    event.deviceName.push_back(static_cast<char16_t>(broadcast->dbcc_name[i]));
  }
  return event;
}

std::unique_ptr<DeviceEventWatcher> DeviceEventWatcher::Start(Handler handler) {
  std::lock_guard<std::mutex> guard(g_lock);
  Unregister();
  const HINSTANCE instance = ThisModule();
  if (!g_window) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.lpszClassName = kClassName;
    // A class left registered by an earlier start is still ours.
    if (RegisterClassExW(&cls) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
      g_window = CreateWindowExW(0, kClassName, kWindowName, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    }
  }
  if (!g_window) return nullptr;
  const GUID* classes[2] = {&kVendorClass, &kPrinterClass};
  for (int i = 0; i < 2; ++i) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = *classes[i];
    g_notify[i] = RegisterDeviceNotificationW(g_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  g_handler = std::move(handler);
  return std::make_unique<WindowWatcher>();
}

}  // namespace tw::platform
