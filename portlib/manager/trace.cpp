#include "portlib/manager/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "platform/process.h"
#include "platform/text.h"

namespace tw::portwire::trace {
namespace {

class Sink {
 public:
  explicit Sink(const std::string& utf8Path) {
    const std::u16string wide = platform::Utf8ToUtf16(utf8Path);
    // A path, not a narrow string: on Windows the file name is UTF-16.
    out_.open(std::filesystem::path(wide), std::ios::out | std::ios::app | std::ios::binary);
  }
  bool IsOpen() const { return out_.is_open(); }
  void Write(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    out_ << line << '\n';
    out_.flush();  // a client that crashes right after keeps its last lines
  }

 private:
  std::mutex lock_;
  std::ofstream out_;
};

std::once_flag g_readOnce;
std::atomic<Sink*> g_sink{nullptr};

// Reads the variable once; null when tracing is off.
Sink* TheSink() {
  std::call_once(g_readOnce, [] {
    const std::optional<std::string> path = platform::GetEnv("PORTWIRE_TRACE");
    if (!path || path->empty()) return;
    auto sink = std::make_unique<Sink>(*path);
    if (sink->IsOpen()) g_sink.store(sink.release());
  });
  return g_sink.load(std::memory_order_acquire);
}

std::string Timestamp() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{now - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}

std::string Prefix(std::u16string_view port) {
  std::string line = Timestamp();
  line += ' ';
  line += port.empty() ? std::string("-") : platform::Utf16ToUtf8(std::u16string(port));
  line += ' ';
  return line;
}

}  // namespace

bool Enabled() { return TheSink() != nullptr; }

void Shutdown() { delete g_sink.exchange(nullptr); }

void Call(std::string_view function, std::u16string_view port, Result result) {
  Sink* sink = TheSink();
  if (sink == nullptr) return;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
  std::string line = Prefix(port);
  line.append(function);
  line += " = ";
  line += code;
  line += ' ';
  line += ResultName(result);
  sink->Write(line);
}

void Block(std::u16string_view port, bool sent, const uint8_t* bytes, size_t length) {
  Sink* sink = TheSink();
  if (sink == nullptr) return;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string line = Prefix(port);
  line += sent ? "send" : "recv";
  line.reserve(line.size() + 3 * length);
  for (size_t i = 0; i < length && bytes != nullptr; ++i) {
    line += ' ';
    line += kHex[bytes[i] >> 4];
    line += kHex[bytes[i] & 0x0F];
  }
  sink->Write(line);
}

void Note(std::u16string_view port, std::string_view text) {
  Sink* sink = TheSink();
  if (sink == nullptr) return;
  std::string line = Prefix(port);
  line.append(text);
  sink->Write(line);
}

}  // namespace tw::portwire::trace
