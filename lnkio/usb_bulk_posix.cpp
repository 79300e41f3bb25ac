// USB printers through libusb: the maker's own class (vendor id 0x7A5E, the
// first interface that has a bulk IN and a bulk OUT endpoint), and printer-
// class devices that no kernel printer driver claimed (their printer
// interface, class 7). The device is the one the machine-ports service lists
// under that number (found again on the bus by bus number and address).
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "lnkio/lnkioapi.h"
#include "lnkio/transport.h"
#include "lnkio/usb_bulk.h"
#include "platform/machine_ports.h"
#include "platform/unique_handle.h"

namespace tw::lnkio {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint16_t kVendorId = 0x7A5E;
// After a failed transfer the endpoint is left alone this long.
constexpr milliseconds kErrorPause{50};
// This many failures in a row (about a second of them) mean the device is
// no longer usable: the link counts as dropped.
constexpr int kMaxErrorsInARow = 20;

// libusb's own objects, each released once.
struct ContextTraits {
  using Type = libusb_context*;
  static Type Invalid() { return nullptr; }
  static bool Valid(Type c) { return c != nullptr; }
  static void Close(Type c) { libusb_exit(c); }
};
struct DeviceHandleTraits {
  using Type = libusb_device_handle*;
  static Type Invalid() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { libusb_close(h); }
};
using UniqueContext = platform::UniqueHandle<ContextTraits>;
using UniqueDeviceHandle = platform::UniqueHandle<DeviceHandleTraits>;

struct DeviceListFree {
  void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
struct ConfigFree {
  void operator()(libusb_config_descriptor* c) const { libusb_free_config_descriptor(c); }
};

struct Endpoints {
  int interface = -1;
  int altSetting = 0;
  unsigned char in = 0;
  unsigned char out = 0;
};

// The bulk pair of one alternate setting; false when it lacks either.
bool BulkPairOf(const libusb_interface_descriptor& alt, Endpoints* found) {
  unsigned char in = 0, out = 0;
  for (int e = 0; e < alt.bNumEndpoints; ++e) {
    const libusb_endpoint_descriptor& ep = alt.endpoint[e];
    if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
    if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
      if (!in) in = ep.bEndpointAddress;
    } else if (!out) {
      out = ep.bEndpointAddress;
    }
  }
  if (!in || !out) return false;
  *found = {alt.bInterfaceNumber, alt.bAlternateSetting, in, out};
  return true;
}

constexpr int kPrinterInterfaceClass = 7;
constexpr int kPrinterBidirectional = 2;  // bInterfaceProtocol of a printer that answers

// Vendor class: the first interface with a bulk pair in its first setting.
// Printer class: the printer interface, in its bidirectional setting when it
// has one, since the maintenance exchange needs the printer's answers.
Endpoints FindBulkPair(libusb_device* dev, int usbClass) {
  Endpoints found;
  libusb_config_descriptor* raw = nullptr;
  if (libusb_get_active_config_descriptor(dev, &raw) != 0 || !raw) return found;
  const std::unique_ptr<libusb_config_descriptor, ConfigFree> config(raw);
  for (int i = 0; i < config->bNumInterfaces && found.interface < 0; ++i) {
    const libusb_interface& iface = config->interface[i];
    if (iface.num_altsetting < 1) continue;
    if (usbClass == platform::kUsbClassVendor) {
      BulkPairOf(iface.altsetting[0], &found);
      continue;
    }
    Endpoints any;
    for (int a = 0; a < iface.num_altsetting; ++a) {
      const libusb_interface_descriptor& alt = iface.altsetting[a];
      if (alt.bInterfaceClass != kPrinterInterfaceClass) continue;
      Endpoints pair;
      if (!BulkPairOf(alt, &pair)) continue;
      if (alt.bInterfaceProtocol == kPrinterBidirectional) {
        found = pair;
        break;
      }
      if (any.interface < 0) any = pair;
    }
    if (found.interface < 0) found = any;
  }
  return found;
}

// errno for a libusb result, as an open failure reports it.
int ErrnoOf(int libusbError) {
  switch (libusbError) {
    case LIBUSB_ERROR_ACCESS: return EACCES;
    case LIBUSB_ERROR_BUSY: return EBUSY;
    default: return ENODEV;
  }
}

// The claimed interface of an open device. Members go in reverse order:
// interface released, then the handle closed, then the context ended.
class LibusbBulk : public UsbBulk {
 public:
  LibusbBulk(UniqueContext ctx, UniqueDeviceHandle handle, Endpoints ep)
      : ctx_(std::move(ctx)), handle_(std::move(handle)), ep_(ep) {}
  ~LibusbBulk() override { libusb_release_interface(handle_.Get(), ep_.interface); }

  int In(std::uint8_t* buffer, int size, int* transferred, unsigned timeoutMs) override {
    return libusb_bulk_transfer(handle_.Get(), ep_.in, buffer, size, transferred, timeoutMs);
  }
  int Out(const std::uint8_t* data, int size, int* transferred, unsigned timeoutMs) override {
    return libusb_bulk_transfer(handle_.Get(), ep_.out, const_cast<std::uint8_t*>(data), size, transferred,
                                timeoutMs);
  }
  void ClearInHalt() override { libusb_clear_halt(handle_.Get(), ep_.in); }

 private:
  UniqueContext ctx_;
  UniqueDeviceHandle handle_;
  Endpoints ep_;
};

class UsbBulkTransport : public Transport {
 public:
  explicit UsbBulkTransport(std::unique_ptr<UsbBulk> bulk) : bulk_(std::move(bulk)) {}

  int Receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
    const auto deadline = Clock::now() + milliseconds(std::max(timeoutMs, 0));
    do {
      if (interrupted_.load()) return kInterrupted;
      int got = 0;
      // libusb knows no "only look": a zero wait is the shortest slice.
      const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
      const unsigned slice = static_cast<unsigned>(std::clamp<long long>(left, 1, kUsbSliceMs));
      const int r = bulk_->In(buffer, static_cast<int>(std::min<std::size_t>(capacity, 16384)), &got, slice);
      if (got > 0) {
        errorsInARow_ = 0;
        return got;
      }
      if (r == 0 || r == LIBUSB_ERROR_TIMEOUT) {
        errorsInARow_ = 0;
        continue;
      }
      if (r == LIBUSB_ERROR_NO_DEVICE) return kDropped;
      // Anything else (a babbling device's overflow, a stall, a transfer
      // error) is retried after a pause, never at once.
      if (++errorsInARow_ >= kMaxErrorsInARow) return kDropped;
      if (r == LIBUSB_ERROR_PIPE) bulk_->ClearInHalt();
      if (!PauseUnlessInterrupted(std::min(Clock::now() + kErrorPause, deadline))) return kInterrupted;
    } while (Clock::now() < deadline);
    return kNothing;
  }

  // Sent in slices, so that Interrupt (Close) ends a send that the device
  // does not take within one slice instead of after the whole link timeout.
  int Send(const std::uint8_t* data, std::size_t size, int timeoutMs, std::size_t* written) override {
    *written = 0;
    const auto deadline = Clock::now() + milliseconds(std::max(timeoutMs, 0));
    int errors = 0;
    while (*written < size) {
      if (interrupted_.load()) return kLnkioErrNotOpen;
      const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return kLnkioTimeout;
      const unsigned slice = static_cast<unsigned>(std::min<long long>(left, kUsbSliceMs));
      const int want = static_cast<int>(std::min<std::size_t>(size - *written, 1 << 20));
      int sent = 0;
      const int r = bulk_->Out(data + *written, want, &sent, slice);
      *written += static_cast<std::size_t>(std::clamp(sent, 0, want));
      if (r == 0 || r == LIBUSB_ERROR_TIMEOUT) continue;
      if (r == LIBUSB_ERROR_NO_DEVICE || ++errors >= kMaxErrorsInARow) return kLnkioErrIo;
      if (!PauseUnlessInterrupted(std::min(Clock::now() + kErrorPause, deadline))) return kLnkioErrNotOpen;
    }
    return kLnkioOk;
  }

  void Interrupt() override {
    {
      std::lock_guard<std::mutex> lock(pauseMutex_);
      interrupted_.store(true);
    }
    pauseEnded_.notify_all();
  }

 private:
  // False when interrupted.
  bool PauseUnlessInterrupted(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(pauseMutex_);
    return !pauseEnded_.wait_until(lock, until, [this] { return interrupted_.load(); });
  }

  std::unique_ptr<UsbBulk> bulk_;
  std::atomic<bool> interrupted_{false};
  int errorsInARow_ = 0;  // Receive runs on one thread at a time
  std::mutex pauseMutex_;
  std::condition_variable pauseEnded_;
};

}  // namespace

std::unique_ptr<Transport> MakeUsbBulkTransport(std::unique_ptr<UsbBulk> bulk) {
  return std::make_unique<UsbBulkTransport>(std::move(bulk));
}

std::unique_ptr<Transport> OpenUsbBulkTransport(const platform::UsbPrinter& printer, int* code,
                                                OpenFailure* failure) {
  *code = kLnkioErrNoDevice;
  failure->device = printer.node;
  failure->osError = ENODEV;
  libusb_context* rawCtx = nullptr;
  if (libusb_init(&rawCtx) != 0) return nullptr;
  UniqueContext ctx(rawCtx);
  libusb_device** rawList = nullptr;
  const ssize_t count = libusb_get_device_list(ctx.Get(), &rawList);
  const std::unique_ptr<libusb_device*, DeviceListFree> list(rawList);
  libusb_device* dev = nullptr;
  for (ssize_t i = 0; i < count && !dev; ++i) {
    libusb_device_descriptor desc{};
    if (libusb_get_bus_number(rawList[i]) == printer.busNumber &&
        libusb_get_device_address(rawList[i]) == printer.deviceAddress &&
        libusb_get_device_descriptor(rawList[i], &desc) == 0 && desc.idVendor == platform::kMakerUsbVendorId) {
      dev = rawList[i];
    }
  }
  if (!dev) return nullptr;
  const Endpoints ep = FindBulkPair(dev, printer.usbClass);
  if (ep.interface < 0) return nullptr;
  libusb_device_handle* rawHandle = nullptr;
  const int openResult = libusb_open(dev, &rawHandle);
  if (openResult != 0) {
    failure->osError = ErrnoOf(openResult);
    return nullptr;
  }
  UniqueDeviceHandle handle(rawHandle);
  // The maker's own class has no kernel driver of ours to keep. A printer-
  // class interface is taken only when nothing holds it: a driver bound to it
  // (another program's, or the kernel's own) belongs to someone else, so the
  // claim fails with EBUSY instead.
  if (printer.usbClass == platform::kUsbClassVendor) libusb_set_auto_detach_kernel_driver(handle.Get(), 1);
  const int claim = libusb_claim_interface(handle.Get(), ep.interface);
  if (claim != 0) {
    failure->osError = ErrnoOf(claim);
    return nullptr;
  }
  if (ep.altSetting != 0) {
    const int alt = libusb_set_interface_alt_setting(handle.Get(), ep.interface, ep.altSetting);
    if (alt != 0) {
      libusb_release_interface(handle.Get(), ep.interface);
      failure->osError = ErrnoOf(alt);
      return nullptr;
    }
  }
  *code = kLnkioOk;
  *failure = {};
  return MakeUsbBulkTransport(std::make_unique<LibusbBulk>(std::move(ctx), std::move(handle), ep));
}

}  // namespace tw::lnkio
