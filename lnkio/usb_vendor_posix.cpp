// USB devices of the printer maker's own class, through libusb: vendor id
// 0x7A5E, the first interface that has a bulk IN and a bulk OUT endpoint.
// USB number n is device n of the vendor class as the machine-ports service
// numbers it for every program (by bus and port path).
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "lnkio/lnkioapi.h"
#include "lnkio/transport.h"
#include "platform/machine_ports.h"

namespace tw::lnkio {
namespace {

constexpr std::uint16_t kVendorId = 0x7A5E;
// Each bulk IN transfer waits at most this long, so Interrupt is seen quickly.
constexpr unsigned kReceiveSliceMs = 50;

struct Endpoints {
  int interface = -1;
  unsigned char in = 0;
  unsigned char out = 0;
};

Endpoints FindBulkPair(libusb_device* dev) {
  Endpoints found;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(dev, &config) != 0 || !config) return found;
  for (int i = 0; i < config->bNumInterfaces && found.interface < 0; ++i) {
    const libusb_interface& iface = config->interface[i];
    if (iface.num_altsetting < 1) continue;
    const libusb_interface_descriptor& alt = iface.altsetting[0];
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
    if (in && out) found = {alt.bInterfaceNumber, in, out};
  }
  libusb_free_config_descriptor(config);
  return found;
}

class UsbVendorTransport : public Transport {
 public:
  UsbVendorTransport(libusb_context* ctx, libusb_device_handle* handle, Endpoints ep)
      : ctx_(ctx), handle_(handle), ep_(ep) {}
  ~UsbVendorTransport() override {
    libusb_release_interface(handle_, ep_.interface);
    libusb_close(handle_);
    libusb_exit(ctx_);
  }

  int Receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
      if (interrupted_.load()) return kInterrupted;
      int got = 0;
      const unsigned slice = static_cast<unsigned>(std::clamp(timeoutMs, 1, static_cast<int>(kReceiveSliceMs)));
      const int r = libusb_bulk_transfer(handle_, ep_.in, buffer, static_cast<int>(std::min<std::size_t>(capacity, 16384)),
                                         &got, slice);
      if (got > 0) return got;
      if (r == LIBUSB_ERROR_NO_DEVICE || r == LIBUSB_ERROR_IO || r == LIBUSB_ERROR_PIPE) return kDropped;
    } while (std::chrono::steady_clock::now() < deadline);
    return kNothing;
  }

  int Send(const std::uint8_t* data, std::size_t size, int timeoutMs, std::size_t* written) override {
    *written = 0;
    if (interrupted_.load()) return kLnkioErrNotOpen;
    int sent = 0;
    const int r = libusb_bulk_transfer(handle_, ep_.out, const_cast<std::uint8_t*>(data), static_cast<int>(size), &sent,
                                       static_cast<unsigned>(timeoutMs));
    *written = static_cast<std::size_t>(std::max(sent, 0));
    if (r == 0 && *written == size) return kLnkioOk;
    if (r == LIBUSB_ERROR_TIMEOUT) return kLnkioTimeout;
    return kLnkioErrIo;
  }

  void Interrupt() override { interrupted_.store(true); }

 private:
  libusb_context* ctx_;
  libusb_device_handle* handle_;
  Endpoints ep_;
  std::atomic<bool> interrupted_{false};
};

}  // namespace

std::unique_ptr<Transport> OpenUsbVendorTransport(const LinkOpenBlock& block, int* code) {
  *code = kLnkioErrNoDevice;
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return nullptr;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(ctx, &list);
  // The device the number stands for, found again on the bus by its bus
  // number and address.
  libusb_device* dev = nullptr;
  for (const platform::UsbPrinter& p : platform::MachinePorts().UsbPrinters(platform::kUsbClassVendor)) {
    if (p.number != block.usbIndex + 1) continue;
    for (ssize_t i = 0; i < count && !dev; ++i) {
      libusb_device_descriptor desc{};
      if (libusb_get_bus_number(list[i]) == p.busNumber && libusb_get_device_address(list[i]) == p.deviceAddress &&
          libusb_get_device_descriptor(list[i], &desc) == 0 && desc.idVendor == kVendorId) {
        dev = list[i];
      }
    }
  }
  libusb_device_handle* handle = nullptr;
  Endpoints ep;
  if (dev) {
    ep = FindBulkPair(dev);
    if (ep.interface >= 0 && libusb_open(dev, &handle) == 0) {
      libusb_set_auto_detach_kernel_driver(handle, 1);
      if (libusb_claim_interface(handle, ep.interface) != 0) {
        libusb_close(handle);
        handle = nullptr;
      }
    }
  }
  if (list) libusb_free_device_list(list, 1);
  if (!handle) {
    libusb_exit(ctx);
    return nullptr;
  }
  *code = kLnkioOk;
  return std::make_unique<UsbVendorTransport>(ctx, handle, ep);
}

}  // namespace tw::lnkio
