// The printer procedures against a scripted backend.

#include <gtest/gtest.h>

#include <type_traits>

#include "portlib/manager/printer_command_bytes.h"
#include "portlib/manager/tests/scripted_backend.h"

namespace tw::portwire {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::ManagerRig;
using testing::ScriptedRead;

Bytes Text(const char* s, bool withZero = true) {
  Bytes b(s, s + std::char_traits<char>::length(s));
  if (withZero) b.push_back(0);
  return b;
}

class PrinterProcedures : public ::testing::Test {
 protected:
  void OpenDirect() {
    ASSERT_EQ(rig_.SetPort(u"COM", u"COM3"), kResultOk);
    ASSERT_EQ(rig_.m().Open(1), kResultOk);
  }
  ManagerRig rig_;
};

TEST_F(PrinterProcedures, EnableStatusBackSendsEitherForm) {
  EXPECT_EQ(rig_.m().EnableStatusBack(true), kResultNotOpen);
  OpenDirect();
  EXPECT_EQ(rig_.m().EnableStatusBack(true), kResultOk);
  EXPECT_EQ(rig_.m().EnableStatusBack(false), kResultOk);
  rig_.direct->writeResult = kResultNothingWritten;
  EXPECT_EQ(rig_.m().EnableStatusBack(false), kResultNothingWritten);
  ASSERT_EQ(rig_.direct->writes.size(), 3u);
  EXPECT_EQ(rig_.direct->writes[0], (Bytes{0x10, 0x14, 0x14, 0x00, 0x00, 0x01, 0x08}));
  EXPECT_EQ(rig_.direct->writes[1], (Bytes{0x1D, 0x61, 0xFF}));
  EXPECT_EQ(rig_.direct->writeTimeouts[0], 2000);
}

TEST_F(PrinterProcedures, ClearPrinterBuffersWaitsForItsReply) {
  EXPECT_EQ(rig_.m().ClearPrinterBuffers(), kResultNotOpen);
  OpenDirect();
  rig_.direct->reads = {{kResultOk, {0x12, 0x34}}, {kResultOk, {0x37, 0x25, 0x00}}};
  EXPECT_EQ(rig_.m().ClearPrinterBuffers(), kResultOk);
  EXPECT_EQ(rig_.direct->writes.at(0), (Bytes{0x10, 0x14, 0x08, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08}));
  EXPECT_EQ(rig_.direct->readTimeouts.size(), 2u);
  EXPECT_EQ(rig_.sleeps, (std::vector<uint32_t>{1}));

  // Ten wrong answers, then give up.
  rig_.direct->reads.assign(12, ScriptedRead{kResultOk, {0x37, 0x25}});
  EXPECT_EQ(rig_.m().ClearPrinterBuffers(), kResultFailed);
  EXPECT_EQ(rig_.direct->reads.size(), 2u);

  // A read that fails ends it at once; a failed write returns its own result.
  rig_.direct->reads = {{kResultTimeout, {}}, {kResultOk, {0x37, 0x25, 0x00}}};
  EXPECT_EQ(rig_.m().ClearPrinterBuffers(), kResultFailed);
  EXPECT_EQ(rig_.direct->reads.size(), 1u);
  rig_.direct->writeResult = kResultTimeout;
  EXPECT_EQ(rig_.m().ClearPrinterBuffers(), kResultTimeout);
}

TEST_F(PrinterProcedures, QueryModelNameTakesTheTextAfterTheMark) {
  OpenDirect();
  char16_t name[80];
  rig_.direct->reads = {{kResultOk, {0x5F, 0x4B, 0x50, 0x00}}};
  EXPECT_EQ(rig_.m().QueryModelName(name), kResultOk);
  EXPECT_EQ(std::u16string_view(name), u"KP");
  EXPECT_EQ(rig_.direct->writes.at(0), (Bytes{0x1D, 0x49, 0x43}));

  // Noise before the mark, and a reply that stops without its zero byte.
  rig_.direct->reads = {{kResultOk, {0x14, 0x00, 0x5F, 'K', 'P', '-', 'S', '4', '1', '0'}}};
  EXPECT_EQ(rig_.m().QueryModelName(name), kResultOk);
  EXPECT_EQ(std::u16string_view(name), u"KP-S410");
}

TEST_F(PrinterProcedures, QueryModelNameRetriesFiveTimesWithPauses) {
  OpenDirect();
  char16_t name[80];
  rig_.direct->reads.assign(6, ScriptedRead{kResultOk, Text("KP-S410")});
  EXPECT_EQ(rig_.m().QueryModelName(name), kResultFailed);
  EXPECT_EQ(rig_.direct->reads.size(), 1u);  // five reads
  EXPECT_EQ(rig_.sleeps, (std::vector<uint32_t>(4, 100)));

  // A mark with nothing after it is no name; a later attempt may succeed.
  rig_.sleeps.clear();
  rig_.direct->reads = {{kResultOk, {0x41, 0x5F}}, {kResultTimeout, {}}, {kResultOk, Text("_KP-S410")}};
  EXPECT_EQ(rig_.m().QueryModelName(name), kResultOk);
  EXPECT_EQ(std::u16string_view(name), u"KP-S410");
  EXPECT_EQ(rig_.sleeps.size(), 2u);

  // The last attempt's result counts.
  rig_.direct->reads.assign(5, ScriptedRead{kResultTimeout, {}});
  EXPECT_EQ(rig_.m().QueryModelName(name), kResultTimeout);
  EXPECT_EQ(rig_.m().QueryModelName(nullptr), kResultBufferTooSmall);
}

TEST_F(PrinterProcedures, QueryModelCodeReadsTheTextAfterItsPrefix) {
  OpenDirect();
  char16_t code[80];
  rig_.direct->reads = {{kResultOk, {0x37, 0x4D, 0x43, 'S', '3', '1', 0x1D, 'X'}}};
  EXPECT_EQ(rig_.m().QueryModelCode(code), kResultOk);
  EXPECT_EQ(std::u16string_view(code), u"S31");
  EXPECT_EQ(rig_.direct->writes.at(0), (Bytes{0x10, 0x14, 0x12, 0x00, 0x03}));

  rig_.direct->reads = {{kResultOk, {0x37, 0x4D, 0x43, 'S'}}};
  EXPECT_EQ(rig_.m().QueryModelCode(code), kResultFailed);  // fewer than 5 bytes
  rig_.direct->reads = {{kResultOk, {0x37, 0x4D, 0x44, 'S', 'T', 0}}};
  EXPECT_EQ(rig_.m().QueryModelCode(code), kResultFailed);
  rig_.direct->reads = {{kResultTimeout, {}}};
  EXPECT_EQ(rig_.m().QueryModelCode(code), kResultTimeout);
}

TEST_F(PrinterProcedures, GetModelNameRefinesTheGenericSlipAnswer) {
  OpenDirect();
  char16_t name[260];
  rig_.direct->reads = {{kResultOk, Text("_KP-S300")}, {kResultOk, Text("7MCKP-S310")}};
  rig_.m().DeliverData({0x99});  // stale data is purged first
  EXPECT_EQ(rig_.m().GetModelName(name), kResultOk);
  EXPECT_EQ(std::u16string_view(name), u"KP-S310");
  EXPECT_TRUE(rig_.m().RawReceiveQueue().Empty());

  // The refinement failing keeps the generic name, and succeeds.
  rig_.direct->reads = {{kResultOk, Text("_KP-S300")}, {kResultOk, Text("XYZ12")}};
  EXPECT_EQ(rig_.m().GetModelName(name), kResultOk);
  EXPECT_EQ(std::u16string_view(name), u"KP-S300");

  // Other names are not refined.
  rig_.direct->writes.clear();
  rig_.direct->reads = {{kResultOk, Text("_KP-S3000")}};
  EXPECT_EQ(rig_.m().GetModelName(name), kResultOk);
  EXPECT_EQ(std::u16string_view(name), u"KP-S3000");
  EXPECT_EQ(rig_.direct->writes.size(), 1u);
  EXPECT_TRUE(rig_.direct->registered.empty());

  EXPECT_EQ(rig_.m().GetModelName(nullptr), kResultBufferTooSmall);
}

TEST_F(PrinterProcedures, GetModelNameOnTheDriverPathUsesTheReplyQueue) {
  rig_.portService->loadResult = false;
  ASSERT_EQ(rig_.SetPort(u"USB", u"001", 1), kResultOk);
  ASSERT_EQ(rig_.m().Open(1), kResultOk);
  ASSERT_EQ(rig_.m().RouteKind(), kRouteKindDriverPath);
  rig_.m().DeliverReply({0x01});  // stale: emptied before the query
  rig_.driverPath->reads = {{kResultOk, Text("_KP-S300")}, {kResultOk, {0x00}}};
  rig_.driverPath->onWrite = [&](const Bytes& sent) {
    if (sent == Bytes{0x10, 0x14, 0x12, 0x00, 0x03}) rig_.m().DeliverReply(Text("7MCKP-S320"));
  };
  char16_t name[260];
  EXPECT_EQ(rig_.m().GetModelName(name), kResultOk);
  EXPECT_EQ(std::u16string_view(name), u"KP-S320");
  const std::pair<int32_t, void*> reply{0x60002, testing::CScriptedBackend::FakeReplyCallback()};
  EXPECT_EQ(rig_.driverPath->registered, (std::vector<std::pair<int32_t, void*>>{reply}));
  EXPECT_EQ(rig_.driverPath->unregistered, (std::vector<std::pair<int32_t, void*>>{reply}));
}

TEST_F(PrinterProcedures, GetModelNameOnThePortServiceStoresTheName) {
  ASSERT_EQ(rig_.SetPort(u"USB", u"001", 1), kResultOk);
  ASSERT_EQ(rig_.m().Open(1), kResultOk);
  rig_.portService->reads = {{kResultOk, Text("_KP-S410")}};
  char16_t name[260];
  EXPECT_EQ(rig_.m().GetModelName(name), kResultOk);
  ASSERT_EQ(rig_.portService->customValues.size(), 1u);
  EXPECT_EQ(rig_.portService->customValues[0].first, u"KP.PrinterID.67");
  EXPECT_EQ(rig_.portService->customValues[0].second, u"KP-S410");
  EXPECT_EQ(rig_.portService->writeTimeouts.at(0), 5000);
}

PortSettings SerialRecord(int32_t route) {
  PortSettings r = MakeDefaultPortSettings();
  SetText(r.portType, u"com");
  SetText(r.portName, u"COM3");
  SetText(r.deviceName, u"pipe://KP/COM3");
  SetText(r.servicePortName, u"KP_COM3");
  r.route = route;
  r.baudRate = 38400;
  r.parity = 2;
  r.dataBits = 7;
  r.flowControl = 1;
  r.readTimeout = 999;
  return r;
}

TEST_F(PrinterProcedures, CommunicationTestOpensChecksIdentifiesAndCloses) {
  PortSettings record = SerialRecord(0);
  rig_.direct->reads = {{kResultOk, Text("_KP-S410")}};
  EXPECT_EQ(rig_.m().CommunicationTest(&record), kResultOk);
  EXPECT_EQ(GetText(record.modelName), u"KP-S410");
  EXPECT_EQ(record.routeKind, 0);
  EXPECT_FALSE(rig_.m().IsPortOpen());
  EXPECT_EQ(rig_.m().CurrentBackend(), nullptr);
  EXPECT_EQ(rig_.direct->recoveryCalls, 2);
  EXPECT_EQ(rig_.direct->initializeModes, (std::vector<int32_t>{1}));
  EXPECT_EQ(rig_.direct->openModes, (std::vector<int32_t>{1}));

  // The working record: defaults plus the port and its serial settings.
  const PortSettings used = rig_.m().CurrentSettings();
  EXPECT_EQ(GetText(used.portName), u"COM3");
  EXPECT_EQ(GetText(used.servicePortName), u"KP_COM3");
  EXPECT_EQ(GetText(used.deviceName), u"Unknown");
  EXPECT_EQ(used.readTimeout, 2000);
  EXPECT_EQ(used.baudRate, 38400);
  EXPECT_EQ(used.dataBits, 7);
  // With no route kind yet the available port service completes the working
  // record, and SetPort asks it once more.
  EXPECT_EQ(rig_.portService->foundPortCalls.size(), 2u);
}

TEST_F(PrinterProcedures, CommunicationTestStopsAtTheFirstFailure) {
  PortSettings record = SerialRecord(0);
  rig_.direct->openResults = {kResultCannotLink};
  EXPECT_EQ(rig_.m().CommunicationTest(&record), kResultCannotLink);

  rig_.direct->recoveryResult = kResultTimeout;
  EXPECT_EQ(rig_.m().CommunicationTest(&record), kResultTimeout);
  EXPECT_TRUE(rig_.direct->initializeModes.empty());
  EXPECT_FALSE(rig_.m().IsPortOpen());

  rig_.direct->recoveryResult = kResultOk;
  rig_.direct->initializeResult = kResultNothingWritten;
  EXPECT_EQ(rig_.m().CommunicationTest(&record), kResultNothingWritten);
  EXPECT_FALSE(rig_.m().IsPortOpen());
  EXPECT_EQ(rig_.m().CommunicationTest(nullptr), kResultInvalidArgument);
}

TEST_F(PrinterProcedures, CommunicationTestChecksSerialSettingsOnTheDriverRoute) {
  PortSettings record = SerialRecord(1);
  record.routeKind = kRouteKindDriverPath;
  // The driver path knows the port: its record is the one that is opened.
  rig_.driverPath->findPortEffect = [](PortSettings* r) { r->route = 1; };
  rig_.portService->loadResult = false;
  rig_.driverPath->verifyResult = kResultSettingsMismatch;
  EXPECT_EQ(rig_.m().CommunicationTest(&record), kResultSettingsMismatch);
  EXPECT_FALSE(rig_.m().IsPortOpen());
  EXPECT_EQ(record.routeKind, kRouteKindDriverPath);
  ASSERT_EQ(rig_.driverPath->verified.size(), 1u);
  EXPECT_EQ(rig_.driverPath->verified[0].baudRate, 38400);
  EXPECT_EQ(rig_.driverPath->verified[0].dataBits, 8);  // not taken on route 1
  EXPECT_TRUE(rig_.portService->foundPortCalls.empty());
}

TEST_F(PrinterProcedures, CommunicationTestReopensWhenTheRouteChanged) {
  PortSettings record = SerialRecord(0);
  SetText(record.deviceName, u"TCP://192.0.2.1");  // taken over unchanged
  rig_.direct->reads = {{kResultOk, Text("_KP-S410")}};
  bool moved = false;
  rig_.direct->onOpen = [&] {
    if (!moved) {
      moved = true;
      rig_.m().ModifyCurrentSettings([](PortSettings& s) { s.route = 2; });
    }
  };
  EXPECT_EQ(rig_.m().CommunicationTest(&record), kResultOk);
  EXPECT_EQ(rig_.direct->openModes.size(), 2u);
  EXPECT_EQ(rig_.sleeps, (std::vector<uint32_t>{1000}));
  EXPECT_EQ(rig_.m().CurrentSettings().readTimeout, 999);  // the full copy
  EXPECT_EQ(rig_.portService->foundPortCalls.size(), 1u);  // SetPort's lookup only
  EXPECT_EQ(GetText(record.modelName), u"KP-S410");
}

}  // namespace
}  // namespace tw::portwire

namespace tw::portwire {
namespace {

// The manager's teardown may still send these: none may have a destructor
// that could run before the manager's.
static_assert(std::is_trivially_destructible_v<decltype(printer::kStatusBackRealTime)>);
static_assert(std::is_trivially_destructible_v<decltype(printer::kStatusBack)>);
static_assert(std::is_trivially_destructible_v<decltype(printer::kBufferClear)>);
static_assert(std::is_trivially_destructible_v<decltype(printer::kBufferClearReply)>);
static_assert(std::is_trivially_destructible_v<decltype(printer::kModelNameQuery)>);
static_assert(std::is_trivially_destructible_v<decltype(printer::kModelCodeQuery)>);

}  // namespace
}  // namespace tw::portwire
