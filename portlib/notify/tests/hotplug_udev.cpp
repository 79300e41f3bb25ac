// A USB printer unplugged and plugged in again while its port is open, on a
// machine made with umockdev: the events come from the library's own udev
// monitor, the link from the scriptable port-access library.
#include "platform/machine_ports.h"
#include "platform/text.h"
#include "platform/tests/umockdev_bed.h"
#include "portlib/notify/tests/hotplug_rig.h"

namespace tw::portwire {
namespace {

using namespace testing;
using tw::testing::UmockdevBed;

const Bytes kReply = {0x5F, 0x4B, 0x50, 0x00};

class Hotplug : public ::testing::Test {
 protected:
  // The printer on port 1-4; plugged in again it gets a new address (and
  // here a new printer node, as the test bed keeps the old node's name taken).
  UmockdevBed::UsbDevice Printer(int plugged = 0, const std::string& interfaceClass = "07") const {
    UmockdevBed::UsbDevice d;
    d.port = "1-4";
    d.devnum = 7 + plugged;
    d.serial = serial;
    d.interfaceClass = interfaceClass;
    d.lpIndex = interfaceClass == "07" ? plugged : -1;
    return d;
  }
  void SetUp() override {
    if (!UmockdevBed::Usable()) GTEST_SKIP() << "needs umockdev-wrapper";
    ASSERT_TRUE(Fake().Ok()) << "fakelnkio not found beside the test";
    bed = std::make_unique<UmockdevBed>();
    ASSERT_TRUE(bed->Add(UmockdevBed::Usb(Printer())));
    // The monitor starts after the bed exists, as in a real session.
    rig = std::make_unique<HotplugRig>(true);
    ASSERT_TRUE(rig->direct->WatchesDevices());
    rig->Callbacks();
    Fake().setReplyOnWrite(1, kReply.data(), 4, 0);
    const auto printers = platform::MachinePorts().UsbPrinters(platform::kUsbClassPrinter);
    ASSERT_EQ(printers.size(), 1u);
    identity = platform::Utf8ToUtf16(printers[0].identity);
    ASSERT_EQ(rig->OpenUsb(identity, 1), kResultOk);
    Bytes reply;
    ASSERT_EQ(rig->RoundTrip(reply), kResultOk);
  }
  void TearDown() override {
    rig.reset();
    bed.reset();
  }
  void Unplug() {
    bed->RemoveUsb(Printer());
    ASSERT_TRUE(WaitUntil([&] { return rig->seen.Count(rig->seen.rawKinds, 999) == unplugged + 1; }));
    ++unplugged;
    EXPECT_GE(rig->seen.Count(rig->seen.statuses, kStatusLinkLost), 1u);
    EXPECT_EQ(rig->direct->LinkUp(), 0);
  }
  std::string serial = "K4AB01";
  std::unique_ptr<UmockdevBed> bed;
  std::unique_ptr<HotplugRig> rig;
  std::u16string identity;
  size_t unplugged = 0;
};

// A serial number that the device reports with blanks in front.
class HotplugBlankSerial : public Hotplug {
 protected:
  HotplugBlankSerial() { serial = "  K4AB02"; }
};

TEST_F(Hotplug, UnpluggedAndBackWhileOpen) {
  const int32_t closes = Fake().CloseCalls();
  Unplug();
  EXPECT_EQ(Fake().CloseCalls(), closes + 1);
  EXPECT_FALSE(rig->direct->MonitorRunning());
  uint8_t buffer[8];
  uint32_t got = 0;
  EXPECT_EQ(rig->manager->Read(buffer, sizeof buffer, &got, 10), kResultFailed);

  const size_t opens = Fake().OpenKinds().size();
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(Printer(1))));
  ASSERT_TRUE(WaitUntil([&] { return Fake().OpenKinds().size() > opens && rig->direct->MonitorRunning(); }));
  EXPECT_EQ(Fake().OpenKinds().back(), lnkio::kLinkUsbPrinter);
  EXPECT_TRUE(WaitUntil([&] { return Contains(Fake().Written(), kStatusEnableRealTime); }));

  // The next command and its reply, without Close and Open.
  rig->manager->Purge();
  Bytes reply;
  ASSERT_EQ(rig->RoundTrip(reply), kResultOk);
  EXPECT_EQ(reply, kReply);
  EXPECT_TRUE(rig->manager->IsPortOpen());
}

TEST_F(Hotplug, BackInTheOtherUsbClass) {
  Unplug();
  Fake().OpenResults({-4, 1});
  const size_t opens = Fake().OpenKinds().size();
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(Printer(1, "ff"))));
  ASSERT_TRUE(WaitUntil([&] { return Fake().OpenKinds().size() >= opens + 2 && rig->direct->MonitorRunning(); }));
  EXPECT_EQ(Fake().OpenKinds().back(), lnkio::kLinkUsbVendor);
  EXPECT_EQ(rig->manager->CurrentSettings().usbClass, 0);
  Bytes reply;
  rig->manager->Purge();
  EXPECT_EQ(rig->RoundTrip(reply), kResultOk);
}

TEST_F(HotplugBlankSerial, TheUnplugOfAPrinterWithBlanksBeforeItsSerialNumberIsSeen) {
  EXPECT_NE(identity.find(u"#K4AB02#"), std::u16string::npos);
  Unplug();  // status 16 and raw 999
  EXPECT_FALSE(rig->direct->MonitorRunning());
}

TEST_F(Hotplug, OnePlugInRunsTheArrivalStepsOnce) {
  Unplug();
  // No port open: every arrival still purges and enables the status (to
  // nobody), switching flow control off for it once.
  ASSERT_EQ(rig->manager->Close(), kResultOk);
  for (int plugged = 1; plugged <= 2; ++plugged) {
    const size_t before = Fake().FlowOffCalls();
    // The kernel's order: the device and its interface, then the printer
    // node once the printer driver has bound.
    ASSERT_TRUE(bed->Add(UmockdevBed::UsbWithoutNode(Printer(plugged))));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(bed->Add(UmockdevBed::UsbPrinterNode(Printer(plugged))));
    ASSERT_TRUE(WaitUntil([&] { return Fake().FlowOffCalls() > before; })) << "plug-in " << plugged;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Fake().FlowOffCalls(), before + 1) << "plug-in " << plugged;
    bed->RemoveUsb(Printer(plugged));
  }
  // A vendor-class printer has no node to wait for.
  const size_t before = Fake().FlowOffCalls();
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(Printer(3, "ff"))));
  ASSERT_TRUE(WaitUntil([&] { return Fake().FlowOffCalls() > before; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Fake().FlowOffCalls(), before + 1);
}

TEST_F(Hotplug, EventStormWhileTheLibraryOpensClosesAndUnloads) {
  // One thread does what a client's KPC_Open, KPC_Close and KPC_Terminate do
  // (and loads the port-access library again, as a client that starts
  // over); the udev monitor meanwhile gets hundreds of events for the
  // printer, each an arrival or a removal the handler acts on.
  //
  // The test bed ends the program when an event cannot be sent: when the
  // monitor's socket goes while it sends, or overflows. So sending and
  // starting or stopping the monitor take turns (the events are handled on
  // the monitor's thread meanwhile, in parallel with Unload and Load), and
  // the events are paced, also for a sanitizer's speed.
  // A removal waits for the monitor to stop; here it stops at once, so the
  // monitor's thread keeps up with the events.
  rig.reset();
  rig = std::make_unique<HotplugRig>(true, false);
  rig->Callbacks();
  std::mutex turns;
  std::atomic<bool> stormOver{false};
  int rounds = 0;
  std::thread client([&] {
    for (; !stormOver.load() || rounds < 3; ++rounds) {
      {
        const std::lock_guard<std::mutex> turn(turns);
        rig->direct->Load();
      }
      rig->OpenUsb(identity, 1);
      rig->manager->Close();
      const std::lock_guard<std::mutex> turn(turns);
      rig->manager->UnloadBackends();
    }
  });
  const std::string path = UmockdevBed::UsbPath(Printer());
  for (int event = 0; event < 400; ++event) {
    {
      const std::lock_guard<std::mutex> turn(turns);
      bed->Uevent(path, event % 2 ? "add" : "remove");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(4));
  }
  stormOver.store(true);
  client.join();
  EXPECT_GE(rounds, 3);
  EXPECT_FALSE(rig->direct->IsLoaded());
  EXPECT_FALSE(rig->direct->MonitorRunning());
  EXPECT_EQ(Fake().isOpen(), 0);
  // Loaded once more, the library watches again.
  ASSERT_TRUE(rig->direct->Load());
  EXPECT_TRUE(rig->direct->WatchesDevices());
}

TEST_F(Hotplug, AnotherDeviceLeavingChangesNothing) {
  UmockdevBed::UsbDevice other = Printer();
  other.port = "1-5";
  other.devnum = 20;
  other.serial = "ZZ0002";
  other.lpIndex = 5;
  ASSERT_TRUE(bed->Add(UmockdevBed::Usb(other)));
  bed->RemoveUsb(other);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(rig->seen.Count(rig->seen.rawKinds, 999), 0u);
  EXPECT_EQ(rig->direct->LinkUp(), 1);
}

}  // namespace
}  // namespace tw::portwire
