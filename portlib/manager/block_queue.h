#pragma once
// A first-in first-out queue of received byte blocks with a lock of its own.
// The manager's raw receive queue and reply queue are of this type: a backend
// thread appends, callers' threads take and purge.
//
// The queue holds at most kMaxQueuedBytes (4 MiB, far above any real stream of
// replies that a client leaves unread). A device that sends without end while
// nobody reads (a faulty printer, a wrong baud rate, a hostile peer on the
// network) makes the queue drop its oldest blocks instead of growing: memory
// stays flat, the newest data stays readable, and what was dropped is counted.
// The newest block is always kept, even when it alone is larger.

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

  static constexpr size_t kMaxQueuedBytes = 4u * 1024u * 1024u;

  explicit CBlockQueue(size_t maxBytes = kMaxQueuedBytes) : maxBytes_(maxBytes) {}

  // Appends a block; returns the number of bytes dropped from the front to
  // stay within the bound (0 normally).
  size_t Push(std::vector<uint8_t> block);
  bool Empty() const;
  size_t Size() const;
  // Removes and returns the oldest block.
  std::optional<std::vector<uint8_t>> Pop();
  // One atomic step of a read: the oldest block's length goes to *outLength
  // (when given) unless the queue is empty; it is copied into `buffer` and
  // removed only when it fits into `size` bytes.
  TakeResult TakeInto(uint8_t* buffer, uint32_t size, uint32_t* outLength);
  void Clear();

  // Bytes queued now, and bytes and blocks dropped since construction.
  size_t QueuedBytes() const;
  uint64_t DroppedBytes() const;
  uint64_t DroppedBlocks() const;

 private:
  void RemoveFrontLocked();

  const size_t maxBytes_;
  mutable std::mutex lock_;
  std::deque<std::vector<uint8_t>> blocks_;
  size_t bytes_ = 0;            // lock_
  uint64_t droppedBytes_ = 0;   // lock_
  uint64_t droppedBlocks_ = 0;  // lock_
};

}  // namespace tw::portwire
