// netif-sim: the simulated printer network interface as a program.
//
//   netif-sim --address 127.0.0.x [--bind-any] [--reuse] [--port N] [--snmp-port N]
//             [--mac 00:11:62:0a:0b:0c] [--password PW] [--name TEXT] [--model N]
//             [--version N] [--extended] [--wireless] [--capabilities N]
//             [--fault silent|wrong-password|other-mac|duplicate|flood|stray|
//                      refuse=CODE|short=N|drop=N|fail-logout=N]...
//             [--lifetime SECONDS]
//
// Prints "ready" once it answers; runs until SIGINT/SIGTERM or the lifetime
// ends, then prints its state as key=value lines.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "sim/netif/netif_sim.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnSignal(int) { g_stop = true; }

bool ParseMac(const char* text, std::uint8_t mac[6]) {
  unsigned v[6];
  if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) return false;
  for (int i = 0; i < 6; ++i) {
    if (v[i] > 255) return false;
    mac[i] = static_cast<std::uint8_t>(v[i]);
  }
  return true;
}

unsigned long Number(const char* text) { return std::strtoul(text, nullptr, 0); }

bool ApplyFault(const std::string& f, tw::sim::NetifFaults& faults) {
  auto value = [&](const char* prefix) { return Number(f.c_str() + std::strlen(prefix)); };
  if (f == "silent") faults.silent = true;
  else if (f == "wrong-password") faults.wrongPassword = true;
  else if (f == "other-mac") faults.otherMac = true;
  else if (f == "duplicate") faults.duplicate = true;
  else if (f == "flood") faults.flood = true;
  else if (f == "stray") faults.strayFirst = true;
  else if (f.rfind("refuse=", 0) == 0) faults.refuseCode = static_cast<std::uint32_t>(value("refuse="));
  else if (f.rfind("short=", 0) == 0) faults.shortReplies = value("short=");
  else if (f.rfind("drop=", 0) == 0) faults.dropFirst = static_cast<int>(value("drop="));
  else if (f.rfind("fail-logout=", 0) == 0) faults.failLogouts = static_cast<int>(value("fail-logout="));
  else return false;
  return true;
}

std::string Dotted(const std::uint8_t a[4]) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

}  // namespace

int main(int argc, char** argv) {
  tw::sim::NetifConfig config;
  tw::sim::NetifFaults faults;
  double lifetime = 0;
  bool haveAddress = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    auto take = [&]() -> const char* {
      if (!next) {
        std::fprintf(stderr, "netif-sim: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      ++i;
      return next;
    };
    if (a == "--address") {
      if (!tw::platform::ParseIpv4(take(), config.address)) return std::fprintf(stderr, "netif-sim: bad address\n"), 2;
      haveAddress = true;
    } else if (a == "--bind-any") config.bindAny = true;
    else if (a == "--reuse") config.reuseAddress = true;
    else if (a == "--port") config.port = static_cast<std::uint16_t>(Number(take()));
    else if (a == "--snmp-port") config.snmpPort = static_cast<std::uint16_t>(Number(take()));
    else if (a == "--mac") {
      if (!ParseMac(take(), config.mac)) return std::fprintf(stderr, "netif-sim: bad MAC\n"), 2;
    } else if (a == "--password") config.password = take();
    else if (a == "--name") config.name = take();
    else if (a == "--model") config.model = static_cast<std::uint16_t>(Number(take()));
    else if (a == "--version") config.version = static_cast<std::uint16_t>(Number(take()));
    else if (a == "--extended") config.extended = true;
    else if (a == "--wireless") config.wireless = config.extended = true;
    else if (a == "--capabilities") config.capabilities = static_cast<std::uint32_t>(Number(take()));
    else if (a == "--fault") {
      if (!ApplyFault(take(), faults)) return std::fprintf(stderr, "netif-sim: unknown fault\n"), 2;
    } else if (a == "--lifetime") lifetime = std::strtod(take(), nullptr);
    else {
      std::fprintf(stderr, "netif-sim: unknown option %s\n", a.c_str());
      return 2;
    }
  }
  if (!haveAddress && !config.bindAny) {
    std::fprintf(stderr, "netif-sim: --address or --bind-any is required\n");
    return 2;
  }

  tw::sim::NetifSimulator sim(config);
  sim.SetFaults(faults);
  std::string error;
  if (!sim.Start(&error)) {
    std::fprintf(stderr, "netif-sim: %s\n", error.c_str());
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::printf("ready\n");
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(lifetime);
  while (!g_stop && (lifetime <= 0 || std::chrono::steady_clock::now() < end)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  sim.Stop();

  const tw::sim::NetifSettings s = sim.Settings();
  std::printf("requests=%zu\nrestarts=%d\npassword=%s\nip=%s\nmask=%s\ngateway=%s\nlocation=%s\nadmin=%s\n",
              sim.Requests().size(), sim.Restarts(), sim.Password().c_str(), Dotted(s.ip).c_str(),
              Dotted(s.mask).c_str(), Dotted(s.gateway).c_str(), s.location.c_str(), s.admin.c_str());
  return 0;
}
