// The port-access library over TCP against the simulated printer on
// 127.0.0.62 (other loopback addresses of this file: .63 and .64).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "lnkio/tests/lnkio_client.h"
#include "sim/printer/sim_printer.h"

namespace tw::lnkio::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kSimAddress = "127.0.0.62";

std::unique_ptr<sim::SimPrinter> StartSim(sim::SimConfig config = {}) {
  config.tcpAddress = kSimAddress;
  auto s = std::make_unique<sim::SimPrinter>(config);
  EXPECT_TRUE(s->Start()) << s->Error();
  return s;
}

class LnkioTcp : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lnk.Complete()) << "liblnkioapi.so not found beside the test"; }
  void TearDown() override { lnk.close(); }
  int OpenSim(int timeoutMs = 2000) {
    const LinkOpenBlock b = NetworkBlock(127, 0, 0, 62, timeoutMs);
    return lnk.open(&b);
  }
  LnkioClient lnk;
};

// A listening socket that never accepts: once its queue is full, connection
// attempts get no answer at all.
struct DeafListener {
  explicit DeafListener(const char* address) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(9100);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 0) == 0;
    addr = a;
  }
  ~DeafListener() {
    for (int c : fillers) ::close(c);
    if (fd >= 0) ::close(fd);
  }
  void FillQueue() {
    for (int i = 0; i < 3; ++i) {
      int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      fillers.push_back(c);
    }
    std::this_thread::sleep_for(100ms);
  }
  int Accept() { return ::accept(fd, nullptr, nullptr); }
  int fd = -1;
  bool ok = false;
  sockaddr_in addr{};
  std::vector<int> fillers;
};

TEST_F(LnkioTcp, ContractNamesAndCallsWithoutALink) {
  for (const char* name : {"FirmwareCompare", "FirmwareUpdate", "RegisteredCallbackProgress", "GetFirmware", "FirmwareUpload"}) {
    auto fn = lnk.module.Function<VoidFn>(name);
    ASSERT_NE(fn, nullptr) << name;
    EXPECT_NE(fn(), kLnkioOk) << name << " must report failure";
  }
  EXPECT_EQ(lnk.module.Symbol("_ZN2tw5lnkio13OpenTransportERKNS0_13LinkOpenBlockEPi"), nullptr) << "internal name exported";

  LinkOpenBlock priming{};
  priming.kind = kLinkPriming;
  EXPECT_EQ(lnk.open(&priming), kLnkioOk);
  EXPECT_EQ(lnk.isOpen(), 0);
  EXPECT_EQ(lnk.open(nullptr), kLnkioErrParameter);
  LinkOpenBlock bogus{};
  bogus.kind = 9;
  EXPECT_NE(lnk.open(&bogus), kLnkioOk);

  int32_t written = 77;
  EXPECT_NE(lnk.write(kModelQuery.data(), 5, &written), kLnkioOk);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(lnk.write(nullptr, 5, &written), kLnkioErrParameter);
  EXPECT_EQ(lnk.write(kModelQuery.data(), -1, &written), kLnkioErrParameter);
  Bytes buf(16);
  int32_t len = 5;
  EXPECT_EQ(lnk.read(buf.data(), 16, &len), kLnkioReadNothing);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(lnk.read(nullptr, 16, &len), kLnkioErrParameter);
  EXPECT_EQ(lnk.read(buf.data(), 16, nullptr), kLnkioErrParameter);
  EXPECT_EQ(lnk.isOnline(), 0);
  EXPECT_EQ(lnk.waitReadable(10), 1) << "no link: the caller is sent to look";
  EXPECT_EQ(lnk.close(), kLnkioOk);
  EXPECT_EQ(lnk.terminate(), kLnkioOk);
}

TEST_F(LnkioTcp, RepliesArriveWholeAndInOrder) {
  auto sim = StartSim();
  ASSERT_EQ(OpenSim(), kLnkioOk);
  EXPECT_EQ(lnk.isOpen(), 1);
  EXPECT_EQ(lnk.isOnline(), 1);
  EXPECT_EQ(lnk.setNoFlow(1), kLnkioOk);

  int32_t written = 0;
  EXPECT_EQ(lnk.Write(kModelQuery, &written), kLnkioOk);
  EXPECT_EQ(written, 5);
  auto r = lnk.NextReply();
  EXPECT_EQ(r.code, kLnkioReadData);
  EXPECT_EQ(r.bytes, (Bytes{0x37, 0x4D, 0x30, '$', 'S', '4', '1', '0', 0x00}));

  // Two commands in one write: two replies, each its own packet.
  Bytes both = kBufferClear;
  both.insert(both.end(), kModelCodeQuery.begin(), kModelCodeQuery.end());
  EXPECT_EQ(lnk.Write(both), kLnkioOk);
  EXPECT_EQ(lnk.NextReply().bytes, (Bytes{0x37, 0x25, 0x00}));
  EXPECT_EQ(lnk.NextReply().bytes, (Bytes{0x37, 0x4D, 0x43, 'K', 'P', '-', 'S', '4', '1', '0', 0x00}));

  // A small buffer gets the packet in pieces, nothing lost.
  EXPECT_EQ(lnk.Write({0x1D, 0x49, 0x43}), kLnkioOk);
  ASSERT_EQ(lnk.waitReadable(3000), 1);
  Bytes piece(4);
  int32_t len = 0;
  EXPECT_EQ(lnk.read(piece.data(), 4, &len), kLnkioReadData);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(piece, (Bytes{'_', 'K', 'P', '-'}));
  EXPECT_EQ(lnk.NextReply().bytes, (Bytes{'S', '4', '1', '0', 0x00}));
}

TEST_F(LnkioTcp, ByteByByteRepliesStillArriveWhole) {
  sim::SimConfig c;
  c.behaviour.faults = {sim::Fault::kByteByByte};
  c.byteGapMs = 15;
  auto sim = StartSim(c);
  ASSERT_EQ(OpenSim(), kLnkioOk);
  EXPECT_EQ(lnk.Write(kModelQuery), kLnkioOk);
  auto r = lnk.NextReply();
  EXPECT_EQ(r.code, kLnkioReadData);
  ASSERT_EQ(r.bytes.size(), 9u);
  EXPECT_EQ(r.bytes[3], '$');
  EXPECT_EQ(lnk.Write(kOpenFrame), kLnkioOk);
  EXPECT_EQ(lnk.Write(kLevelRead), kLnkioOk);
  EXPECT_EQ(lnk.NextReply().bytes, (Bytes{'1', '0', '0', '6', '4', 0x00}));
  EXPECT_EQ(lnk.Write(kStatusEnable), kLnkioOk);
  auto s = lnk.Next();
  EXPECT_EQ(s.code, kLnkioReadStatus);
  EXPECT_EQ(s.bytes.size(), 4u);
}

TEST_F(LnkioTcp, AutomaticStatusComesApartAndSetsOnline) {
  for (bool offline : {false, true}) {
    sim::SimConfig c;
    c.behaviour.offline = offline;
    auto sim = StartSim(c);
    ASSERT_EQ(OpenSim(), kLnkioOk);
    EXPECT_EQ(lnk.Write(kStatusEnable), kLnkioOk);
    auto s = lnk.Next();
    EXPECT_EQ(s.code, kLnkioReadStatus);
    EXPECT_EQ(s.bytes, (Bytes{static_cast<std::uint8_t>(offline ? 0x18 : 0x10), 0, 0, 0}));
    EXPECT_EQ(lnk.isOnline(), offline ? 0 : 1);
    EXPECT_TRUE(sim->WaitFor([](const sim::SimReport& r) { return r.record.statusEnabled; }, 2s));
    lnk.close();
  }
}

TEST_F(LnkioTcp, StatusRightBehindAnOddReplyComesApart) {
  sim::SimConfig c;
  c.behaviour.faults = {sim::Fault::kOddReply};
  auto sim = StartSim(c);
  ASSERT_EQ(OpenSim(), kLnkioOk);
  ASSERT_EQ(lnk.Write({0x1D, 0x49, 0x43}), kLnkioOk);
  auto reply = lnk.Next();
  EXPECT_EQ(reply.code, kLnkioReadData);
  EXPECT_EQ(reply.bytes, (Bytes{0x41, 0x42, 0x43, 0x44, 0x45}));
  auto status = lnk.Next();
  EXPECT_EQ(status.code, kLnkioReadStatus);
  EXPECT_EQ(status.bytes, (Bytes{0x10, 0x00, 0x00, 0x00}));
}

TEST_F(LnkioTcp, NothingAnsweringGivesTimeOut) {
  // Connect: nobody accepts.
  DeafListener deaf("127.0.0.63");
  ASSERT_TRUE(deaf.ok);
  deaf.FillQueue();
  LinkOpenBlock b = NetworkBlock(127, 0, 0, 63, 300);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(lnk.open(&b), kLnkioTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
  EXPECT_EQ(lnk.isOpen(), 0);

  // Refused is a failure of its own, not a time-out.
  b = NetworkBlock(127, 0, 0, 64, 300);
  const int refused = lnk.open(&b);
  EXPECT_NE(refused, kLnkioOk);
  EXPECT_NE(refused, kLnkioTimeout);

  // Write: a peer that takes nothing; the count tells what went out.
  DeafListener reader("127.0.0.64");
  ASSERT_TRUE(reader.ok);
  ASSERT_EQ(lnk.open(&b), kLnkioOk);
  const int peer = reader.Accept();
  ASSERT_GE(peer, 0);
  Bytes big(64 * 1024 * 1024, 0x20);
  int32_t written = 0;
  EXPECT_EQ(lnk.Write(big, &written), kLnkioTimeout);
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int32_t>(big.size()));
  ::close(peer);
}

TEST_F(LnkioTcp, SilentPrinterTakesBytesButNeverAnswers) {
  sim::SimConfig c;
  c.behaviour.faults = {sim::Fault::kSilent};
  auto sim = StartSim(c);
  ASSERT_EQ(OpenSim(), kLnkioOk);
  EXPECT_EQ(lnk.Write(kModelQuery), kLnkioOk);
  EXPECT_EQ(lnk.waitReadable(300), 0);
  EXPECT_TRUE(sim->WaitFor([](const sim::SimReport& r) { return r.record.commands.size() == 1; }, 2s));
}

TEST_F(LnkioTcp, WritesWhileAnotherThreadReads) {
  auto sim = StartSim();
  ASSERT_EQ(OpenSim(), kLnkioOk);
  constexpr int kRounds = 40;
  std::atomic<int> replies{0};
  std::atomic<bool> whole{true};
  std::thread reader([&] {
    while (replies.load() < kRounds) {
      auto r = lnk.NextReply(5000ms);
      if (r.code == 0) break;
      if (r.bytes.size() != 9 || r.bytes[3] != '$') whole = false;
      ++replies;
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    EXPECT_EQ(lnk.Write(kModelQuery), kLnkioOk);
    std::this_thread::sleep_for(2ms);
  }
  reader.join();
  EXPECT_EQ(replies.load(), kRounds);
  EXPECT_TRUE(whole.load());
}

TEST_F(LnkioTcp, CloseWakesAWaiterAtOnce) {
  auto sim = StartSim();
  ASSERT_EQ(OpenSim(), kLnkioOk);
  std::atomic<int> result{-1};
  const auto t0 = std::chrono::steady_clock::now();
  std::thread waiter([&] { result = lnk.waitReadable(20000); });
  std::this_thread::sleep_for(50ms);
  lnk.close();
  waiter.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
}

TEST_F(LnkioTcp, ResetAfterThresholdWriteDropsTheLinkAndItComesBack) {
  sim::SimConfig c;
  c.resetMs = 300;
  c.behaviour.level = 100;
  auto sim = StartSim(c);
  ASSERT_EQ(OpenSim(), kLnkioOk);
  EXPECT_EQ(lnk.Write(kOpenFrame), kLnkioOk);
  EXPECT_EQ(lnk.Write(kLevelRead), kLnkioOk);
  EXPECT_EQ(lnk.NextReply().bytes, (Bytes{'1', '0', '0', '6', '4', 0x00}));
  EXPECT_EQ(lnk.Write(ThresholdWrite(35)), kLnkioOk);
  EXPECT_EQ(lnk.Write(kAfterWrite), kLnkioOk);
  EXPECT_EQ(lnk.Write(kCloseFrame), kLnkioOk);

  // The peer's close is noticed without any read or write.
  const auto t0 = std::chrono::steady_clock::now();
  while (lnk.isOpen() && std::chrono::steady_clock::now() - t0 < 5s) lnk.waitReadable(1000);
  EXPECT_EQ(lnk.isOpen(), 0);
  EXPECT_EQ(lnk.isOnline(), 0);
  const auto report = sim->Report();
  EXPECT_EQ(report.record.threshold, 35);
  EXPECT_EQ(report.resets, 1);
  int32_t written = 9;
  EXPECT_NE(lnk.Write(kModelQuery, &written), kLnkioOk);
  EXPECT_EQ(written, 0);

  int code = 0;
  for (int i = 0; i < 50 && code != kLnkioOk; ++i) {
    code = OpenSim(500);
    if (code != kLnkioOk) std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(code, kLnkioOk);
  EXPECT_EQ(lnk.Write(kModelQuery), kLnkioOk);
  EXPECT_EQ(lnk.NextReply().bytes.size(), 9u);
}

TEST_F(LnkioTcp, LinkDroppedMidExchangeIsReported) {
  sim::SimConfig c;
  c.behaviour.faults = {sim::Fault::kDrop};
  c.resetMs = 0;
  auto sim = StartSim(c);
  ASSERT_EQ(OpenSim(), kLnkioOk);
  EXPECT_EQ(lnk.Write(kOpenFrame), kLnkioOk);
  EXPECT_EQ(lnk.Write(kLevelRead), kLnkioOk);
  EXPECT_EQ(lnk.Next(3000ms).code, kLnkioReadNothing);
  EXPECT_EQ(lnk.isOpen(), 0);
  EXPECT_EQ(sim->Report().drops, 1);
  EXPECT_EQ(sim->Report().record.threshold, -1);
}

}  // namespace
}  // namespace tw::lnkio::testing
