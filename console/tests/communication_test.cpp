#include <gtest/gtest.h>

#include "console/adjustment_bof.h"
#include "console/printer_commands.h"
#include "console/test_manager.h"
#include "console/tests/fake_printer.h"

namespace tw::console {
namespace {

using testing::FakePrinter;
using testing::RecordingConsole;
namespace cmd = commands;

TEST(PrinterCommands, FramesAsSentOnTheWire) {
  EXPECT_EQ(cmd::BuildFrame(cmd::kFrameOpen), (ByteArray{0x1C, 0x7C, 0x7F, 0x24, 0x01, 0xFE, 0x80, 0x00, 0x00}));
  EXPECT_EQ(cmd::BuildFrame(cmd::kFrameLevelRead, cmd::kLevelReadData),
            (ByteArray{0x1C, 0x7C, 0x7F, 0x24, 0x0A, 0xF5, 0x05, 0x01, 0x00, 0x40}));
  EXPECT_EQ(cmd::BuildFrame(cmd::kFrameWriteItem, {0x0B, 0x23}),
            (ByteArray{0x1C, 0x7C, 0x7F, 0x24, 0x16, 0xE9, 0x0B, 0x03, 0x00, 0x0B, 0x23, 0xD1}));
  EXPECT_EQ(cmd::BuildFrame(cmd::kFrameAfterWrite), (ByteArray{0x1C, 0x7C, 0x7F, 0x24, 0x63, 0x9C, 0xB1, 0x00, 0x00}));
  EXPECT_EQ(cmd::BuildFrame(cmd::kFrameClose), (ByteArray{0x1C, 0x7C, 0x7F, 0x24, 0x02, 0xFD, 0x01, 0x00, 0x00}));
  // Checksum byte: 0xF4 - threshold for every threshold.
  for (int th = 0; th < 256; ++th) {
    EXPECT_EQ(cmd::BuildFrame(cmd::kFrameWriteItem, {0x0B, static_cast<uint8_t>(th)}).back(),
              static_cast<uint8_t>(0xF4 - th));
  }
}

TEST(PrinterCommands, ThresholdTableAndLevelReplies) {
  const std::pair<uint16_t, uint8_t> table[] = {{0, 21},   {60, 21},  {61, 21},  {100, 35},
                                                {200, 70}, {230, 80}, {231, 81}, {65535, 81}};
  for (auto [level, threshold] : table) EXPECT_EQ(cmd::ThresholdForLevel(level), threshold) << level;

  EXPECT_EQ(cmd::ParseLevelReply({0x31, 0x30, 0x30, 0x36, 0x34, 0x00}), 0x64);
  EXPECT_EQ(cmd::ParseLevelReply({'1', 'f', 'F', 'f', 'F', 0x00, 'x'}), 0xFFFF);
  EXPECT_EQ(cmd::ParseLevelReply({'1', '1', 'Z', '3', '4', 0x00}), 0x1);  // stops at the first non-digit
  EXPECT_FALSE(cmd::ParseLevelReply({'1', '0', '0', '6', '4'}));
  EXPECT_FALSE(cmd::ParseLevelReply({'2', '0', '0', '6', '4', 0x00}));
  EXPECT_FALSE(cmd::ParseLevelReply({'1', '0', '0', '6', '4', '4'}));

  EXPECT_TRUE(cmd::IsReadyReply({0, 0, 0x30, 0}));
  EXPECT_FALSE(cmd::IsReadyReply({0, 0, 0x30}));
  EXPECT_FALSE(cmd::IsReadyReply({0, 0, 0x31, 0}));
}

TEST(CommunicationTest, PassingPrinter) {
  FakePrinter printer;
  printer.pending.push_back({0xAA});  // stale bytes from an earlier exchange
  printer.pending.push_back({0xBB});
  RecordingConsole console;
  EXPECT_EQ(CTestManager(console).Run(&printer), 0);
  EXPECT_EQ(console.output, "...\n");
  EXPECT_EQ(printer.written, (std::vector<ByteArray>{cmd::kBufferClear, cmd::kModelQuery, cmd::kSecondQuery}));
  // Drain reads with 100 ms until one fails, then everything uses 1000 ms.
  EXPECT_EQ(printer.readTimeouts, (std::vector<int32_t>{100, 100, 100, 1000, 1000, 1000}));
  EXPECT_EQ(printer.writeTimeouts, (std::vector<int32_t>{1000, 1000, 1000}));
}

TEST(CommunicationTest, ClearIsBestEffort) {
  FakePrinter printer;
  printer.answer = [](const ByteArray& c) {
    return c == cmd::kBufferClear ? std::vector<ByteArray>{} : FakePrinter::DefaultAnswer(c, 100);
  };
  RecordingConsole console;
  EXPECT_EQ(CTestManager(console).Run(&printer), 0);
  EXPECT_EQ(printer.CountWritten(cmd::kBufferClear), 5u);
  EXPECT_EQ(console.sleeps, std::vector<int>(5, 500));
}

TEST(CommunicationTest, ModelReplyRules) {
  RecordingConsole console;
  {  // four bytes are too short
    FakePrinter printer;
    printer.answer = [](const ByteArray& c) {
      return c == cmd::kModelQuery ? std::vector<ByteArray>{{0x10, 0x14, 0x12, '$'}} : FakePrinter::DefaultAnswer(c, 0);
    };
    EXPECT_EQ(CTestManager(console).Run(&printer), 3);
  }
  {  // another model; the second query is not sent
    FakePrinter printer;
    printer.answer = [](const ByteArray& c) {
      return c == cmd::kModelQuery ? std::vector<ByteArray>{FakePrinter::ModelReply('#')}
                                   : FakePrinter::DefaultAnswer(c, 0);
    };
    console.output.clear();
    EXPECT_EQ(CTestManager(console).Run(&printer), 6);
    EXPECT_EQ(console.output, "..\n");
    EXPECT_EQ(printer.CountWritten(cmd::kSecondQuery), 0u);
  }
  {  // the second query goes unanswered
    FakePrinter printer;
    printer.answer = [](const ByteArray& c) {
      return c == cmd::kSecondQuery ? std::vector<ByteArray>{} : FakePrinter::DefaultAnswer(c, 0);
    };
    EXPECT_EQ(CTestManager(console).Run(&printer), 3);
  }
  {  // silent printer
    FakePrinter printer;
    printer.answer = [](const ByteArray&) { return std::vector<ByteArray>{}; };
    console.output.clear();
    EXPECT_EQ(CTestManager(console).Run(&printer), 3);
    EXPECT_EQ(console.output, ".\n");
  }
  EXPECT_EQ(CTestManager(console).Run(nullptr), 5);
}

TEST(CommunicationTest, EndlessStreamDoesNotHangTheDrain) {
  FakePrinter printer;
  for (int i = 0; i < kDrainMaxBlocks + 10; ++i) printer.pending.push_back({0x01});
  RecordingConsole console;
  CTestManager(console).Run(&printer);
  EXPECT_EQ(printer.readTimeouts.front(), 100);
  EXPECT_EQ(std::count(printer.readTimeouts.begin(), printer.readTimeouts.end(), 100), kDrainMaxBlocks);
}

class AdjustmentTest : public ::testing::Test {
 protected:
  int32_t Run() { return CAdjustmentBOF(console).Run(&printer); }
  FakePrinter printer;
  RecordingConsole console;
};

TEST_F(AdjustmentTest, SuccessfulRunWritesEveryFrame) {
  printer.level = 200;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(console.output, ".......\n");
  const std::vector<ByteArray> expected = {
      cmd::kReadinessQuery,
      cmd::BuildFrame(cmd::kFrameOpen),
      cmd::BuildFrame(cmd::kFrameLevelRead, cmd::kLevelReadData),
      cmd::BuildFrame(cmd::kFrameWriteItem, {0x0B, 70}),
      cmd::BuildFrame(cmd::kFrameAfterWrite),
      cmd::BuildFrame(cmd::kFrameClose),
  };
  EXPECT_EQ(printer.written, expected);
  EXPECT_EQ(printer.writeTimeouts, std::vector<int32_t>(6, 3000));
}

TEST_F(AdjustmentTest, WaitsForReadiness) {
  int queries = 0;
  printer.answer = [&](const ByteArray& c) {
    if (c == cmd::kReadinessQuery && ++queries < 3) return std::vector<ByteArray>{{0x10, 0x14, 0x31, 0x00}};
    return FakePrinter::DefaultAnswer(c, 100);
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(console.sleeps, (std::vector<int>{1000, 1000}));
  EXPECT_EQ(printer.written.end()[-3], cmd::BuildFrame(cmd::kFrameWriteItem, {0x0B, 35}));
}

TEST_F(AdjustmentTest, NeverReadyGivesUpAfterTenAttempts) {
  printer.answer = [](const ByteArray& c) {
    return c == cmd::kReadinessQuery ? std::vector<ByteArray>{{0x10, 0x14, 0x30}} : std::vector<ByteArray>{};
  };
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(console.output, "\n");
  EXPECT_EQ(printer.CountWritten(cmd::kReadinessQuery), 10u);
  EXPECT_EQ(printer.written.size(), 10u);  // no frame at all
}

TEST_F(AdjustmentTest, ReadinessTimeoutEndsAtOnce) {
  printer.answer = [](const ByteArray&) { return std::vector<ByteArray>{}; };
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(printer.written.size(), 1u);
  EXPECT_TRUE(console.sleeps.empty());
}

TEST_F(AdjustmentTest, FailedStepIsReportedAndTheExchangeStillCloses) {
  const ByteArray closing = cmd::BuildFrame(cmd::kFrameClose);
  for (uint8_t failing : {cmd::kFrameOpen, cmd::kFrameLevelRead, cmd::kFrameWriteItem, cmd::kFrameAfterWrite}) {
    FakePrinter p;
    p.failWrite = [failing](const ByteArray& c) { return c.size() > 4 && c[0] == 0x1C && c[4] == failing; };
    RecordingConsole out;
    EXPECT_EQ(CAdjustmentBOF(out).Run(&p), 3) << int(failing);
    EXPECT_EQ(p.written.back(), closing);
    EXPECT_EQ(p.CountWritten(closing), 1u);
  }
}

TEST_F(AdjustmentTest, GarbageLevelReplyWritesNoThreshold) {
  printer.answer = [](const ByteArray& c) {
    if (c == cmd::BuildFrame(cmd::kFrameLevelRead, cmd::kLevelReadData))
      return std::vector<ByteArray>{{'1', '0', '0', '6', '4'}};
    return FakePrinter::DefaultAnswer(c, 0);
  };
  EXPECT_EQ(Run(), 3);
  for (const auto& c : printer.written) EXPECT_NE(c[4 % c.size()], cmd::kFrameWriteItem);
  EXPECT_EQ(printer.written.back(), cmd::BuildFrame(cmd::kFrameClose));
  EXPECT_EQ(console.output, "...\n");
}

TEST_F(AdjustmentTest, FailedClosingFrameFailsAnOtherwiseGoodRun) {
  printer.failWrite = [](const ByteArray& c) { return c == cmd::BuildFrame(cmd::kFrameClose); };
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(console.output, "......\n");
  EXPECT_EQ(CAdjustmentBOF(console).Run(nullptr), 5);
}

}  // namespace
}  // namespace tw::console
