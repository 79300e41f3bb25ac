// The KPC_ functions called the way an integrator's program calls them.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/module.h"
#include "portwire.h"
#include "shared/port_settings.h"
#include "sim/printer/sim_printer.h"

namespace {

constexpr const char* kSimAddress = "127.0.0.71";
constexpr const char* kDeadAddress = "127.0.0.72";  // nothing listens here

struct Api {
  tw::platform::Module module;
#define PW_FN(name) decltype(&::name) name = nullptr;
  PW_FN(KPC_SetPort) PW_FN(KPC_Open) PW_FN(KPC_Close) PW_FN(KPC_Read) PW_FN(KPC_Write)
  PW_FN(KPC_GetStatus) PW_FN(KPC_Initialize) PW_FN(KPC_Terminate) PW_FN(KPC_SetFlowCtrlForced)
  PW_FN(KPC_SetCaller) PW_FN(KPC_GetCaller) PW_FN(KPC_RegisterStatusProc) PW_FN(KPC_UnregisterStatusProc)
  PW_FN(KPC_FindPort) PW_FN(KPC_Reset) PW_FN(KPC_GetAccessVersion) PW_FN(KPC_Purge)
  PW_FN(KPC_IsPortConnectorEnabled)
#undef PW_FN

  bool Load() {
    module = tw::platform::Module::Load(u"Portwire.dll");
    if (!module.IsLoaded()) return false;
#define PW_RESOLVE(name) name = module.Function<decltype(name)>(#name); if (!name) return false;
    PW_RESOLVE(KPC_SetPort) PW_RESOLVE(KPC_Open) PW_RESOLVE(KPC_Close) PW_RESOLVE(KPC_Read)
    PW_RESOLVE(KPC_Write) PW_RESOLVE(KPC_GetStatus) PW_RESOLVE(KPC_Initialize) PW_RESOLVE(KPC_Terminate)
    PW_RESOLVE(KPC_SetFlowCtrlForced) PW_RESOLVE(KPC_SetCaller) PW_RESOLVE(KPC_GetCaller)
    PW_RESOLVE(KPC_RegisterStatusProc) PW_RESOLVE(KPC_UnregisterStatusProc) PW_RESOLVE(KPC_FindPort)
    PW_RESOLVE(KPC_Reset) PW_RESOLVE(KPC_GetAccessVersion) PW_RESOLVE(KPC_Purge)
    PW_RESOLVE(KPC_IsPortConnectorEnabled)
#undef PW_RESOLVE
    return true;
  }
};

PortSettings NetRecord(const char* address) {
  tw::PortSettings s = tw::MakeZeroPortSettings();
  tw::SetText(s.portType, u"NET");
  std::u16string name(address, address + std::strlen(address));
  tw::SetText(s.portName, name);
  s.readTimeout = 2000;
  s.writeTimeout = 2000;
  PortSettings out;
  static_assert(sizeof out == sizeof s);
  std::memcpy(&out, &s, sizeof out);
  return out;
}

class KpcExports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tw::sim::SimConfig config;
    config.tcpAddress = kSimAddress;
    config.resetMs = 0;
    sim_ = new tw::sim::SimPrinter(config);
    ASSERT_TRUE(sim_->Start()) << sim_->Error();
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(api.Load()); }
  void TearDown() override {
    api.KPC_Close();
    api.KPC_Terminate();
  }
  static tw::sim::SimPrinter* sim_;
  Api api;
};
tw::sim::SimPrinter* KpcExports::sim_ = nullptr;

const uint8_t kModelQuery[] = {0x10, 0x14, 0x12, 0x00, 0x00};

TEST_F(KpcExports, CallsWithoutAnOpenPort) {
  uint8_t buf[16];
  uint32_t received = 77;
  EXPECT_EQ(api.KPC_Read(buf, sizeof buf, &received, 100), PW_NOT_OPEN);
  EXPECT_EQ(received, 77u);  // untouched
  EXPECT_EQ(api.KPC_Write(kModelQuery, 0, nullptr, 100), PW_FAILED);
  EXPECT_EQ(api.KPC_Write(kModelQuery, sizeof kModelQuery, nullptr, 100), PW_NOT_OPEN);
  EXPECT_EQ(api.KPC_Close(), PW_FAILED);
  EXPECT_EQ(api.KPC_Initialize(), PW_NOT_OPEN);
  EXPECT_EQ(api.KPC_SetFlowCtrlForced(1), PW_NOT_OPEN);
  EXPECT_EQ(api.KPC_Reset(), PW_NOT_OPEN);
  int32_t version = 0;
  EXPECT_EQ(api.KPC_GetAccessVersion(&version), PW_NOT_OPEN);
  EXPECT_EQ(api.KPC_GetAccessVersion(nullptr), PW_FAILED);
  EXPECT_EQ(api.KPC_Purge(), PW_OK);
}

TEST_F(KpcExports, NullPointersAreErrorsNotCrashes) {
  EXPECT_EQ(api.KPC_SetPort(nullptr), PW_INVALID_ARGUMENT);
  EXPECT_EQ(api.KPC_GetStatus(nullptr), PW_INVALID_ARGUMENT);
  uint32_t n = 0;
  EXPECT_EQ(api.KPC_Read(nullptr, 16, &n, 10), PW_INVALID_ARGUMENT);
  EXPECT_EQ(api.KPC_Write(nullptr, 5, &n, 10), PW_INVALID_ARGUMENT);
  EXPECT_EQ(api.KPC_GetCaller(nullptr), PW_INVALID_ARGUMENT);
  EXPECT_EQ(api.KPC_FindPort(0, nullptr), PW_FAILED);

  // No backend selected yet: nothing to ask. Once one is, a null output is
  // still an invalid argument, not a success.
  EXPECT_EQ(api.KPC_IsPortConnectorEnabled(nullptr), PW_NOT_OPEN);
  PortSettings record = NetRecord(kSimAddress);
  ASSERT_EQ(api.KPC_SetPort(&record), PW_OK);
  ASSERT_EQ(api.KPC_Open(1), PW_OK);
  EXPECT_EQ(api.KPC_IsPortConnectorEnabled(nullptr), PW_INVALID_ARGUMENT);
  int32_t enabled = -1;
  EXPECT_EQ(api.KPC_IsPortConnectorEnabled(&enabled), PW_OK);
  EXPECT_EQ(enabled, 0);
}

TEST_F(KpcExports, CallerIdAndDefaults) {
  EXPECT_EQ(api.KPC_SetCaller(5), PW_INVALID_ARGUMENT);
  EXPECT_EQ(api.KPC_SetCaller(4), PW_OK);
  int32_t caller = -1;
  EXPECT_EQ(api.KPC_GetCaller(&caller), PW_OK);
  EXPECT_EQ(caller, 4);
  api.KPC_SetCaller(0);

  PortSettings out;
  std::memset(&out, 0xAB, sizeof out);
  EXPECT_EQ(api.KPC_FindPort(0, &out), PW_FAILED);
  EXPECT_EQ(out.baudRate, 9600);
  EXPECT_EQ(out.readTimeout, 2000);
  EXPECT_EQ(out.portType[0], u'U');
  EXPECT_EQ(out.routeKind, 0);
}

std::atomic<int> g_statusCalls{0};
void PORTWIRE_CALL CountStatus(int32_t, void* user) {
  g_statusCalls++;
  EXPECT_EQ(user, reinterpret_cast<void*>(0x1234));
}

TEST_F(KpcExports, StatusCallbackIsCalledOnRegistration) {
  g_statusCalls = 0;
  EXPECT_EQ(api.KPC_RegisterStatusProc(CountStatus, reinterpret_cast<void*>(0x1234)), PW_OK);
  EXPECT_EQ(g_statusCalls.load(), 1);
  EXPECT_EQ(api.KPC_UnregisterStatusProc(), PW_OK);
}

TEST_F(KpcExports, ExchangeWithThePrinterOverTheNetwork) {
  PortSettings record = NetRecord(kSimAddress);
  ASSERT_EQ(api.KPC_SetPort(&record), PW_OK);
  ASSERT_EQ(api.KPC_Open(1), PW_OK);
  EXPECT_EQ(api.KPC_Open(1), PW_ALREADY_OPEN);
  PortSettings other = NetRecord(kDeadAddress);
  EXPECT_EQ(api.KPC_SetPort(&other), PW_ALREADY_OPEN);
  EXPECT_EQ(api.KPC_Initialize(), PW_OK);
  EXPECT_EQ(api.KPC_SetFlowCtrlForced(1), PW_OK);

  // Drain whatever the initialisation provoked, then one query, one reply.
  uint8_t buf[256];
  uint32_t n = 0;
  while (api.KPC_Read(buf, sizeof buf, &n, 200) == PW_OK) {
  }
  uint32_t written = 0;
  ASSERT_EQ(api.KPC_Write(kModelQuery, sizeof kModelQuery, &written, -1), PW_OK);
  EXPECT_EQ(written, sizeof kModelQuery);
  ASSERT_EQ(api.KPC_Read(buf, sizeof buf, &n, -1), PW_OK);
  ASSERT_GE(n, 5u);
  EXPECT_EQ(buf[3], '$');

  // Nothing more to come: a time-out.
  EXPECT_EQ(api.KPC_Read(buf, sizeof buf, &n, 100), PW_TIMEOUT);
  EXPECT_EQ(api.KPC_Reset(), PW_FAILED);
  int32_t version = -1;
  EXPECT_EQ(api.KPC_GetAccessVersion(&version), PW_OK);
  EXPECT_EQ(version, 0);

  EXPECT_EQ(api.KPC_SetFlowCtrlForced(0), PW_OK);
  EXPECT_EQ(api.KPC_Close(), PW_OK);
  EXPECT_EQ(api.KPC_Close(), PW_FAILED);
}

TEST_F(KpcExports, ReplyLargerThanTheBufferStaysQueued) {
  PortSettings record = NetRecord(kSimAddress);
  ASSERT_EQ(api.KPC_SetPort(&record), PW_OK);
  ASSERT_EQ(api.KPC_Open(1), PW_OK);
  uint8_t buf[256];
  uint32_t n = 0;
  while (api.KPC_Read(buf, sizeof buf, &n, 200) == PW_OK) {
  }
  ASSERT_EQ(api.KPC_Write(kModelQuery, sizeof kModelQuery, nullptr, 1000), PW_OK);
  uint8_t tiny[2];
  ASSERT_EQ(api.KPC_Read(tiny, sizeof tiny, &n, 1000), PW_BUFFER_TOO_SMALL);
  const uint32_t full = n;
  EXPECT_GT(full, 2u);
  ASSERT_EQ(api.KPC_Read(buf, sizeof buf, &n, 1000), PW_OK);
  EXPECT_EQ(n, full);
  EXPECT_EQ(buf[3], '$');
}

TEST_F(KpcExports, ConcurrentCallersAreSerialised) {
  PortSettings record = NetRecord(kSimAddress);
  ASSERT_EQ(api.KPC_SetPort(&record), PW_OK);
  ASSERT_EQ(api.KPC_Open(1), PW_OK);
  std::atomic<bool> stop{false};
  std::thread poller([&] {
    int32_t status = 0;
    while (!stop) api.KPC_GetStatus(&status);
  });
  for (int i = 0; i < 20; ++i) {
    uint8_t buf[256];
    uint32_t n = 0;
    api.KPC_Write(kModelQuery, sizeof kModelQuery, nullptr, 1000);
    api.KPC_Read(buf, sizeof buf, &n, 50);
  }
  stop = true;
  poller.join();
  EXPECT_EQ(api.KPC_Close(), PW_OK);
}

// A client whose status callback calls a locked export, while another thread
// terminates the library: the callback holds up the monitor thread that
// Terminate must stop, and Terminate holds the lock the callback waits for.
struct ReentrantClient {
  Api* api = nullptr;
  std::thread::id registrar;
  std::atomic<bool> inCallback{false};
  std::atomic<bool> terminating{false};
  std::atomic<bool> calledIn{false};
};

void PORTWIRE_CALL CallInFromTheCallback(int32_t, void* user) {
  auto* client = static_cast<ReentrantClient*>(user);
  if (std::this_thread::get_id() == client->registrar || client->inCallback.exchange(true)) return;
  while (!client->terminating) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Terminate is under way on the other thread and holds the lock by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int32_t status = 0;
  client->api->KPC_GetStatus(&status);  // may fail; must not hang anything
  client->calledIn = true;
}

TEST_F(KpcExports, TerminateEndsWhileAStatusCallbackCallsIn) {
  ReentrantClient client;
  client.api = &api;
  client.registrar = std::this_thread::get_id();
  PortSettings record = NetRecord(kSimAddress);
  ASSERT_EQ(api.KPC_SetPort(&record), PW_OK);
  ASSERT_EQ(api.KPC_Open(1), PW_OK);
  ASSERT_EQ(api.KPC_RegisterStatusProc(CallInFromTheCallback, &client), PW_OK);
  // Status enabling makes the printer send a status packet, which the
  // monitor thread hands to the callback.
  api.KPC_Initialize();
  const auto waitStart = std::chrono::steady_clock::now();
  while (!client.inCallback && std::chrono::steady_clock::now() - waitStart < std::chrono::seconds(10)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(client.inCallback) << "no status callback on the monitor thread";

  std::atomic<bool> done{false};
  std::atomic<long long> tookMs{0};
  std::thread terminator([&] {
    const auto start = std::chrono::steady_clock::now();
    client.terminating = true;
    api.KPC_Terminate();
    tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    done = true;
  });
  // Generous bound; the point is that it ends at all.
  const auto start = std::chrono::steady_clock::now();
  while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!done) {
    std::fprintf(stderr, "KPC_Terminate still running after 20 s: deadlocked\n");
    std::_Exit(1);  // the stuck threads would keep the test program from ending
  }
  terminator.join();
  std::printf("KPC_Terminate took %lld ms\n", tookMs.load());
  EXPECT_TRUE(client.calledIn);  // the monitor was joined, so its callback is over
}

}  // namespace
