#include "gui/cui_manager.h"

#include "platform/process.h"
#include "platform/text.h"

namespace tw::gui {
namespace {

// A run that ended before it began: the program could not be started.
class NotStartedRun : public IConsoleRun {
 public:
  std::optional<int> Poll() override { return kExitCannotStart; }
  int Finish() override { return kExitCannotStart; }
  void Abort() override {}
};

class PlatformRun : public IConsoleRun {
 public:
  explicit PlatformRun(platform::ChildProcess child) : child_(std::move(child)) {}
  std::optional<int> Poll() override { return child_.Poll(); }
  int Finish() override { return child_.Wait(); }
  // The console program gets a moment to close the printer's exchange and its
  // port before it is ended.
  void Abort() override { child_.Terminate(std::chrono::milliseconds(kAbortGraceMs)); }
  std::u16string FailureReason() const override { return LastErrorLine(child_.ErrorOutput()); }

 private:
  platform::ChildProcess child_;
};

class ProcessLauncher : public IConsoleLauncher {
 public:
  std::unique_ptr<IConsoleRun> Launch(const std::filesystem::path& program,
                                      const std::vector<std::u16string>& args) override {
    std::vector<std::string> narrow;
    for (const auto& a : args) narrow.push_back(platform::Utf16ToUtf8(a));
    auto child = platform::ChildProcess::Start(program, narrow, /*captureError=*/true);
    if (!child.IsRunning()) return nullptr;
    return std::make_unique<PlatformRun>(std::move(child));
  }
};

void AppendNumber(std::u16string& out, long long n) {
  const std::string digits = std::to_string(n);
  out.append(digits.begin(), digits.end());
}

}  // namespace

IConsoleLauncher& PlatformLauncher() {
  static ProcessLauncher launcher;
  return launcher;
}

CCUIManager::CCUIManager(IConsoleLauncher* launcher, std::filesystem::path toolFolder)
    : launcher_(launcher ? launcher : &PlatformLauncher()), toolFolder_(std::move(toolFolder)) {}

void CCUIManager::BuildPortOptions(const PortEntry& entry, std::u16string& out) {
  switch (entry.kind) {
    case kPortSerial:
      out += u"-c";
      AppendNumber(out, entry.number);
      out += u" -cB";
      AppendNumber(out, entry.baudRate);
      out += u" -cP";
      if (entry.parity == kParityNone) out += u"n";
      if (entry.parity == kParityEven) out += u"e";
      if (entry.parity == kParityOdd) out += u"o";
      out += u" -cD";
      if (entry.dataBits == 7 || entry.dataBits == 8) AppendNumber(out, entry.dataBits);
      out += u" ";
      break;
    case kPortParallel:
      out += u"-l";
      AppendNumber(out, entry.number);
      out += u" ";
      break;
    case kPortUsb:
      out += u"-u";
      AppendNumber(out, entry.number);
      out += entry.usbClass == kUsbPrinterClass ? u" -uCp " : u" -uCv ";
      break;
    case kPortNetwork:
      out += u"-n";
      out += entry.name;
      out += u" ";
      break;
    default:
      break;
  }
}

std::u16string CCUIManager::AdjustmentCommandLine(const PortEntry& entry) {
  std::u16string line;
  BuildPortOptions(entry, line);
  return line;
}

std::u16string CCUIManager::CommunicationTestCommandLine(const PortEntry& entry) {
  std::u16string line;
  BuildPortOptions(entry, line);
  line += u"-tC";
  return line;
}

std::filesystem::path CCUIManager::GetConsoleToolPath() const {
  const std::filesystem::path folder = toolFolder_.empty() ? platform::ExecutableFolder() : toolFolder_;
  return folder / platform::ExecutableFileName(kConsoleToolBaseName);
}

std::unique_ptr<IConsoleRun> CCUIManager::StartConsoleTool(const std::u16string& commandLine) {
  auto run = launcher_->Launch(GetConsoleToolPath(), SplitCommandLine(commandLine));
  if (!run) return std::make_unique<NotStartedRun>();
  return run;
}

int CCUIManager::RunConsoleTool(const std::u16string& commandLine) { return StartConsoleTool(commandLine)->Finish(); }

int CCUIManager::RunAdjustment(const PortEntry& entry) { return RunConsoleTool(AdjustmentCommandLine(entry)); }

int CCUIManager::RunCommunicationTest(const PortEntry& entry) {
  return RunConsoleTool(CommunicationTestCommandLine(entry));
}

std::unique_ptr<IConsoleRun> CCUIManager::StartAdjustment(const PortEntry& entry) {
  return StartConsoleTool(AdjustmentCommandLine(entry));
}

std::unique_ptr<IConsoleRun> CCUIManager::StartCommunicationTest(const PortEntry& entry) {
  return StartConsoleTool(CommunicationTestCommandLine(entry));
}

std::u16string LastErrorLine(const std::string& errorOutput) {
  std::size_t end = errorOutput.size();
  while (end > 0 && (errorOutput[end - 1] == '\n' || errorOutput[end - 1] == '\r' || errorOutput[end - 1] == ' ')) {
    --end;
  }
  if (end == 0) return {};
  const std::size_t newline = errorOutput.rfind('\n', end - 1);
  const std::size_t from = newline == std::string::npos ? 0 : newline + 1;
  const std::string_view text = std::string_view(errorOutput).substr(from, end - from);
  std::u16string line;
  if (!platform::TryUtf8ToUtf16(text, line)) {
    // Not UTF-8: keep the plain ASCII part rather than show garbage.
    line.clear();
    for (const char c : text) line.push_back(static_cast<unsigned char>(c) < 0x80 ? char16_t(c) : u'?');
  }
  if (line.size() > kMaxReasonLength) line.resize(kMaxReasonLength);
  return line;
}

std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine) {
  std::vector<std::u16string> args;
  std::u16string current;
  for (char16_t c : commandLine) {
    if (c == u' ' || c == u'\t') {
      if (!current.empty()) args.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) args.push_back(std::move(current));
  return args;
}

}  // namespace tw::gui
