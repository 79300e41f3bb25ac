#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace tw::platform {
namespace {

// The argument vector of a program: its path, then the arguments.
class Argv {
 public:
  Argv(const std::filesystem::path& program, const std::vector<std::string>& args) : store_{program.string()} {
    store_.insert(store_.end(), args.begin(), args.end());
    for (auto& a : store_) pointers_.push_back(a.data());
    pointers_.push_back(nullptr);
  }
  const char* Path() const { return store_[0].c_str(); }
  char* const* Data() { return pointers_.data(); }

 private:
  std::vector<std::string> store_;
  std::vector<char*> pointers_;
};

}  // namespace

bool ProcessIsExiting() { return false; }

void EndThisProcessNow(int code) { _exit(code); }

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         bool captureOutput) {
  ProcessResult result;
  Argv argv(program, args);

  int pipeFds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (captureOutput) {
    if (pipe(pipeFds) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return result;
    }
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  }
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv.Path(), &actions, nullptr, argv.Data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (captureOutput) close(pipeFds[1]);
  if (rc != 0) {
    if (captureOutput) close(pipeFds[0]);
    return result;
  }
  result.started = true;
  if (captureOutput) {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(pipeFds[0], buf, sizeof buf);
      if (n > 0) {
        result.output.append(buf, static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    close(pipeFds[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exitCode = 128 + WTERMSIG(status);
  }
  return result;
}

namespace {

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ChildProcess ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                 bool captureError) {
  ChildProcess child;
  Argv argv(program, args);
  int pipeFds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Both ends close on exec in the child after the write end became its fd 2,
  // and in any other program this process starts.
  if (captureError && pipe2(pipeFds, O_CLOEXEC) == 0) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  }
  pid_t pid = 0;
  if (posix_spawn(&pid, argv.Path(), &actions, nullptr, argv.Data(), environ) == 0) {
    child.handle_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  if (pipeFds[1] >= 0) close(pipeFds[1]);
  if (pipeFds[0] >= 0) {
    if (child.IsRunning()) {
      fcntl(pipeFds[0], F_SETFL, fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
      child.errorPipe_ = pipeFds[0];
    } else {
      close(pipeFds[0]);
    }
  }
  return child;
}

void ChildProcess::ReadErrorOutput(int waitMs) {
  if (errorPipe_ < 0) return;
  pollfd p{errorPipe_, POLLIN, 0};
  if (waitMs > 0 && poll(&p, 1, waitMs) <= 0) return;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(errorPipe_, buf, sizeof buf);
    if (n > 0) {
      errorOutput_.append(buf, static_cast<size_t>(n));
      if (errorOutput_.size() > kMaxErrorOutput) errorOutput_.erase(0, errorOutput_.size() - kMaxErrorOutput);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) CloseErrorPipe();  // every writer is gone
    return;
  }
}

void ChildProcess::CloseErrorPipe() {
  if (errorPipe_ >= 0) close(errorPipe_);
  errorPipe_ = -1;
}

bool ChildProcess::IsRunning() const { return handle_ > 0; }

std::optional<int> ChildProcess::Poll() {
  if (exitCode_) return exitCode_;
  if (!IsRunning()) return std::nullopt;
  ReadErrorOutput(0);
  int status = 0;
  pid_t r;
  while ((r = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r == 0) return std::nullopt;
  // r < 0 (ECHILD): someone else collected it; its code is lost.
  exitCode_ = r > 0 ? ExitCodeOf(status) : -1;
  handle_ = -1;
  // What it wrote last is in the pipe still; a descendant that kept the pipe
  // open is not waited for.
  ReadErrorOutput(0);
  CloseErrorPipe();
  return exitCode_;
}

int ChildProcess::Wait() {
  if (exitCode_) return *exitCode_;
  if (!IsRunning()) return -1;
  // A child that writes much to a captured standard error must not block on
  // a full pipe while we wait for it.
  while (errorPipe_ >= 0) {
    if (auto code = Poll()) return *code;
    ReadErrorOutput(50);
  }
  int status = 0;
  pid_t r;
  while ((r = waitpid(static_cast<pid_t>(handle_), &status, 0)) < 0 && errno == EINTR) {
  }
  exitCode_ = r > 0 ? ExitCodeOf(status) : -1;
  handle_ = -1;
  return *exitCode_;
}

int ChildProcess::Terminate(std::chrono::milliseconds grace) {
  if (exitCode_) return *exitCode_;
  if (!IsRunning()) return -1;
  kill(static_cast<pid_t>(handle_), SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto code = Poll()) return *code;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(static_cast<pid_t>(handle_), SIGKILL);
  return Wait();
}

std::string ExecutableFileName(const std::string& base) { return base; }

std::optional<std::string> GetEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

void SetEnv(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace tw::platform
