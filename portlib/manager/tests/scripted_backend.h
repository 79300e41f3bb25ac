#pragma once
// A scriptable backend for the manager's tests: it records what the manager
// asks of it and answers from a script. Used in all three backend places.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "portlib/backends/comm_base.h"
#include "portlib/manager/kp_comm.h"

namespace tw::portwire::testing {

struct ScriptedRead {
  Result result = kResultOk;
  std::vector<uint8_t> bytes;
};

class CScriptedBackend : public CServiceCommBase {
 public:
  explicit CScriptedBackend(std::string name) : name_(std::move(name)) {}

  // --- script ---
  bool loadResult = true;
  std::deque<Result> openResults;          // front used per Open; empty: 0
  Result closeResult = kResultOk;
  Result writeResult = kResultOk;
  std::deque<ScriptedRead> reads;          // empty: kResultTimeout
  Result initializeResult = kResultOk;
  Result recoveryResult = kResultOk;
  Result verifyResult = kResultOk;
  Result unloadResult = kResultOk;
  std::function<void(PortSettings*)> findPortEffect;
  std::function<void()> onOpen;            // runs inside Open, before it answers
  std::function<void(const std::vector<uint8_t>&)> onWrite;

  // --- record ---
  std::vector<std::string>* log = nullptr;  // shared call log, "name.Op"
  std::vector<std::vector<uint8_t>> writes;
  std::vector<int32_t> writeTimeouts;
  std::vector<int32_t> readTimeouts;
  std::vector<int32_t> openModes;
  std::vector<int32_t> initializeModes;
  std::vector<PortSettings> verified;
  std::vector<PortSettings> foundPortCalls;
  IStoreResponse* store = nullptr;
  int storeHandOvers = 0;
  std::vector<std::pair<std::u16string, std::u16string>> customValues;
  std::vector<std::pair<int32_t, void*>> registered, unregistered;
  int recoveryCalls = 0;

  static void* FakeReplyCallback() { return reinterpret_cast<void*>(&FakeReply); }

  bool Load() override {
    Note("Load");
    return loadResult;
  }
  bool LoadConfiguration() override {
    Note("LoadConfiguration");
    return true;
  }
  Result Open(int32_t mode) override {
    Note("Open");
    openModes.push_back(mode);
    if (onOpen) onOpen();
    Result r = kResultOk;
    if (!openResults.empty()) {
      r = openResults.front();
      openResults.pop_front();
    }
    SetOpenState(r == kResultOk ? 1 : kClosedState);
    return r;
  }
  Result Close() override {
    Note("Close");
    SetOpenState(kClosedState);
    return closeResult;
  }
  Result Read(uint8_t* buffer, uint32_t size, uint32_t* outLength, int32_t timeoutMs) override {
    readTimeouts.push_back(timeoutMs);
    if (reads.empty()) return kResultTimeout;
    ScriptedRead step = reads.front();
    reads.pop_front();
    if (step.result != kResultOk) return step.result;
    if (step.bytes.size() > size) return kResultBufferTooSmall;
    std::copy(step.bytes.begin(), step.bytes.end(), buffer);
    if (outLength != nullptr) *outLength = static_cast<uint32_t>(step.bytes.size());
    return kResultOk;
  }
  Result Write(const uint8_t* data, uint32_t length, uint32_t* outWritten, int32_t timeoutMs) override {
    writes.emplace_back(data, data + length);
    writeTimeouts.push_back(timeoutMs);
    if (onWrite) onWrite(writes.back());
    if (outWritten != nullptr && writeResult == kResultOk) *outWritten = length;
    return writeResult;
  }
  Result Initialize(int32_t mode) override {
    Note("Initialize");
    initializeModes.push_back(mode);
    return initializeResult;
  }
  Result Unload() override {
    Note("Unload");
    SetOpenState(kClosedState);
    return unloadResult;
  }
  Result Purge() override {
    Note("Purge");
    return kResultOk;
  }
  Result RecoverySending() override {
    ++recoveryCalls;
    return recoveryResult;
  }
  Result RegisterDeviceStateCallback(int32_t eventId, void* callback, void*) override {
    registered.emplace_back(eventId, callback);
    return kResultOk;
  }
  Result UnregisterDeviceStateCallback(int32_t eventId, void* callback, void*) override {
    unregistered.emplace_back(eventId, callback);
    return kResultOk;
  }
  void SetResponseStore(IStoreResponse* s) override {
    store = s;
    ++storeHandOvers;
  }
  Result FindPort(PortSettings* record) override {
    Note("FindPort");
    foundPortCalls.push_back(*record);
    if (findPortEffect) findPortEffect(record);
    return kResultOk;
  }
  Result VerifySerialSettings(const PortSettings* record) override {
    Note("VerifySerialSettings");
    verified.push_back(*record);
    return verifyResult;
  }
  Result SetCustomValueString(const char16_t* key, const char16_t* value) override {
    customValues.emplace_back(key, value);
    return kResultOk;
  }
  void* ReplyCallback() const override { return FakeReplyCallback(); }

 private:
  static void FakeReply() {}
  void Note(const char* op) {
    if (log != nullptr) log->push_back(name_ + "." + op);
  }
  std::string name_;
};

// Three scripted backends and a manager that owns them; sleeps are recorded,
// not slept, and the clock advances by what was slept.
struct ManagerRig {
  std::vector<std::string> log;
  std::vector<uint32_t> sleeps;
  uint64_t clockMs = 0;
  bool legacy = false;
  CScriptedBackend* portService = nullptr;
  CScriptedBackend* driverPath = nullptr;
  CScriptedBackend* direct = nullptr;
  std::unique_ptr<KPComm> manager;

  explicit ManagerRig(bool withPortService = true, bool withDriverPath = true, bool withDirect = true) {
    KPCommBackends backends;
    if (withPortService) backends.portService = Make("service", portService);
    if (withDriverPath) backends.driverPath = Make("driver", driverPath);
    if (withDirect) {
      std::unique_ptr<CScriptedBackend> b = Make("direct", direct);
      backends.direct = std::move(b);
    }
    KPCommEnvironment env;
    env.sleep = [this](uint32_t ms) {
      sleeps.push_back(ms);
      clockMs += ms;
    };
    env.tickMs = [this] { return clockMs; };
    env.openServiceManager = [] { return std::unique_ptr<platform::IServiceControlManager>(); };
    env.isLegacyDriverInstalled = [this] { return legacy; };
    manager = std::make_unique<KPComm>(std::move(backends), std::move(env));
  }

  KPComm& m() { return *manager; }

  // Sets a record of the given type, name and route as the current port.
  Result SetPort(std::u16string_view type, std::u16string_view name, int32_t route = 0) {
    PortSettings s = MakeDefaultPortSettings();
    SetText(s.portType, type);
    SetText(s.portName, name);
    s.route = route;
    return manager->SetPort(&s);
  }

 private:
  std::unique_ptr<CScriptedBackend> Make(const char* name, CScriptedBackend*& keep) {
    auto b = std::make_unique<CScriptedBackend>(name);
    b->log = &log;
    keep = b.get();
    return b;
  }
};

}  // namespace tw::portwire::testing
