// The driver-path and port-service backends against the simulated maker's
// software (sim/makersw), loaded through the real module loader from a staged
// Program Files folder, with the simulated printer behind the ports.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "portlib/backends/gen2_comm.h"
#include "portlib/backends/gen3_comm.h"
#include "portlib/manager/kp_comm.h"
#include "sim/makersw/sim_staging.h"
#include "sim/printer/sim_printer.h"

namespace tw::portwire {
namespace {

constexpr const char* kPrinterAddress = "127.0.0.111";
const std::vector<uint8_t> kModelNameQuery = {0x1D, 0x49, 0x43};
const std::vector<uint8_t> kModelNameReply = {0x5F, 'K', 'P', '-', 'S', '4', '1', '0', 0x00};

std::string Link() { return std::string("link=tcp:") + kPrinterAddress + ":9100"; }

// Status notifications as a client sees them.
struct Notifications {
  std::mutex lock;
  std::vector<int32_t> statuses;
  std::vector<int32_t> raw;
  std::vector<uint32_t> batteries;
  std::thread::id thread;

  static void Status(int32_t status, void* user) {
    auto* self = static_cast<Notifications*>(user);
    std::lock_guard<std::mutex> guard(self->lock);
    self->statuses.push_back(status);
    self->thread = std::this_thread::get_id();
  }
  static void Raw(int32_t kind, const uint8_t*, void* user) {
    auto* self = static_cast<Notifications*>(user);
    std::lock_guard<std::mutex> guard(self->lock);
    self->raw.push_back(kind);
  }
  static void Battery(uint32_t battery, void* user) {
    auto* self = static_cast<Notifications*>(user);
    std::lock_guard<std::mutex> guard(self->lock);
    self->batteries.push_back(battery);
  }
  bool WaitForStatus(int32_t status) {
    for (int i = 0; i < 300; ++i) {
      {
        std::lock_guard<std::mutex> guard(lock);
        for (int32_t s : statuses) {
          if (s == status) return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

class Route1Sim : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim::SimConfig config;
    config.tcpAddress = kPrinterAddress;
    config.resetMs = 0;
    config.behaviour.modelName = "KP-S410";
    printer_ = new sim::SimPrinter(config);
    ASSERT_TRUE(printer_->Start()) << printer_->Error();
  }
  static void TearDownTestSuite() {
    delete printer_;
    printer_ = nullptr;
  }

  // A manager with the real driver-software backends (no direct backend).
  std::unique_ptr<KPComm> MakeManager(bool portService, bool driverPath) {
    KPCommBackends backends;
    if (portService) backends.portService = std::make_unique<CGen3Comm>();
    if (driverPath) backends.driverPath = std::make_unique<CGen2Comm>();
    KPCommEnvironment env;
    env.isLegacyDriverInstalled = [] { return false; };
    return std::make_unique<KPComm>(std::move(backends), env);
  }

  static PortSettings Route1Record(const char16_t* type, const char16_t* name, const char16_t* device) {
    PortSettings s = MakeDefaultPortSettings();
    SetText(s.portType, type);
    SetText(s.portName, name);
    SetText(s.deviceName, device);
    SetText(s.servicePortName, u"x");  // no lookup by the library's enumeration
    s.route = 1;
    return s;
  }

  // Writes the model name query and reads one reply block.
  static Result Query(KPComm& m, std::vector<uint8_t>& reply, uint32_t size = 64, int32_t timeout = 2000) {
    uint32_t written = 0;
    Result r = m.Write(kModelNameQuery.data(), static_cast<uint32_t>(kModelNameQuery.size()), &written, 2000);
    if (r != kResultOk) return r;
    reply.assign(size, 0);
    uint32_t got = 0;
    r = m.Read(reply.data(), size, &got, timeout);
    reply.resize(r == kResultOk ? got : 0);
    return r;
  }

  static sim::SimPrinter* printer_;
};
sim::SimPrinter* Route1Sim::printer_ = nullptr;

// ===== driver path =====

TEST_F(Route1Sim, DriverPathOpensWithLockAndExchangesWithThePrinter) {
  makersw::Staging staging({true, false});
  staging.WritePorts("port nvmprt_net1 type=NET portname=192.168.7.20 model=KP-S410 " + Link() + "\n");
  auto m = MakeManager(false, true);
  PortSettings record = Route1Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  EXPECT_EQ(m->RouteKind(), kRouteKindDriverPath);
  auto* gen2 = static_cast<CGen2Comm*>(m->DriverPathBackend());
  EXPECT_TRUE(gen2->Locked());
  EXPECT_NE(gen2->StatusHandle(), -1);
  EXPECT_EQ(m->Status(), 0);  // the status read at open: online, no error
  std::vector<uint8_t> reply;
  ASSERT_EQ(Query(*m, reply), kResultOk);
  EXPECT_EQ(reply, kModelNameReply);

  // A reply larger than the buffer stays queued with its length reported.
  ASSERT_EQ(m->Write(kModelNameQuery.data(), 3, nullptr, 2000), kResultOk);
  uint8_t small[4] = {};
  uint32_t got = 0;
  EXPECT_EQ(m->Read(small, sizeof small, &got, 2000), kResultBufferTooSmall);
  EXPECT_EQ(got, kModelNameReply.size());
  uint8_t big[32] = {};
  EXPECT_EQ(m->Read(big, sizeof big, &got, 2000), kResultOk);
  EXPECT_EQ(std::vector<uint8_t>(big, big + got), kModelNameReply);
  EXPECT_EQ(m->Close(), kResultOk);
  EXPECT_FALSE(gen2->Locked());
  EXPECT_NE(gen2->StatusHandle(), -1);  // kept until unload
  m->UnloadBackends();
  EXPECT_EQ(gen2->StatusHandle(), -1);
}

TEST_F(Route1Sim, DriverPathOpenWithoutLockLocksEachWrite) {
  makersw::Staging staging({true, false});
  staging.WritePorts("port nvmprt_net1 type=NET portname=192.168.7.20 " + Link() + "\n");
  auto m = MakeManager(false, true);
  PortSettings record = Route1Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(0), kResultOk);
  auto* gen2 = static_cast<CGen2Comm*>(m->DriverPathBackend());
  EXPECT_FALSE(gen2->Locked());
  EXPECT_EQ(gen2->StatusHandle(), -1);
  const int before = printer_->Report().record.statusPackets;
  const uint8_t enable[] = {0x1D, 0x61, 0xFF};
  uint32_t written = 0;
  ASSERT_EQ(m->Write(enable, sizeof enable, &written, 2000), kResultOk);
  EXPECT_EQ(written, sizeof enable);
  EXPECT_FALSE(gen2->Locked());  // taken for the write and given back
  EXPECT_TRUE(printer_->WaitFor([&](const sim::SimReport& r) { return r.record.statusPackets > before; },
                                std::chrono::seconds(2)));
}

TEST_F(Route1Sim, DriverPathLockTimeoutClosesBothHandlesAndPurges) {
  makersw::Staging staging({true, false});
  staging.WritePorts("port nvmprt_net1 type=NET faults=lock-timeout " + Link() + "\n");
  auto m = MakeManager(false, true);
  PortSettings record = Route1Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  m->EnsureInitialized();
  m->DeliverData({1, 2, 3});  // left over from before: the purge drops it
  EXPECT_EQ(m->Open(1), kResultCannotLink);
  auto* gen2 = static_cast<CGen2Comm*>(m->DriverPathBackend());
  EXPECT_FALSE(m->IsPortOpen());
  EXPECT_FALSE(gen2->IsOpen());
  EXPECT_EQ(gen2->StatusHandle(), -1);
  EXPECT_TRUE(m->RawReceiveQueue().Empty());
}

TEST_F(Route1Sim, DriverPathSendThatMovesNothingAndWrongReceiveMode) {
  makersw::Staging staging({true, false});
  staging.WritePorts("port nvmprt_a type=NET faults=send-nothing " + Link() + "\nport nvmprt_b type=NET recvmode=5 " +
                     Link() + "\n");
  auto m = MakeManager(false, true);
  PortSettings record = Route1Record(u"NET", u"a", u"pipe://KP/nvmprt_a");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  uint32_t written = 9;
  EXPECT_EQ(m->Write(kModelNameQuery.data(), 3, &written, 500), kResultNothingWritten);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(m->Write(kModelNameQuery.data(), 3, nullptr, 500), kResultNothingWritten);
  ASSERT_EQ(m->Close(), kResultOk);

  // Receive mode 5: the printer answers, but the data is not the caller's.
  record = Route1Record(u"NET", u"b", u"pipe://KP/nvmprt_b");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  EXPECT_EQ(m->ReceiveMode(), 5);
  std::vector<uint8_t> reply;
  EXPECT_EQ(Query(*m, reply, 64, 400), kResultTimeout);
  ASSERT_EQ(m->Close(), kResultOk);
}

TEST_F(Route1Sim, DriverPathDeviceStateChangeReachesTheStatusCallbackFromTheDriversThread) {
  makersw::Staging staging({true, false});
  const std::string port = "port nvmprt_net1 type=NET " + Link();
  staging.WritePorts(port + "\n");
  auto m = MakeManager(false, true);
  Notifications seen;
  m->RegisterStatusProc(&Notifications::Status, &seen);
  PortSettings record = Route1Record(u"NET", u"x", u"pipe://KP/nvmprt_net1");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  staging.WritePorts(port + " state=2\n");  // the driver lost the device
  EXPECT_TRUE(seen.WaitForStatus(kStatusLinkLost));
  EXPECT_EQ(m->Status(), kStatusLinkLost);
  {
    std::lock_guard<std::mutex> guard(seen.lock);
    EXPECT_NE(seen.thread, std::this_thread::get_id());
  }
  m->UnregisterStatusProc();
}

TEST_F(Route1Sim, DriverPathEnumerationOnceWithUsbNumbersAndDeviceNameForTheGenericModel) {
  makersw::Staging staging({true, false});
  staging.WritePorts(
      "port usbB type=USB portname=\\\\?\\usb#vid_7a5e&pid_0202#S2#{x} model=KP-S300 devicename=KP-S410B\n"
      "port com3 type=COM portname=COM3 model=KP-S410 baud=19200 bytesize=7 parity=2 flow=on\n"
      "port usbA type=USB portname=\\\\?\\usb#vid_7a5e&pid_0e01#S1#{x} model=KP-S410\n");
  auto m = MakeManager(false, true);
  m->EnsureInitialized();
  auto* gen2 = static_cast<CGen2Comm*>(m->DriverPathBackend());
  ASSERT_EQ(gen2->EnumeratePorts(), kResultOk);
  const auto& found = m->FoundPorts();
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(GetText(found[0].portName), u"001");
  EXPECT_EQ(GetText(found[0].modelName), u"KP-S410B");
  EXPECT_EQ(found[0].usbClass, 0);
  EXPECT_EQ(GetText(found[0].deviceName), u"pipe://KP/usbB");
  EXPECT_EQ(found[0].routeKind, kRouteKindDriverPath);
  EXPECT_EQ(GetText(found[1].portName), u"COM3");
  EXPECT_EQ(found[1].baudRate, 19200);
  EXPECT_EQ(found[1].dataBits, 7);
  EXPECT_EQ(found[1].parity, 2);
  EXPECT_EQ(found[1].flowControl, 1);
  EXPECT_EQ(GetText(found[2].portName), u"002");
  EXPECT_EQ(found[2].usbClass, 1);

  staging.WritePorts("port other type=COM portname=COM9\n");
  EXPECT_EQ(gen2->EnumeratePorts(), kResultOk);
  EXPECT_EQ(m->FoundPorts().size(), 3u);  // the driver was not asked again

  PortSettings lookup = MakeDefaultPortSettings();
  SetText(lookup.portType, u"com");
  SetText(lookup.portName, u"com3");
  EXPECT_EQ(gen2->FindPort(&lookup), kResultOk);
  EXPECT_EQ(GetText(lookup.deviceName), u"pipe://KP/com3");
  EXPECT_EQ(lookup.route, 1);
}

TEST_F(Route1Sim, DriverPathSerialSettingsWrittenAndVerifiedAndNetworkRename) {
  makersw::Staging staging({true, false});
  staging.WritePorts("port com3 type=COM portname=COM3 baud=9600 bytesize=8 parity=0 flow=off " + Link() +
                     "\nport net1 type=NET portname=192.168.7.20 " + Link() + "\nport net2 type=NET faults=refuse-rename " +
                     Link() + "\n");
  auto m = MakeManager(false, true);
  m->EnsureInitialized();
  auto* gen2 = static_cast<CGen2Comm*>(m->DriverPathBackend());
  PortSettings record = Route1Record(u"COM", u"COM3", u"pipe://KP/com3");
  record.baudRate = 38400;
  record.parity = 1;
  record.dataBits = 8;
  record.flowControl = 1;
  ASSERT_EQ(gen2->ApplySerialSettings(&record), kResultOk);
  const std::string table = staging.ReadPorts();
  EXPECT_NE(table.find("baud=38400"), std::string::npos) << table;
  EXPECT_NE(table.find("parity=1"), std::string::npos) << table;
  EXPECT_NE(table.find("flow=on"), std::string::npos) << table;

  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  EXPECT_EQ(gen2->VerifySerialSettings(&record), kResultOk);
  PortSettings other = record;
  other.dataBits = 7;
  EXPECT_EQ(gen2->VerifySerialSettings(&other), kResultSettingsMismatch);
  EXPECT_EQ(gen2->VerifySerialSettings(nullptr), kResultBufferTooSmall);
  ASSERT_EQ(m->Close(), kResultOk);

  PortSettings net = Route1Record(u"NET", u"192.168.7.30", u"pipe://KP/net1");
  ASSERT_EQ(m->SetPort(&net), kResultOk);
  EXPECT_EQ(gen2->RenameNetworkPort(&net), kResultOk);
  EXPECT_NE(staging.ReadPorts().find("portname=192.168.7.30"), std::string::npos);
  net = Route1Record(u"NET", u"192.168.7.31", u"pipe://KP/net2");
  ASSERT_EQ(m->SetPort(&net), kResultOk);
  EXPECT_EQ(gen2->RenameNetworkPort(&net), kResultFailed);
  EXPECT_EQ(staging.ReadPorts().find("192.168.7.31"), std::string::npos);
}

// ===== port service =====

TEST_F(Route1Sim, PortServiceOpensWithLockAndReadsResponsesThroughTheStore) {
  makersw::Staging staging({false, true});
  staging.WritePorts("port nvmprt_net1 type=NET portname=192.168.7.20 " + Link() + "\n");
  auto m = MakeManager(true, false);
  Notifications seen;
  m->RegisterStatusProc(&Notifications::Status, &seen);
  m->RegistRawStatusCallBack(&Notifications::Raw, &seen);
  PortSettings record = Route1Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  EXPECT_EQ(m->RouteKind(), kRouteKindPortService);
  auto* gen3 = static_cast<CGen3Comm*>(m->PortServiceBackend());
  EXPECT_TRUE(gen3->Locked());
  EXPECT_EQ(m->ResolveWriteTimeout(1000), 5000);
  EXPECT_TRUE(seen.WaitForStatus(0));  // the service's status report, translated
  {
    std::lock_guard<std::mutex> guard(seen.lock);
    ASSERT_FALSE(seen.raw.empty());
    EXPECT_EQ(seen.raw[0], 1);
  }
  std::vector<uint8_t> reply;
  ASSERT_EQ(Query(*m, reply), kResultOk);
  EXPECT_EQ(reply, kModelNameReply);

  // A response larger than the buffer is reported and dropped.
  ASSERT_EQ(m->Write(kModelNameQuery.data(), 3, nullptr, 2000), kResultOk);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  uint8_t small[4] = {};
  uint32_t got = 0;
  EXPECT_EQ(m->Read(small, sizeof small, &got, 2000), kResultBufferTooSmall);
  EXPECT_EQ(m->Read(small, sizeof small, &got, 200), kResultNoResponse);
  EXPECT_EQ(m->Read(nullptr, 4, &got, 200), kResultInvalidArgument);
  EXPECT_EQ(m->Close(), kResultOk);
  m->UnregisterStatusProc();
  m->UnregistRawStatusCallback();
}

TEST_F(Route1Sim, PortServiceLockTimeoutBusySendNothingAndDeviceState) {
  makersw::Staging staging({false, true});
  const std::string good = "port nvmprt_ok type=NET " + Link();
  staging.WritePorts("port nvmprt_t type=NET faults=lock-timeout " + Link() + "\nport nvmprt_b type=NET faults=busy " +
                     Link() + "\nport nvmprt_s type=NET faults=send-nothing " + Link() + "\n" + good + "\n");
  auto m = MakeManager(true, false);
  for (const char16_t* device : {u"pipe://KP/nvmprt_t", u"pipe://KP/nvmprt_b"}) {
    PortSettings record = Route1Record(u"NET", u"x", device);
    ASSERT_EQ(m->SetPort(&record), kResultOk);
    m->DeliverData({1, 2, 3});
    EXPECT_EQ(m->Open(1), kResultCannotLink);
    EXPECT_FALSE(m->IsPortOpen());
    EXPECT_TRUE(m->RawReceiveQueue().Empty());
  }
  PortSettings record = Route1Record(u"NET", u"x", u"pipe://KP/nvmprt_s");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  uint32_t written = 5;
  EXPECT_EQ(m->Write(kModelNameQuery.data(), 3, &written, 100), kResultNothingWritten);
  EXPECT_EQ(written, 0u);
  ASSERT_EQ(m->Close(), kResultOk);

  Notifications seen;
  m->RegisterStatusProc(&Notifications::Status, &seen);
  m->RegistRawStatusCallBack(&Notifications::Raw, &seen);
  record = Route1Record(u"NET", u"x", u"pipe://KP/nvmprt_ok");
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  staging.WritePorts(good + " state=2\n");
  EXPECT_TRUE(seen.WaitForStatus(kStatusLinkLost));
  {
    std::lock_guard<std::mutex> guard(seen.lock);
    EXPECT_NE(std::find(seen.raw.begin(), seen.raw.end(), 999), seen.raw.end());
    EXPECT_NE(seen.thread, std::this_thread::get_id());
  }
  m->UnregisterStatusProc();
  m->UnregistRawStatusCallback();
}

TEST_F(Route1Sim, PortServiceEnumerationModelNamesAndSettings) {
  makersw::Staging staging({false, true});
  staging.WritePorts(
      "port nvmprt_u2 type=USB portname=\\\\?\\usb#vid_7a5e&pid_0202#S2#{x} model=*\n"
      "port nvmprt_c type=COM portname=COM4 model=KP-S410 baud=9600 flow=on custom.KP.PrinterID.67=KP-S410C\n"
      "port nvmprt_u1 type=USB portname=\\\\?\\usb#vid_7a5e&pid_0e01#S1#{x} model=* custom.AMB.Id.ModelName=KP-AMB\n"
      "port nvmprt_n type=NET portname=192.168.7.20 " + Link() + "\n"
      "port nvmprt_r type=NET portname=192.168.7.21 faults=refuse-rename " + Link() + "\n");
  auto m = MakeManager(true, false);
  m->EnsureInitialized();
  auto* gen3 = static_cast<CGen3Comm*>(m->PortServiceBackend());
  ASSERT_TRUE(gen3->ConfigurationLoaded());
  ASSERT_EQ(gen3->EnumeratePorts(), kResultOk);
  const auto found = m->FoundPorts();
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(GetText(found[0].portName), u"001");
  EXPECT_EQ(GetText(found[0].modelName), u"Unknown");  // "*" and no other source
  EXPECT_EQ(found[0].usbClass, 0);
  EXPECT_EQ(GetText(found[1].modelName), u"KP-S410C");
  EXPECT_EQ(found[1].flowControl, 1);
  EXPECT_EQ(GetText(found[2].portName), u"002");
  EXPECT_EQ(GetText(found[2].modelName), u"KP-AMB");
  EXPECT_EQ(GetText(found[3].deviceName), u"pipe://KP/nvmprt_n");
  EXPECT_EQ(found[3].routeKind, kRouteKindPortService);
  staging.WritePorts(staging.ReadPorts() + "port nvmprt_z type=COM portname=COM9\n");
  ASSERT_EQ(gen3->EnumeratePorts(), kResultOk);
  EXPECT_EQ(m->FoundPorts().size(), 5u);

  // Serial settings written, then checked against the open port.
  PortSettings com = Route1Record(u"COM", u"COM4", u"pipe://KP/nvmprt_c");
  com.baudRate = 115200;
  com.dataBits = 8;
  com.parity = 2;
  com.flowControl = 0;
  ASSERT_EQ(m->SetPort(&com), kResultOk);
  EXPECT_EQ(gen3->ApplySerialSettings(&com), kResultOk);
  EXPECT_NE(staging.ReadPorts().find("baud=115200"), std::string::npos);
  ASSERT_EQ(m->SetPort(&com), kResultOk);
  EXPECT_EQ(gen3->VerifySerialSettings(&com), kResultOk);
  com.baudRate = 9600;
  EXPECT_EQ(gen3->VerifySerialSettings(&com), kResultSettingsMismatch);

  // Network rename on the current port.
  PortSettings net = Route1Record(u"NET", u"192.168.7.40", u"pipe://KP/nvmprt_n");
  ASSERT_EQ(m->SetPort(&net), kResultOk);
  EXPECT_EQ(gen3->RenameNetworkPort(&net), kResultOk);
  EXPECT_NE(staging.ReadPorts().find("portname=192.168.7.40"), std::string::npos);
  net = Route1Record(u"NET", u"192.168.7.41", u"pipe://KP/nvmprt_r");
  ASSERT_EQ(m->SetPort(&net), kResultOk);
  EXPECT_EQ(gen3->RenameNetworkPort(&net), kResultSettingsMismatch);
}

// ===== route 1: port service first, then the driver path =====

TEST_F(Route1Sim, RouteOnePrefersThePortServiceAndFallsBackToTheDriverPath) {
  makersw::Staging staging;
  const std::string port = "port nvmprt_net1 type=NET portname=192.168.7.20 model=KP-S410 " + Link();
  staging.WritePorts(port + "\n");
  PortSettings record = Route1Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1");
  {
    auto m = MakeManager(true, true);
    ASSERT_EQ(m->SetPort(&record), kResultOk);
    ASSERT_EQ(m->Open(1), kResultOk);
    EXPECT_EQ(m->RouteKind(), kRouteKindPortService);
    EXPECT_EQ(m->CurrentBackend(), m->PortServiceBackend());
    ASSERT_EQ(m->Close(), kResultOk);

    // The service cannot open the port: the driver path takes it.
    staging.WritePorts(port + " faults=open-fails\n");
    ASSERT_EQ(m->SetPort(&record), kResultOk);
    ASSERT_EQ(m->Open(1), kResultOk);
    EXPECT_EQ(m->RouteKind(), kRouteKindDriverPath);
    EXPECT_EQ(m->CurrentBackend(), m->DriverPathBackend());
    ASSERT_EQ(m->Close(), kResultOk);

    // The port is busy at the service: the driver path is not tried.
    staging.WritePorts(port + " faults=busy\n");
    ASSERT_EQ(m->SetPort(&record), kResultOk);
    EXPECT_EQ(m->Open(1), kResultCannotLink);
    EXPECT_EQ(m->RouteKind(), kRouteKindPortService);
    EXPECT_FALSE(m->IsPortOpen());
  }
  // No port service installed: the driver path.
  staging.WritePorts(port + "\n");
  makersw::Staging driverOnly({true, false});
  driverOnly.WritePorts(port + "\n");
  auto m = MakeManager(true, true);
  ASSERT_EQ(m->SetPort(&record), kResultOk);
  ASSERT_EQ(m->Open(1), kResultOk);
  EXPECT_FALSE(m->PortServiceAvailable());
  EXPECT_EQ(m->RouteKind(), kRouteKindDriverPath);
}

TEST_F(Route1Sim, CommunicationTestOverEitherRouteReadsTheModelName) {
  for (bool service : {true, false}) {
    SCOPED_TRACE(service ? "port service" : "driver path");
    makersw::Staging staging({true, service});
    staging.WritePorts("port nvmprt_net1 type=NET portname=192.168.7.20 " + Link() + "\n");
    auto m = MakeManager(true, true);
    PortSettings record = Route1Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1");
    SetText(record.modelName, u"");
    EXPECT_EQ(m->CommunicationTest(&record), kResultOk);
    EXPECT_EQ(GetText(record.modelName), u"KP-S410");
    EXPECT_EQ(record.routeKind, service ? kRouteKindPortService : kRouteKindDriverPath);
    EXPECT_FALSE(m->IsPortOpen());
  }
}

// A printer that answers the model name query with the generic "KP-S300":
// its model code names it; the port service keeps the name for the port.
TEST_F(Route1Sim, GenericModelNameIsRefinedByTheModelCode) {
  sim::SimConfig config;
  config.tcpAddress = "127.0.0.112";
  config.resetMs = 0;
  config.behaviour.modelName = "KP-S300";
  config.behaviour.modelCode = "KP-S310B";
  sim::SimPrinter generic(config);
  ASSERT_TRUE(generic.Start()) << generic.Error();
  for (bool service : {true, false}) {
    SCOPED_TRACE(service ? "port service" : "driver path");
    makersw::Staging staging({true, service});
    staging.WritePorts("port nvmprt_g type=NET portname=192.168.7.50 link=tcp:127.0.0.112:9100\n");
    auto m = MakeManager(true, true);
    PortSettings record = Route1Record(u"NET", u"192.168.7.50", u"pipe://KP/nvmprt_g");
    EXPECT_EQ(m->CommunicationTest(&record), kResultOk);
    EXPECT_EQ(GetText(record.modelName), u"KP-S310B");
    const bool kept = staging.ReadPorts().find("custom.KP.PrinterID.67=KP-S310B") != std::string::npos;
    EXPECT_EQ(kept, service);
  }
}

// The components call back on their own threads (status, device state,
// data) while the caller writes and reads: run under the thread sanitizer.
TEST_F(Route1Sim, CallbacksOnTheComponentsThreadsWhileTheCallerWritesAndReads) {
  for (bool service : {true, false}) {
    SCOPED_TRACE(service ? "port service" : "driver path");
    makersw::Staging staging({true, service});
    const std::string port = "port nvmprt_net1 type=NET portname=192.168.7.20 " + Link();
    staging.WritePorts(port + "\n");
    auto m = MakeManager(true, true);
    Notifications seen;
    m->RegisterStatusProc(&Notifications::Status, &seen);
    m->RegistRawStatusCallBack(&Notifications::Raw, &seen);
    PortSettings record = Route1Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1");
    ASSERT_EQ(m->SetPort(&record), kResultOk);
    ASSERT_EQ(m->Open(1), kResultOk);
    ASSERT_EQ(m->RouteKind(), service ? kRouteKindPortService : kRouteKindDriverPath);
    std::atomic<bool> stop{false};
    std::thread states([&] {
      for (int i = 0; !stop.load(); ++i) {
        staging.WritePorts(port + (i % 2 ? " state=0\n" : " state=4\n"));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
      }
    });
    const uint8_t enable[] = {0x1D, 0x61, 0xFF};  // the printer answers with status packets
    for (int i = 0; i < 20; ++i) {
      ASSERT_EQ(m->Write(enable, sizeof enable, nullptr, 2000), kResultOk);
      std::vector<uint8_t> reply;
      ASSERT_EQ(Query(*m, reply), kResultOk);
      EXPECT_EQ(reply, kModelNameReply);
    }
    stop = true;
    states.join();
    EXPECT_EQ(m->Close(), kResultOk);
    m->UnregisterStatusProc();
    m->UnregistRawStatusCallback();
  }
}

TEST(PortServiceAddressing, NetworkAndLocalDeviceNames) {
  ServiceAddress a;
  ASSERT_TRUE(AddressServicePort(u"TCP://shop-pc/pipe://KP/nvmprt_3/x", 0, a));
  EXPECT_TRUE(a.remote);
  EXPECT_EQ(a.host, u"shop-pc:2291");
  EXPECT_EQ(a.port, u"nvmprt_3");
  ASSERT_TRUE(AddressServicePort(u"Pipe://kp/\"KPSPRT_1\"", 1, a));
  EXPECT_FALSE(a.remote);
  EXPECT_EQ(a.port, u"KPSPRT_1");
  ASSERT_TRUE(AddressServicePort(u"pipe://KP/kpsprt_1", 0, a));
  EXPECT_EQ(a.port, u"");  // the other model family's prefix
  ASSERT_TRUE(AddressServicePort(u"COM3", 0, a));
  EXPECT_EQ(a.port, u"COM3");
  EXPECT_FALSE(AddressServicePort(u"tcp://" + std::u16string(70, u'h') + u"/nvmprt_1", 0, a));
}

// Within one batch every packet notifies only for what it changed itself.
TEST(PortServiceReceived, OneNotificationPerChangingPacketOfABatch) {
  KPCommBackends backends;
  backends.portService = std::make_unique<CGen3Comm>();
  KPCommEnvironment env;
  env.isLegacyDriverInstalled = [] { return false; };
  KPComm m(std::move(backends), env);
  auto* gen3 = static_cast<CGen3Comm*>(m.PortServiceBackend());
  gen3->SetResponseStore(&m.ResponseStore());
  Notifications seen;
  m.RegisterStatusProc(&Notifications::Status, &seen);
  m.RegisterBatStatusProc(&Notifications::Battery, &seen);
  m.RegistRawStatusCallBack(&Notifications::Raw, &seen);
  {
    std::lock_guard<std::mutex> guard(seen.lock);
    seen.statuses.clear();
    seen.batteries.clear();
  }
  // status 0, then a "9" report, a battery report, a "5" report and a reply.
  const uint8_t batch[] = {0x10, 0x00, 0x00, 0x00, 0x39, 0x40, 0x00, 0x37, 0x45, 0x31, 0x33,
                           0x00, 0x35, 0x44, 0x40, 0x00, 0x5F, 0x41, 0x00};
  EXPECT_EQ(gen3->ProcessReceived(batch, sizeof batch), kResultOk);
  ASSERT_TRUE(m.WaitCallbacksDelivered(20000));
  std::lock_guard<std::mutex> guard(seen.lock);
  EXPECT_EQ(seen.statuses, (std::vector<int32_t>{0, 10}));
  EXPECT_EQ(seen.batteries, (std::vector<uint32_t>{0x3331}));
  EXPECT_EQ(seen.raw, (std::vector<int32_t>{1, 4, 3, 2}));
  EXPECT_EQ(m.Status(), 10);
  std::vector<uint8_t> response;
  EXPECT_EQ(m.ResponseStore().TakeResponse(response), 0);
  EXPECT_EQ(response.size(), 3u);
  // A partial packet completes nothing: no data-arrived signal for it.
  EXPECT_EQ(gen3->ProcessReceived(batch, 2), kResultNoResponse);
}

}  // namespace
}  // namespace tw::portwire
