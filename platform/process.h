#pragma once
// Processes and the process environment.

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

std::optional<std::string> GetEnv(const char* name);
// Sets (or with nullopt removes) a variable of this process's environment.
void SetEnv(const char* name, const std::optional<std::string>& value);

}  // namespace tw::platform
