// Choosing, opening and closing a backend; the write and read timeout rules.

#include <gtest/gtest.h>

#include <cstring>

#include "portlib/manager/tests/scripted_backend.h"

namespace tw::portwire {
namespace {

using testing::ManagerRig;

size_t Count(const std::vector<std::string>& log, const std::string& entry) {
  return static_cast<size_t>(std::count(log.begin(), log.end(), entry));
}

TEST(OpenRouting, DirectRouteOpensOnceAndRefusesASecondOpenOrNewRecord) {
  ManagerRig rig;
  ASSERT_EQ(rig.SetPort(u"COM", u"COM3"), kResultOk);
  EXPECT_EQ(rig.m().Open(1), kResultOk);
  EXPECT_EQ(rig.m().CurrentBackend(), rig.direct);
  EXPECT_TRUE(rig.m().IsPortOpen());
  EXPECT_EQ(rig.direct->openModes, (std::vector<int32_t>{1}));
  EXPECT_EQ(rig.direct->store, &rig.m().ResponseStore());

  EXPECT_EQ(rig.m().Open(1), kResultAlreadyOpen);
  EXPECT_EQ(rig.SetPort(u"COM", u"COM4"), kResultAlreadyOpen);
  EXPECT_EQ(GetText(rig.m().CurrentSettings().portName), u"COM3");
  EXPECT_EQ(Count(rig.log, "direct.Open"), 1u);
  EXPECT_TRUE(rig.m().IsPortOpen());
}

TEST(OpenRouting, FailedDirectOpenLeavesNothingOpenAndAcceptsANewRecord) {
  ManagerRig rig;
  rig.direct->openResults = {kResultCannotLink, kResultOk};
  rig.SetPort(u"COM", u"COM9");
  EXPECT_EQ(rig.m().Open(1), kResultCannotLink);
  EXPECT_FALSE(rig.m().IsPortOpen());
  EXPECT_EQ(rig.m().CurrentBackend(), rig.direct);  // chosen, but closed
  EXPECT_EQ(rig.m().Write(reinterpret_cast<const uint8_t*>("x"), 1, nullptr, -1), kResultNotOpen);

  ASSERT_EQ(rig.SetPort(u"COM", u"COM3"), kResultOk);
  EXPECT_EQ(rig.m().Open(1), kResultOk);
  EXPECT_TRUE(rig.m().IsPortOpen());
}

TEST(OpenRouting, RouteOneNeverReachesTheDirectBackend) {
  ManagerRig rig;
  rig.SetPort(u"COM", u"COM3", 1);
  EXPECT_EQ(rig.m().Open(1), kResultOk);
  EXPECT_EQ(rig.m().CurrentBackend(), rig.portService);
  EXPECT_EQ(rig.m().RouteKind(), kRouteKindPortService);
  EXPECT_EQ(Count(rig.log, "driver.Open"), 0u);
  EXPECT_EQ(Count(rig.log, "direct.Open"), 0u);
  EXPECT_EQ(rig.portService->store, &rig.m().ResponseStore());
}

TEST(OpenRouting, RouteOneFallsBackToTheDriverPathUnlessThePortIsBusy) {
  {
    ManagerRig rig;
    rig.portService->openResults = {kResultFailed};
    rig.SetPort(u"USB", u"001", 1);
    EXPECT_EQ(rig.m().Open(1), kResultOk);
    EXPECT_EQ(rig.m().CurrentBackend(), rig.driverPath);
    EXPECT_EQ(rig.m().RouteKind(), kRouteKindDriverPath);
  }
  {
    // Busy at the port service: no second attempt elsewhere.
    ManagerRig rig;
    rig.portService->openResults = {kResultCannotLink};
    rig.SetPort(u"USB", u"001", 1);
    EXPECT_EQ(rig.m().Open(1), kResultCannotLink);
    EXPECT_EQ(rig.m().RouteKind(), kRouteKindPortService);
    EXPECT_EQ(Count(rig.log, "driver.Open"), 0u);
    EXPECT_FALSE(rig.m().IsPortOpen());
  }
  {
    // A port service that failed to load is not tried.
    ManagerRig rig;
    rig.portService->loadResult = false;
    rig.SetPort(u"NET", u"127.0.0.1", 1);
    EXPECT_EQ(rig.m().Open(1), kResultOk);
    EXPECT_EQ(Count(rig.log, "service.Open"), 0u);
    EXPECT_EQ(rig.m().CurrentBackend(), rig.driverPath);
  }
  {
    // Driver path failing too: its result, and the route kind stays.
    ManagerRig rig;
    rig.portService->openResults = {kResultFailed};
    rig.driverPath->openResults = {kResultTimeout};
    rig.SetPort(u"USB", u"001", 1);
    EXPECT_EQ(rig.m().Open(1), kResultTimeout);
    EXPECT_EQ(rig.m().RouteKind(), 0);
    EXPECT_EQ(rig.m().CurrentBackend(), nullptr);
  }
}

TEST(OpenRouting, NoBackendThatCanBeTriedGivesFailure) {
  {
    ManagerRig rig(false, false, false);
    rig.SetPort(u"COM", u"COM1", 1);
    EXPECT_EQ(rig.m().Open(1), kResultFailed);
    rig.SetPort(u"COM", u"COM1", 0);
    EXPECT_EQ(rig.m().Open(1), kResultFailed);
    EXPECT_FALSE(rig.m().IsPortOpen());
    EXPECT_EQ(rig.m().Close(), kResultFailed);
  }
  {
    // Port service failing and no driver path: its own error is not reported.
    ManagerRig rig(true, false, true);
    rig.portService->openResults = {kResultTimeout};
    rig.SetPort(u"COM", u"COM1", 1);
    EXPECT_EQ(rig.m().Open(1), kResultFailed);
    EXPECT_FALSE(rig.m().IsPortOpen());
  }
}

TEST(OpenRouting, CloseDeselectsAndPurges) {
  ManagerRig rig;
  EXPECT_EQ(rig.m().Close(), kResultFailed);
  rig.SetPort(u"COM", u"COM3");
  rig.m().Open(1);
  rig.m().DeliverData({1, 2, 3});
  rig.direct->closeResult = kResultNotOpen;
  EXPECT_EQ(rig.m().Close(), kResultNotOpen);  // the backend's result
  EXPECT_EQ(rig.m().CurrentBackend(), nullptr);
  EXPECT_TRUE(rig.m().RawReceiveQueue().Empty());
  EXPECT_EQ(rig.m().Close(), kResultFailed);
}

TEST(OpenRouting, InitializationRunsOnceAndSkipsDriverSoftwareOfALegacyInstallation) {
  {
    ManagerRig rig;
    rig.SetPort(u"COM", u"COM3");
    rig.m().Open(1);
    rig.m().Close();
    rig.m().EnsureInitialized();
    EXPECT_EQ(Count(rig.log, "service.Load"), 1u);
    EXPECT_EQ(Count(rig.log, "service.LoadConfiguration"), 1u);
    EXPECT_EQ(Count(rig.log, "driver.Load"), 1u);
    EXPECT_EQ(Count(rig.log, "direct.Load"), 1u);
    EXPECT_TRUE(rig.m().PortServiceAvailable());
  }
  {
    ManagerRig rig;
    rig.legacy = true;
    rig.m().EnsureInitialized();
    EXPECT_EQ(Count(rig.log, "service.Load"), 0u);
    EXPECT_EQ(Count(rig.log, "driver.Load"), 0u);
    EXPECT_EQ(Count(rig.log, "direct.Load"), 1u);
    EXPECT_FALSE(rig.m().PortServiceAvailable());
    EXPECT_FALSE(rig.m().DriverPathAvailable());
    rig.SetPort(u"COM", u"COM1", 1);
    EXPECT_EQ(rig.m().Open(1), kResultFailed);
  }
}

TEST(OpenRouting, UnloadAndDestructionOrder) {
  ManagerRig rig;
  rig.direct->unloadResult = kResultNotOpen;
  EXPECT_EQ(rig.m().UnloadBackends(), kResultNotOpen);
  std::vector<std::string> unloads;
  for (const std::string& e : rig.log) {
    if (e.find(".Unload") != std::string::npos) unloads.push_back(e);
  }
  EXPECT_EQ(unloads, (std::vector<std::string>{"service.Unload", "driver.Unload", "direct.Unload"}));

  rig.SetPort(u"COM", u"COM3");
  rig.m().Open(1);
  rig.log.clear();
  rig.manager.reset();
  ASSERT_GE(rig.log.size(), 4u);
  EXPECT_EQ(rig.log[0], "direct.Close");
  EXPECT_EQ(rig.log.back(), "direct.Unload");
}

TEST(SetPort, PortServiceCompletesTheServicePortName) {
  ManagerRig rig;
  int enumerations = 0;
  rig.m().SetPortEnumerator([&](std::u16string_view type, PortSettings* const* array, uint32_t capacity,
                                uint32_t* count) {
    ++enumerations;
    EXPECT_EQ(type, u"COM");
    EXPECT_EQ(capacity, 128u);
    const char16_t* names[] = {u"com3", u"COM3", u"COM3"};
    const char16_t* services[] = {u"lower", u"first", u"second"};
    for (int i = 0; i < 3; ++i) {
      *array[i] = MakeDefaultPortSettings();
      SetText(array[i]->portName, names[i]);
      SetText(array[i]->servicePortName, services[i]);
    }
    *count = 3;
    return kResultOk;
  });
  PortSettings s = MakeZeroPortSettings();
  SetText(s.portType, u"COM");
  SetText(s.portName, u"COM3");
  ASSERT_EQ(rig.m().SetPort(&s), kResultOk);
  EXPECT_EQ(GetText(s.servicePortName), u"first");  // the caller's record is completed too
  EXPECT_EQ(GetText(rig.m().CurrentSettings().servicePortName), u"first");
  ASSERT_EQ(rig.portService->foundPortCalls.size(), 1u);

  // A record that names its service port already is not looked up.
  SetText(s.servicePortName, u"given");
  rig.m().SetPort(&s);
  EXPECT_EQ(enumerations, 1);
  EXPECT_EQ(GetText(rig.m().CurrentSettings().servicePortName), u"given");

  EXPECT_EQ(rig.m().SetPort(nullptr), kResultInvalidArgument);
}

TEST(SetPort, WithoutThePortServiceTheRecordIsTakenAsItIs) {
  ManagerRig rig(false, true, true);
  bool called = false;
  rig.m().SetPortEnumerator([&](std::u16string_view, PortSettings* const*, uint32_t, uint32_t*) {
    called = true;
    return kResultOk;
  });
  PortSettings s = MakeZeroPortSettings();
  s.writeTimeout = 77;
  ASSERT_EQ(rig.m().SetPort(&s), kResultOk);
  EXPECT_FALSE(called);
  PortSettings out;
  ASSERT_EQ(rig.m().GetPort(&out), kResultOk);
  EXPECT_EQ(std::memcmp(&out, &s, sizeof s), 0);
  EXPECT_EQ(rig.m().GetPort(nullptr), kResultBufferTooSmall);
}

TEST(WriteTimeout, PortServiceRaisesEveryTimeoutToFiveSeconds) {
  ManagerRig rig;
  rig.SetPort(u"COM", u"COM3", 1);
  ASSERT_EQ(rig.m().Open(1), kResultOk);
  ASSERT_EQ(rig.m().RouteKind(), kRouteKindPortService);
  const uint8_t byte = 0x1B;
  for (int32_t t : {1000, -1, 0, 4999, 5000, 7000}) rig.m().Write(&byte, 1, nullptr, t);
  EXPECT_EQ(rig.portService->writeTimeouts, (std::vector<int32_t>{5000, 5000, 5000, 5000, 5000, 7000}));
}

TEST(WriteTimeout, OtherRoutesUseTheRecordForMinusOne) {
  for (int32_t recordTimeout : {1234, -1}) {
    ManagerRig rig;
    PortSettings s = MakeDefaultPortSettings();
    s.writeTimeout = recordTimeout;
    s.readTimeout = recordTimeout == -1 ? -1 : 4321;
    rig.m().SetPort(&s);
    rig.m().Open(1);
    const uint8_t byte = 0x1B;
    uint32_t written = 99;
    rig.direct->writeResult = kResultTimeout;
    EXPECT_EQ(rig.m().Write(&byte, 1, &written, -1), kResultTimeout);
    EXPECT_EQ(written, 0u);  // cleared before the backend runs
    rig.m().Write(&byte, 1, nullptr, 1000);
    const int32_t expected = recordTimeout == -1 ? 2000 : 1234;
    EXPECT_EQ(rig.direct->writeTimeouts, (std::vector<int32_t>{expected, 1000}));

    uint8_t buffer[4];
    uint32_t received = 5;
    rig.m().Read(buffer, sizeof buffer, &received, -1);
    rig.m().Read(buffer, sizeof buffer, &received, 300);
    EXPECT_EQ(rig.direct->readTimeouts, (std::vector<int32_t>{recordTimeout == -1 ? 2000 : 4321, 300}));
  }
}

TEST(WriteAndRead, RefusedWithoutDataOrOpenPort) {
  ManagerRig rig;
  const uint8_t byte = 0;
  EXPECT_EQ(rig.m().Write(&byte, 0, nullptr, -1), kResultFailed);  // even without a port
  EXPECT_EQ(rig.m().Write(&byte, 1, nullptr, -1), kResultNotOpen);
  uint8_t buffer[4];
  uint32_t received = 7;
  EXPECT_EQ(rig.m().Read(buffer, 4, &received, -1), kResultNotOpen);
  EXPECT_EQ(received, 7u);  // untouched
  rig.SetPort(u"COM", u"COM3");
  rig.m().Open(1);
  EXPECT_EQ(rig.m().Write(nullptr, 4, nullptr, -1), kResultInvalidArgument);
  EXPECT_EQ(rig.m().Read(nullptr, 4, &received, -1), kResultInvalidArgument);
  rig.direct->reads.push_back({kResultOk, {0x41, 0x42}});
  EXPECT_EQ(rig.m().Read(buffer, 4, &received, -1), kResultOk);
  EXPECT_EQ(received, 2u);
}

TEST(KnownPorts, ApplyKnownPortMatchesByTypeAndNameIgnoringCase) {
  ManagerRig rig;
  auto known = [](const char16_t* type, const char16_t* name, const char16_t* device, int32_t baud) {
    PortSettings s = MakeDefaultPortSettings();
    SetText(s.portType, type);
    SetText(s.portName, name);
    SetText(s.deviceName, device);
    s.baudRate = baud;
    return s;
  };
  rig.m().FoundPorts() = {known(u"LPT", u"COM3", u"x", 1), known(u"com", u"com3", u"x", 2),
                          known(u"COM", u"COM3", u"x", 3), known(u"USB", u"001", u"pipe://KP/a", 4),
                          known(u"USB", u"002", u"PIPE://kp/B", 5)};
  PortSettings r = known(u"COM", u"COM3", u"", 0);
  rig.m().ApplyKnownPort(&r);
  EXPECT_EQ(r.baudRate, 2);
  // USB ports match by device name, not port name.
  r = known(u"usb", u"001", u"pipe://kp/b", 0);
  rig.m().ApplyKnownPort(&r);
  EXPECT_EQ(r.baudRate, 5);
  r = known(u"NET", u"1.2.3.4", u"", 9);
  rig.m().ApplyKnownPort(&r);
  EXPECT_EQ(r.baudRate, 9);
  rig.m().ApplyKnownPort(nullptr);
}

TEST(KnownPorts, UsbDevicePathsOfOnePrinterMatch) {
  const char16_t* a = u"\\\\?\\usb#vid_7a5e&pid_0202#A1B2C3#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
  const char16_t* b = u"\\\\?\\USB#VID_7A5E&PID_0202&MI_00#a1b2c3#{6a1c43e2-9d07-4b58-a3f1-52c8e07d9b14}";
  const char16_t* family = u"x#vid_7a5e&pid_0e21#A1B2C3#rest";
  const char16_t* otherSerial = u"x#vid_7a5e&pid_0202#A1B2C4#rest";
  const char16_t* otherVendor = u"x#vid_1234&pid_0202#A1B2C3#rest";
  const char16_t* twoHashes = u"x#vid_7a5e&pid_0202#A1B2C3";
  EXPECT_TRUE(KPComm::UsbDeviceNamesMatch(a, b));
  EXPECT_TRUE(KPComm::UsbDeviceNamesMatch(a, family));
  EXPECT_FALSE(KPComm::UsbDeviceNamesMatch(a, otherSerial));
  EXPECT_FALSE(KPComm::UsbDeviceNamesMatch(a, otherVendor));
  EXPECT_FALSE(KPComm::UsbDeviceNamesMatch(a, twoHashes));
  EXPECT_TRUE(KPComm::UsbDeviceNamesMatch(u"Same#Thing", u"same#thing"));  // plain equality first
  EXPECT_FALSE(KPComm::UsbDeviceNamesMatch(a, nullptr));
  EXPECT_FALSE(KPComm::UsbDeviceNamesMatch(nullptr, nullptr));
}

}  // namespace
}  // namespace tw::portwire
