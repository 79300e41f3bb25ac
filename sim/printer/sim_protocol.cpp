#include "sim/printer/sim_protocol.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace tw::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct FixedCommand {
  const char* name;
  Bytes bytes;
};

const std::vector<FixedCommand>& FixedCommands() {
  static const std::vector<FixedCommand> commands = {
      {"buffer_clear", {0x10, 0x14, 0x08, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08}},
      {"model_query", {0x10, 0x14, 0x12, 0x00, 0x00}},
      {"model_code_query", {0x10, 0x14, 0x12, 0x00, 0x03}},
      {"readiness_query", {0x10, 0x14, 0x06, 0x01, 0x03, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08}},
      {"status_enable_realtime", {0x10, 0x14, 0x14, 0x00, 0x00, 0x01, 0x08}},
      {"model_name_query", {0x1D, 0x49, 0x43}},
  };
  return commands;
}

constexpr std::uint8_t kFrameHead[4] = {0x1C, 0x7C, 0x7F, 0x24};
constexpr std::size_t kFrameHeader = 9;
constexpr std::size_t kMaxFrameBody = 4096;

std::uint8_t RotateRight(std::uint8_t t) { return static_cast<std::uint8_t>((t >> 1) | ((t & 1) << 7)); }

bool HasChecksum(std::uint8_t type) { return type == 4 || type == 5 || type == 22 || type == 97; }

Bytes Text(std::uint8_t a, std::uint8_t b, const std::string& text) {
  Bytes r{a, b};
  r.insert(r.end(), text.begin(), text.end());
  r.push_back(0x00);
  return r;
}

}  // namespace

bool ParseFault(const std::string& text, Fault* fault) {
  static const std::map<std::string, Fault> names = {
      {"silent", Fault::kSilent},       {"never-ready", Fault::kNeverReady},   {"other-model", Fault::kOtherModel},
      {"slow", Fault::kSlow},           {"byte-by-byte", Fault::kByteByByte},  {"drop", Fault::kDrop},
      {"odd-reply", Fault::kOddReply},  {"flood", Fault::kFlood},
  };
  auto it = names.find(text);
  if (it == names.end()) return false;
  *fault = it->second;
  return true;
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kSilent: return "silent";
    case Fault::kNeverReady: return "never-ready";
    case Fault::kOtherModel: return "other-model";
    case Fault::kSlow: return "slow";
    case Fault::kByteByByte: return "byte-by-byte";
    case Fault::kDrop: return "drop";
    case Fault::kOddReply: return "odd-reply";
    case Fault::kFlood: return "flood";
  }
  return "?";
}

std::vector<std::uint8_t> SimProtocol::StatusPacket() const {
  // First byte 0xx1xx00b (bit 3: offline), the others 0xx0xxxxb.
  return {static_cast<std::uint8_t>(b_.offline ? 0x18 : 0x10), 0x00, 0x00, 0x00};
}

void SimProtocol::NewLink(bool afterReset) {
  buffer_.clear();
  if (afterReset) {
    exchangeOpen_ = false;
    thresholdWrittenInExchange_ = false;
    record_.statusEnabled = false;
  }
}

std::vector<SimOutcome> SimProtocol::Feed(const std::uint8_t* data, std::size_t size) {
  std::vector<SimOutcome> outcomes;
  if (!data || size == 0) return outcomes;
  record_.bytesReceived += size;
  buffer_.insert(buffer_.end(), data, data + size);
  for (;;) {
    SimOutcome out;
    if (!ParseOne(&out)) break;
    if (!out.command.empty()) record_.commands.push_back(out.command);
    if (Has(Fault::kSilent)) out.reply.clear();
    if (!out.reply.empty() && out.command.rfind("status_enable", 0) == 0) ++record_.statusPackets;
    const bool stop = out.dropLink || out.reset;
    outcomes.push_back(std::move(out));
    if (stop) {
      buffer_.clear();  // the link goes down; nothing after this is heard
      break;
    }
  }
  return outcomes;
}

bool SimProtocol::ParseOne(SimOutcome* out) {
  if (buffer_.empty()) return false;
  // Fixed commands: a whole match is handled, a prefix waits for more bytes.
  bool prefix = false;
  for (const auto& cmd : FixedCommands()) {
    const std::size_t n = std::min(cmd.bytes.size(), buffer_.size());
    if (!std::equal(cmd.bytes.begin(), cmd.bytes.begin() + static_cast<std::ptrdiff_t>(n), buffer_.begin())) continue;
    if (n < cmd.bytes.size()) {
      prefix = true;
      continue;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
    out->command = cmd.name;
    const std::string name = cmd.name;
    if (name == "buffer_clear") {
      out->reply = {0x37, 0x25, 0x00};
    } else if (name == "model_query") {
      out->reply = Text(0x37, 0x4D, std::string(1, '0') + (Has(Fault::kOtherModel) ? "#" : "$") + "S410");
    } else if (name == "model_code_query") {
      out->reply = Text(0x37, 0x4D, "C" + b_.modelCode);
    } else if (name == "readiness_query") {
      const bool ready = !Has(Fault::kNeverReady) && readinessAnswered_ >= b_.notReadyCount;
      ++readinessAnswered_;
      out->reply = Text(0x37, 0x22, ready ? "0" : "1");
    } else if (name == "status_enable_realtime") {
      record_.statusEnabled = true;
      out->reply = StatusPacket();
    } else if (name == "model_name_query" && Has(Fault::kOddReply)) {
      // Sent in one piece, so the status follows well within any quiet gap.
      out->reply = {0x41, 0x42, 0x43, 0x44, 0x45};
      const auto status = StatusPacket();
      out->reply.insert(out->reply.end(), status.begin(), status.end());
      ++record_.statusPackets;
    } else if (name == "model_name_query") {
      const std::string model = Has(Fault::kOtherModel) ? std::string("KP-X900") : b_.modelName;
      out->reply = {0x5F};
      out->reply.insert(out->reply.end(), model.begin(), model.end());
      out->reply.push_back(0x00);
    }
    return true;
  }
  // Status enabling: 1D 61 n.
  if (buffer_[0] == 0x1D && (buffer_.size() < 2 || buffer_[1] == 0x61)) {
    if (buffer_.size() < 3) return false;
    const bool enable = buffer_[2] != 0;
    buffer_.erase(buffer_.begin(), buffer_.begin() + 3);
    out->command = enable ? "status_enable" : "status_disable";
    record_.statusEnabled = enable;
    if (enable) out->reply = StatusPacket();
    return true;
  }
  // Maintenance frame.
  const std::size_t head = std::min<std::size_t>(buffer_.size(), 4);
  if (std::equal(kFrameHead, kFrameHead + head, buffer_.begin())) {
    if (buffer_.size() < kFrameHeader) return false;
    const std::uint8_t t = buffer_[4];
    const std::size_t n = buffer_[7] | (static_cast<std::size_t>(buffer_[8]) << 8);
    if (buffer_[5] != static_cast<std::uint8_t>(~t) || buffer_[6] != RotateRight(t) || n > kMaxFrameBody) {
      buffer_.erase(buffer_.begin());  // not a frame after all: resynchronise
      out->command = "bad_frame";
      ++record_.unknownBytes;
      return true;
    }
    if (buffer_.size() < kFrameHeader + n) return false;
    const std::vector<std::uint8_t> body(buffer_.begin() + kFrameHeader, buffer_.begin() + static_cast<std::ptrdiff_t>(kFrameHeader + n));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(kFrameHeader + n));
    HandleFrame(t, body, out);
    return true;
  }
  if (prefix) return false;
  // Anything else: one unknown byte.
  buffer_.erase(buffer_.begin());
  ++record_.unknownBytes;
  return true;  // empty command name: not recorded as a command
}

void SimProtocol::HandleFrame(std::uint8_t type, const std::vector<std::uint8_t>& body, SimOutcome* out) {
  std::vector<std::uint8_t> data = body;
  if (HasChecksum(type) && !body.empty()) {
    data.pop_back();
    unsigned sum = 0;
    for (std::uint8_t b : data) sum += b;
    if (body.back() != static_cast<std::uint8_t>(0xFF - sum)) {
      ++record_.badChecksums;
      out->command = "frame_bad_checksum";
      return;
    }
  }
  switch (type) {
    case 1:
      out->command = "frame_open";
      exchangeOpen_ = true;
      thresholdWrittenInExchange_ = false;
      return;
    case 10: {
      out->command = "frame_level_read";
      if (Has(Fault::kDrop)) {
        out->dropLink = true;
        return;
      }
      char text[8];
      std::snprintf(text, sizeof text, "1%04X", b_.level & 0xFFFFu);
      out->reply.assign(text, text + 5);
      out->reply.push_back(0x00);
      return;
    }
    case 22:
      out->command = "frame_threshold_write";
      if (data.size() == 2 && data[0] == 0x0B) {
        record_.threshold = data[1];
        ++record_.thresholdWrites;
        thresholdWrittenInExchange_ = true;
      }
      return;
    case 99:
      out->command = "frame_after_write";
      return;
    case 2:
      out->command = "frame_close";
      if (exchangeOpen_ && thresholdWrittenInExchange_) out->reset = true;
      exchangeOpen_ = false;
      thresholdWrittenInExchange_ = false;
      return;
    default:
      out->command = "frame_type_" + std::to_string(type);
      return;
  }
}

}  // namespace tw::sim
