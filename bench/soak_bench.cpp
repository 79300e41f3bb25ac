// Soak: does anything grow with use? Two runs against the simulated printer
// (its own process), each printing resident memory, open descriptors and
// threads at the start, the middle and the end (flat is the goal):
//   1. `cycles` open / write / read / close cycles in this one client process
//      through the library loaded by name (this process and the simulator);
//   2. `adjustments` complete adjustments in a row, each a run of Trimsense
//      against a printer that resets at once (the simulator, and each
//      program's peak memory), with a summary of every exit code.
// Not part of CI: the adjustments alone take about 3.4 s each.
//
//   build/bin/soak_bench [cycles] [adjustments]

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/portwire_client.h"
#include "platform/process.h"
#include "portwire.h"
#include "shared/port_settings.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

using tw::bench::PortwireClient;
using tw::bench::Record;

const uint8_t kModelQuery[] = {0x10, 0x14, 0x12, 0x00, 0x00};

pid_t Spawn(const fs::path& program, const std::vector<std::string>& args) {
  std::vector<std::string> all = {program.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

class Simulator {
 public:
  Simulator(const std::string& address, const fs::path& ready) {
    pid_ = Spawn(tw::platform::ExecutableFolder() / "kps410-sim",
                 {"--tcp", address, "--reset-ms", "0", "--level", "150", "--ready-file", ready.string(), "--quiet"});
    for (int i = 0; i < 500 && !fs::exists(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~Simulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

struct Usage {
  long rssKb = -1;
  long threads = -1;
  long fds = -1;
};

Usage UsageOf(const std::string& pid) {
  Usage u;
  std::ifstream status("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) u.rssKb = std::atol(line.c_str() + 6);
    if (line.rfind("Threads:", 0) == 0) u.threads = std::atol(line.c_str() + 8);
  }
  std::error_code ec;
  long n = 0;
  for (fs::directory_iterator it("/proc/" + pid + "/fd", ec), end; !ec && it != end; it.increment(ec)) ++n;
  if (!ec) u.fds = n;
  return u;
}

void Print(const char* when, const char* who, const Usage& u) {
  std::printf("  %-7s %-22s RSS %7ld kB   descriptors %4ld   threads %3ld\n", when, who, u.rssKb, u.fds, u.threads);
}



void PrintCodes(const char* what, const std::map<std::string, int>& codes) {
  std::printf("  %s:", what);
  for (const auto& [code, count] : codes) std::printf(" %s x%d", code.c_str(), count);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::max(2, std::atoi(argv[1])) : 500;
  const int adjustments = argc > 2 ? std::max(0, std::atoi(argv[2])) : 200;
  const fs::path work = fs::temp_directory_path() / ("portwire-soak-" + std::to_string(getpid()));
  fs::create_directories(work);
  PortwireClient api;
  if (!api.Load()) {
    std::fprintf(stderr, "cannot load the library beside this program\n");
    return 1;
  }
  bool ok = true;

  std::printf("%d open / write / read / close cycles in one process, TCP 127.0.0.94\n", cycles);
  {
    Simulator sim("127.0.0.94", work / "cycles.ready");
    const std::string self = std::to_string(getpid()), simPid = std::to_string(sim.pid());
    Print("start", "client", UsageOf(self));
    Print("start", "simulated printer", UsageOf(simPid));
    const PortSettings record = Record(u"NET", u"127.0.0.94");
    std::map<std::string, int> codes;
    for (int i = 1; i <= cycles; ++i) {
      PortSettings r = record;
      int rc = api.SetPort(&r);
      if (rc == 0) rc = api.Open(1);
      std::string step = "open";
      if (rc == 0) {
        step = "write";
        rc = api.Write(kModelQuery, sizeof kModelQuery, nullptr, 2000);
        if (rc == 0) {
          step = "read";
          uint8_t buf[256];
          uint32_t n = 0;
          rc = api.Read(buf, sizeof buf, &n, 2000);
        }
        const int closeRc = api.Close();
        if (rc == 0 && closeRc != 0) step = "close", rc = closeRc;
      }
      ++codes[rc == 0 ? std::string("ok") : step + "=" + std::to_string(rc)];
      if (i == cycles / 2) {
        Print("middle", "client", UsageOf(self));
        Print("middle", "simulated printer", UsageOf(simPid));
      }
    }
    Print("end", "client", UsageOf(self));
    Print("end", "simulated printer", UsageOf(simPid));
    PrintCodes("results", codes);
    ok = ok && codes["ok"] == cycles;
  }

  if (adjustments > 0) {
    std::printf("\n%d complete adjustments in a row: Trimsense -n127.0.0.95, printer resets at once\n",
                adjustments);
    Simulator sim("127.0.0.95", work / "adjust.ready");
    const std::string simPid = std::to_string(sim.pid());
    Print("start", "simulated printer", UsageOf(simPid));
    std::map<std::string, int> codes;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= adjustments; ++i) {
      const pid_t pid = Spawn(tw::platform::ExecutableFolder() / "Trimsense", {"-n127.0.0.95"});
      int status = 0;
      rusage ru{};
      std::string code = "not started";
      if (pid > 0 && wait4(pid, &status, 0, &ru) == pid) {
        code = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                 : "signal " + std::to_string(WTERMSIG(status));
      }
      ++codes[code];
      if (i == 1 || i == adjustments / 2 || i == adjustments) {
        const char* when = i == 1 ? "first" : (i == adjustments ? "last" : "middle");
        Print(when, "simulated printer", UsageOf(simPid));
        std::printf("  %-7s %-22s peak RSS %7ld kB   %s\n", when, "Trimsense", ru.ru_maxrss, code.c_str());
      }
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PrintCodes("exit codes", codes);
    std::printf("  %.1f s in all, %.2f s per adjustment\n", wall, wall / adjustments);
    ok = ok && codes["exit 0"] == adjustments;
  }
  api.Terminate();
  std::error_code ec;
  fs::remove_all(work, ec);
  return ok ? 0 : 1;
}
