// Paired Bluetooth devices on Windows: bthprops.cpl, loaded at run time (it is
// missing on systems without Bluetooth), and each device's COM port from the
// device setup class of ports.
#include <windows.h>
#include <bluetoothapis.h>
#include <setupapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/bluetooth.h"
#include "platform/text.h"

namespace tw::platform {
namespace {

// {4D36E978-E325-11CE-BFC1-08002BE10318}: GUID_DEVCLASS_PORTS.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

using FindFirstFn = HBLUETOOTH_DEVICE_FIND(WINAPI*)(const BLUETOOTH_DEVICE_SEARCH_PARAMS*, BLUETOOTH_DEVICE_INFO*);
using FindNextFn = BOOL(WINAPI*)(HBLUETOOTH_DEVICE_FIND, BLUETOOTH_DEVICE_INFO*);
using FindCloseFn = BOOL(WINAPI*)(HBLUETOOTH_DEVICE_FIND);

// bthprops.cpl with the three functions, or nothing.
struct Bthprops {
  HMODULE module = nullptr;
  FindFirstFn findFirst = nullptr;
  FindNextFn findNext = nullptr;
  FindCloseFn findClose = nullptr;
  Bthprops() {
    module = LoadLibraryW(L"bthprops.cpl");
    if (!module) return;
    findFirst = Resolve<FindFirstFn>("BluetoothFindFirstDevice");
    findNext = Resolve<FindNextFn>("BluetoothFindNextDevice");
    findClose = Resolve<FindCloseFn>("BluetoothFindDeviceClose");
    if (!findFirst || !findNext || !findClose) {
      FreeLibrary(module);
      module = nullptr;
    }
  }
  ~Bthprops() {
    if (module) FreeLibrary(module);
  }
  template <typename Fn>
  Fn Resolve(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  Bthprops(const Bthprops&) = delete;
  Bthprops& operator=(const Bthprops&) = delete;
};

// The "PortName" of the first port device whose instance id contains the
// address text (twelve upper-case hex digits).
std::wstring FindBluetoothComPort(const std::wstring& address) {
  HDEVINFO set = SetupDiGetClassDevsExW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return {};
  std::wstring port;
  SP_DEVINFO_LIST_DETAIL_DATA_W listDetail{};
  listDetail.cbSize = sizeof listDetail;
  if (SetupDiGetDeviceInfoListDetailW(set, &listDetail)) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
      wchar_t id[512] = {};
      if (!SetupDiGetDeviceInstanceIdW(set, &device, id, 511, nullptr)) continue;
      if (std::wstring(id).find(address) == std::wstring::npos) continue;
      HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
      if (key != INVALID_HANDLE_VALUE) {
        wchar_t name[257] = {};
        DWORD type = 0;
        DWORD size = 512;
        if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
            type == REG_SZ) {
          port = name;
        }
        RegCloseKey(key);
      }
      break;  // only the first device that carries the address
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return port;
}

}  // namespace

int SearchPairedBluetoothDevices(std::vector<PairedBluetoothDevice>& out, std::uint32_t* lastError) {
  out.clear();
  if (lastError) *lastError = 0;
  Bthprops bt;
  if (!bt.module) return kBluetoothUnavailable;

  BLUETOOTH_DEVICE_SEARCH_PARAMS params{};
  params.dwSize = sizeof params;
  params.fReturnAuthenticated = TRUE;
  params.fReturnRemembered = TRUE;
  BLUETOOTH_DEVICE_INFO info{};
  info.dwSize = sizeof info;

  HBLUETOOTH_DEVICE_FIND find = nullptr;
  int result = kBluetoothNone;
  for (int attempt = 1;; ++attempt) {
    find = bt.findFirst(&params, &info);
    if (find) break;
    const DWORD error = GetLastError();
    if (lastError) *lastError = error;
    if (error == ERROR_NO_MORE_ITEMS) return kBluetoothNone;
    if (error != ERROR_GEN_FAILURE) return kBluetoothFailed;
    // The Bluetooth service is busy or starting.
    if (attempt == 10) {
      if (lastError) *lastError = 2;
      return kBluetoothUnavailable;
    }
    Sleep(1000);
  }
  do {
    PairedBluetoothDevice device;
    const BYTE* a = info.Address.rgBytes;  // least significant byte first
    for (int i = 0; i < 6; ++i) device.address[i] = a[5 - i];
    wchar_t text[16];
    std::swprintf(text, 16, L"%02X%02X%02X%02X%02X%02X", a[5], a[4], a[3], a[2], a[1], a[0]);
    const std::wstring port = FindBluetoothComPort(text);
    if (!port.empty()) {
      device.comPort = Utf16ToUtf8(std::u16string(port.begin(), port.end()));
      const std::wstring name(info.szName);
      device.name = Utf16ToUtf8(std::u16string(name.begin(), name.end()));
      out.push_back(std::move(device));
    }
    info = BLUETOOTH_DEVICE_INFO{};
    info.dwSize = sizeof info;
  } while (bt.findNext(find, &info));
  bt.findClose(find);
  result = out.empty() ? kBluetoothNone : kBluetoothFound;
  return result;
}

int BluetoothSupportLevel() {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) return 0;
#pragma GCC diagnostic pop
  const bool workstation = v.wProductType == VER_NT_WORKSTATION;
  const DWORD major = v.dwMajorVersion, minor = v.dwMinorVersion, sp = v.wServicePackMajor;
  if (major < 5) return 0;
  if (major == 5) return minor == 1 && workstation && (sp == 2 || sp == 3) ? 1 : 0;
  if (major == 6 && minor == 0) return !workstation ? 0 : sp == 1 ? 1 : sp >= 2 ? 2 : 0;
  if (major == 6 && minor == 1) return workstation ? 2 : 0;
  return 2;
}

}  // namespace tw::platform
