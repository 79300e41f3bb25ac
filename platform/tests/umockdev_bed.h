#pragma once
// A umockdev test bed with the kinds of ports this system lists: UART and
// USB-serial ttys, Bluetooth rfcomm ttys, parallel lp devices, and USB
// printers of the printer and the vendor class with their sysfs attributes.
// Programs using it run under umockdev-wrapper (the preload library makes
// libudev and /dev of this process and its children see the bed).
#include <umockdev.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tw::testing {

class UmockdevBed {
 public:
  UmockdevBed() : bed_(umockdev_testbed_new()) {}
  ~UmockdevBed() { g_object_unref(bed_); }
  UmockdevBed(const UmockdevBed&) = delete;
  UmockdevBed& operator=(const UmockdevBed&) = delete;

  // The preload library is in place (the program runs under umockdev-wrapper).
  static bool Usable() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "umockdev-preload");
  }

  // Adds devices described in umockdev's record format; false on a parse error.
  bool Add(const std::string& text) {
    GError* error = nullptr;
    const bool ok = umockdev_testbed_add_from_string(bed_, text.c_str(), &error);
    if (error) {
      std::fprintf(stderr, "umockdev: %s\n", error->message);
      g_error_free(error);
    }
    return ok;
  }
  // Sends "remove" for the device (sysfs path under /sys), then removes it.
  void Remove(const std::string& sysPath) {
    umockdev_testbed_uevent(bed_, sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(bed_, sysPath.c_str());
  }
  // A uevent for a device that stays (what a storm of events is made of).
  void Uevent(const std::string& sysPath, const char* action) {
    umockdev_testbed_uevent(bed_, sysPath.c_str(), action);
  }
  // The test's end of a /dev node made by an "N:" line (-1 when there is none).
  int DeviceFd(const std::string& devNode) { return umockdev_testbed_get_dev_fd(bed_, devNode.c_str()); }
  UMockdevTestbed* Get() { return bed_; }

  // ----- Device blocks -----

  static std::string Uart(int index, int type) {
    const std::string name = "ttyS" + std::to_string(index);
    return "P: /devices/platform/serial8250/tty/" + name + "\nN: " + name + "\nE: DEVNAME=/dev/" + name +
           "\nE: SUBSYSTEM=tty\nA: dev=4:" + std::to_string(64 + index) + "\nA: type=" + std::to_string(type) + "\n\n";
  }
  // A USB-serial adapter (ttyUSB) or a CDC-ACM device (ttyACM) on USB port `port`.
  static std::string UsbTty(const std::string& name, const std::string& port) {
    const std::string dev = "/devices/pci0000:00/0000:00:14.0/usb2/" + port;
    return "P: " + dev + "/" + port + ":1.0/" + name + "/tty/" + name + "\nN: " + name + "\nE: DEVNAME=/dev/" + name +
           "\nE: SUBSYSTEM=tty\nA: dev=188:0\n\n" + "P: " + dev + "/" + port + ":1.0/" + name +
           "\nE: SUBSYSTEM=usb-serial\n\n" + "P: " + dev + "/" + port +
           ":1.0\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\nA: bInterfaceClass=ff\n\n" + "P: " + dev +
           "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nA: idVendor=0403\nA: idProduct=6001\nA: busnum=2\nA: devnum=" +
           std::to_string(port.size() + 1) + "\n\n";
  }
  static std::string Rfcomm(int index, const std::string& address) {
    const std::string name = "rfcomm" + std::to_string(index);
    return "P: /devices/virtual/tty/" + name + "\nN: " + name + "\nE: DEVNAME=/dev/" + name +
           "\nE: SUBSYSTEM=tty\nA: dev=216:" + std::to_string(index) + "\nA: address=" + address +
           "\nA: channel=1\n\n";
  }
  static std::string Parallel(int index) {
    const std::string lp = "lp" + std::to_string(index);
    const std::string pp = "/devices/pnp0/00:05/parport" + std::to_string(index);
    return "P: " + pp + "/printer/" + lp + "\nN: " + lp + "\nE: DEVNAME=/dev/" + lp +
           "\nE: SUBSYSTEM=printer\nA: dev=6:" + std::to_string(index) + "\n\n" + "P: " + pp +
           "\nE: SUBSYSTEM=parport\n\n";
  }

  struct UsbDevice {
    std::string port;          // sysfs name "1-2"
    int devnum = 2;
    std::string vendor = "7a5e";
    std::string product = "0202";
    std::string serial;        // empty: no serial attribute
    std::string productName = "KP-S410";
    std::string version = " 2.00";
    std::string bcdDevice = "0100";
    std::string speed = "480";
    std::string interfaceClass = "07";
    int lpIndex = -1;          // printer class: the usbmisc lp node
    std::string interfaceDriver;  // the driver bound to the interface ("usblp"); empty: none
    // The binary descriptors libusb reads from sysfs (one configuration, one
    // interface of interfaceClass with bulk OUT 0x01 and bulk IN 0x82), so
    // that libusb lists the device and can open its usbfs node.
    bool usbfsDescriptors = false;
    // Printer class: the interface's first setting is the send-only one
    // (protocol 1, bulk OUT alone), the second the bidirectional one.
    bool bidirectionalSecond = false;
  };
  // The hex text of those descriptors.
  static std::string UsbDescriptorsHex(const UsbDevice& d) {
    const auto le16 = [](const std::string& hex) {
      const unsigned v = static_cast<unsigned>(std::strtoul(hex.c_str(), nullptr, 16));
      char b[8];
      std::snprintf(b, sizeof b, "%02x%02x", v & 0xFF, (v >> 8) & 0xFF);
      return std::string(b);
    };
    const bool printer = d.interfaceClass == "07";
    const std::string out = "07050102000200", in = "07058202000200";
    const std::string device =
        "1201000200000040" + le16(d.vendor) + le16(d.product) + le16(d.bcdDevice) + "01020301";
    if (printer && d.bidirectionalSecond) {
      return device + "09023000010100c0fa" + "090400000107010100" + out + "090400010207010200" + out + in;
    }
    return device + "09022000010100c0fa" + "0904000002" + d.interfaceClass + (printer ? "0102" : "0000") + "00" +
           out + in;
  }
  static std::string UsbPath(const UsbDevice& d) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + d.port;
  }
  // Unplugs a device made by Usb(): removal events and removal of its
  // printer node, interface and device, children first (so it can be added
  // again).
  void RemoveUsb(const UsbDevice& d) {
    const std::string iface = UsbPath(d) + "/" + d.port + ":1.0";
    if (d.lpIndex >= 0) Remove(iface + "/usbmisc/lp" + std::to_string(d.lpIndex));
    Remove(iface);
    Remove(UsbPath(d));
  }
  // The device with its interface and, in the printer class, its printer
  // node.
  static std::string Usb(const UsbDevice& d) { return UsbPrinterNode(d) + UsbWithoutNode(d); }
  // The printer node alone (empty outside the printer class): added after
  // UsbWithoutNode, the events come in the kernel's order (device,
  // interface, then the node once the printer driver has bound).
  static std::string UsbPrinterNode(const UsbDevice& d) {
    if (d.lpIndex < 0) return {};
    const std::string iface = UsbPath(d).substr(4) + "/" + d.port + ":1.0";
    const std::string lp = "lp" + std::to_string(d.lpIndex);
    return "P: " + iface + "/usbmisc/" + lp + "\nN: usb/" + lp + "\nE: DEVNAME=/dev/usb/" + lp +
           "\nE: SUBSYSTEM=usbmisc\nA: dev=180:" + std::to_string(d.lpIndex) + "\n\n";
  }
  static std::string UsbWithoutNode(const UsbDevice& d) {
    const std::string dev = UsbPath(d).substr(4);
    const std::string iface = dev + "/" + d.port + ":1.0";
    char bus[64];
    std::snprintf(bus, sizeof bus, "bus/usb/001/%03d", d.devnum);
    std::string text;
    text += "P: " + iface + "\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\nA: bInterfaceClass=" + d.interfaceClass +
            "\nA: bInterfaceNumber=00\n" +
            (d.interfaceDriver.empty() ? "" : "L: driver=../../../../../../bus/usb/drivers/" + d.interfaceDriver + "\n") +
            "\n";
    text += "P: " + dev + "\nN: " + bus + "\nE: DEVNAME=/dev/" + bus +
            "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nA: idVendor=" + d.vendor + "\nA: idProduct=" + d.product +
            "\nA: busnum=1\nA: devnum=" + std::to_string(d.devnum) + "\nA: version=" + d.version +
            "\nA: bcdDevice=" + d.bcdDevice + "\nA: speed=" + d.speed + "\nA: product=" + d.productName +
            "\nA: manufacturer=Maker\n" + (d.serial.empty() ? "" : "A: serial=" + d.serial + "\n") +
            (d.usbfsDescriptors ? "A: bConfigurationValue=1\nH: descriptors=" + UsbDescriptorsHex(d) + "\n" : "") + "\n";
    return text;
  }

 private:
  UMockdevTestbed* bed_;
};

}  // namespace tw::testing
