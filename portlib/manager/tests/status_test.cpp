// Status translation and dispatch to the client's callbacks.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>
#include <cstdlib>
#include <future>

#include "portlib/manager/tests/scripted_backend.h"

namespace tw::portwire {
namespace {

using testing::ManagerRig;

struct TranslateCase {
  uint8_t b[4];
  int32_t plain;      // model type 0, not the slip series
  int32_t slip;       // slip series
  int32_t modelOne;   // model type 1
};

TEST(TranslateStatus, FirstMatchingRuleWinsWithFamilyMasks) {
  const TranslateCase cases[] = {
      {{0x00, 0x20, 0x00, 0x00}, 3, 3, 3},
      {{0x08, 0x20, 0x00, 0x00}, 3, 3, 3},    // rule 1 before rule 7
      {{0x00, 0x40, 0x00, 0x00}, 5, 5, 5},
      {{0x20, 0x00, 0x00, 0x00}, 6, 6, 6},
      {{0x00, 0x00, 0x04, 0x00}, 7, 7, 0},    // m2 = 0x0C / 0x04 / 0x08
      {{0x00, 0x00, 0x08, 0x00}, 7, 0, 7},
      {{0x00, 0x08, 0x00, 0x00}, 9, 9, 9},
      {{0x40, 0x00, 0x00, 0x00}, 14, 14, 14},
      {{0x08, 0x00, 0x00, 0x00}, 16, 16, 16},
      {{0x00, 0x04, 0x01, 0x00}, 17, 17, 17},
      {{0x00, 0x00, 0x02, 0x00}, 18, 0, 18},  // m1 = 0x03 / 0x01 / 0x02
      {{0x00, 0x00, 0x01, 0x00}, 18, 18, 0},
      {{0x00, 0x00, 0x00, 0xFF}, 0, 0, 0},
  };
  ManagerRig plain, slip, modelOne;
  // The slip series is switched on by opening a port of a "KP-S" model.
  PortSettings s = MakeDefaultPortSettings();
  SetText(s.modelName, u"KP-S410");
  ASSERT_EQ(slip.m().SetPort(&s), kResultOk);
  ASSERT_EQ(slip.m().Open(1), kResultOk);
  ASSERT_TRUE(slip.m().SlipSeries());
  modelOne.m().SetModelType(1);
  for (const TranslateCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.b[0]) << " " << int(c.b[1]) << " " << int(c.b[2]));
    EXPECT_EQ(plain.m().TranslateStatus(c.b[0], c.b[1], c.b[2], c.b[3]), c.plain);
    EXPECT_EQ(slip.m().TranslateStatus(c.b[0], c.b[1], c.b[2], c.b[3]), c.slip);
    EXPECT_EQ(modelOne.m().TranslateStatus(c.b[0], c.b[1], c.b[2], c.b[3]), c.modelOne);
  }
}

TEST(TranslateStatus, ShortOrOtherModelNamesKeepThePlainFamily) {
  for (const char16_t* model : {u"KP-", u"", u"kp-s410", u"KP-T10"}) {
    ManagerRig rig;
    PortSettings s = MakeDefaultPortSettings();
    SetText(s.modelName, model);
    rig.m().SetPort(&s);
    rig.m().Open(1);
    EXPECT_FALSE(rig.m().SlipSeries());
    EXPECT_EQ(rig.m().TranslateStatus(0, 0, 0x02, 0), 18);
  }
}

struct Seen {
  std::vector<std::pair<int32_t, void*>> status;
  std::vector<std::pair<uint32_t, void*>> battery;
  std::vector<std::pair<int32_t, std::vector<uint8_t>>> raw;
  KPComm* manager = nullptr;
  bool lockFreeInCallback = true;
};
Seen* g_seen = nullptr;

void PORTWIRE_CALL OnStatus(int32_t status, void* user) {
  g_seen->status.emplace_back(status, user);
  // Takes the callback lock: would hang if the caller still held it.
  g_seen->lockFreeInCallback = g_seen->manager->HasStatusCallback() && g_seen->lockFreeInCallback;
}
void PORTWIRE_CALL OnBattery(uint32_t battery, void* user) {
  g_seen->battery.emplace_back(battery, user);
  g_seen->manager->RegistRawStatusCallBack(nullptr, user);  // re-entry into the lock
}
void PORTWIRE_CALL OnRaw(int32_t kind, const uint8_t* bytes, void*) {
  g_seen->raw.emplace_back(kind, bytes ? std::vector<uint8_t>(bytes, bytes + 4) : std::vector<uint8_t>{});
}

class DispatchStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen_.manager = &rig_.m();
    g_seen = &seen_;
  }
  void TearDown() override { g_seen = nullptr; }

  // Runs a dispatch on another thread, as a backend does, and fails instead of
  // hanging when a callback deadlocks on the callback lock.
  void Dispatch(int32_t kind, std::vector<uint8_t> bytes) {
    auto done = std::async(std::launch::async, [&] {
      rig_.m().DispatchStatus(kind, bytes.data(), static_cast<uint32_t>(bytes.size()));
      rig_.m().WaitCallbacksDelivered(20000);
    });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "status dispatch deadlocked";
      std::_Exit(1);
    }
  }

  ManagerRig rig_;
  Seen seen_;
  int user_ = 0;
};

TEST_F(DispatchStatusTest, RegistrationCallsAtOnceWithCurrentValues) {
  rig_.m().RegisterStatusProc(OnStatus, &user_);
  ASSERT_EQ(seen_.status.size(), 1u);
  EXPECT_EQ(seen_.status[0], std::make_pair(kStatusNone, static_cast<void*>(&user_)));
  rig_.m().RegisterBatStatusProc(OnBattery, &user_);
  ASSERT_EQ(seen_.battery.size(), 1u);
  EXPECT_EQ(seen_.battery[0].first, 0u);
  rig_.m().RegistRawStatusCallBack(OnRaw, &user_);
  EXPECT_TRUE(seen_.raw.empty());  // no immediate call for the raw callback
}

TEST_F(DispatchStatusTest, AutomaticStatusGoesToRawThenStatusCallback) {
  rig_.m().RegisterStatusProc(OnStatus, &user_);
  rig_.m().RegistRawStatusCallBack(OnRaw, &user_);
  seen_.status.clear();
  Dispatch(kStatusEvent, {0x08, 0x00, 0x00, 0x00});
  EXPECT_EQ(rig_.m().Status(), 16);
  ASSERT_EQ(seen_.raw.size(), 1u);
  EXPECT_EQ(seen_.raw[0].first, 1);
  EXPECT_EQ(seen_.raw[0].second, (std::vector<uint8_t>{0x08, 0, 0, 0}));
  ASSERT_EQ(seen_.status.size(), 1u);
  EXPECT_EQ(seen_.status[0], std::make_pair(16, static_cast<void*>(&user_)));
  EXPECT_TRUE(seen_.lockFreeInCallback);
  EXPECT_TRUE(rig_.m().StatusArrivedEvent().IsSet());
}

TEST_F(DispatchStatusTest, FiveReportsHaveTheirOwnCodes) {
  rig_.m().RegistRawStatusCallBack(OnRaw, &user_);
  const std::pair<uint8_t, int32_t> cases[] = {{0x04, 10}, {0x06, 10}, {0x02, 12}, {0x20, 15},
                                               {0x01, 20}, {0x00, 100}, {0x40, 100}};
  for (auto [b1, expected] : cases) {
    Dispatch(kStatusEvent, {0x35, b1, 0x00, 0x00});
    EXPECT_EQ(rig_.m().Status(), expected) << int(b1);
    EXPECT_EQ(seen_.raw.back().first, 2);
  }
}

TEST_F(DispatchStatusTest, BatteryReportAndMalformedPackets) {
  rig_.m().RegisterBatStatusProc(OnBattery, &user_);
  rig_.m().RegisterStatusProc(OnStatus, &user_);
  seen_.battery.clear();
  seen_.status.clear();
  Dispatch(kBatteryEvent, {0x37, 0x45, 0x31, 0x33, 0x00});
  ASSERT_EQ(seen_.battery.size(), 1u);
  EXPECT_EQ(seen_.battery[0].first, 0x3331u);
  EXPECT_EQ(rig_.m().BatteryValue(), 0x3331);

  // Wrong lengths change nothing but still signal that a status arrived.
  rig_.m().SetStatus(7);
  rig_.m().StatusArrivedEvent().Reset();
  Dispatch(kStatusEvent, {0x08, 0x00, 0x00});
  EXPECT_TRUE(rig_.m().StatusArrivedEvent().IsSet());
  rig_.m().StatusArrivedEvent().Reset();
  Dispatch(kBatteryEvent, {0x37, 0x45, 0x31, 0x33});
  EXPECT_TRUE(rig_.m().StatusArrivedEvent().IsSet());
  rig_.m().DispatchStatus(kStatusEvent, nullptr, 4);
  EXPECT_EQ(rig_.m().Status(), 7);
  EXPECT_EQ(seen_.battery.size(), 1u);
  EXPECT_TRUE(seen_.status.empty());

  // Other kinds are ignored entirely.
  rig_.m().StatusArrivedEvent().Reset();
  Dispatch(0x50002, {0x08, 0x00, 0x00, 0x00});
  EXPECT_FALSE(rig_.m().StatusArrivedEvent().IsSet());
  EXPECT_EQ(rig_.m().Status(), 7);
}

// The reporting thread never waits for client code: a callback that blocks
// holds up neither the next report nor Close, and reports keep their order.
std::atomic<bool> g_release{false};
std::atomic<int> g_blockedCalls{0};
std::vector<int32_t>* g_order = nullptr;
void PORTWIRE_CALL BlockingStatus(int32_t status, void*) {
  if (status == 3) {
    ++g_blockedCalls;
    while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (g_order != nullptr) g_order->push_back(status);
}

TEST(CallbackDispatcher, ABlockedCallbackHoldsUpNeitherReportsNorClose) {
  ManagerRig rig;
  std::vector<int32_t> order;
  g_order = &order;
  g_release = false;
  rig.m().RegisterStatusProc(BlockingStatus, nullptr);
  order.clear();
  const uint8_t blocking[4] = {0x00, 0x20, 0x00, 0x00};  // status 3
  const uint8_t paperOut[4] = {0x08, 0x00, 0x00, 0x00};  // status 16
  rig.m().DispatchStatus(kStatusEvent, blocking, 4);
  while (g_blockedCalls.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) rig.m().DispatchStatus(kStatusEvent, paperOut, 4);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(rig.m().Status(), 16);  // the value is there before the callback
  EXPECT_FALSE(rig.m().WaitCallbacksDelivered(50));
  g_release = true;
  ASSERT_TRUE(rig.m().WaitCallbacksDelivered(20000));
  ASSERT_EQ(order.size(), 101u);
  EXPECT_EQ(order.front(), 3);
  EXPECT_EQ(order.back(), 16);
  g_order = nullptr;
}

TEST(CallbackDispatcher, AFloodOfReportsKeepsTheNewestAndCountsTheRest) {
  ManagerRig rig;
  std::vector<int32_t> order;
  g_order = &order;
  g_release = false;
  g_blockedCalls = 0;
  rig.m().RegisterStatusProc(BlockingStatus, nullptr);
  order.clear();
  const uint8_t blocking[4] = {0x00, 0x20, 0x00, 0x00};
  rig.m().DispatchStatus(kStatusEvent, blocking, 4);
  while (g_blockedCalls.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const size_t flood = CCallbackDispatcher::kMaxPendingEvents + 500;
  for (size_t i = 0; i < flood; ++i) rig.m().NotifyStatus(static_cast<int32_t>(1000 + i));
  EXPECT_EQ(rig.m().DroppedCallbackEvents(), 500u);
  g_release = true;
  ASSERT_TRUE(rig.m().WaitCallbacksDelivered(20000));
  ASSERT_EQ(order.size(), CCallbackDispatcher::kMaxPendingEvents + 1);
  EXPECT_EQ(order[1], 1500);
  EXPECT_EQ(order.back(), static_cast<int32_t>(1000 + flood - 1));
  g_order = nullptr;
}

TEST(CallbackDispatcher, StopDoesNotWaitLongForACallbackThatDoesNotReturn) {
  // Static: the stuck thread may still be returning after the test ends.
  static std::atomic<bool> release;
  static std::atomic<int> calls;
  release = false;
  calls = 0;
  CCallbackDispatcher dispatcher([](const CallbackEvent& e) {
    ++calls;
    if (e.value == 1) {
      while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  CallbackEvent event;
  event.value = 1;
  dispatcher.Post(event);
  event.value = 2;
  dispatcher.Post(event);  // still queued when the stop gives up: dropped
  while (calls.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto start = std::chrono::steady_clock::now();
  dispatcher.Stop(100);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  dispatcher.Post(event);  // a new thread delivers while the old one is stuck
  ASSERT_TRUE(dispatcher.WaitIdle(20000));
  EXPECT_EQ(calls.load(), 2);
  release = true;
}

TEST(CallbackDispatcher, StopFromInsideACallbackAndLaterReportsStartAgain) {
  int calls = 0;
  CCallbackDispatcher* self = nullptr;
  CCallbackDispatcher dispatcher([&](const CallbackEvent& e) {
    ++calls;
    if (e.value == 1) self->Stop(1000);  // a client callback that closes the port
  });
  self = &dispatcher;
  CallbackEvent event;
  event.value = 1;
  dispatcher.Post(event);
  event.value = 2;
  dispatcher.Post(event);
  ASSERT_TRUE(dispatcher.WaitIdle(20000));
  dispatcher.Stop(1000);
  event.value = 3;
  dispatcher.Post(event);
  ASSERT_TRUE(dispatcher.WaitIdle(20000));
  EXPECT_EQ(calls, 3);
  dispatcher.Shutdown(1000);
  dispatcher.Post(event);  // discarded: no thread starts after shutdown
  EXPECT_TRUE(dispatcher.WaitIdle(1000));
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace tw::portwire
