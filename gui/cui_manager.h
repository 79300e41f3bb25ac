#pragma once
// Running the console program for the front end: the option string built from
// a PortEntry, the program beside the front end, its exit code.
//
// The console program's exit codes as the front end reads them: 0 success, 6
// another printer model, anything else a communication failure. The front end
// itself uses 10 when the program cannot be started.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/port_entry.h"

namespace tw::gui {

// Exit codes with a meaning of their own.
constexpr int kExitSuccess = 0;
constexpr int kExitOtherModel = 6;
constexpr int kExitCannotStart = 10;

// The console program's file name without the system's suffix.
inline constexpr const char* kConsoleToolBaseName = "Trimsense";

// One run of the console program that has been started. Poll and Finish may be
// called in any order; once the exit code is known they keep returning it.
class IConsoleRun {
 public:
  virtual ~IConsoleRun() = default;
  // The exit code when the run has ended, else nullopt; never blocks.
  virtual std::optional<int> Poll() = 0;
  // Waits without a time limit for the end; the exit code.
  virtual int Finish() = 0;
  // Ends the program before its time (the window is closing) and collects it:
  // it is asked to end first and gets kAbortGraceMs to close its port.
  virtual void Abort() = 0;
  // Once ended: the console program's own one-line reason from its standard
  // error (the last line it wrote there), empty when it gave none. Only ever
  // shown as the details of a failure; standard output is never read.
  virtual std::u16string FailureReason() const { return {}; }
};

// How long a console program asked to end may take before it is killed.
constexpr int kAbortGraceMs = 2000;

// The last non-empty line of `errorOutput` (line ends and trailing blanks
// dropped, at most kMaxReasonLength characters), as UTF-16.
std::u16string LastErrorLine(const std::string& errorOutput);
constexpr std::size_t kMaxReasonLength = 500;

// Starts programs: the platform's process service in the product, a fake in
// tests. nullptr when the program cannot be started.
class IConsoleLauncher {
 public:
  virtual ~IConsoleLauncher() = default;
  virtual std::unique_ptr<IConsoleRun> Launch(const std::filesystem::path& program,
                                              const std::vector<std::u16string>& args) = 0;
};

// The launcher of the product: platform/process.h.
IConsoleLauncher& PlatformLauncher();

class ICUIManager {
 public:
  virtual ~ICUIManager() = default;
  // Runs the adjustment for the port and waits: the exit code, or 10.
  virtual int RunAdjustment(const PortEntry& entry) = 0;
  // Runs the communication test ("-tC") and waits: the exit code, or 10.
  virtual int RunCommunicationTest(const PortEntry& entry) = 0;
  // The same two runs started without waiting, so a window can keep
  // answering; never nullptr (a program that cannot be started is a run that
  // has already ended with 10).
  virtual std::unique_ptr<IConsoleRun> StartAdjustment(const PortEntry& entry) = 0;
  virtual std::unique_ptr<IConsoleRun> StartCommunicationTest(const PortEntry& entry) = 0;
};

class CCUIManager : public ICUIManager {
 public:
  // `launcher` (not owned) defaults to the platform's; `toolFolder` to the
  // front end's own folder.
  explicit CCUIManager(IConsoleLauncher* launcher = nullptr, std::filesystem::path toolFolder = {});

  int RunAdjustment(const PortEntry& entry) override;
  int RunCommunicationTest(const PortEntry& entry) override;
  std::unique_ptr<IConsoleRun> StartAdjustment(const PortEntry& entry) override;
  std::unique_ptr<IConsoleRun> StartCommunicationTest(const PortEntry& entry) override;

  // Appends the console program's options for the entry to `out`: every
  // option followed by exactly one blank, numbers in decimal.
  static void BuildPortOptions(const PortEntry& entry, std::u16string& out);
  // The command line of an adjustment and of a communication test.
  static std::u16string AdjustmentCommandLine(const PortEntry& entry);
  static std::u16string CommunicationTestCommandLine(const PortEntry& entry);

  // The console program in the front end's own folder (never the search path
  // or the current folder).
  std::filesystem::path GetConsoleToolPath() const;
  // Starts the console program with the command line and waits: the exit
  // code, or 10 when it cannot be started.
  int RunConsoleTool(const std::u16string& commandLine);
  std::unique_ptr<IConsoleRun> StartConsoleTool(const std::u16string& commandLine);

 private:
  IConsoleLauncher* launcher_;
  std::filesystem::path toolFolder_;
};

// The command line split into arguments at blanks (empty pieces dropped).
std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine);

}  // namespace tw::gui
