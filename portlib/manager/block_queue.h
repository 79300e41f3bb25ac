#pragma once
// A first-in first-out queue of received byte blocks with a lock of its own.
// The manager's raw receive queue and reply queue are of this type: a backend
// thread appends, callers' threads take and purge.

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace tw::portwire {

class CBlockQueue {
 public:
  enum class TakeResult {
    kEmpty,     // nothing queued
    kTooSmall,  // the oldest block is larger than the buffer; it stays queued
    kTaken,     // the oldest block was copied out and removed
  };

  void Push(std::vector<uint8_t> block);
  bool Empty() const;
  size_t Size() const;
  // Removes and returns the oldest block.
  std::optional<std::vector<uint8_t>> Pop();
  // One atomic step of a read: the oldest block's length goes to *outLength
  // (when given) unless the queue is empty; it is copied into `buffer` and
  // removed only when it fits into `size` bytes.
  TakeResult TakeInto(uint8_t* buffer, uint32_t size, uint32_t* outLength);
  void Clear();

 private:
  mutable std::mutex lock_;
  std::deque<std::vector<uint8_t>> blocks_;
};

}  // namespace tw::portwire
