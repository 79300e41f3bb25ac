// Cutting received bytes into printer packets.
#include "lnkio/packet_framer.h"

#include <gtest/gtest.h>

#include "lnkio/lnkioapi.h"

namespace tw::lnkio {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class Framer : public ::testing::Test {
 protected:
  void Feed(const Bytes& b, Clock::duration at = 0ms) { framer.Feed(b.data(), b.size(), t0 + at); }
  std::optional<Packet> Next(Clock::duration at) { return framer.Next(t0 + at); }
  PacketFramer framer{5ms, 500ms};
  Clock::time_point t0 = Clock::now();
};

TEST_F(Framer, KnownRepliesEndAtTheirZeroByte) {
  Feed({0x37, 0x25, 0x00, '_', 'K', 'P', 0x00, '1', '0', '0', '6', '4', 0x00});
  for (const Bytes& want : {Bytes{0x37, 0x25, 0x00}, Bytes{'_', 'K', 'P', 0x00}, Bytes{'1', '0', '0', '6', '4', 0x00}}) {
    auto p = Next(0ms);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->code, kLnkioReadData);
    EXPECT_EQ(p->bytes, want);
  }
  EXPECT_FALSE(Next(10s));
}

TEST_F(Framer, SlowPartsOfAKnownReplyAreJoined) {
  Feed({0x37, 0x4D}, 0ms);
  EXPECT_FALSE(Next(100ms)) << "a partial reply waits past the quiet gap";
  EXPECT_EQ(framer.Deadline(), t0 + 500ms);
  Feed({0x30, '$'}, 200ms);
  EXPECT_FALSE(Next(400ms));
  Feed({'S', 0x00}, 450ms);
  auto p = Next(450ms);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->bytes, (Bytes{0x37, 0x4D, 0x30, '$', 'S', 0x00}));
}

TEST_F(Framer, AnUnfinishedKnownReplyIsReleasedAfterItsWait) {
  Feed({0x5F, 'K'});
  EXPECT_FALSE(Next(499ms));
  auto p = Next(500ms);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->bytes, (Bytes{0x5F, 'K'}));
  EXPECT_FALSE(framer.HasPending());
}

TEST_F(Framer, StatusAndStatusOrBatteryPackets) {
  Feed({0x10, 0x00, 0x00, 0x0F, 0x35, 0x40, 0x40, 0x00, 0x39, 0x41, 0x60, 0x00, 0x37, 0x45, 0x31, 0x33, 0x00,
        0x37, 0x45, 0x37, 0x33, 0x00});
  const std::pair<int, Bytes> want[] = {
      {kLnkioReadStatus, {0x10, 0x00, 0x00, 0x0F}},
      {kLnkioReadStatusOrBattery, {0x35, 0x40, 0x40, 0x00}},
      {kLnkioReadStatusOrBattery, {0x39, 0x41, 0x60, 0x00}},
      {kLnkioReadStatusOrBattery, {0x37, 0x45, 0x31, 0x33, 0x00}},
      {kLnkioReadData, {0x37, 0x45, 0x37, 0x33, 0x00}},  // "7" is no battery digit
  };
  for (const auto& [code, bytes] : want) {
    auto p = Next(0ms);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->code, code);
    EXPECT_EQ(p->bytes, bytes);
  }
}

TEST_F(Framer, BytesOfUnknownShapeEndAtTheQuietGap) {
  Feed({0x41, 0x42});
  Feed({0x43}, 3ms);
  EXPECT_FALSE(Next(7ms));
  EXPECT_EQ(framer.Deadline(), t0 + 8ms);
  auto p = Next(8ms);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->code, kLnkioReadData);
  EXPECT_EQ(p->bytes, (Bytes{0x41, 0x42, 0x43}));

  // A status head whose next byte breaks the pattern is plain data.
  Feed({0x10, 0x80, 0x01}, 20ms);
  EXPECT_FALSE(Next(21ms));
  p = Next(25ms);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->code, kLnkioReadData);
  EXPECT_EQ(p->bytes.size(), 3u);
}

TEST_F(Framer, AStatusPacketEndsABlockOfUnknownShape) {
  // The printer's automatic status can follow an odd reply closer than the
  // quiet gap; it must still reach the status path on its own.
  Feed({0x41, 0x42, 0x43, 0x44, 0x45});
  Feed({0x10, 0x00, 0x00, 0x00}, 1ms);
  auto p = Next(1ms);
  ASSERT_TRUE(p) << "the status ends the block at once";
  EXPECT_EQ(p->code, kLnkioReadData);
  EXPECT_EQ(p->bytes, (Bytes{0x41, 0x42, 0x43, 0x44, 0x45}));
  p = Next(1ms);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->code, kLnkioReadStatus);
  EXPECT_EQ(p->bytes, (Bytes{0x10, 0x00, 0x00, 0x00}));
  EXPECT_FALSE(Next(1s));

  // Both in one read, and more odd bytes behind the status.
  Feed({0x41, 0x42, 0x18, 0x00, 0x00, 0x00, 0x46}, 2s);
  p = Next(2s);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->bytes, (Bytes{0x41, 0x42}));
  p = Next(2s);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->code, kLnkioReadStatus);
  EXPECT_FALSE(Next(2s)) << "the odd byte behind it waits for the quiet gap";
  p = Next(3s);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->bytes, (Bytes{0x46}));

  // The start of a status at the end is not cut off before it is complete:
  // at the quiet gap everything is one block.
  Feed({0x41, 0x42, 0x10, 0x00}, 4s);
  EXPECT_FALSE(Next(4s));
  p = Next(5s);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->bytes.size(), 4u);
}

TEST_F(Framer, RunawayTextIsCutAndNeverHeldForever) {
  Bytes noZero(300, '1');
  Feed(noZero);
  EXPECT_FALSE(Next(1ms));
  auto p = Next(5ms);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->bytes.size(), 300u);
  Bytes huge(PacketFramer::kMaxPacket + 10, 0x41);
  Feed(huge, 10ms);
  p = Next(10ms);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->bytes.size(), PacketFramer::kMaxPacket);
  p = Next(20ms);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->bytes.size(), 10u);
}

}  // namespace
}  // namespace tw::lnkio
