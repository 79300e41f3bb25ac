// The simulated printer's command handling, without a transport.
#include "sim/printer/sim_protocol.h"

#include <gtest/gtest.h>

namespace tw::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<SimOutcome> Feed(SimProtocol& p, const Bytes& b) { return p.Feed(b.data(), b.size()); }

Bytes Frame(std::uint8_t t, Bytes data, bool checksum) {
  Bytes f{0x1C, 0x7C, 0x7F, 0x24, t, static_cast<std::uint8_t>(~t), static_cast<std::uint8_t>((t >> 1) | (t << 7))};
  unsigned sum = 0;
  for (auto b : data) sum += b;
  const std::size_t n = data.size() + (checksum ? 1 : 0);
  f.push_back(static_cast<std::uint8_t>(n));
  f.push_back(static_cast<std::uint8_t>(n >> 8));
  f.insert(f.end(), data.begin(), data.end());
  if (checksum) f.push_back(static_cast<std::uint8_t>(0xFF - sum));
  return f;
}

TEST(SimProtocol, AdjustmentSequenceStoresThresholdAndResets) {
  SimBehaviour b;
  b.level = 0x1234;
  SimProtocol p(b);
  EXPECT_FALSE(Feed(p, Frame(1, {}, false))[0].reset);
  auto level = Feed(p, Frame(10, {0x40}, false));
  ASSERT_EQ(level.size(), 1u);
  EXPECT_EQ(level[0].reply, (Bytes{'1', '1', '2', '3', '4', 0x00}));
  // The exact bytes of the threshold write for 35.
  Feed(p, {0x1C, 0x7C, 0x7F, 0x24, 0x16, 0xE9, 0x0B, 0x03, 0x00, 0x0B, 0x23, 0xD1});
  EXPECT_EQ(p.Record().threshold, 35);
  Feed(p, Frame(99, {}, false));
  auto close = Feed(p, Frame(2, {}, false));
  ASSERT_EQ(close.size(), 1u);
  EXPECT_TRUE(close[0].reset);
  EXPECT_EQ(p.Record().commands,
            (std::vector<std::string>{"frame_open", "frame_level_read", "frame_threshold_write", "frame_after_write",
                                      "frame_close"}));
}

TEST(SimProtocol, BadChecksumIsNotStoredAndClosingWithoutWriteDoesNotReset) {
  SimProtocol p({});
  Feed(p, Frame(1, {}, false));
  Bytes bad = Frame(22, {0x0B, 0x23}, true);
  bad.back() ^= 0x01;
  Feed(p, bad);
  EXPECT_EQ(p.Record().threshold, -1);
  EXPECT_EQ(p.Record().badChecksums, 1);
  EXPECT_FALSE(Feed(p, Frame(2, {}, false))[0].reset);
}

TEST(SimProtocol, CommandsSplitAcrossFeedsAndNoiseBetweenThem) {
  SimProtocol p({});
  const Bytes query{0x10, 0x14, 0x12, 0x00, 0x00};
  EXPECT_TRUE(Feed(p, {0xAA, query[0], query[1]}).size() == 1);  // the noise byte only
  EXPECT_EQ(p.Record().unknownBytes, 1u);
  auto out = Feed(p, {query[2], query[3], query[4], 0x1D, 0x61});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].reply[3], '$');
  out = Feed(p, {0xFF});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].command, "status_enable");
  EXPECT_EQ(out[0].reply, (Bytes{0x10, 0, 0, 0}));
  EXPECT_TRUE(p.Record().statusEnabled);
}

TEST(SimProtocol, FaultModesAndReadiness) {
  const Bytes ready{0x10, 0x14, 0x06, 0x01, 0x03, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08};
  SimBehaviour b;
  b.notReadyCount = 2;
  SimProtocol p(b);
  EXPECT_EQ(Feed(p, ready)[0].reply[2], '1');
  EXPECT_EQ(Feed(p, ready)[0].reply[2], '1');
  EXPECT_EQ(Feed(p, ready)[0].reply, (Bytes{0x37, 0x22, '0', 0x00}));

  b = {};
  b.faults = {Fault::kNeverReady, Fault::kOtherModel};
  SimProtocol other(b);
  EXPECT_EQ(Feed(other, ready)[0].reply[2], '1');
  EXPECT_NE(Feed(other, {0x10, 0x14, 0x12, 0x00, 0x00})[0].reply[3], '$');

  b = {};
  b.faults = {Fault::kSilent};
  SimProtocol silent(b);
  auto out = Feed(silent, {0x10, 0x14, 0x12, 0x00, 0x00, 0x1D, 0x61, 0x01});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].reply.empty() && out[1].reply.empty());
  EXPECT_EQ(silent.Record().statusPackets, 0);

  b = {};
  b.faults = {Fault::kDrop};
  SimProtocol drop(b);
  out = Feed(drop, Frame(10, {0x40}, false));
  EXPECT_TRUE(out[0].dropLink);
  EXPECT_TRUE(out[0].reply.empty());

  b = {};
  b.faults = {Fault::kOddReply};
  SimProtocol odd(b);
  out = Feed(odd, {0x1D, 0x49, 0x43});
  EXPECT_EQ(out[0].reply, (Bytes{0x41, 0x42, 0x43, 0x44, 0x45, 0x10, 0x00, 0x00, 0x00}));
  EXPECT_EQ(odd.Record().statusPackets, 1);

  Fault f;
  EXPECT_TRUE(ParseFault("odd-reply", &f));
  EXPECT_STREQ(FaultName(f), "odd-reply");
  EXPECT_TRUE(ParseFault("byte-by-byte", &f));
  EXPECT_EQ(f, Fault::kByteByByte);
  EXPECT_FALSE(ParseFault("sleepy", &f));
}

}  // namespace
}  // namespace tw::sim
