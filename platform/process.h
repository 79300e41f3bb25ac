#pragma once
// Processes and the process environment.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tw::platform {

// Folder of the running program's executable file (links resolved).
std::filesystem::path ExecutableFolder();

struct ProcessResult {
  bool started = false;  // false: the program could not be started
  int exitCode = -1;
  std::string output;    // standard output and error, when captured
};

// Starts `program` with `args` (not including the program name), waits without a
// time limit and returns its exit code. With captureOutput the child's standard
// output and error are collected; otherwise the child inherits ours.
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         bool captureOutput);

// A program started without waiting for it: the caller polls for its end,
// waits for it, or ends it. The destructor of a process that is still running
// ends it and collects it, so no child outlives its owner unnoticed.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` with `args` (not including the program name); standard
  // input, output and error are inherited, except that with `captureError`
  // standard error goes to a pipe that Poll, Wait and Terminate read into
  // ErrorOutput() (Linux; on Windows the child keeps inheriting nothing and
  // ErrorOutput() stays empty). IsRunning() is false when it could not be
  // started.
  static ChildProcess Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                            bool captureError = false);

  // True from a successful start until its end has been collected.
  bool IsRunning() const;
  // The exit code when the program has ended (collected now), else nullopt.
  // Without a started program: nullopt.
  std::optional<int> Poll();
  // Waits without a time limit; the exit code (-1 without a started program).
  int Wait();
  // Asks the program to end (SIGTERM; Windows: its stop event, see
  // platform/signals.h), waits up to `grace` for it, then ends it by force;
  // collects it either way. The exit code, or -1 without a started program.
  int Terminate(std::chrono::milliseconds grace);

  // What the program wrote to its standard error so far (captured starts
  // only); at most the last kMaxErrorOutput bytes.
  const std::string& ErrorOutput() const { return errorOutput_; }
  static constexpr std::size_t kMaxErrorOutput = 16384;

 private:
  void ReadErrorOutput(int waitMs);
  void CloseErrorPipe();

  std::intptr_t handle_ = -1;   // pid on POSIX, process HANDLE on Windows
  std::optional<int> exitCode_;
  int errorPipe_ = -1;          // read end of the captured standard error (POSIX)
  std::string errorOutput_;
};

// The file name of a program called `base` on this system ("Trimsense" or
// "Trimsense.exe").
std::string ExecutableFileName(const std::string& base);

// True while the process is ending (exit() or ExitProcess) and static objects
// of the libraries are being torn down. On Windows every other thread is gone
// by then and the loader lock is held: a library must not wait for its own
// threads nor take locks they may have held, and leaves what it holds to the
// OS. On Linux the other threads keep running until the very end, so an
// orderly teardown works there and this is always false.
bool ProcessIsExiting();

// Ends this process at once with `code`: no exit handlers, no static
// destructors, no waiting for any lock (a watchdog's way out of a hang).
[[noreturn]] void EndThisProcessNow(int code);

std::optional<std::string> GetEnv(const char* name);
// Sets (or with nullopt removes) a variable of this process's environment.
void SetEnv(const char* name, const std::optional<std::string>& value);

}  // namespace tw::platform
