#pragma once
// The simulated KP-S410's command handling, without any transport: bytes in,
// replies and link actions out. SimPrinter (sim_printer.h) runs it behind TCP
// and a pseudo-terminal.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tw::sim {

enum class Fault {
  kSilent,      // records everything, never answers
  kNeverReady,  // the readiness reply never says ready
  kOtherModel,  // the model query's reply lacks "$" at index 3; another name
  kSlow,        // every reply is sent after a delay
  kByteByByte,  // every reply byte is sent on its own, with a gap
  kDrop,        // the link drops instead of answering the level read
  kOddReply,    // the model name query gets a reply of no known shape, an
                // automatic status packet right behind it
  kFlood,       // after each TCP connection is accepted, sends bytes of no
                // known shape ("A", never a terminating zero) as fast as the
                // peer takes them, for a while, then answers normally
};

// "silent", "never-ready", "other-model", "slow", "byte-by-byte", "drop",
// "odd-reply", "flood".
bool ParseFault(const std::string& text, Fault* fault);
const char* FaultName(Fault fault);

struct SimBehaviour {
  unsigned level = 100;              // sensor level reported by the level read
  std::string modelName = "KP-S410"; // answer to the model name query
  std::string modelCode = "KP-S410"; // answer to the model code query
  int notReadyCount = 0;             // readiness queries answered "not ready" first
  bool offline = false;              // automatic status reports offline
  std::set<Fault> faults;
};

// What the printer has seen and stored, as reported.
struct SimRecord {
  std::vector<std::string> commands;  // names in arrival order
  std::size_t bytesReceived = 0;
  std::size_t unknownBytes = 0;
  int threshold = -1;                 // -1: never written
  int thresholdWrites = 0;
  int badChecksums = 0;
  bool statusEnabled = false;
  int statusPackets = 0;
};

struct SimOutcome {
  std::string command;               // name recorded for the command
  std::vector<std::uint8_t> reply;   // bytes to send back (may be empty)
  bool dropLink = false;             // drop the link instead of answering
  bool reset = false;                // drop the link and come back after the reset time
};

class SimProtocol {
 public:
  explicit SimProtocol(SimBehaviour behaviour) : b_(std::move(behaviour)) {}

  // Consumes received bytes and returns one outcome per complete command.
  std::vector<SimOutcome> Feed(const std::uint8_t* data, std::size_t size);
  // A new link: bytes of a half-received command are forgotten, and so is the
  // state of the maintenance exchange (the printer has reset).
  void NewLink(bool afterReset);

  const SimRecord& Record() const { return record_; }
  const SimBehaviour& Behaviour() const { return b_; }
  std::vector<std::uint8_t> StatusPacket() const;

 private:
  bool ParseOne(SimOutcome* out);  // false: more bytes needed
  void HandleFrame(std::uint8_t type, const std::vector<std::uint8_t>& body, SimOutcome* out);
  bool Has(Fault f) const { return b_.faults.count(f) != 0; }

  SimBehaviour b_;
  SimRecord record_;
  std::vector<std::uint8_t> buffer_;
  bool exchangeOpen_ = false;
  bool thresholdWrittenInExchange_ = false;
  int readinessAnswered_ = 0;
};

}  // namespace tw::sim
