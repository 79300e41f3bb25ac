// The device-change watcher: it starts and stops at once; on Windows its
// window procedure's filter picks the two events of device interfaces only.
#include "platform/device_events.h"

#include <gtest/gtest.h>

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#include <dbt.h>

#include <cstring>
#include <vector>
#endif

namespace tw::platform {
namespace {

TEST(DeviceEvents, StartsAndStopsPromptly) {
  const auto start = std::chrono::steady_clock::now();
  auto watcher = DeviceEventWatcher::Start([](const DeviceEvent&) {});
  watcher.reset();  // Linux: the thread wakes through its pipe and is joined
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

#ifdef _WIN32
std::vector<std::uint8_t> Broadcast(DWORD type, const wchar_t* name) {
  const size_t chars = wcslen(name) + 1;
  std::vector<std::uint8_t> bytes(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * sizeof(wchar_t));
  auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
  b->dbcc_size = static_cast<DWORD>(bytes.size());
  b->dbcc_devicetype = type;
  std::memcpy(b->dbcc_name, name, chars * sizeof(wchar_t));
  return bytes;
}

TEST(DeviceEventsWindows, WindowProcedureFilter) {
  const wchar_t* path = L"\\\\?\\USB#VID_7A5E&PID_0202#K4AB01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
  auto bytes = Broadcast(DBT_DEVTYP_DEVICEINTERFACE, path);
  auto arrival = DecodeDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, bytes.data());
  ASSERT_TRUE(arrival);
  EXPECT_TRUE(arrival->arrival);
  EXPECT_EQ(arrival->deviceName, u"\\\\?\\USB#VID_7A5E&PID_0202#K4AB01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
  auto removal = DecodeDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, bytes.data());
  ASSERT_TRUE(removal);
  EXPECT_FALSE(removal->arrival);

  EXPECT_FALSE(DecodeDeviceChangeMessage(WM_PAINT, DBT_DEVICEARRIVAL, bytes.data()));
  EXPECT_FALSE(DecodeDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, bytes.data()));
  EXPECT_FALSE(DecodeDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, nullptr));
  auto volume = Broadcast(DBT_DEVTYP_VOLUME, path);
  EXPECT_FALSE(DecodeDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, volume.data()));

  // A name longer than 260 characters is cut there; one without its end is
  // read only as far as the broadcast reaches.
  std::wstring longName(400, L'a');
  auto longBytes = Broadcast(DBT_DEVTYP_DEVICEINTERFACE, longName.c_str());
  EXPECT_EQ(DecodeDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, longBytes.data())->deviceName.size(), 260u);
  auto cut = Broadcast(DBT_DEVTYP_DEVICEINTERFACE, L"abcdef");
  reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(cut.data())->dbcc_size -= 4 * sizeof(wchar_t);
  EXPECT_EQ(DecodeDeviceChangeMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, cut.data())->deviceName, u"abc");
}
#endif

}  // namespace
}  // namespace tw::platform
