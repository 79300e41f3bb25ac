#pragma once
// The port table of the simulated maker's software: which ports the simulated
// driver path and port service own, where each leads (the simulated printer
// over TCP on loopback, or its pseudo-terminal), what the software reports
// about it, and which faults it shows. Both simulated components read the same
// text file, named by the environment variable KPSIM_PORTS, and write changes
// (renames, serial settings, custom values) back to it, so a test or a user can
// script faults by editing the file while the software runs.
//
// One port per line, blank lines and lines starting with "#" ignored:
//
//   port NAME key=value key=value ...
//   version=0x3040000          (service version, optional)
//
// Keys (values without blanks; "%20" stands for a blank):
//   type=COM|LPT|USB|NET|BT   port kind
//   portname=TEXT             the port's name (COM3, 192.0.2.7, USB device path)
//   link=tcp:ADDR:PORT        the printer behind the port (or serial:/dev/pts/N)
//   model=TEXT devicename=TEXT  reported model name and device name
//   baud= bytesize= parity= flow=on|off   serial settings
//   recvmode=N                receive mode reported (default 1)
//   state=N                   device state reported (default 0); changes while
//                             the port is open are reported through callbacks
//   faults=a,b                lock-timeout, busy, open-fails, send-nothing,
//                             refuse-rename, refuse-settings, service-down
//   custom.KEY=TEXT           per-port custom values of the port service

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tw::makersw {

struct SimPort {
  std::string name;
  std::map<std::string, std::string> values;  // key -> value, in file order not kept

  std::string Get(const std::string& key, const std::string& fallback = "") const;
  int32_t Number(const std::string& key, int32_t fallback) const;
  bool HasFault(const std::string& fault) const;
};

struct SimTable {
  std::vector<SimPort> ports;
  uint32_t version = 0x3040000;

  SimPort* Find(const std::string& name);
};

// Reads the file named by KPSIM_PORTS (an empty table without it).
SimTable LoadTable();
// Writes the table back (atomically: a temporary file, then a rename).
bool SaveTable(const SimTable& table);
// Changes one port under the file's lock: load, change, save. False when the
// port is unknown.
bool UpdatePort(const std::string& name, void (*change)(SimPort&, const void*), const void* arg);

// UTF-16 <-> UTF-8 for the entry points' text arguments.
std::string Narrow(const char16_t* text);
std::u16string Widen(const std::string& text);
// Copies `text` with its terminator into `out` of `units` units; false when it
// does not fit.
bool CopyOut(const std::u16string& text, char16_t* out, uint32_t units);

// Name of the port that a device name addresses: the text after "pipe://KP/"
// (any letter case) up to the next "/" or double quote; the whole name
// otherwise.
std::string PortOfDeviceName(const std::string& deviceName);

}  // namespace tw::makersw
