#include "portlib/manager/block_queue.h"

#include <algorithm>

namespace tw::portwire {

size_t CBlockQueue::Push(std::vector<uint8_t> block) {
  std::lock_guard<std::mutex> guard(lock_);
  bytes_ += block.size();
  blocks_.push_back(std::move(block));
  size_t dropped = 0;
  while (bytes_ > maxBytes_ && blocks_.size() > 1) {
    dropped += blocks_.front().size();
    droppedBytes_ += blocks_.front().size();
    ++droppedBlocks_;
    RemoveFrontLocked();
  }
  return dropped;
}

void CBlockQueue::RemoveFrontLocked() {
  bytes_ -= blocks_.front().size();
  blocks_.pop_front();
}

size_t CBlockQueue::QueuedBytes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return bytes_;
}

uint64_t CBlockQueue::DroppedBytes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return droppedBytes_;
}

uint64_t CBlockQueue::DroppedBlocks() const {
  std::lock_guard<std::mutex> guard(lock_);
  return droppedBlocks_;
}

bool CBlockQueue::Empty() const {
  std::lock_guard<std::mutex> guard(lock_);
  return blocks_.empty();
}

size_t CBlockQueue::Size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return blocks_.size();
}

std::optional<std::vector<uint8_t>> CBlockQueue::Pop() {
  std::lock_guard<std::mutex> guard(lock_);
  if (blocks_.empty()) return std::nullopt;
  std::vector<uint8_t> block = std::move(blocks_.front());
  bytes_ -= block.size();
  blocks_.pop_front();
  return block;
}

CBlockQueue::TakeResult CBlockQueue::TakeInto(uint8_t* buffer, uint32_t size, uint32_t* outLength) {
  std::lock_guard<std::mutex> guard(lock_);
  if (blocks_.empty()) return TakeResult::kEmpty;
  const std::vector<uint8_t>& block = blocks_.front();
  if (outLength != nullptr) *outLength = static_cast<uint32_t>(block.size());
  if (block.size() > size || (buffer == nullptr && !block.empty())) return TakeResult::kTooSmall;
  std::copy(block.begin(), block.end(), buffer);
  RemoveFrontLocked();
  return TakeResult::kTaken;
}

void CBlockQueue::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  blocks_.clear();
  bytes_ = 0;
}

}  // namespace tw::portwire
