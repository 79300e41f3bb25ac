#pragma once
// A port manager with the direct backend over the scriptable port-access
// library (fakelnkio, portlib/backends/tests/fake_lnkio.cpp), and what the
// client callbacks saw: the stage for device arrival and removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "portlib/backends/direct_comm.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire::testing {

using Bytes = std::vector<uint8_t>;

struct FakeLink {
  platform::Module module = platform::Module::Load(u"fakelnkio.dll");
  void (*reset)() = module.Function<void (*)()>("FAKE_Reset");
  void (*setOpenResults)(const int32_t*, int32_t) =
      module.Function<void (*)(const int32_t*, int32_t)>("FAKE_SetOpenResults");
  void (*setReplyOnWrite)(int32_t, const uint8_t*, int32_t, int32_t) =
      module.Function<void (*)(int32_t, const uint8_t*, int32_t, int32_t)>("FAKE_SetReplyOnWrite");
  int32_t (*openKinds)(int32_t*, int32_t) = module.Function<int32_t (*)(int32_t*, int32_t)>("FAKE_OpenKinds");
  int32_t (*written)(uint8_t*, int32_t) = module.Function<int32_t (*)(uint8_t*, int32_t)>("FAKE_Written");
  int32_t (*counter)(int32_t) = module.Function<int32_t (*)(int32_t)>("FAKE_Counter");
  int32_t (*isOpen)() = module.Function<int32_t (*)()>("LNKIO_GetIsOpen");
  void (*delayNextIsOpen)(int32_t) = module.Function<void (*)(int32_t)>("FAKE_DelayNextIsOpen");
  int32_t (*noFlowCalls)(uint8_t*, int32_t) = module.Function<int32_t (*)(uint8_t*, int32_t)>("FAKE_NoFlowCalls");

  bool Ok() const {
    return reset && setOpenResults && setReplyOnWrite && openKinds && written && counter && isOpen && delayNextIsOpen &&
           noFlowCalls;
  }
  // How often flow control was switched off: once for every status enabling
  // of a printer that is not online.
  size_t FlowOffCalls() const {
    Bytes v(4096);
    v.resize(static_cast<size_t>(std::clamp(noFlowCalls(v.data(), 4096), 0, 4096)));
    return static_cast<size_t>(std::count(v.begin(), v.end(), 1));
  }
  std::vector<int32_t> OpenKinds() const {
    std::vector<int32_t> v(256);
    v.resize(static_cast<size_t>(std::clamp(openKinds(v.data(), 256), 0, 256)));
    return v;
  }
  Bytes Written() const {
    Bytes v(8192);
    v.resize(static_cast<size_t>(std::clamp(written(v.data(), 8192), 0, 8192)));
    return v;
  }
  void OpenResults(std::vector<int32_t> codes) { setOpenResults(codes.data(), static_cast<int32_t>(codes.size())); }
  int32_t CloseCalls() const { return counter(1); }
};

inline FakeLink& Fake() {
  static FakeLink f;
  return f;
}

struct Seen {
  std::mutex mu;
  std::vector<int32_t> statuses;
  std::vector<int32_t> rawKinds;
  static void PW_CALL Status(int32_t status, void* user) {
    auto* s = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> g(s->mu);
    s->statuses.push_back(status);
  }
  static void PW_CALL Raw(int32_t kind, const uint8_t*, void* user) {
    auto* s = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> g(s->mu);
    s->rawKinds.push_back(kind);
  }
  size_t Count(const std::vector<int32_t>& v, int32_t x) {
    std::lock_guard<std::mutex> g(mu);
    return static_cast<size_t>(std::count(v.begin(), v.end(), x));
  }
};

template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return pred();
}

// Status enabling as the manager sends it (real time, then the plain form).
inline const Bytes kStatusEnableRealTime = {0x10, 0x14, 0x14, 0x00, 0x00, 0x01, 0x08};

inline bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

struct HotplugRig {
  Seen seen;  // outlives the manager
  CDirectComm* direct = nullptr;
  std::unique_ptr<KPComm> manager;

  // useWaitReadable false: the monitor sleeps in its own wait, which a stop
  // ends at once (LNKIO_WaitReadable would keep it up to a second).
  explicit HotplugRig(bool watchDevices, bool useWaitReadable = true) {
    Fake().reset();
    DirectCommOptions options;
    options.libraryName = u"fakelnkio.dll";
    options.watchDevices = watchDevices;
    options.useWaitReadable = useWaitReadable;
    auto backend = std::make_unique<CDirectComm>(std::move(options));
    direct = backend.get();
    KPCommBackends backends;
    backends.direct = std::move(backend);
    KPCommEnvironment env;
    env.isLegacyDriverInstalled = [] { return false; };
    manager = std::make_unique<KPComm>(std::move(backends), std::move(env));
    manager->EnsureInitialized();
  }
  ~HotplugRig() { manager.reset(); }

  void Callbacks() {
    manager->RegisterStatusProc(&Seen::Status, &seen);
    manager->RegistRawStatusCallBack(&Seen::Raw, &seen);
  }
  Result OpenUsb(std::u16string_view identity, int32_t usbClass = 1, int32_t route = 0) {
    PortSettings r = MakeDefaultPortSettings();
    SetText(r.portType, u"USB");
    SetText(r.portName, u"001");
    SetText(r.servicePortName, identity);
    r.usbClass = usbClass;
    r.route = route;
    if (manager->SetPort(&r) != kResultOk) return kResultFailed;
    return manager->Open(1);
  }
  // One command and its reply through the manager (what KPC_Write and
  // KPC_Read do).
  Result RoundTrip(Bytes& reply) {
    const Bytes query = {0x1D, 0x49, 0x43};
    uint32_t written = 0;
    const Result w = manager->Write(query.data(), static_cast<uint32_t>(query.size()), &written, 2000);
    if (w != kResultOk) return w;
    reply.assign(64, 0);
    uint32_t got = 0;
    const Result r = manager->Read(reply.data(), static_cast<uint32_t>(reply.size()), &got, 2000);
    reply.resize(r == kResultOk ? got : 0);
    return r;
  }
};

}  // namespace tw::portwire::testing
