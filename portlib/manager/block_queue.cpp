#include "portlib/manager/block_queue.h"

#include <algorithm>

namespace tw::portwire {

void CBlockQueue::Push(std::vector<uint8_t> block) {
  std::lock_guard<std::mutex> guard(lock_);
  blocks_.push_back(std::move(block));
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
  blocks_.pop_front();
  return TakeResult::kTaken;
}

void CBlockQueue::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  blocks_.clear();
}

}  // namespace tw::portwire
