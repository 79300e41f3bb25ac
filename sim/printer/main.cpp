// kps410-sim: the simulated KP-S410 slip printer as a program. See README.md.
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "sim/printer/sim_printer.h"

namespace {

void Usage() {
  std::cerr << "usage: kps410-sim [--tcp ADDR] [--port N] [--pty-dir DIR --com N] [--level N]\n"
               "                  [--reset-ms N] [--model-name NAME] [--model-code TEXT]\n"
               "                  [--not-ready N] [--offline] [--fault MODE]... [--slow-ms N]\n"
               "                  [--byte-gap-ms N] [--flood-ms N] [--flood-bytes N] [--report FILE] [--ready-file FILE] [--quiet]\n"
               "fault modes: silent, never-ready, other-model, slow, byte-by-byte, drop\n";
}

bool ParseInt(const char* text, long lo, long hi, int* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 0);
  if (errno != 0 || !end || *end != '\0' || end == text || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tw::sim::SimConfig config;
  config.log = true;
  std::string readyFile;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto needValue = [&] {
      if (!v) {
        std::cerr << "kps410-sim: " << a << " needs a value\n";
        std::exit(2);
      }
      ++i;
      return v;
    };
    auto intValue = [&](long lo, long hi) {
      const char* t = needValue();
      int n = 0;
      if (!ParseInt(t, lo, hi, &n)) {
        std::cerr << "kps410-sim: bad value for " << a << ": " << t << "\n";
        std::exit(2);
      }
      return n;
    };
    if (a == "--tcp") {
      config.tcpAddress = needValue();
    } else if (a == "--port") {
      config.tcpPort = intValue(1, 65535);
    } else if (a == "--pty-dir") {
      config.ptyDir = needValue();
    } else if (a == "--com") {
      config.comNumber = intValue(1, 256);
    } else if (a == "--level") {
      config.behaviour.level = static_cast<unsigned>(intValue(0, 65535));
    } else if (a == "--reset-ms") {
      config.resetMs = intValue(0, 600000);
    } else if (a == "--slow-ms") {
      config.slowMs = intValue(0, 600000);
    } else if (a == "--flood-ms") {
      config.floodMs = intValue(0, 600000);
    } else if (a == "--flood-bytes") {
      config.floodBytes = static_cast<std::size_t>(intValue(0, 1 << 30));
    } else if (a == "--byte-gap-ms") {
      config.byteGapMs = intValue(0, 10000);
    } else if (a == "--model-name") {
      config.behaviour.modelName = needValue();
    } else if (a == "--model-code") {
      config.behaviour.modelCode = needValue();
    } else if (a == "--not-ready") {
      config.behaviour.notReadyCount = intValue(0, 1000000);
    } else if (a == "--offline") {
      config.behaviour.offline = true;
    } else if (a == "--fault") {
      const char* t = needValue();
      tw::sim::Fault f;
      if (!tw::sim::ParseFault(t, &f)) {
        std::cerr << "kps410-sim: unknown fault mode: " << t << "\n";
        return 2;
      }
      config.behaviour.faults.insert(f);
    } else if (a == "--report") {
      config.reportFile = needValue();
    } else if (a == "--ready-file") {
      readyFile = needValue();
    } else if (a == "--quiet") {
      config.log = false;
    } else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else {
      std::cerr << "kps410-sim: unknown option: " << a << "\n";
      Usage();
      return 2;
    }
  }
  if (config.comNumber > 0 && config.ptyDir.empty()) {
    std::cerr << "kps410-sim: --com needs --pty-dir\n";
    return 2;
  }

  // Signals are taken by sigwait on this thread; the worker threads inherit
  // the blocked mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  tw::sim::SimPrinter printer(config);
  if (!printer.Start()) {
    std::cerr << "kps410-sim: " << printer.Error() << "\n";
    return 1;
  }
  if (!readyFile.empty()) {
    const std::string tmp = readyFile + ".tmp";
    {
      std::ofstream f(tmp, std::ios::trunc);
      f << printer.ReportText();
    }
    std::rename(tmp.c_str(), readyFile.c_str());
  }
  int sig = 0;
  sigwait(&set, &sig);
  printer.Stop();
  return 0;
}
