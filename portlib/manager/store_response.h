#pragma once
// The response store: cuts a byte stream received from a printer into packets
// and sorts each into a response (an answer a caller will read) or a status
// report (automatic status, battery and similar). Bytes may arrive split at any
// point; an unfinished packet waits for the next Store call.
//
// Packet kinds by first byte b (tried in this order):
//   0x11, 0x13           flow-control byte, discarded
//   0x53 'S'             9: 5 + n bytes, n = byte3 + 256*byte4   -> responses
//   (b & 0x93) == 0x12   1: this byte alone                      -> responses
//   (b & 0x93) == 0x10   2: 4 bytes                              -> statuses, or dropped
//                           when a following byte has (x & 0x90) != 0
//   (b & 0x91) == 0x11   3: up to and including the first 0 byte, then re-kinded:
//                           "7E.." 5, "5.." 6, "9.." 7 -> statuses; else 3 -> responses
//   (b & 0x90) == 0      4: this byte alone                      -> responses
//   anything else        8: 4 bytes -> statuses, but only after a kind 2 packet was
//                           completed earlier in the same Store call; else kind 4
//
// One unfinished packet holds at most kMaxPendingBytes (128 KiB, twice the
// largest length-prefixed packet; real replies are under 100 bytes). A device
// that never sends the byte that ends a packet cannot make the store grow
// beyond that: further bytes of that packet are dropped, and so is the packet
// when it finally ends.

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace tw::portwire {

class IStoreResponse {
 public:
  virtual ~IStoreResponse() = default;
  // Feeds bytes. 0 when at least one packet was completed (stored or dropped)
  // during this call, 1 when none was, -1 when bytes is null or length is 0.
  virtual int32_t Store(const uint8_t* bytes, uint32_t length) = 0;
  // Empties `out`; moves the oldest response into it: 0, or 1 when none.
  virtual int32_t TakeResponse(std::vector<uint8_t>& out) = 0;
  // Empties `out`; null kind: -1. Moves the oldest status packet and its kind
  // out: 0, or 1 when none.
  virtual int32_t TakeStatus(int32_t* outKind, std::vector<uint8_t>& out) = 0;
  // Forgets every stored packet and the unfinished one.
  virtual void Clear() = 0;
};

class CStoreResponse final : public IStoreResponse {
 public:
  static constexpr size_t kMaxPendingBytes = 128 * 1024;
  // Completed packets nobody took: at most this many of each list are kept,
  // the oldest go first (a device that floods one-byte replies must not grow
  // memory without bound).
  static constexpr size_t kMaxStoredPackets = 32 * 1024;

  int32_t Store(const uint8_t* bytes, uint32_t length) override;
  int32_t TakeResponse(std::vector<uint8_t>& out) override;
  int32_t TakeStatus(int32_t* outKind, std::vector<uint8_t>& out) override;
  void Clear() override;

  // Numbers of packets waiting (for diagnostics and tests).
  size_t ResponseCount() const;
  size_t StatusCount() const;
  // Bytes held for the unfinished packet.
  size_t PendingBytes() const;

 private:
  struct Packet {
    int32_t kind;
    std::vector<uint8_t> bytes;
  };
  static constexpr int32_t kNoPacket = -1;

  void Complete();  // lock held

  std::deque<Packet> responses_;
  std::deque<Packet> statuses_;
  int32_t state_ = kNoPacket;
  std::vector<uint8_t> partial_;
  mutable std::mutex lock_;
  uint32_t expectedLength_ = 0;
  bool overflowed_ = false;  // the unfinished packet lost bytes beyond the cap
};

}  // namespace tw::portwire
