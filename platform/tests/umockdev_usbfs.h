#pragma once
// A simulated KP-S410 behind a umockdev usbfs node (/dev/bus/usb/BBB/DDD):
// it answers the usbfs ioctls that libusb makes as the kernel would for a
// device with one bulk OUT and one bulk IN endpoint, and feeds the bulk
// transfers to the printer's command handling. So a program in the test bed
// (or a child of it) reaches the printer through its real libusb code.
//
// The handler runs on umockdev's worker thread. libusb learns of completed
// transfers by polling the node, which in the test bed is always ready, so it
// asks to reap often; nothing here blocks.
//
// A reset or dropped link makes the device stop answering for resetMs: its
// transfers stay pending until the host gives up on them, as with a device
// that is busy restarting. (Going off the bus cannot be shown: libusb learns
// of an unplug from an error condition on the node that the test bed's node
// never raises.) Afterwards the printer starts a new link.
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tests/umockdev_bed.h"
#include "sim/printer/sim_protocol.h"

namespace tw::testing {

class UsbfsPrinter {
 public:
  struct Options {
    int resetMs = 1000;
    // Another driver holds the interface: claiming it fails with EBUSY.
    bool interfaceHeld = false;
  };

  // Attach before the device is added, so that its first open is served.
  UsbfsPrinter(UmockdevBed& bed, std::string devNode, sim::SimBehaviour behaviour, Options options)
      : bed_(bed), devNode_(std::move(devNode)), options_(options), protocol_(std::move(behaviour)),
        handler_(umockdev_ioctl_base_new()) {
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbfsPrinter::OnIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&UsbfsPrinter::OnVanished), this);
    GError* error = nullptr;
    attached_ = umockdev_testbed_attach_ioctl(bed_.Get(), devNode_.c_str(), handler_, &error);
    if (error) {
      std::fprintf(stderr, "umockdev: %s\n", error->message);
      g_error_free(error);
    }
  }
  ~UsbfsPrinter() {
    if (attached_) umockdev_testbed_detach_ioctl(bed_.Get(), devNode_.c_str(), nullptr);
    g_object_unref(handler_);
    std::lock_guard<std::mutex> lock(mu_);
    for (Urb& u : urbs_) Release(u);
  }
  UsbfsPrinter(const UsbfsPrinter&) = delete;
  UsbfsPrinter& operator=(const UsbfsPrinter&) = delete;

  bool Attached() const { return attached_; }

  struct Counts {
    std::size_t bytesReceived = 0;
    int claims = 0;            // successful interface claims
    int refusedClaims = 0;     // claims refused because the interface is held
    int detachAttempts = 0;    // requests to detach a kernel driver
    int drops = 0;             // resets and dropped links
    int altSetting = 0;        // the interface setting last chosen
  };
  Counts GetCounts() const {
    std::lock_guard<std::mutex> lock(mu_);
    return counts_;
  }
  sim::SimRecord Record() const {
    std::lock_guard<std::mutex> lock(mu_);
    return protocol_.Record();
  }

 private:
  using Clock = std::chrono::steady_clock;

  struct Urb {
    UMockdevIoctlClient* client;
    UMockdevIoctlData* urb;     // the client's struct usbdevfs_urb, resolved
    UMockdevIoctlData* buffer;  // its buffer, resolved
    bool in;
    bool done;
  };

  static usbdevfs_urb* Struct(const Urb& u) { return reinterpret_cast<usbdevfs_urb*>(u.urb->data); }
  static void Release(Urb& u) {
    g_object_unref(u.buffer);
    g_object_unref(u.urb);
  }

  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, UsbfsPrinter* self) {
    std::lock_guard<std::mutex> lock(self->mu_);
    self->DropUrbsOf(client);
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, UsbfsPrinter* self) {
    std::lock_guard<std::mutex> lock(self->mu_);
    const long result = self->Handle(client);
    if (result < 0) {
      umockdev_ioctl_client_complete(client, -1, static_cast<int>(-result));
    } else {
      umockdev_ioctl_client_complete(client, result, 0);
    }
    // Completing copies the resolved memory back to the client: only then
    // may it go.
    for (UMockdevIoctlData* d : self->afterComplete_) g_object_unref(d);
    self->afterComplete_.clear();
    return TRUE;
  }

  bool Down() const { return Clock::now() < downUntil_; }

  void DropUrbsOf(UMockdevIoctlClient* client) {
    for (auto it = urbs_.begin(); it != urbs_.end();) {
      if (it->client == client) {
        Release(*it);
        it = urbs_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // 0 or a result >= 0 on success, -errno on failure.
  long Handle(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == USBDEVFS_IOCTL || request == USBDEVFS_DISCONNECT || request == USBDEVFS_DISCONNECT_CLAIM) {
      ++counts_.detachAttempts;
    }
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        if (!caps) return -EFAULT;
        *reinterpret_cast<guint32*>(caps->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        g_object_unref(caps);
        return 0;
      }
      case USBDEVFS_GETDRIVER:
        return -ENODATA;  // no driver bound that the host may ask about
      case USBDEVFS_IOCTL: {
        // A request to a bound driver: only "detach" is known. With nothing
        // bound the kernel says ENODATA; a holding driver is taken away.
        UMockdevIoctlData* req = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
        if (!req) return -EFAULT;
        const int code = reinterpret_cast<usbdevfs_ioctl*>(req->data)->ioctl_code;
        afterComplete_.push_back(req);
        if (code != static_cast<int>(USBDEVFS_DISCONNECT)) return -ENOTTY;
        if (!options_.interfaceHeld) return -ENODATA;
        options_.interfaceHeld = false;
        return 0;
      }
      case USBDEVFS_CLAIMINTERFACE:
        if (options_.interfaceHeld) {
          ++counts_.refusedClaims;
          return -EBUSY;
        }
        ++counts_.claims;
        return 0;
      case USBDEVFS_SETINTERFACE: {
        UMockdevIoctlData* set = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_setinterface), nullptr);
        if (!set) return -EFAULT;
        counts_.altSetting = static_cast<int>(reinterpret_cast<usbdevfs_setinterface*>(set->data)->altsetting);
        afterComplete_.push_back(set);
        return 0;
      }
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESETEP:
        return 0;
      case USBDEVFS_SUBMITURB: return Submit(client, arg);
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: return Reap(client, arg);
      case USBDEVFS_DISCARDURB: {
        const gulong address = *reinterpret_cast<gulong*>(arg->data);
        for (Urb& u : urbs_) {
          if (u.client == client && !u.done && u.urb->client_addr == address) {
            Struct(u)->status = -ENOENT;
            Struct(u)->actual_length = 0;
            u.done = true;
            return 0;
          }
        }
        return -EINVAL;
      }
      default:
        return -ENOTTY;
    }
  }

  long Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!urbData) return -EFAULT;
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    if (urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length < 0) {
      g_object_unref(urbData);
      return -EINVAL;
    }
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                           static_cast<gsize>(urb->buffer_length), nullptr);
    if (!buffer) {
      g_object_unref(urbData);
      return -EFAULT;
    }
    Urb u{client, urbData, buffer, (urb->endpoint & 0x80) != 0, false};
    urb->status = 0;
    urb->actual_length = 0;
    if (!u.in && !Down()) {
      counts_.bytesReceived += static_cast<std::size_t>(urb->buffer_length);
      urb->actual_length = urb->buffer_length;
      u.done = true;
      for (const sim::SimOutcome& o : protocol_.Feed(buffer->data, static_cast<std::size_t>(urb->buffer_length))) {
        if (o.dropLink || o.reset) {
          GoOffTheBus();
          break;
        }
        toHost_.insert(toHost_.end(), o.reply.begin(), o.reply.end());
      }
    }
    urbs_.push_back(u);
    return 0;
  }

  long Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (!Down() && restartPending_) {
      restartPending_ = false;
      protocol_.NewLink(true);
    }
    // The printer's bytes go to the oldest waiting IN transfer.
    for (Urb& u : urbs_) {
      if (toHost_.empty() || Down()) break;
      if (u.client != client || !u.in || u.done) continue;
      const std::size_t n = std::min<std::size_t>(toHost_.size(), static_cast<std::size_t>(Struct(u)->buffer_length));
      std::copy_n(toHost_.begin(), n, u.buffer->data);
      toHost_.erase(toHost_.begin(), toHost_.begin() + static_cast<std::ptrdiff_t>(n));
      Struct(u)->actual_length = static_cast<int>(n);
      u.done = true;
    }
    for (auto it = urbs_.begin(); it != urbs_.end(); ++it) {
      if (it->client != client || !it->done) continue;
      UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
      if (!target) return -EFAULT;
      umockdev_ioctl_data_set_ptr(target, 0, it->urb);
      afterComplete_.insert(afterComplete_.end(), {target, it->buffer, it->urb});
      urbs_.erase(it);
      return 0;
    }
    return -EAGAIN;
  }

  void GoOffTheBus() {
    ++counts_.drops;
    downUntil_ = Clock::now() + std::chrono::milliseconds(options_.resetMs);
    toHost_.clear();
    restartPending_ = true;
  }

  UmockdevBed& bed_;
  std::string devNode_;
  Options options_;
  mutable std::mutex mu_;
  sim::SimProtocol protocol_;
  UMockdevIoctlBase* handler_;
  bool attached_ = false;
  Clock::time_point downUntil_{};
  bool restartPending_ = false;
  std::deque<Urb> urbs_;
  std::vector<std::uint8_t> toHost_;
  std::vector<UMockdevIoctlData*> afterComplete_;
  Counts counts_;
};

}  // namespace tw::testing
