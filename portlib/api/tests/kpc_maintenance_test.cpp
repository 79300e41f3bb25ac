// The port maintenance functions as an integrator's program calls them: the
// library loaded by file name, functions resolved by name, ports reached
// through the simulated maker's software (staged like an installation) and
// the simulated printer and network interface behind them.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/module.h"
#include "portwire.h"
#include "shared/port_settings.h"
#include "sim/makersw/sim_staging.h"
#include "sim/netif/netif_sim.h"
#include "sim/printer/sim_printer.h"

namespace {

constexpr const char* kPrinterAddress = "127.0.0.121";
constexpr const char* kDirectPrinterAddress = "127.0.0.122";
constexpr uint8_t kInterfaceAddress[4] = {127, 0, 0, 123};

struct Api {
  tw::platform::Module module;
#define PW_FN(name) decltype(&::name) name = nullptr;
  PW_FN(KPC_SetPort) PW_FN(KPC_Open) PW_FN(KPC_Close) PW_FN(KPC_Terminate) PW_FN(KPC_GetAccessVersion)
  PW_FN(KPC_EnumPort) PW_FN(KPC_AddPort) PW_FN(KPC_PortSetting) PW_FN(KPC_CommunicationTest)
  PW_FN(KPC_RegisterDeviceStateCallback) PW_FN(KPC_UnregisterDeviceStateCallback)
#undef PW_FN

  bool Load() {
    module = tw::platform::Module::Load(u"Portwire.dll");
    if (!module.IsLoaded()) return false;
#define PW_RESOLVE(name) name = module.Function<decltype(name)>(#name); if (!name) return false;
    PW_RESOLVE(KPC_SetPort) PW_RESOLVE(KPC_Open) PW_RESOLVE(KPC_Close) PW_RESOLVE(KPC_Terminate)
    PW_RESOLVE(KPC_GetAccessVersion) PW_RESOLVE(KPC_EnumPort) PW_RESOLVE(KPC_AddPort) PW_RESOLVE(KPC_PortSetting)
    PW_RESOLVE(KPC_CommunicationTest) PW_RESOLVE(KPC_RegisterDeviceStateCallback)
    PW_RESOLVE(KPC_UnregisterDeviceStateCallback)
#undef PW_RESOLVE
    return true;
  }
  void Unload() {
    if (!module.IsLoaded()) return;
    if (KPC_Close) KPC_Close();
    if (KPC_Terminate) KPC_Terminate();
    module.Unload();
  }
};

PortSettings Record(const char16_t* type, const char16_t* name, const char16_t* device, int32_t route) {
  tw::PortSettings s = tw::MakeDefaultPortSettings();
  tw::SetText(s.portType, type);
  tw::SetText(s.portName, name);
  tw::SetText(s.deviceName, device);
  tw::SetText(s.servicePortName, u"x");
  s.route = route;
  PortSettings out;
  static_assert(sizeof out == sizeof s);
  std::memcpy(&out, &s, sizeof out);
  return out;
}

std::u16string Text(const PW_TEXT& field) {
  std::u16string out;
  for (size_t i = 0; i < 260 && field[i] != 0; ++i) out += static_cast<char16_t>(field[i]);
  return out;
}

std::string PrinterLink() { return std::string("link=tcp:") + kPrinterAddress + ":9100"; }

class KpcMaintenance : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* address : {kPrinterAddress, kDirectPrinterAddress}) {
      tw::sim::SimConfig config;
      config.tcpAddress = address;
      config.resetMs = 0;
      printers_.push_back(new tw::sim::SimPrinter(config));
      ASSERT_TRUE(printers_.back()->Start()) << printers_.back()->Error();
    }
    tw::sim::NetifConfig netif;
    std::memcpy(&netif.address, kInterfaceAddress, 4);
    interface_ = new tw::sim::NetifSimulator(netif);
    std::string error;
    ASSERT_TRUE(interface_->Start(&error)) << error;
  }
  static void TearDownTestSuite() {
    for (auto* p : printers_) delete p;
    printers_.clear();
    delete interface_;
    interface_ = nullptr;
  }
  void TearDown() override { api.Unload(); }

  static std::vector<tw::sim::SimPrinter*> printers_;
  static tw::sim::NetifSimulator* interface_;
  Api api;
};
std::vector<tw::sim::SimPrinter*> KpcMaintenance::printers_;
tw::sim::NetifSimulator* KpcMaintenance::interface_ = nullptr;

TEST_F(KpcMaintenance, BadArgumentsAndNoOpenPort) {
  tw::makersw::Staging staging;
  ASSERT_TRUE(api.Load());
  EXPECT_EQ(api.KPC_AddPort(nullptr), PW_INVALID_ARGUMENT);
  EXPECT_EQ(api.KPC_PortSetting(nullptr), PW_INVALID_ARGUMENT);
  EXPECT_EQ(api.KPC_CommunicationTest(nullptr), PW_INVALID_ARGUMENT);
  PortSettings record = Record(u"COM", u"COM3", u"", 0);
  EXPECT_EQ(api.KPC_PortSetting(&record), PW_NOT_OPEN);
  EXPECT_EQ(api.KPC_RegisterDeviceStateCallback(nullptr, nullptr), PW_NOT_OPEN);
  EXPECT_EQ(api.KPC_UnregisterDeviceStateCallback(nullptr, nullptr), PW_NOT_OPEN);
  EXPECT_EQ(api.KPC_EnumPort(0, 0, 0, 0), PW_OK);
}

TEST_F(KpcMaintenance, CommunicationTestOnRouteOneOverThePortServiceAndTheDriverPath) {
  for (bool service : {true, false}) {
    SCOPED_TRACE(service ? "port service" : "driver path");
    tw::makersw::Staging staging({true, service});
    staging.WritePorts("port nvmprt_net1 type=NET portname=192.168.7.20 " + PrinterLink() + "\n");
    ASSERT_TRUE(api.Load());
    PortSettings record = Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1", 1);
    std::memset(record.modelName, 0, sizeof record.modelName);
    EXPECT_EQ(api.KPC_CommunicationTest(&record), PW_OK);
    EXPECT_EQ(Text(record.modelName), u"KP-S410");
    EXPECT_EQ(record.routeKind, service ? 3 : 2);

    PortSettings open = Record(u"NET", u"192.168.7.20", u"pipe://KP/nvmprt_net1", 1);
    ASSERT_EQ(api.KPC_SetPort(&open), PW_OK);
    ASSERT_EQ(api.KPC_Open(1), PW_OK);
    int32_t version = 0;
    EXPECT_EQ(api.KPC_GetAccessVersion(&version), PW_OK);
    EXPECT_EQ(version, service ? 3 : 2);
    EXPECT_EQ(api.KPC_AddPort(&open), PW_ALREADY_OPEN);
    api.Unload();
  }
}

TEST_F(KpcMaintenance, AddPortCompletesARecordFromTheDriversPortList) {
  tw::makersw::Staging staging({true, false});
  staging.WritePorts("port com3 type=COM portname=COM3 baud=19200\n");
  ASSERT_TRUE(api.Load());
  EXPECT_EQ(api.KPC_EnumPort(0, 0, 0, 0), PW_OK);
  PortSettings record = Record(u"COM", u"com3", u"", 0);
  EXPECT_EQ(api.KPC_AddPort(&record), PW_OK);
  EXPECT_EQ(Text(record.deviceName), u"pipe://KP/com3");
  EXPECT_EQ(record.route, 1);
  PortSettings unknown = Record(u"COM", u"COM7", u"", 0);
  EXPECT_EQ(api.KPC_AddPort(&unknown), PW_OK);
  EXPECT_EQ(unknown.route, 0);
}

TEST_F(KpcMaintenance, NetworkAddressChangeStaysInsideTheInterfacesSubnet) {
  tw::makersw::Staging staging({false, true});
  staging.WritePorts("port nvmprt_net1 type=NET portname=127.0.0.123 " + PrinterLink() + "\n");
  ASSERT_TRUE(api.Load());
  PortSettings record = Record(u"NET", u"127.0.0.123", u"pipe://KP/nvmprt_net1", 1);
  ASSERT_EQ(api.KPC_SetPort(&record), PW_OK);
  ASSERT_EQ(api.KPC_Open(1), PW_OK);
  interface_->ClearRequests();

  PortSettings outside = record;
  const PortSettings far = Record(u"NET", u"127.0.0.200", u"pipe://KP/nvmprt_net1", 1);
  std::memcpy(outside.portName, far.portName, sizeof outside.portName);
  EXPECT_EQ(api.KPC_PortSetting(&outside), PW_SETTINGS_MISMATCH);
  EXPECT_EQ(interface_->CountRequests('S', 0) + interface_->CountRequests('I', 0), 0);
  for (const auto& request : interface_->Requests()) {
    EXPECT_TRUE(request.letter != 'S' && request.letter != 'I') << "a setting was sent";
  }
  EXPECT_EQ(interface_->Settings().ip[0], 192);
  int32_t version = 0;
  EXPECT_EQ(api.KPC_GetAccessVersion(&version), PW_OK);  // still open

  PortSettings inside = record;
  const PortSettings near = Record(u"NET", u"192.168.7.33", u"pipe://KP/nvmprt_net1", 1);
  std::memcpy(inside.portName, near.portName, sizeof inside.portName);
  EXPECT_EQ(api.KPC_PortSetting(&inside), PW_OK);
  const auto settings = interface_->Settings();
  EXPECT_EQ(settings.ip[3], 33);
  EXPECT_EQ(settings.ip[0], 192);
  EXPECT_NE(staging.ReadPorts().find("portname=192.168.7.33"), std::string::npos);
  EXPECT_EQ(api.KPC_GetAccessVersion(&version), PW_NOT_OPEN);  // closed for the change

  // Put the interface back for other tests.
  tw::sim::NetifSettings original = settings;
  original.ip[3] = 20;
  interface_->SetSettings(original);
}

// Over the port service and over its fallback, the driver path: the caller's
// record carries the new values, not the port's address, so the settings go
// to the open port; a refused setting leaves the port as it was and the caller
// hears of it.
TEST_F(KpcMaintenance, SerialSettingsOnRouteOneReachTheOpenPortOrFail) {
  for (bool service : {true, false}) {
    SCOPED_TRACE(service ? "port service" : "driver path");
    tw::makersw::Staging staging({!service, service});
    const std::string name = service ? "nvmprt_com1" : "com3";
    const std::u16string device = u"pipe://KP/" + std::u16string(name.begin(), name.end());
    const std::string port = "port " + name + " type=COM portname=COM3 baud=9600 " + PrinterLink();
    staging.WritePorts(port + "\n");
    ASSERT_TRUE(api.Load());
    const auto open = [&] {
      PortSettings record = Record(u"COM", u"COM3", device.c_str(), 1);
      ASSERT_EQ(api.KPC_SetPort(&record), PW_OK);
      ASSERT_EQ(api.KPC_Open(1), PW_OK);
      int32_t version = 0;
      ASSERT_EQ(api.KPC_GetAccessVersion(&version), PW_OK);
      ASSERT_EQ(version, service ? 3 : 2);
    };

    open();
    PortSettings change = Record(u"COM", u"COM3", u"", 1);
    change.baudRate = 38400;
    EXPECT_EQ(api.KPC_PortSetting(&change), PW_OK);
    EXPECT_NE(staging.ReadPorts().find("baud=38400"), std::string::npos) << staging.ReadPorts();

    staging.WritePorts(port + " faults=refuse-settings\n");
    open();
    PortSettings refused = Record(u"COM", u"COM3", device.c_str(), 1);
    refused.baudRate = 19200;
    EXPECT_EQ(api.KPC_PortSetting(&refused), PW_SETTINGS_MISMATCH);
    EXPECT_NE(staging.ReadPorts().find("baud=9600"), std::string::npos) << staging.ReadPorts();
    api.Unload();
  }
}

std::atomic<int> g_stateEvents{0};
std::atomic<uint32_t> g_lastState{0};
int32_t PORTWIRE_CALL ServiceStateCallback(uintptr_t event, uintptr_t, uintptr_t state, uintptr_t, uintptr_t,
                                           void* user) {
  if (event == 0x40000000 && state != 0 && user == reinterpret_cast<void*>(0x77)) {
    g_lastState = *reinterpret_cast<const uint32_t*>(state);
    g_stateEvents++;
  }
  return 0;
}

TEST_F(KpcMaintenance, DeviceStateCallbackGoesToTheServiceOfTheOpenPort) {
  tw::makersw::Staging staging({false, true});
  const std::string port = "port nvmprt_net1 type=NET " + PrinterLink();
  staging.WritePorts(port + "\n");
  ASSERT_TRUE(api.Load());
  PortSettings record = Record(u"NET", u"x", u"pipe://KP/nvmprt_net1", 1);
  ASSERT_EQ(api.KPC_SetPort(&record), PW_OK);
  ASSERT_EQ(api.KPC_Open(1), PW_OK);
  g_stateEvents = 0;
  void* callback = reinterpret_cast<void*>(&ServiceStateCallback);
  EXPECT_EQ(api.KPC_RegisterDeviceStateCallback(callback, reinterpret_cast<void*>(0x77)), PW_OK);
  staging.WritePorts(port + " state=5\n");
  for (int i = 0; i < 300 && g_stateEvents.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GT(g_stateEvents.load(), 0);
  EXPECT_EQ(g_lastState.load(), 5u);
  EXPECT_EQ(api.KPC_UnregisterDeviceStateCallback(callback, reinterpret_cast<void*>(0x77)), PW_OK);
  EXPECT_EQ(api.KPC_Close(), PW_OK);

  // On the direct route there is no driver software to subscribe at.
  const std::string address = kDirectPrinterAddress;
  PortSettings direct = Record(u"NET", std::u16string(address.begin(), address.end()).c_str(), u"", 0);
  direct.routeKind = 0;
  ASSERT_EQ(api.KPC_SetPort(&direct), PW_OK);
  ASSERT_EQ(api.KPC_Open(1), PW_OK);
  EXPECT_EQ(api.KPC_RegisterDeviceStateCallback(callback, nullptr), PW_FAILED);
  EXPECT_EQ(api.KPC_UnregisterDeviceStateCallback(callback, nullptr), PW_FAILED);
}

}  // namespace
