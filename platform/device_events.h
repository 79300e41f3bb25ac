#pragma once
// Arrival and removal of devices, as the system signals them. This layer only
// signals: the library decides what an event means for its port
// (portlib/notify).
//
// Windows: a hidden message window of the class "WindowsMsgWndProc", named
// "KP-R50UtilityPnP", registered for device-interface events of the two USB
// printer interface classes. It belongs to the thread that starts the watcher,
// and events arrive only while that thread dispatches window messages (a
// console program without a message loop gets none). The handler runs inside
// the window procedure; the event's name is the device interface path.
//
// Linux: a libudev monitor of the usb and usbmisc subsystems on a thread of
// its own, stopped through a wake-up descriptor; events reach every host, the
// console program included. The handler runs on that thread; the event's name
// is the device's identity text up to its class part (UsbIdentityPrefix in
// machine_ports.h), which every identity text of the device contains.
// One plug-in is signalled once: a device with a printer interface when its
// printer node is there (or after a bounded wait for it), others at once.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tw::platform {

struct DeviceEvent {
  bool arrival = false;        // false: removal
  std::u16string deviceName;   // see above
};

class DeviceEventWatcher {
 public:
  using Handler = std::function<void(const DeviceEvent&)>;
  virtual ~DeviceEventWatcher() = default;

  // Starts watching (Windows: on the calling thread's window; Linux: starts
  // the monitor thread). Null when the system's notification cannot be set up;
  // then no events arrive and nothing else fails.
  static std::unique_ptr<DeviceEventWatcher> Start(Handler handler);
};

// Windows only (defined in the Windows file): the window procedure's filter.
// An event for WM_DEVICECHANGE (0x219) with DBT_DEVICEARRIVAL (0x8000) or
// DBT_DEVICEREMOVECOMPLETE (0x8004) and a device-interface broadcast (device
// type 5) in `lparam`; its name is the broadcast's, at most 260 characters.
// Nothing for any other message.
std::optional<DeviceEvent> DecodeDeviceChangeMessage(unsigned message, std::uintptr_t wparam, const void* lparam);

}  // namespace tw::platform
