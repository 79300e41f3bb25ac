#include "sim/makersw/sim_ports.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace tw::makersw {
namespace {

std::mutex& FileLock() {
  static std::mutex lock;
  return lock;
}

std::string TablePath() {
  const char* path = std::getenv("KPSIM_PORTS");
  return path ? path : "";
}

std::string Decode(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v.compare(i, 3, "%20") == 0) {
      out += ' ';
      i += 2;
    } else {
      out += v[i];
    }
  }
  return out;
}

std::string Encode(const std::string& v) {
  std::string out;
  for (char c : v) out += c == ' ' ? std::string("%20") : std::string(1, c);
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

SimTable LoadUnlocked() {
  SimTable table;
  const std::string path = TablePath();
  if (path.empty()) return table;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string first;
    if (!(words >> first) || first[0] == '#') continue;
    if (first.rfind("version=", 0) == 0) {
      table.version = static_cast<uint32_t>(std::strtoul(first.c_str() + 8, nullptr, 0));
      continue;
    }
    if (first != "port") continue;
    SimPort port;
    if (!(words >> port.name)) continue;
    std::string pair;
    while (words >> pair) {
      const size_t eq = pair.find('=');
      if (eq == std::string::npos) continue;
      port.values[pair.substr(0, eq)] = Decode(pair.substr(eq + 1));
    }
    table.ports.push_back(std::move(port));
  }
  return table;
}

bool SaveUnlocked(const SimTable& table) {
  const std::string path = TablePath();
  if (path.empty()) return false;
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return false;
    char version[32];
    std::snprintf(version, sizeof version, "0x%X", static_cast<unsigned>(table.version));
    out << "version=" << version << "\n";
    for (const SimPort& port : table.ports) {
      out << "port " << port.name;
      for (const auto& [key, value] : port.values) out << ' ' << key << '=' << Encode(value);
      out << "\n";
    }
    if (!out) return false;
  }
  std::remove(path.c_str());  // Windows' rename does not replace
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

std::string SimPort::Get(const std::string& key, const std::string& fallback) const {
  auto it = values.find(key);
  return it == values.end() ? fallback : it->second;
}

int32_t SimPort::Number(const std::string& key, int32_t fallback) const {
  auto it = values.find(key);
  if (it == values.end() || it->second.empty()) return fallback;
  return static_cast<int32_t>(std::strtol(it->second.c_str(), nullptr, 0));
}

bool SimPort::HasFault(const std::string& fault) const {
  const std::string faults = "," + Get("faults") + ",";
  return faults.find("," + fault + ",") != std::string::npos;
}

SimPort* SimTable::Find(const std::string& name) {
  for (SimPort& port : ports) {
    if (Lower(port.name) == Lower(name)) return &port;
  }
  return nullptr;
}

SimTable LoadTable() {
  std::lock_guard<std::mutex> guard(FileLock());
  return LoadUnlocked();
}

bool SaveTable(const SimTable& table) {
  std::lock_guard<std::mutex> guard(FileLock());
  return SaveUnlocked(table);
}

bool UpdatePort(const std::string& name, void (*change)(SimPort&, const void*), const void* arg) {
  std::lock_guard<std::mutex> guard(FileLock());
  SimTable table = LoadUnlocked();
  SimPort* port = table.Find(name);
  if (!port) return false;
  change(*port, arg);
  return SaveUnlocked(table);
}

std::string Narrow(const char16_t* text) {
  std::string out;
  if (!text) return out;
  for (size_t i = 0; text[i] != 0 && i < 4096; ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Widen(const std::string& text) {
  // The table holds ASCII in practice; other bytes pass through one by one.
  std::u16string out;
  for (unsigned char c : text) out += static_cast<char16_t>(c);
  return out;
}

bool CopyOut(const std::u16string& text, char16_t* out, uint32_t units) {
  if (!out || text.size() + 1 > units) return false;
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = 0;
  return true;
}

std::string PortOfDeviceName(const std::string& deviceName) {
  const std::string lower = Lower(deviceName);
  const std::string prefix = "pipe://kp/";
  const size_t at = lower.find(prefix);
  if (at == std::string::npos) return deviceName;
  std::string rest = deviceName.substr(at + prefix.size());
  const size_t end = rest.find_first_of("/\"");
  return end == std::string::npos ? rest : rest.substr(0, end);
}

}  // namespace tw::makersw
