#pragma once
// A scripted printer behind IPortwireLibrary, and a console that records text
// and sleeps instead of printing and waiting.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "console/console_io.h"
#include "console/portwire.h"
#include "console/printer_commands.h"

namespace tw::console::testing {

class RecordingConsole : public IConsole {
 public:
  void Write(const std::string& text) override { output += text; }
  void WriteError(const std::string& line) override { errors.push_back(line); }
  void Sleep(int ms) override { sleeps.push_back(ms); }
  bool StopRequested() override { return stop && stop(); }
  // When set: whether the program has been asked to end (asked at each step).
  std::function<bool()> stop;
  std::string output;
  std::vector<std::string> errors;
  std::vector<int> sleeps;
};

// Answers the commands of the communication test and the adjustment the way a
// KP-S410 does; every behaviour can be changed per test.
class FakePrinter : public IPortwireLibrary {
 public:
  FakePrinter();

  bool Load() override { loaded = loadSucceeds; return loaded; }
  bool IsLoaded() const override { return loaded; }
  void ReleasePort() override { ++releases; }
  std::string WhyNotOpened(const PortSettings&) override { return "why: " + std::to_string(opens); }
  std::string WhyNotLinked(const PortSettings&) override { return notLinkedReason; }
  int32_t Open(const PortSettings* settings) override;
  int32_t Close() override { ++closes; return 0; }
  int32_t Read(ByteArray& reply, int32_t timeoutMs) override;
  int32_t Write(const uint8_t* data, uint32_t count, uint32_t* written, int32_t timeoutMs) override;

  std::string notLinkedReason;  // what WhyNotLinked says

  // What the printer answers to one command; an empty list means no answer.
  std::function<std::vector<ByteArray>(const ByteArray&)> answer;
  // Writes that fail (return 3) when this says so.
  std::function<bool(const ByteArray&)> failWrite = [](const ByteArray&) { return false; };
  // Results of successive Open calls (the last repeats); empty: always 0.
  std::vector<int32_t> openResults;

  static std::vector<ByteArray> DefaultAnswer(const ByteArray& command, uint16_t level);
  static ByteArray LevelReply(uint16_t level);
  static ByteArray ModelReply(uint8_t mark = '$');

  bool loadSucceeds = true;
  bool loaded = false;
  uint16_t level = 100;
  int opens = 0;
  int closes = 0;
  int releases = 0;
  std::deque<ByteArray> pending;    // replies waiting to be read
  std::vector<ByteArray> written;   // every command written, in order
  std::vector<int32_t> readTimeouts;
  std::vector<int32_t> writeTimeouts;

  size_t CountWritten(const ByteArray& command) const;
};

}  // namespace tw::console::testing
