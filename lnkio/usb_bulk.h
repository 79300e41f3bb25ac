#pragma once
// The two bulk endpoints of a USB printer reached through libusb (the maker's
// own class, or a printer-class device no kernel driver claimed), behind a
// seam: the transport (usb_bulk_posix.cpp) cuts every transfer into short slices so
// that Interrupt is seen quickly and a persistent error never turns into a
// spin; tests check that against a fake that answers like a failing device.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "lnkio/transport.h"
#include "platform/machine_ports.h"

namespace tw::lnkio {

class UsbBulk {
 public:
  virtual ~UsbBulk() = default;
  // As libusb_bulk_transfer on the IN or OUT endpoint: a libusb error code
  // (0 on success), *transferred always set.
  virtual int In(std::uint8_t* buffer, int size, int* transferred, unsigned timeoutMs) = 0;
  virtual int Out(const std::uint8_t* data, int size, int* transferred, unsigned timeoutMs) = 0;
  // After a stall (LIBUSB_ERROR_PIPE) of the IN endpoint.
  virtual void ClearInHalt() = 0;
};

// Each transfer waits at most this long, so Interrupt is seen within it.
constexpr unsigned kUsbSliceMs = 50;

std::unique_ptr<Transport> MakeUsbBulkTransport(std::unique_ptr<UsbBulk> bulk);

// Opens a listed printer through libusb (its bulk pair, its interface
// claimed); null with *code and *failure set when it cannot. The failure
// names the printer's node.
std::unique_ptr<Transport> OpenUsbBulkTransport(const platform::UsbPrinter& printer, int* code,
                                                OpenFailure* failure);

}  // namespace tw::lnkio
