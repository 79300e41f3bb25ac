#include "portlib/manager/store_response.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace tw::portwire {
namespace {

using Bytes = std::vector<uint8_t>;

int32_t Feed(CStoreResponse& store, const Bytes& bytes) { return store.Store(bytes.data(), static_cast<uint32_t>(bytes.size())); }

std::vector<Bytes> AllResponses(CStoreResponse& store) {
  std::vector<Bytes> out;
  Bytes b;
  while (store.TakeResponse(b) == 0) out.push_back(b);
  return out;
}

std::vector<std::pair<int32_t, Bytes>> AllStatuses(CStoreResponse& store) {
  std::vector<std::pair<int32_t, Bytes>> out;
  int32_t kind = 0;
  Bytes b;
  while (store.TakeStatus(&kind, b) == 0) out.emplace_back(kind, b);
  return out;
}

TEST(StoreResponse, FourByteStatusIsKeptOrDroppedByItsFollowingBytes) {
  CStoreResponse store;
  EXPECT_EQ(Feed(store, {0x14, 0x00, 0x00, 0x0F}), 0);
  EXPECT_EQ(Feed(store, {0x14, 0x00, 0x80, 0x0F}), 0);  // dropped, but still completed
  const auto statuses = AllStatuses(store);
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].first, 2);
  EXPECT_EQ(statuses[0].second, (Bytes{0x14, 0x00, 0x00, 0x0F}));
  EXPECT_TRUE(AllResponses(store).empty());
}

TEST(StoreResponse, ADeviceFloodingOneByteRepliesKeepsOnlyTheNewest) {
  CStoreResponse store;
  const size_t flood = CStoreResponse::kMaxStoredPackets + 10;
  Bytes bytes;
  for (size_t i = 0; i < flood; ++i) bytes.push_back(static_cast<uint8_t>(i % 16));  // one-byte replies
  Feed(store, bytes);
  EXPECT_EQ(store.ResponseCount(), CStoreResponse::kMaxStoredPackets);
  Bytes first;
  ASSERT_EQ(store.TakeResponse(first), 0);
  EXPECT_EQ(first, (Bytes{static_cast<uint8_t>(10 % 16)}));  // the ten oldest went
}

TEST(StoreResponse, PacketSplitAcrossCallsCompletesOnce) {
  CStoreResponse store;
  EXPECT_EQ(Feed(store, {0x5F, 0x41}), 1);
  EXPECT_EQ(store.ResponseCount(), 0u);
  EXPECT_EQ(Feed(store, {0x42, 0x43, 0x00}), 0);
  const auto responses = AllResponses(store);
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0], (Bytes{0x5F, 0x41, 0x42, 0x43, 0x00}));
}

TEST(StoreResponse, ZeroTerminatedPacketsAreSortedByTheirFirstBytes) {
  CStoreResponse store;
  Feed(store, {0x35, 0x40, 0x40, 0x00});        // "5" report
  Feed(store, {0x37, 0x45, 0x31, 0x33, 0x00});  // battery report
  Feed(store, {0x39, 0x40, 0x00});              // "9" report
  Feed(store, {0x37, 0x25, 0x00});              // an answer: buffer clear
  const auto statuses = AllStatuses(store);
  ASSERT_EQ(statuses.size(), 3u);
  EXPECT_EQ(statuses[0].first, 6);
  EXPECT_EQ(statuses[1].first, 5);
  EXPECT_EQ(statuses[1].second.size(), 5u);
  EXPECT_EQ(statuses[2].first, 7);
  const auto responses = AllResponses(store);
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0], (Bytes{0x37, 0x25, 0x00}));
}

TEST(StoreResponse, FlowControlBytesAreDiscardedAnywhereBetweenPackets) {
  CStoreResponse store;
  EXPECT_EQ(Feed(store, {0x11}), 1);
  EXPECT_EQ(store.ResponseCount() + store.StatusCount(), 0u);
  // XON/XOFF between packets vanish; inside a kind 3 packet 0x13 is data.
  EXPECT_EQ(Feed(store, {0x13, 0x12, 0x11, 0x5F, 0x13, 0x00}), 0);
  const auto responses = AllResponses(store);
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_EQ(responses[0], (Bytes{0x12}));
  EXPECT_EQ(responses[1], (Bytes{0x5F, 0x13, 0x00}));
}

TEST(StoreResponse, LengthPrefixedPacketsTakeTheirStatedLength) {
  CStoreResponse store;
  EXPECT_EQ(Feed(store, {0x53, 0x01, 0x02, 0x00, 0x00}), 0);
  EXPECT_EQ(Feed(store, {0x53, 0x01, 0x02, 0x02, 0x00, 0x41, 0x42}), 0);
  EXPECT_EQ(Feed(store, {0x53, 0x01, 0x02, 0x03, 0x00}), 1);
  EXPECT_EQ(Feed(store, {0x00, 0x11}), 1);  // payload bytes, whatever they look like
  EXPECT_EQ(Feed(store, {0x90, 0x12}), 0);  // last payload byte, then a 1-byte response
  const auto responses = AllResponses(store);
  ASSERT_EQ(responses.size(), 4u);
  EXPECT_EQ(responses[0].size(), 5u);
  EXPECT_EQ(responses[1], (Bytes{0x53, 0x01, 0x02, 0x02, 0x00, 0x41, 0x42}));
  EXPECT_EQ(responses[2], (Bytes{0x53, 0x01, 0x02, 0x03, 0x00, 0x00, 0x11, 0x90}));
  EXPECT_EQ(responses[3], (Bytes{0x12}));
  // A length of 256 * byte4 + byte3.
  Bytes big = {0x53, 0x00, 0x00, 0x00, 0x01};
  big.resize(5 + 256, 0x20);
  EXPECT_EQ(Feed(store, big), 0);
  EXPECT_EQ(AllResponses(store).at(0).size(), 261u);
}

TEST(StoreResponse, UnknownByteIsAStatusOnlyAfterAStatusInTheSameCall) {
  CStoreResponse store;
  EXPECT_EQ(Feed(store, {0x90}), 0);
  auto responses = AllResponses(store);
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0], (Bytes{0x90}));

  EXPECT_EQ(Feed(store, {0x14, 0x00, 0x00, 0x00, 0x90, 0x01, 0x02, 0x03}), 0);
  auto statuses = AllStatuses(store);
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[0].first, 2);
  EXPECT_EQ(statuses[1].first, 8);
  EXPECT_EQ(statuses[1].second, (Bytes{0x90, 0x01, 0x02, 0x03}));

  // The memory of a completed status does not outlive its Store call.
  Feed(store, {0x14, 0x00, 0x00, 0x00});
  Feed(store, {0xA0});
  EXPECT_EQ(AllStatuses(store).size(), 1u);
  EXPECT_EQ(AllResponses(store).size(), 1u);
}

TEST(StoreResponse, MixedStreamKeepsOrderWhetherFedWholeOrByteByByte) {
  const Bytes stream = {0x5F, 0x4B, 0x50, 0x00, 0x14, 0x00, 0x00, 0x00, 0x37, 0x25, 0x00,
                        0x35, 0x02, 0x00, 0x53, 0x09, 0x09, 0x01, 0x00, 0x7A, 0x02};
  CStoreResponse whole, pieces;
  EXPECT_EQ(Feed(whole, stream), 0);
  for (uint8_t b : stream) pieces.Store(&b, 1);
  for (CStoreResponse* s : {&whole, &pieces}) {
    const auto responses = AllResponses(*s);
    ASSERT_EQ(responses.size(), 4u);
    EXPECT_EQ(responses[0], (Bytes{0x5F, 0x4B, 0x50, 0x00}));
    EXPECT_EQ(responses[1], (Bytes{0x37, 0x25, 0x00}));
    EXPECT_EQ(responses[2], (Bytes{0x53, 0x09, 0x09, 0x01, 0x00, 0x7A}));
    EXPECT_EQ(responses[3], (Bytes{0x02}));
    const auto statuses = AllStatuses(*s);
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].first, 2);
    EXPECT_EQ(statuses[1].first, 6);
  }
}

TEST(StoreResponse, BadArgumentsAndClear) {
  CStoreResponse store;
  const uint8_t b = 0x12;
  EXPECT_EQ(store.Store(nullptr, 1), -1);
  EXPECT_EQ(store.Store(&b, 0), -1);

  Feed(store, {0x14, 0x00, 0x00, 0x00});
  Bytes out = {1, 2, 3};
  EXPECT_EQ(store.TakeStatus(nullptr, out), -1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(store.StatusCount(), 1u);

  // Clear forgets an unfinished packet too: the next byte starts afresh.
  Feed(store, {0x53, 0x01, 0x02, 0x03, 0x00});
  store.Clear();
  EXPECT_EQ(store.StatusCount(), 0u);
  EXPECT_EQ(Feed(store, {0x12}), 0);
  EXPECT_EQ(AllResponses(store), (std::vector<Bytes>{{0x12}}));
  EXPECT_EQ(store.TakeResponse(out), 1);
  EXPECT_TRUE(out.empty());
}

TEST(StoreResponse, AStreamThatNeverEndsItsPacketIsCapped) {
  CStoreResponse store;
  // A reply that starts like "1..." and never sends its zero byte.
  const Bytes chunk(4096, 0x31);
  const size_t fed = CStoreResponse::kMaxPendingBytes + 10 * chunk.size();
  for (size_t n = 0; n < fed; n += chunk.size()) EXPECT_EQ(Feed(store, chunk), 1);
  EXPECT_EQ(store.PendingBytes(), CStoreResponse::kMaxPendingBytes);
  // Its end drops the cut packet; what follows is stored as usual.
  EXPECT_EQ(Feed(store, Bytes{0x00, 0x31, 0x32, 0x00}), 0);
  EXPECT_EQ(store.PendingBytes(), 0u);
  EXPECT_EQ(AllResponses(store), (std::vector<Bytes>{{0x31, 0x32, 0x00}}));
}

TEST(StoreResponse, ConcurrentFeedAndTakeLoseNothing) {
  CStoreResponse store;
  constexpr int kPackets = 2000;
  std::thread feeder([&] {
    for (int i = 0; i < kPackets; ++i) {
      const Bytes packet = {0x5F, static_cast<uint8_t>('A' + i % 26), 0x00, 0x14, 0x00, 0x00, 0x00};
      // Split at a different point each time.
      const size_t cut = static_cast<size_t>(i) % packet.size();
      if (cut > 0) store.Store(packet.data(), static_cast<uint32_t>(cut));
      store.Store(packet.data() + cut, static_cast<uint32_t>(packet.size() - cut));
    }
  });
  int responses = 0, statuses = 0;
  Bytes b;
  int32_t kind = 0;
  while (responses < kPackets || statuses < kPackets) {
    if (store.TakeResponse(b) == 0) {
      ASSERT_EQ(b.size(), 3u);
      ++responses;
    }
    if (store.TakeStatus(&kind, b) == 0) {
      ASSERT_EQ(kind, 2);
      ++statuses;
    }
  }
  feeder.join();
  EXPECT_EQ(store.ResponseCount() + store.StatusCount(), 0u);
}

}  // namespace
}  // namespace tw::portwire
