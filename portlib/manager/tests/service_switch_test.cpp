// Stopping and starting services on a scripted service controller; the
// manager's handling of an older driver installation.

#include "portlib/manager/service_switch.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>

#include "portlib/manager/tests/scripted_backend.h"

namespace tw::portwire {
namespace {

using platform::IServiceControlManager;
using platform::IServiceHandle;

// One scripted service: QueryState answers from `states` (the last one
// repeats), controls are counted, open handles tracked.
struct FakeService {
  std::deque<uint32_t> states;
  int stops = 0;
  int starts = 0;
  int queries = 0;
  bool queryFails = false;
};

struct FakeScm {
  std::map<std::u16string, FakeService> services;
  bool openFails = false;
  int openHandles = 0;
  std::vector<std::u16string> opened;
};

class FakeHandle final : public IServiceHandle {
 public:
  FakeHandle(FakeScm& scm, FakeService& service) : scm_(scm), service_(service) { ++scm_.openHandles; }
  ~FakeHandle() override { --scm_.openHandles; }
  std::optional<uint32_t> QueryState() override {
    ++service_.queries;
    if (service_.queryFails) return std::nullopt;
    const uint32_t state = service_.states.front();
    if (service_.states.size() > 1) service_.states.pop_front();
    return state;
  }
  bool SendStop() override {
    ++service_.stops;
    return true;
  }
  bool Start() override {
    ++service_.starts;
    return true;
  }

 private:
  FakeScm& scm_;
  FakeService& service_;
};

class FakeManager final : public IServiceControlManager {
 public:
  explicit FakeManager(FakeScm& scm) : scm_(scm) { ++scm_.openHandles; }
  ~FakeManager() override { --scm_.openHandles; }
  std::unique_ptr<IServiceHandle> OpenService(std::u16string_view name) override {
    auto it = scm_.services.find(std::u16string(name));
    if (it == scm_.services.end()) return nullptr;
    scm_.opened.emplace_back(name);
    return std::make_unique<FakeHandle>(scm_, it->second);
  }

 private:
  FakeScm& scm_;
};

class ServiceSwitch : public ::testing::Test {
 protected:
  ServiceSwitch() {
    env_.openManager = [this]() -> std::unique_ptr<IServiceControlManager> {
      if (scm_.openFails) return nullptr;
      return std::make_unique<FakeManager>(scm_);
    };
    env_.sleep = [this](uint32_t ms) {
      sleeps_.push_back(ms);
      clock_ += ms;
    };
    env_.tickMs = [this] { return clock_; };
  }
  bool Run(bool start, std::deque<uint32_t> states) {
    scm_.services[u"spooler"].states = std::move(states);
    const bool ok = SetServiceRunning(env_, start, u"spooler");
    EXPECT_EQ(scm_.openHandles, 0);  // closed on every path
    return ok;
  }
  FakeService& spooler() { return scm_.services[u"spooler"]; }

  FakeScm scm_;
  ServiceSwitchEnvironment env_;
  std::vector<uint32_t> sleeps_;
  uint64_t clock_ = 123456;  // not at a whole second
};

TEST_F(ServiceSwitch, AlreadyInTheWantedStateNeedsNoControl) {
  EXPECT_TRUE(Run(true, {4}));
  EXPECT_TRUE(Run(false, {1}));
  EXPECT_EQ(spooler().stops + spooler().starts, 0);
  EXPECT_TRUE(sleeps_.empty());
}

TEST_F(ServiceSwitch, StopPollsUntilStoppedAndRepeatsTheControlWhenRunningAgain) {
  EXPECT_TRUE(Run(false, {4, 3, 3, 4, 3, 1}));
  EXPECT_EQ(spooler().stops, 2);
  EXPECT_EQ(sleeps_, (std::vector<uint32_t>(5, 500)));
}

TEST_F(ServiceSwitch, StartPollsUntilRunning) {
  EXPECT_TRUE(Run(true, {1, 2, 1, 2, 4}));
  EXPECT_EQ(spooler().starts, 2);
}

TEST_F(ServiceSwitch, UnexpectedStatesFail) {
  EXPECT_FALSE(Run(false, {4, 2}));  // start-pending while stopping
  EXPECT_FALSE(Run(true, {1, 3}));
  EXPECT_FALSE(Run(true, {7}));       // paused: neither running nor stopped
  EXPECT_FALSE(Run(false, {3}));      // already stopping: not ours to wait for
}

TEST_F(ServiceSwitch, GivesUpAfterTwentySeconds) {
  EXPECT_FALSE(Run(false, {4, 3}));  // stop-pending for ever
  EXPECT_EQ(spooler().stops, 1);
  // Whole seconds from the first control: more than 20 means 21 seconds passed.
  const uint64_t elapsed = clock_ / 1000 - 123;
  EXPECT_EQ(elapsed, 21u);
  EXPECT_LE(sleeps_.size(), 44u);
  EXPECT_GE(sleeps_.size(), 40u);
}

TEST_F(ServiceSwitch, OpeningFailuresGiveFalse) {
  scm_.openFails = true;
  EXPECT_FALSE(SetServiceRunning(env_, true, u"spooler"));
  scm_.openFails = false;
  EXPECT_FALSE(SetServiceRunning(env_, true, u"no such service"));
  spooler().queryFails = true;
  EXPECT_FALSE(Run(true, {1}));
  EXPECT_EQ(scm_.openHandles, 0);
}

TEST(ServiceControl, NoServicesOnThisSystemOrInjected) {
  // Without an injected controller the system's is used; here it must fail
  // quietly rather than hang or crash.
  const ServiceSwitchEnvironment env{platform::OpenServiceControlManager, [](uint32_t) {}, [] { return uint64_t{0}; }};
  if (platform::OpenServiceControlManager() == nullptr) {
    EXPECT_FALSE(SetServiceRunning(env, false, u"OrlexPOSPort"));
  }
  const ServiceSwitchEnvironment empty{};
  EXPECT_FALSE(SetServiceRunning(empty, true, u"spooler"));
}

TEST(LegacyInstallation, ServicesStoppedAtStartUpAndStartedAtUnload) {
  FakeScm scm;
  for (const char16_t* name : {u"spooler", u"OrlexPOSPort", u"OrlexDrvbridge"}) scm.services[name].states = {4, 3, 1};
  KPCommBackends backends;
  KPCommEnvironment env;
  env.sleep = [](uint32_t) {};
  env.tickMs = [] { return uint64_t{0}; };
  env.openServiceManager = [&scm]() -> std::unique_ptr<IServiceControlManager> {
    return std::make_unique<FakeManager>(scm);
  };
  env.isLegacyDriverInstalled = [] { return true; };
  auto manager = std::make_unique<KPComm>(std::move(backends), env);
  manager->EnsureInitialized();
  EXPECT_EQ(scm.opened, (std::vector<std::u16string>{u"spooler", u"OrlexPOSPort", u"OrlexDrvbridge"}));
  for (auto& [name, service] : scm.services) EXPECT_EQ(service.stops, 1);
  scm.opened.clear();
  for (auto& [name, service] : scm.services) service.states = {4};  // running: start is a no-op
  manager.reset();
  EXPECT_EQ(scm.opened, (std::vector<std::u16string>{u"OrlexDrvbridge", u"OrlexPOSPort", u"spooler"}));
  EXPECT_EQ(scm.openHandles, 0);
}

}  // namespace
}  // namespace tw::portwire
