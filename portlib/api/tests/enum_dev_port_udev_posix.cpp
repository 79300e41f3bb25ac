// KPC_EnumDevPort and KPC_GetPort as an outside client sees them, on a machine
// made with umockdev: the COM numbers the library lists are the ones the
// console program opens, and USB printers come with their details.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/module.h"
#include "platform/process.h"
#include "platform/tests/umockdev_bed.h"
#include "platform/tests/umockdev_usbfs.h"
#include "portwire.h"
#include "shared/port_settings.h"
#include "sim/printer/sim_protocol.h"

namespace {

using tw::testing::UmockdevBed;
using tw::testing::UsbfsPrinter;

struct Api {
  tw::platform::Module module;
  decltype(&::KPC_EnumDevPort) EnumDevPort = nullptr;
  decltype(&::KPC_GetPort) GetPort = nullptr;
  decltype(&::KPC_SetPort) SetPort = nullptr;
  decltype(&::KPC_Terminate) Terminate = nullptr;
  decltype(&::KPC_Open) Open = nullptr;
  decltype(&::KPC_Close) Close = nullptr;
  decltype(&::KPC_Write) Write = nullptr;
  bool Load() {
    module = tw::platform::Module::Load(u"Portwire.dll");
    EnumDevPort = module.Function<decltype(EnumDevPort)>("KPC_EnumDevPort");
    GetPort = module.Function<decltype(GetPort)>("KPC_GetPort");
    SetPort = module.Function<decltype(SetPort)>("KPC_SetPort");
    Terminate = module.Function<decltype(Terminate)>("KPC_Terminate");
    Open = module.Function<decltype(Open)>("KPC_Open");
    Close = module.Function<decltype(Close)>("KPC_Close");
    Write = module.Function<decltype(Write)>("KPC_Write");
    return EnumDevPort && GetPort && SetPort && Terminate && Open && Close && Write;
  }
};

// A simulated printer behind the test's end of a umockdev pty; counts what
// reached it.
class PtyPrinter {
 public:
  explicit PtyPrinter(int fd) : fd_(fd), protocol_(tw::sim::SimBehaviour{}) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }
  ~PtyPrinter() {
    stop_ = true;
    thread_.join();
  }
  size_t Received() const { return received_.load(); }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) {
        if (p.revents & (POLLHUP | POLLERR)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      uint8_t buffer[512];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) continue;
      received_ += static_cast<size_t>(n);
      for (const auto& outcome : protocol_.Feed(buffer, static_cast<size_t>(n))) {
        if (!outcome.reply.empty()) [[maybe_unused]] ssize_t w = ::write(fd_, outcome.reply.data(), outcome.reply.size());
      }
    }
  }
  int fd_;
  tw::sim::SimProtocol protocol_;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> received_{0};
  std::thread thread_;
};

std::vector<PortSettings> Enum(Api& api, const char16_t* type, uint32_t capacity, int32_t* result, uint32_t* found) {
  std::vector<PortSettings> records(capacity);
  std::vector<PortSettings*> slots;
  for (auto& r : records) slots.push_back(&r);
  *result = api.EnumDevPort(reinterpret_cast<const uint16_t*>(type), slots.data(), capacity, found);
  records.resize(*result == PW_OK ? *found : 0);
  return records;
}

std::u16string Text(const PW_TEXT& t) {
  std::u16string s;
  for (size_t i = 0; i < 260 && t[i]; ++i) s.push_back(static_cast<char16_t>(t[i]));
  return s;
}

class EnumDevPortBed : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UmockdevBed::Usable()) GTEST_SKIP() << "needs umockdev-wrapper";
    // No link folder: every COM number comes from the table.
    tw::platform::SetEnv("PORTWIRE_DOSDEVICES", "/nonexistent-portwire-links");
    bed = std::make_unique<UmockdevBed>();
    ASSERT_TRUE(api.Load());
  }
  void TearDown() override {
    if (api.Terminate) api.Terminate();
    bed.reset();
  }
  std::unique_ptr<UmockdevBed> bed;
  Api api;
};

TEST_F(EnumDevPortBed, TheConsoleProgramOpensExactlyTheListedNode) {
  ASSERT_TRUE(bed->Add(UmockdevBed::Uart(0, 4) + UmockdevBed::Uart(1, 0) + UmockdevBed::UsbTty("ttyUSB0", "2-1") +
                       UmockdevBed::UsbTty("ttyACM0", "2-2") + UmockdevBed::Rfcomm(0, "00:11:22:aa:bb:cc")));
  int32_t result = 0;
  uint32_t found = 0;
  const auto records = Enum(api, u"COM", 16, &result, &found);
  ASSERT_EQ(result, PW_OK);
  std::vector<std::u16string> names;
  for (const auto& r : records) names.push_back(Text(r.portName));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"COM1", u"COM33", u"COM97", u"COM161"}));

  const std::pair<int, const char*> nodes[] = {{1, "/dev/ttyS0"}, {33, "/dev/ttyUSB0"}, {97, "/dev/ttyACM0"},
                                               {161, "/dev/rfcomm0"}};
  std::vector<std::unique_ptr<PtyPrinter>> printers;
  for (const auto& [n, node] : nodes) {
    const int fd = bed->DeviceFd(node);
    ASSERT_GE(fd, 0) << node;
    printers.push_back(std::make_unique<PtyPrinter>(fd));
  }
  const auto program = tw::platform::ExecutableFolder() / "Trimsense";
  for (size_t i = 0; i < std::size(nodes); ++i) {
    std::vector<size_t> before;
    for (auto& p : printers) before.push_back(p->Received());
    const auto run = tw::platform::RunProcess(program, {"-c" + std::to_string(nodes[i].first), "-tC"}, true);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0) << nodes[i].second << "\n" << run.output;
    for (size_t j = 0; j < printers.size(); ++j) {
      if (j == i) {
        EXPECT_GT(printers[j]->Received(), before[j]) << nodes[i].second;
      } else {
        EXPECT_EQ(printers[j]->Received(), before[j]) << "COM" << nodes[i].first << " reached " << nodes[j].second;
      }
    }
  }
}

TEST_F(EnumDevPortBed, UsbPrintersOfBothClassesWithTheirDetails) {
  UmockdevBed::UsbDevice printer;
  printer.port = "1-2";
  printer.devnum = 3;
  printer.serial = "K4AB01";
  printer.productName = "QX-U01";
  printer.lpIndex = 0;
  UmockdevBed::UsbDevice vendor;
  vendor.port = "1-1";
  vendor.product = "0e15";
  vendor.serial = "V0001";
  vendor.interfaceClass = "ff";
  vendor.speed = "12";
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(printer) + UmockdevBed::Usb(vendor)));

  int32_t result = 0;
  uint32_t found = 0;
  auto records = Enum(api, u"usb", 8, &result, &found);
  ASSERT_EQ(result, PW_OK);
  ASSERT_EQ(found, 2u);
  EXPECT_EQ(Text(records[0].portName), u"001");
  EXPECT_EQ(records[0].usbClass, 0);
  EXPECT_EQ(Text(records[0].servicePortName), u"\\\\?\\usb#vid_7a5e&pid_0e15#V0001#{6a1c43e2-9d07-4b58-a3f1-52c8e07d9b14}");
  EXPECT_EQ(Text(records[1].portName), u"002");
  EXPECT_EQ(records[1].usbClass, 1);

  // The current record, completed while no port is open: the listed record
  // as it is ("002" of the printer class) completes the device it names.
  PortSettings current = records[1];
  ASSERT_EQ(api.SetPort(&current), PW_OK);
  PortSettings out{};
  ASSERT_EQ(api.GetPort(&out), PW_OK);
  EXPECT_EQ(Text(out.interfaceName), u"QX-U01");
  EXPECT_EQ(Text(out.versionText), u"1.00");
  EXPECT_EQ(Text(out.usbSerialNumber), u"K4AB01");
  EXPECT_EQ(Text(out.usbSpeedText), u"USB2.0 HighSpeed,  USB Printer Class");
  EXPECT_EQ(out.interfaceBoard, 1);
  EXPECT_EQ(Text(out.servicePortName), u"\\\\?\\usb#vid_7a5e&pid_0202#K4AB01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");

  // With the port open the current record comes out as it is: the printer
  // node of the test bed (a pseudo-terminal) takes the link.
  PortSettings listed = records[1];
  ASSERT_EQ(api.SetPort(&listed), PW_OK);
  ASSERT_EQ(api.Open(1), PW_OK);
  PortSettings whileOpen{};
  ASSERT_EQ(api.GetPort(&whileOpen), PW_OK);
  EXPECT_EQ(Text(whileOpen.usbSerialNumber), u"Unknown");
  EXPECT_EQ(Text(whileOpen.interfaceName), u"Unknown");
  EXPECT_EQ(whileOpen.interfaceBoard, 0);
  EXPECT_EQ(api.Close(), PW_OK);

  // Capacity and the unknown type, through the export.
  records = Enum(api, u"USB", 1, &result, &found);
  EXPECT_EQ(result, PW_OK);
  EXPECT_EQ(found, 1u);
  records = Enum(api, u"USB", 0, &result, &found);
  EXPECT_EQ(result, PW_OK);
  EXPECT_EQ(found, 0u);
  Enum(api, u"PRN", 4, &result, &found);
  EXPECT_EQ(result, PW_FAILED);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(api.EnumDevPort(nullptr, nullptr, 0, &found), PW_INVALID_ARGUMENT);
  EXPECT_EQ(api.GetPort(nullptr), PW_INVALID_ARGUMENT);
}

// Every record of the listing, opened as the listing gave it, reaches the
// device it lists and no other.
TEST_F(EnumDevPortBed, EachListedUsbRecordOpensTheDeviceItLists) {
  UmockdevBed::UsbDevice vendor;
  vendor.port = "1-1";
  vendor.devnum = 2;
  vendor.product = "0e15";
  vendor.serial = "V0001";
  vendor.interfaceClass = "ff";
  vendor.usbfsDescriptors = true;
  UmockdevBed::UsbDevice printer;
  printer.port = "1-2";
  printer.devnum = 3;
  printer.serial = "K4AB01";
  printer.lpIndex = 0;
  UsbfsPrinter vendorEnd(*bed, "/dev/bus/usb/001/002", tw::sim::SimBehaviour{}, {});
  ASSERT_TRUE(vendorEnd.Attached());
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(printer) + UmockdevBed::Usb(vendor)));
  const int printerFd = bed->DeviceFd("/dev/usb/lp0");
  ASSERT_GE(printerFd, 0);
  PtyPrinter printerEnd(printerFd);

  int32_t result = 0;
  uint32_t found = 0;
  const auto records = Enum(api, u"USB", 8, &result, &found);
  ASSERT_EQ(result, PW_OK);
  ASSERT_EQ(found, 2u);
  ASSERT_EQ(Text(records[0].portName), u"001");
  ASSERT_EQ(Text(records[1].portName), u"002");

  const uint8_t query[] = {0x1D, 0x49, 0x43};
  const auto send = [&](const PortSettings& record) {
    PortSettings r = record;
    EXPECT_EQ(api.SetPort(&r), PW_OK);
    EXPECT_EQ(api.Open(1), PW_OK);  // a USB port opens also while its device cannot be linked
    uint32_t written = 0;
    const int32_t w = api.Write(query, sizeof query, &written, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(api.Close(), PW_OK);
    return w;
  };

  // "002", the printer-class printer: its bytes reach its node alone.
  EXPECT_EQ(send(records[1]), PW_OK);
  EXPECT_GT(printerEnd.Received(), 0u);
  const size_t printerBefore = printerEnd.Received();

  // "001", the vendor-class printer, through libusb: its bytes reach it, and
  // never the printer-class printer's node.
  EXPECT_EQ(send(records[0]), PW_OK);
  EXPECT_GT(vendorEnd.GetCounts().bytesReceived, 0u);
  EXPECT_EQ(printerEnd.Received(), printerBefore);

  // A record that names no device keeps the number rule: USB 1 of the
  // printer class is the printer-class printer.
  PortSettings numbered = records[1];
  const char16_t unknown[] = u"Unknown";
  const char16_t one[] = u"001";
  std::copy(std::begin(unknown), std::end(unknown), numbered.servicePortName);
  std::copy(std::begin(one), std::end(one), numbered.portName);
  EXPECT_EQ(send(numbered), PW_OK);
  EXPECT_GT(printerEnd.Received(), printerBefore);
}

// A printer-class printer that no kernel printer driver claimed (usblp not
// loaded) is listed in the printer class and adjusted through its usbfs node
// by libusb; an interface that a driver holds is never taken from it.
class UnclaimedUsbPrinter : public EnumDevPortBed {
 protected:
  static UmockdevBed::UsbDevice Device() {
    UmockdevBed::UsbDevice d;
    d.port = "1-2";
    d.devnum = 3;
    d.serial = "K4AB01";
    d.usbfsDescriptors = true;
    return d;
  }
  static constexpr const char* kNode = "/dev/bus/usb/001/003";
  static tw::platform::ProcessResult Trimsense(const std::vector<std::string>& args) {
    return tw::platform::RunProcess(tw::platform::ExecutableFolder() / "Trimsense", args, true);
  }
};

TEST_F(UnclaimedUsbPrinter, IsListedAndAdjustedThroughLibusb) {
  UsbfsPrinter device(*bed, kNode, tw::sim::SimBehaviour{}, {});
  ASSERT_TRUE(device.Attached());
  UmockdevBed::UsbDevice d = Device();
  d.bidirectionalSecond = true;  // as many printers describe themselves
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(d)));

  int32_t result = 0;
  uint32_t found = 0;
  const auto records = Enum(api, u"USB", 4, &result, &found);
  ASSERT_EQ(result, PW_OK);
  ASSERT_EQ(found, 1u);
  EXPECT_EQ(Text(records[0].portName), u"001");
  EXPECT_EQ(records[0].usbClass, 1);
  EXPECT_EQ(Text(records[0].servicePortName), u"\\\\?\\usb#vid_7a5e&pid_0202#K4AB01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");

  const auto run = Trimsense({"-u1", "-uCp"});
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  const auto record = device.Record();
  EXPECT_EQ(record.thresholdWrites, 1) << run.output;
  EXPECT_GE(record.threshold, 0);
  const auto counts = device.GetCounts();
  EXPECT_EQ(counts.drops, 1);   // the reset after the threshold was written
  EXPECT_GE(counts.claims, 2);  // before the reset and after it
  EXPECT_EQ(counts.altSetting, 1) << "the bidirectional setting answers";
  EXPECT_EQ(counts.detachAttempts, 0);
}

TEST_F(UnclaimedUsbPrinter, AnInterfaceADriverHoldsIsNotTakenAndTheReasonSaysSo) {
  UsbfsPrinter::Options held;
  held.interfaceHeld = true;
  UsbfsPrinter device(*bed, kNode, tw::sim::SimBehaviour{}, held);
  ASSERT_TRUE(device.Attached());
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(Device())));

  const auto run = Trimsense({"-u1", "-uCp", "-tC"});
  ASSERT_TRUE(run.started);
  EXPECT_NE(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find(kNode), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("busy"), std::string::npos) << run.output;
  const auto counts = device.GetCounts();
  EXPECT_GE(counts.refusedClaims, 1);
  EXPECT_EQ(counts.detachAttempts, 0);
  EXPECT_EQ(counts.bytesReceived, 0u);
}

TEST_F(EnumDevPortBed, ParallelPorts) {
  ASSERT_TRUE(bed->Add(UmockdevBed::Parallel(0)));
  int32_t result = 0;
  uint32_t found = 0;
  const auto records = Enum(api, u"LPT", 4, &result, &found);
  ASSERT_EQ(result, PW_OK);
  ASSERT_EQ(found, 1u);
  EXPECT_EQ(Text(records[0].portName), u"LPT1");
  EXPECT_EQ(Text(records[0].portType), u"LPT");
}

}  // namespace
