// The direct backend inside a port manager, over the scriptable port-access
// library (fake_lnkio.cpp), loaded by the backend through the module loader.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "portlib/backends/direct_comm.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// The test's own handle on a fake library: the same module the backend loads,
// so both see one state.
struct Fake {
  platform::Module module;
  void (*reset)();
  void (*setOpenResults)(const int32_t*, int32_t);
  void (*pushRead)(int32_t, const uint8_t*, int32_t);
  void (*setWriteResult)(int32_t, int32_t);
  void (*setReplyOnWrite)(int32_t, const uint8_t*, int32_t, int32_t);
  void (*setOnline)(int32_t);
  void (*setNoFlowResult)(int32_t);
  int32_t (*openKinds)(int32_t*, int32_t);
  void (*lastBlock)(void*);
  int32_t (*written)(uint8_t*, int32_t);
  int32_t (*noFlowCalls)(uint8_t*, int32_t);
  int32_t (*counter)(int32_t);

  explicit Fake(const char16_t* name) : module(platform::Module::Load(name)) {
    reset = module.Function<decltype(reset)>("FAKE_Reset");
    setOpenResults = module.Function<decltype(setOpenResults)>("FAKE_SetOpenResults");
    pushRead = module.Function<decltype(pushRead)>("FAKE_PushRead");
    setWriteResult = module.Function<decltype(setWriteResult)>("FAKE_SetWriteResult");
    setReplyOnWrite = module.Function<decltype(setReplyOnWrite)>("FAKE_SetReplyOnWrite");
    setOnline = module.Function<decltype(setOnline)>("FAKE_SetOnline");
    setNoFlowResult = module.Function<decltype(setNoFlowResult)>("FAKE_SetNoFlowResult");
    openKinds = module.Function<decltype(openKinds)>("FAKE_OpenKinds");
    lastBlock = module.Function<decltype(lastBlock)>("FAKE_LastBlock");
    written = module.Function<decltype(written)>("FAKE_Written");
    noFlowCalls = module.Function<decltype(noFlowCalls)>("FAKE_NoFlowCalls");
    counter = module.Function<decltype(counter)>("FAKE_Counter");
  }
  bool Ok() const { return reset && counter; }
  std::vector<int32_t> OpenKinds() const {
    std::vector<int32_t> v(64);
    v.resize(static_cast<size_t>(std::min(openKinds(v.data(), 64), 64)));
    return v;
  }
  Bytes Written() const {
    Bytes v(4096);
    v.resize(static_cast<size_t>(std::min(written(v.data(), 4096), 4096)));
    return v;
  }
  Bytes NoFlow() const {
    Bytes v(64);
    v.resize(static_cast<size_t>(std::min(noFlowCalls(v.data(), 64), 64)));
    return v;
  }
  void Push(int32_t code, const Bytes& b) { pushRead(code, b.data(), static_cast<int32_t>(b.size())); }
  int32_t ReadCalls() const { return counter(0); }
};

Fake& FakeFull() {
  static Fake f(u"fakelnkio.dll");
  return f;
}
Fake& FakeNoWait() {
  static Fake f(u"fakelnkio_nowait.dll");
  return f;
}

template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 5000ms) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return pred();
}

// What the client callbacks saw.
struct Seen {
  std::mutex mu;
  std::vector<int32_t> statuses;
  std::vector<int32_t> rawKinds;
  std::vector<uint32_t> batteries;
  std::atomic<int> callbackDelayMs{0};

  static void PORTWIRE_CALL Status(int32_t status, void* user) {
    auto* s = static_cast<Seen*>(user);
    std::this_thread::sleep_for(std::chrono::milliseconds(s->callbackDelayMs.load()));
    std::lock_guard<std::mutex> g(s->mu);
    s->statuses.push_back(status);
  }
  static void PORTWIRE_CALL Raw(int32_t kind, const uint8_t*, void* user) {
    auto* s = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> g(s->mu);
    s->rawKinds.push_back(kind);
  }
  static void PORTWIRE_CALL Battery(uint32_t value, void* user) {
    auto* s = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> g(s->mu);
    s->batteries.push_back(value);
  }
  template <typename T>
  bool Has(const std::vector<T>& v, T x) {
    std::lock_guard<std::mutex> g(mu);
    return std::find(v.begin(), v.end(), x) != v.end();
  }
};

class DirectCommTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FakeFull().Ok()) << "fakelnkio not found beside the test"; }

  // A manager with only the direct backend, over the named fake library.
  void Make(const char16_t* library = u"fakelnkio.dll", bool reachable = true, bool useWaitReadable = true) {
    fake_ = std::u16string(library) == u"fakelnkio_nowait.dll" ? &FakeNoWait() : &FakeFull();
    fake_->reset();
    DirectCommOptions options;
    options.libraryName = library;
    options.useWaitReadable = useWaitReadable;
    reachable_ = reachable;
    options.reachable = [this](std::string_view ipv4, int) {
      std::lock_guard<std::mutex> g(probeMu_);
      probed_.emplace_back(ipv4);
      return reachable_.load();
    };
    auto direct = std::make_unique<CDirectComm>(std::move(options));
    direct_ = direct.get();
    KPCommBackends backends;
    backends.direct = std::move(direct);
    KPCommEnvironment env;
    env.isLegacyDriverInstalled = [] { return false; };
    kp_ = std::make_unique<KPComm>(std::move(backends), std::move(env));
    kp_->EnsureInitialized();
  }

  Result OpenPort(std::u16string_view type, std::u16string_view name, int32_t usbClass = 0) {
    PortSettings r = MakeDefaultPortSettings();
    SetText(r.portType, type);
    SetText(r.portName, name);
    r.route = 0;
    r.usbClass = usbClass;
    r.baudRate = 38400;
    EXPECT_EQ(kp_->SetPort(&r), kResultOk);
    return kp_->Open(1);
  }

  Result Read(Bytes& out, uint32_t size, int32_t timeoutMs = 2000) {
    out.assign(size, 0);
    uint32_t got = 0;
    const Result r = kp_->Read(out.data(), size, &got, timeoutMs);
    out.resize(r == kResultOk ? got : 0);
    lastLength_ = got;
    return r;
  }

  void TearDown() override { kp_.reset(); }

  Seen seen_;  // outlives the manager: its callbacks may run until teardown
  Fake* fake_ = nullptr;
  CDirectComm* direct_ = nullptr;
  std::unique_ptr<KPComm> kp_;
  std::mutex probeMu_;
  std::atomic<bool> reachable_{true};
  std::vector<std::string> probed_;
  uint32_t lastLength_ = 0;
};

TEST_F(DirectCommTest, LoadResolvesTheLibraryAndPrimesIt) {
  Make();
  ASSERT_TRUE(direct_->IsLoaded());
  EXPECT_TRUE(direct_->UsesWaitReadable());
  const auto kinds = fake_->OpenKinds();
  ASSERT_FALSE(kinds.empty());
  EXPECT_EQ(kinds.front(), -1);
  EXPECT_EQ(direct_->Reset(), kResultFailed);
  EXPECT_EQ(direct_->TranslateResult(1), kResultOk);
  EXPECT_EQ(direct_->TranslateResult(100), kResultOk);
  EXPECT_EQ(direct_->TranslateResult(1000), kResultTimeout);
  EXPECT_EQ(direct_->TranslateResult(-4), kResultFailed);
}

TEST_F(DirectCommTest, IncompleteLibraryLeavesTheBackendUnloaded) {
  Make(u"fakelnkio_incomplete.dll");
  EXPECT_FALSE(direct_->IsLoaded());
  EXPECT_EQ(direct_->Close(), kResultNotOpen);
  EXPECT_EQ(OpenPort(u"COM", u"COM1"), kResultFailed);
  EXPECT_FALSE(kp_->IsPortOpen());
  EXPECT_EQ(direct_->SetFlowCtrlForced(1), kResultFailed);
}

TEST_F(DirectCommTest, BadPortNamesAndUnknownTypesAreRefusedAtOpen) {
  Make();
  EXPECT_EQ(OpenPort(u"COM", u"COM256"), kResultFailed);
  EXPECT_EQ(OpenPort(u"LPT", u"LPT10"), kResultFailed);
  EXPECT_EQ(OpenPort(u"NET", u"127.0.81"), kResultFailed);
  EXPECT_EQ(OpenPort(u"XYZ", u"COM1"), kResultFailed);
  EXPECT_FALSE(kp_->IsPortOpen());
  EXPECT_EQ(fake_->OpenKinds().size(), 1u);  // the priming call only
}

TEST_F(DirectCommTest, MonitorSortsStatusBatteryAndData) {
  Make();
  Seen& seen = seen_;
  kp_->RegisterStatusProc(&Seen::Status, &seen);
  kp_->RegisterBatStatusProc(&Seen::Battery, &seen);
  kp_->RegistRawStatusCallBack(&Seen::Raw, &seen);
  ASSERT_EQ(OpenPort(u"USB", u"001"), kResultOk);
  ASSERT_TRUE(direct_->MonitorRunning());

  fake_->Push(kLnkioReadStatus, {0x08, 0x00, 0x00, 0x00});           // automatic status: offline
  fake_->Push(kLnkioReadStatusOrBattery, {0x39, 0x40, 0x40, 0x00});           // "9"-report: dropped
  fake_->Push(kLnkioReadStatusOrBattery, {0x35, 0x40, 0x40, 0x00});           // "5"-report: status
  fake_->Push(kLnkioReadStatusOrBattery, {0x37, 0x45, 0x31, 0x33, 0x00});     // battery report
  fake_->Push(kLnkioReadStatusOrBattery, {0x37, 0x45, 0x39, 0x33, 0x00});     // not a battery report: data
  fake_->Push(kLnkioReadData, {0x5F, 0x4B, 0x50, 0x00});           // a reply

  EXPECT_TRUE(WaitUntil([&] { return seen.Has(seen.statuses, 16); }));
  EXPECT_TRUE(WaitUntil([&] { return seen.Has(seen.statuses, 100); }));
  EXPECT_TRUE(WaitUntil([&] { return seen.Has<uint32_t>(seen.batteries, 0x3331); }));
  EXPECT_TRUE(seen.Has(seen.rawKinds, 1));
  EXPECT_TRUE(seen.Has(seen.rawKinds, 2));
  EXPECT_EQ(kp_->BatteryValue(), 0x3331);

  // Data arrives in order, one library packet per read; the "9"-report
  // never shows up.
  Bytes got;
  ASSERT_EQ(Read(got, 64), kResultOk);
  EXPECT_EQ(got, (Bytes{0x37, 0x45, 0x39, 0x33, 0x00}));
  ASSERT_EQ(Read(got, 64), kResultOk);
  EXPECT_EQ(got, (Bytes{0x5F, 0x4B, 0x50, 0x00}));
  EXPECT_EQ(Read(got, 64, 100), kResultTimeout);
}

TEST_F(DirectCommTest, ABlockLargerThanTheBufferStaysQueued) {
  Make();
  ASSERT_EQ(OpenPort(u"USB", u"001"), kResultOk);
  const Bytes ten{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  fake_->Push(kLnkioReadData, ten);
  ASSERT_TRUE(WaitUntil([&] { return !kp_->RawReceiveQueue().Empty(); }));
  Bytes got;
  EXPECT_EQ(Read(got, 4), kResultBufferTooSmall);
  EXPECT_EQ(lastLength_, 10u);
  ASSERT_EQ(Read(got, 16), kResultOk);
  EXPECT_EQ(got, ten);
}

TEST_F(DirectCommTest, NullPointersAreInvalidArguments) {
  Make();
  ASSERT_EQ(OpenPort(u"USB", u"001"), kResultOk);
  uint32_t n = 0;
  EXPECT_EQ(direct_->Read(nullptr, 16, &n, 10), kResultInvalidArgument);
  EXPECT_EQ(direct_->Write(nullptr, 10, &n, 10), kResultInvalidArgument);
  EXPECT_EQ(direct_->GetPortName(nullptr), kResultBufferTooSmall);
  char16_t name[kPortTextUnits];
  EXPECT_EQ(direct_->GetPortName(name), kResultOk);
  EXPECT_EQ(std::u16string_view(name), u"001");
}

TEST_F(DirectCommTest, WrittenCountDecidesTheWriteResult) {
  Make();
  ASSERT_EQ(OpenPort(u"USB", u"001"), kResultOk);
  const Bytes data(10, 0xAB);
  uint32_t written = 0;
  fake_->setWriteResult(-5, 4);  // an error, but 4 bytes went out
  EXPECT_EQ(kp_->Write(data.data(), 10, &written, 1000), kResultOk);
  EXPECT_EQ(written, 4u);
  fake_->setWriteResult(1000, 0);
  EXPECT_EQ(kp_->Write(data.data(), 10, &written, 1000), kResultNothingWritten);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(direct_->Write(data.data(), 10, nullptr, 1000), kResultTimeout);
}

TEST_F(DirectCommTest, SerialOrParallelFailureOrATimeOutCannotLink) {
  Make();
  const int32_t refused[] = {kLnkioErrNoDevice};
  fake_->setOpenResults(refused, 1);
  EXPECT_EQ(OpenPort(u"COM", u"COM2"), kResultCannotLink);
  EXPECT_FALSE(kp_->IsPortOpen());
  EXPECT_FALSE(direct_->MonitorRunning());
  const int32_t timeout[] = {kLnkioTimeout};
  fake_->setOpenResults(timeout, 1);
  EXPECT_EQ(OpenPort(u"NET", u"127.0.0.82"), kResultCannotLink);
  EXPECT_FALSE(kp_->IsPortOpen());
}

TEST_F(DirectCommTest, UsbPrinterInTheOtherClassIsFoundBySwitching) {
  Make();
  const int32_t results[] = {kLnkioErrNoDevice, kLnkioOk};
  fake_->setOpenResults(results, 2);
  ASSERT_EQ(OpenPort(u"USB", u"001", 0), kResultOk);
  const auto kinds = fake_->OpenKinds();
  ASSERT_GE(kinds.size(), 3u);
  EXPECT_EQ(kinds[1], lnkio::kLinkUsbVendor);
  EXPECT_EQ(kinds[2], lnkio::kLinkUsbPrinter);
  EXPECT_EQ(kp_->CurrentSettings().usbClass, 1);
  EXPECT_EQ(direct_->LinkUp(), 1);
  EXPECT_TRUE(direct_->MonitorRunning());
  kp_->Close();

  // Neither class answers: open, but without a link.
  const int32_t none[] = {kLnkioErrNoDevice, kLnkioErrNoDevice};
  fake_->setOpenResults(none, 2);
  ASSERT_EQ(OpenPort(u"USB", u"001", 1), kResultOk);
  EXPECT_EQ(kp_->CurrentSettings().usbClass, 0);
  EXPECT_EQ(direct_->LinkUp(), 0);
}

TEST_F(DirectCommTest, NetworkPortLinksOnTheFirstWrite) {
  Make();
  const int32_t results[] = {kLnkioErrRefused, kLnkioOk};
  fake_->setOpenResults(results, 2);
  ASSERT_EQ(OpenPort(u"NET", u"127.0.0.83"), kResultOk);
  EXPECT_TRUE(kp_->IsPortOpen());
  // The monitor may already have made the link on its first pass; else the
  // write does.
  const Bytes data{0x1D, 0x49, 0x43};
  uint32_t written = 0;
  EXPECT_EQ(kp_->Write(data.data(), 3, &written, 1000), kResultOk);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(direct_->LinkUp(), 1);
  uint8_t block[64];
  fake_->lastBlock(block);
  EXPECT_EQ(block[0], lnkio::kLinkNetwork);
  EXPECT_EQ(block[0x2C], 127);
  EXPECT_EQ(block[0x2F], 83);
  std::lock_guard<std::mutex> g(probeMu_);
  ASSERT_FALSE(probed_.empty());
  EXPECT_EQ(probed_.back(), "127.0.0.83");
}

TEST_F(DirectCommTest, UnreachableNetworkPrinterRefusesReadAndWrite) {
  Make(u"fakelnkio.dll", /*reachable=*/false);
  ASSERT_EQ(OpenPort(u"NET", u"127.0.0.84"), kResultOk);
  const Bytes data{0x1D, 0x49, 0x43};
  uint32_t n = 0;
  EXPECT_EQ(kp_->Write(data.data(), 3, &n, 1000), kResultSettingsMismatch);
  Bytes got;
  EXPECT_EQ(Read(got, 16, 100), kResultSettingsMismatch);
  EXPECT_TRUE(fake_->Written().empty());
}

TEST_F(DirectCommTest, AnEchoCountsForAShortWhileOnly) {
  Make();
  ASSERT_EQ(OpenPort(u"NET", u"127.0.0.84"), kResultOk);
  const Bytes data{0x1D, 0x49, 0x43};
  uint32_t n = 0;
  const auto probes = [this] {
    std::lock_guard<std::mutex> g(probeMu_);
    return probed_.size();
  };
  const size_t before = probes();
  EXPECT_EQ(kp_->Write(data.data(), 3, &n, 1000), kResultOk);
  EXPECT_EQ(kp_->Write(data.data(), 3, &n, 1000), kResultOk);
  EXPECT_EQ(probes(), before + 1);  // the second write relied on the first echo
  reachable_ = false;
  std::this_thread::sleep_for(std::chrono::milliseconds(CDirectComm::kReachableForMs + 200));
  EXPECT_EQ(kp_->Write(data.data(), 3, &n, 1000), kResultSettingsMismatch);
}

TEST_F(DirectCommTest, InitializeSwitchesFlowControlOffOnlyWhileOffline) {
  Make();
  fake_->setOnline(0);
  ASSERT_EQ(OpenPort(u"COM", u"COM3"), kResultOk);
  EXPECT_EQ(kp_->CurrentBackend()->Initialize(0), kResultOk);
  EXPECT_EQ(fake_->NoFlow(), (Bytes{1, 0}));
  EXPECT_EQ(fake_->Written(), (Bytes{0x10, 0x14, 0x14, 0x00, 0x00, 0x01, 0x08}));
  kp_->Close();

  fake_->reset();
  ASSERT_EQ(OpenPort(u"COM", u"COM3"), kResultOk);
  EXPECT_EQ(kp_->CurrentBackend()->Initialize(0), kResultOk);
  EXPECT_TRUE(fake_->NoFlow().empty());
  EXPECT_EQ(fake_->Written(), (Bytes{0x1D, 0x61, 0xFF}));

  EXPECT_EQ(direct_->SetFlowCtrlForced(0x101), kResultOk);
  EXPECT_EQ(fake_->NoFlow().back(), 1);
  fake_->setNoFlowResult(0);
  EXPECT_EQ(direct_->SetFlowCtrlForced(1), kResultFailed);
}

TEST_F(DirectCommTest, OfflineSerialPrinterIsReportedLostWithoutLosingReplies) {
  Make();
  Seen& seen = seen_;
  kp_->RegisterStatusProc(&Seen::Status, &seen);
  kp_->RegistRawStatusCallBack(&Seen::Raw, &seen);
  fake_->setOnline(0);
  ASSERT_EQ(OpenPort(u"COM", u"COM3"), kResultOk);
  EXPECT_TRUE(WaitUntil([&] { return seen.Has(seen.rawKinds, 999); }));
  EXPECT_TRUE(seen.Has(seen.statuses, 16));
  // The offline branch re-enabled automatic status with flow control off.
  const Bytes realTime{0x10, 0x14, 0x14, 0x00, 0x00, 0x01, 0x08};
  const Bytes written = fake_->Written();
  EXPECT_NE(std::search(written.begin(), written.end(), realTime.begin(), realTime.end()), written.end());
  EXPECT_GE(fake_->NoFlow().size(), 2u);

  // A reply that arrives while the printer stays offline is still there
  // after the monitor's next rounds.
  fake_->Push(kLnkioReadData, {0x37, 0x25, 0x00});
  ASSERT_TRUE(WaitUntil([&] { return !kp_->RawReceiveQueue().Empty(); }));
  std::this_thread::sleep_for(1500ms);
  Bytes got;
  ASSERT_EQ(Read(got, 16, 100), kResultOk);
  EXPECT_EQ(got, (Bytes{0x37, 0x25, 0x00}));
}

// A reply must reach the reader as soon as the library has it, whether or
// not the library can signal readability; the time limits are far above the
// expected few milliseconds and far below the one-second idle wait.
void ExpectPromptReply(DirectCommTest* t, KPComm& kp, Fake& fake) {
  const Bytes reply{0x5F, 0x4B, 0x50, 0x00};
  fake.setReplyOnWrite(1, reply.data(), 4, 20);
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(150ms);  // the monitor is in its idle wait
    const Bytes query{0x1D, 0x49, 0x43};
    uint32_t written = 0;
    ASSERT_EQ(kp.Write(query.data(), 3, &written, 2000), kResultOk);
    uint8_t buffer[16];
    uint32_t got = 0;
    ASSERT_EQ(kp.Read(buffer, sizeof buffer, &got, 700), kResultOk) << "round " << i;
    EXPECT_EQ(Bytes(buffer, buffer + got), reply);
  }
  (void)t;
}

TEST_F(DirectCommTest, ReplyIsPromptWithReadableWait) {
  Make();
  ASSERT_EQ(OpenPort(u"USB", u"001"), kResultOk);
  ExpectPromptReply(this, *kp_, *fake_);
}

TEST_F(DirectCommTest, ReplyIsPromptWithoutReadableWait) {
  Make(u"fakelnkio_nowait.dll");
  ASSERT_FALSE(direct_->UsesWaitReadable());
  ASSERT_EQ(OpenPort(u"USB", u"001"), kResultOk);
  ExpectPromptReply(this, *kp_, *fake_);
}

// A Read that waits may take the packets from the library itself; a status
// packet that came before the reply is still reported before the Read
// returns the reply, and the callback still runs on a library thread.
TEST_F(DirectCommTest, StatusBeforeAReplyIsReportedBeforeTheReadReturns) {
  for (const char16_t* library : {u"fakelnkio.dll", u"fakelnkio_nowait.dll"}) {
    Make(library);
    struct Calls {
      std::mutex mu;
      std::vector<std::thread::id> threads;
      static void PORTWIRE_CALL Status(int32_t, void* user) {
        auto* c = static_cast<Calls*>(user);
        std::lock_guard<std::mutex> g(c->mu);
        c->threads.push_back(std::this_thread::get_id());
      }
    } calls;
    kp_->RegisterStatusProc(&Calls::Status, &calls);
    ASSERT_EQ(OpenPort(u"USB", u"001"), kResultOk);
    for (int round = 0; round < 4; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(round * 40));  // idle, then within a reply's time
      kp_->SetStatus(16);
      std::thread printer([&] {
        std::this_thread::sleep_for(30ms);  // the Read waits by then
        fake_->Push(kLnkioReadStatus, {0x10, 0x00, 0x00, 0x00});  // online: status 0
        fake_->Push(kLnkioReadData, {0x37, 0x4D, 0x30, 0x24, 0x00});
      });
      Bytes got;
      const Result r = Read(got, 64, 2000);
      printer.join();
      ASSERT_EQ(r, kResultOk) << "round " << round;
      EXPECT_EQ(got, (Bytes{0x37, 0x4D, 0x30, 0x24, 0x00}));
      EXPECT_EQ(kp_->Status(), 0) << "round " << round << ": the status came before the reply";
    }
    // Callbacks run on the dispatcher's thread, so the last one may still be
    // on its way when the last Read returns.
    for (int i = 0; i < 200; ++i) {
      {
        std::lock_guard<std::mutex> g(calls.mu);
        if (calls.threads.size() >= 5u) break;
      }
      std::this_thread::sleep_for(10ms);
    }
    {
      std::lock_guard<std::mutex> g(calls.mu);
      EXPECT_GE(calls.threads.size(), 5u);  // at registration, then once a round
      for (size_t i = 1; i < calls.threads.size(); ++i) EXPECT_NE(calls.threads[i], std::this_thread::get_id());
    }
    kp_.reset();
  }
}

TEST_F(DirectCommTest, IdlePortPollsRarelyAndClosesAtOnce) {
  for (const char16_t* library : {u"fakelnkio.dll", u"fakelnkio_nowait.dll"}) {
    Make(library);
    ASSERT_EQ(OpenPort(u"USB", u"001"), kResultOk);
    std::this_thread::sleep_for(100ms);
    const int32_t before = fake_->ReadCalls();
    std::this_thread::sleep_for(1500ms);
    EXPECT_LE(fake_->ReadCalls() - before, 6);  // about one a second, never a spin
    const auto start = Clock::now();
    EXPECT_EQ(kp_->Close(), kResultOk);
    EXPECT_LT(Clock::now() - start, 900ms);
    EXPECT_FALSE(direct_->MonitorRunning());
    kp_.reset();
  }
}

TEST_F(DirectCommTest, TeardownWaitsForLinkLostReports) {
  Make();
  Seen& seen = seen_;
  seen.callbackDelayMs = 200;
  kp_->RegisterStatusProc(&Seen::Status, &seen);
  fake_->setOnline(0);
  ASSERT_EQ(OpenPort(u"COM", u"COM3"), kResultOk);
  // Let a link-lost report start, then tear everything down while its
  // callback still runs: the report finishes before the backend goes.
  ASSERT_TRUE(WaitUntil([&] { return kp_->Status() == kStatusLinkLost && !fake_->Written().empty(); }));
  std::this_thread::sleep_for(50ms);
  kp_.reset();
  EXPECT_GE(FakeFull().counter(2), 1);  // terminated
}

}  // namespace
}  // namespace tw::portwire
