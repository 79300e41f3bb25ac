// What a device arrival or removal does to the direct backend's port, with
// the events fed in directly (the same steps run behind the Windows window
// procedure and the Linux udev monitor).
#include "portlib/notify/device_change.h"

#include "portlib/notify/tests/hotplug_rig.h"

namespace tw::portwire {
namespace {

using namespace testing;

const std::u16string kIdentity = u"\\\\?\\usb#vid_7a5e&pid_0202#K4AB01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const Bytes kReply = {0x5F, 0x4B, 0x50, 0x00};

platform::DeviceEvent Event(bool arrival, std::u16string name) { return platform::DeviceEvent{arrival, std::move(name)}; }

class DeviceChange : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Fake().Ok()) << "fakelnkio not found beside the test"; }
};

TEST(DeviceChangeFilter, OnlyTheMakersPrintersConcernTheLibrary) {
  EXPECT_TRUE(ConcernsThisLibrary(u"\\\\?\\USB#VID_7A5E&PID_0202#X#{28d78fad}"));
  EXPECT_TRUE(ConcernsThisLibrary(u"\\\\?\\usb#vid_7a5e&pid_0e15#"));
  EXPECT_FALSE(ConcernsThisLibrary(u"\\\\?\\usb#vid_7a5e&pid_0203#X#"));
  EXPECT_FALSE(ConcernsThisLibrary(u"\\\\?\\usb#vid_04b8&pid_0202#X#"));
  EXPECT_FALSE(ConcernsThisLibrary(u""));
}

TEST_F(DeviceChange, RemovalReportsTheLossAndArrivalMakesTheLinkAgain) {
  HotplugRig rig(false);
  rig.Callbacks();
  Fake().setReplyOnWrite(1, kReply.data(), 4, 0);
  ASSERT_EQ(rig.OpenUsb(kIdentity), kResultOk);
  Bytes reply;
  ASSERT_EQ(rig.RoundTrip(reply), kResultOk);

  // Another device, or not one of the maker's: nothing happens.
  EXPECT_EQ(HandleDeviceChange(*rig.direct, Event(false, u"\\\\?\\usb#vid_7a5e&pid_0202#OTHER#")), kResultOk);
  EXPECT_EQ(HandleDeviceChange(*rig.direct, Event(false, u"\\\\?\\usb#vid_04b8&pid_0005#K4AB01#")), kResultOk);
  EXPECT_EQ(rig.direct->LinkUp(), 1);
  EXPECT_TRUE(rig.direct->MonitorRunning());
  EXPECT_EQ(rig.seen.Count(rig.seen.rawKinds, 999), 0u);

  // The printer goes (named in upper case, as Windows may).
  const int32_t closes = Fake().CloseCalls();
  HandleDeviceChange(*rig.direct, Event(false, u"\\\\?\\USB#VID_7A5E&PID_0202#K4AB01#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}"));
  EXPECT_EQ(rig.direct->LinkUp(), 0);
  EXPECT_FALSE(rig.direct->MonitorRunning());
  EXPECT_EQ(Fake().CloseCalls(), closes + 1);
  EXPECT_TRUE(WaitUntil([&] { return rig.seen.Count(rig.seen.rawKinds, 999) == 1; }));
  EXPECT_GE(rig.seen.Count(rig.seen.statuses, kStatusLinkLost), 1u);
  EXPECT_EQ(rig.manager->Status(), kStatusLinkLost);
  reply.assign(8, 0);
  uint32_t got = 0;
  EXPECT_EQ(rig.manager->Read(reply.data(), 8, &got, 10), kResultFailed);
  // A second removal while the link is down does nothing.
  HandleDeviceChange(*rig.direct, Event(false, kIdentity));
  EXPECT_EQ(Fake().CloseCalls(), closes + 1);

  // It comes back: the link is made, the monitor restarts, status is enabled.
  const size_t opens = Fake().OpenKinds().size();
  const size_t writtenBefore = Fake().Written().size();
  EXPECT_EQ(HandleDeviceChange(*rig.direct, Event(true, u"\\\\?\\usb#vid_7a5e&pid_0202#K4AB01#")), kResultOk);
  // The link is made once by the arrival and confirmed once more by the
  // status-enabling write, since "link up" stayed down.
  const auto kinds = Fake().OpenKinds();
  ASSERT_EQ(kinds.size(), opens + 2);
  EXPECT_EQ(kinds[opens], lnkio::kLinkUsbPrinter);
  EXPECT_TRUE(rig.direct->MonitorRunning());
  EXPECT_TRUE(rig.manager->IsPortOpen());
  const Bytes written = Fake().Written();
  EXPECT_TRUE(Contains(Bytes(written.begin() + static_cast<long>(writtenBefore), written.end()), kStatusEnableRealTime));
  // A second arrival for the same printer (its node) finds the link held.
  HandleDeviceChange(*rig.direct, Event(true, kIdentity));
  EXPECT_EQ(Fake().OpenKinds().size(), opens + 2);

  // The next command and reply work without Close and Open.
  rig.manager->Purge();
  ASSERT_EQ(rig.RoundTrip(reply), kResultOk);
  EXPECT_EQ(reply, kReply);
  EXPECT_EQ(rig.direct->LinkUp(), 1);
}

TEST_F(DeviceChange, ArrivalInTheOtherUsbClassSwitchesTheStoredClass) {
  HotplugRig rig(false);
  ASSERT_EQ(rig.OpenUsb(kIdentity, 1), kResultOk);
  HandleDeviceChange(*rig.direct, Event(false, kIdentity));
  ASSERT_EQ(rig.direct->LinkUp(), 0);
  Fake().OpenResults({-4, 1});  // not in the printer class any more; in the vendor class
  HandleDeviceChange(*rig.direct, Event(true, kIdentity));
  const auto kinds = Fake().OpenKinds();
  ASSERT_GE(kinds.size(), 2u);
  EXPECT_EQ(kinds[kinds.size() - 2], lnkio::kLinkUsbPrinter);
  EXPECT_EQ(kinds.back(), lnkio::kLinkUsbVendor);
  EXPECT_EQ(rig.manager->CurrentSettings().usbClass, 0);
  EXPECT_TRUE(rig.direct->MonitorRunning());

  // Both attempts failing: no monitor; the next Write tries again.
  HandleDeviceChange(*rig.direct, Event(false, kIdentity));
  rig.direct->StopMonitor();
  Fake().OpenResults({-4});
  HandleDeviceChange(*rig.direct, Event(true, kIdentity));
  EXPECT_FALSE(rig.direct->MonitorRunning());
}

TEST_F(DeviceChange, ArrivalWithoutAnOpenPortMakesNoLinkButEnablesStatus) {
  HotplugRig rig(false);
  rig.Callbacks();
  const size_t opens = Fake().OpenKinds().size();
  EXPECT_EQ(HandleDeviceChange(*rig.direct, Event(true, kIdentity)), kResultOk);
  EXPECT_EQ(Fake().OpenKinds().size(), opens);  // no link
  EXPECT_TRUE(Fake().Written().empty());        // the status write found no port
}

TEST_F(DeviceChange, AnArrivalRacingCloseLeavesNoLinkAndNoMonitor) {
  HotplugRig rig(false);
  for (int round = 0; round < 12; ++round) {
    ASSERT_EQ(rig.OpenUsb(kIdentity), kResultOk);
    HandleDeviceChange(*rig.direct, Event(false, kIdentity));
    ASSERT_EQ(rig.direct->LinkUp(), 0);
    // The arrival is held up right after it found the port open and without
    // a link; Close runs in that gap (or, in later rounds, just after it).
    Fake().delayNextIsOpen(30);
    std::thread arrival([&] { HandleDeviceChange(*rig.direct, Event(true, kIdentity)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 4 * round));
    EXPECT_EQ(rig.manager->Close(), kResultOk);
    arrival.join();
    EXPECT_EQ(Fake().isOpen(), 0) << "round " << round << ": the printer stayed linked";
    EXPECT_FALSE(rig.direct->MonitorRunning()) << "round " << round << ": a monitor runs on a closed port";
    EXPECT_EQ(rig.direct->LinkUp(), 0);
  }
}

TEST_F(DeviceChange, PortsOfTheDriverSoftwareAreLeftToIt) {
  HotplugRig rig(false);
  rig.Callbacks();
  ASSERT_EQ(rig.OpenUsb(kIdentity), kResultOk);
  rig.manager->ModifyCurrentSettings([](PortSettings& s) { s.route = kRouteDriverSoftware; });
  HandleDeviceChange(*rig.direct, Event(false, kIdentity));
  EXPECT_EQ(rig.direct->LinkUp(), 1);
  EXPECT_EQ(rig.seen.Count(rig.seen.rawKinds, 999), 0u);
}

}  // namespace
}  // namespace tw::portwire
