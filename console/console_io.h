#pragma once
// Where the console program's progress text goes and how it waits. The product
// prints to standard output and really sleeps; tests record the text and skip
// the sleeps.

#include <cstdarg>
#include <string>

namespace tw::console {

class IConsole {
 public:
  virtual ~IConsole() = default;
  virtual void Write(const std::string& text) = 0;
  // One line for standard error (the line end is added): why something failed.
  virtual void WriteError(const std::string& line) = 0;
  virtual void Sleep(int milliseconds) = 0;
  // True once someone asked the program to end (a signal, the front end
  // closing): the sequence winds down at its next step and leaves the
  // printer out of its maintenance exchange.
  virtual bool StopRequested() { return false; }

  // printf-style formatting, as the progress texts are format strings.
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

// Standard output, flushed after every text so progress dots appear at once;
// error lines on standard error. Stop requests are the platform's
// (platform/signals.h); a sleep ends early when one arrives.
class CStdConsole : public IConsole {
 public:
  CStdConsole();
  void Write(const std::string& text) override;
  void WriteError(const std::string& line) override;
  void Sleep(int milliseconds) override;
  bool StopRequested() override;
};

}  // namespace tw::console
