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
