// The raw receive queue and the data-arrived event: the path by which a
// backend thread hands received blocks to readers on callers' threads.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "portlib/manager/block_queue.h"
#include "portlib/manager/kp_comm.h"
#include "portlib/manager/manual_reset_event.h"

namespace tw::portwire {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(BlockQueue, BlockLargerThanTheBufferStaysForALargerRead) {
  CBlockQueue queue;
  uint8_t small[4] = {};
  uint32_t length = 99;
  EXPECT_EQ(queue.TakeInto(small, sizeof small, &length), CBlockQueue::TakeResult::kEmpty);
  EXPECT_EQ(length, 99u);

  queue.Push(Bytes(10, 0x41));
  queue.Push(Bytes{0x42});
  EXPECT_EQ(queue.TakeInto(small, sizeof small, &length), CBlockQueue::TakeResult::kTooSmall);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(queue.Size(), 2u);

  uint8_t big[16] = {};
  EXPECT_EQ(queue.TakeInto(big, sizeof big, &length), CBlockQueue::TakeResult::kTaken);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(big[9], 0x41);
  EXPECT_EQ(queue.Pop(), (Bytes{0x42}));
  EXPECT_TRUE(queue.Empty());
  // A null buffer never receives bytes.
  queue.Push(Bytes{1});
  EXPECT_EQ(queue.TakeInto(nullptr, 16, nullptr), CBlockQueue::TakeResult::kTooSmall);
}

TEST(BlockQueue, BeyondItsBoundTheOldestBlocksAreDroppedAndCounted) {
  CBlockQueue queue(100);
  EXPECT_EQ(queue.Push(Bytes(60, 1)), 0u);
  EXPECT_EQ(queue.Push(Bytes(30, 2)), 0u);
  EXPECT_EQ(queue.Push(Bytes(20, 3)), 60u);  // 110 > 100: the first goes
  EXPECT_EQ(queue.QueuedBytes(), 50u);
  EXPECT_EQ(queue.Pop(), Bytes(30, 2));
  // One block larger than the bound is kept on its own.
  EXPECT_EQ(queue.Push(Bytes(500, 4)), 20u);
  EXPECT_EQ(queue.Size(), 1u);
  EXPECT_EQ(queue.DroppedBytes(), 80u);
  EXPECT_EQ(queue.DroppedBlocks(), 2u);
  queue.Clear();
  EXPECT_EQ(queue.QueuedBytes(), 0u);
}

TEST(ReceiveQueue, AFloodNobodyReadsStaysWithinTheBound) {
  KPComm manager;
  const Bytes block(65791, 0x41);
  for (int i = 0; i < 200; ++i) manager.DeliverData(block);  // about 13 MB
  EXPECT_LE(manager.RawReceiveQueue().QueuedBytes(), CBlockQueue::kMaxQueuedBytes);
  EXPECT_GT(manager.RawReceiveQueue().DroppedBlocks(), 0u);
  manager.DeliverData(Bytes{0x37, 0x4D, 0x00});  // the newest is always readable
  uint8_t buffer[65791];
  uint32_t length = 0;
  while (manager.RawReceiveQueue().TakeInto(buffer, sizeof buffer, &length) == CBlockQueue::TakeResult::kTaken &&
         length != 3) {
  }
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(buffer[0], 0x37);
}

TEST(ReceiveQueue, BlocksDeliveredByABackendThreadArriveInOrder) {
  KPComm manager;
  constexpr int kBlocks = 3000;
  std::thread monitor([&] {
    for (int i = 0; i < kBlocks; ++i) {
      manager.DeliverData(Bytes{static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(i >> 8)});
    }
  });
  // The reader's pattern: look, reset, wait, look again.
  int next = 0;
  uint8_t buffer[8];
  while (next < kBlocks) {
    uint32_t length = 0;
    const auto r = manager.RawReceiveQueue().TakeInto(buffer, sizeof buffer, &length);
    if (r == CBlockQueue::TakeResult::kTaken) {
      ASSERT_EQ(length, 2u);
      ASSERT_EQ(buffer[0] | (buffer[1] << 8), next);
      ++next;
      continue;
    }
    manager.DataArrivedEvent().Reset();
    if (manager.RawReceiveQueue().Empty()) {
      ASSERT_TRUE(manager.DataArrivedEvent().Wait(10000));
    }
  }
  monitor.join();
}

TEST(ReceiveQueue, PurgeFromACallerRacesSafelyWithDelivery) {
  KPComm manager;
  std::atomic<bool> stop{false};
  std::thread monitor([&] {
    while (!stop.load()) manager.DeliverData(Bytes{1, 2, 3});
  });
  for (int i = 0; i < 200; ++i) {
    manager.Purge();
    manager.ReplyQueue().Clear();
  }
  stop.store(true);
  monitor.join();
  manager.Purge();
  EXPECT_TRUE(manager.RawReceiveQueue().Empty());
}

}  // namespace
}  // namespace tw::portwire
