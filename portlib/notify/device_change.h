#pragma once
// What a device arrival or removal means for the direct backend's port. The
// platform's watcher (platform/device_events.h) only signals; this decides:
//
// Removal of the current USB printer while its link is up (route other than
// 1): the monitor stops, the link is closed and marked down, and the link loss
// is reported (status 16 to the status callback, 999 to the raw status
// callback). Removal of another device, or while the link is down, does
// nothing.
//
// Arrival (route other than 1): while a port is open and the port-access
// library holds no link, the link is made again (in the other USB class when
// the first attempt fails) and the monitor restarts; "link up" stays as it
// was, so the next Write confirms the link. Then, with a status callback
// registered, the printer's automatic status is enabled again.
//
// Only devices of the maker concern the library: names that contain, after
// lower-casing, "vid_7a5e&pid_0202" or "vid_7a5e&pid_0e".
//
// Threads: runs on the watcher's thread (Windows: the window's thread; Linux:
// the monitor thread), in parallel with callers and the backend's monitor
// thread; it uses the backend lock for opening and closing the link and the
// manager's Purge, EnsureInitialized and EnableStatusBack without the API lock.
// Each event is handled under the backend's device-event gate, which Unload
// takes too, so no step calls into a library that is going away; the new
// link of an arrival is made (and its monitor started) under the backend lock
// only while the port is still open, so a Close racing the arrival leaves
// neither behind.

#include <memory>
#include <string_view>

#include "platform/device_events.h"
#include "shared/result_codes.h"

namespace tw::portwire {

class CDirectComm;

// Whether a device name (any case) names one of the maker's printers.
bool ConcernsThisLibrary(std::u16string_view deviceName);

// Runs the steps for one event. kResultFailed when an arrival found the link
// block unbuildable (the event is dropped); else kResultOk.
Result HandleDeviceChange(CDirectComm& direct, const platform::DeviceEvent& event);

// The watcher of one direct backend: started by its Load, stopped at its
// destruction.
class CDeviceChangeNotifier {
 public:
  explicit CDeviceChangeNotifier(CDirectComm& direct);
  ~CDeviceChangeNotifier();
  CDeviceChangeNotifier(const CDeviceChangeNotifier&) = delete;
  CDeviceChangeNotifier& operator=(const CDeviceChangeNotifier&) = delete;

  // Starts (again) watching; false when the system gave no notification.
  bool SetUp();
  void TearDown();
  bool Active() const { return watcher_ != nullptr; }

 private:
  CDirectComm& direct_;
  std::unique_ptr<platform::DeviceEventWatcher> watcher_;
};

}  // namespace tw::portwire
