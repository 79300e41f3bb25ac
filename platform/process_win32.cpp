#include "platform/process.h"

#include <windows.h>

#include "platform/signals.h"
#include "platform/text.h"

namespace tw::platform {
namespace {

std::wstring Wide(const std::string& utf8) {
  std::u16string u = Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

// Quotes one argument by the rules that CommandLineToArgvW and the C runtime undo.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
      out.push_back(c);
      backslashes = 0;
    } else {
      out.append(backslashes, L'\\');
      out.push_back(c);
      backslashes = 0;
    }
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

}  // namespace

bool ProcessIsExiting() {
  // ntdll's own answer: true once ExitProcess has begun to detach the DLLs.
  using ShutdownInProgressFn = BOOLEAN(WINAPI*)();
  static const auto shutdownInProgress = reinterpret_cast<ShutdownInProgressFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
  return shutdownInProgress != nullptr && shutdownInProgress() != FALSE;
}

void EndThisProcessNow(int code) {
  // ExitProcess would wait for the loader's lock; this does not.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  for (;;) Sleep(INFINITE);
}

std::filesystem::path ExecutableFolder() {
  wchar_t buf[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
  return std::filesystem::path(std::wstring(buf, n)).parent_path();
}

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         bool captureOutput) {
  ProcessResult result;
  std::wstring cmd = QuoteArgument(program.wstring());
  for (const auto& a : args) {
    cmd += L" ";
    cmd += QuoteArgument(Wide(a));
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (captureOutput) {
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  }
  PROCESS_INFORMATION pi{};
  std::wstring app = program.wstring();
  const BOOL ok = CreateProcessW(app.c_str(), cmd.data(), nullptr, nullptr, captureOutput ? TRUE : FALSE, 0,
                                 nullptr, nullptr, &si, &pi);
  if (writeEnd) CloseHandle(writeEnd);
  if (!ok) {
    if (readEnd) CloseHandle(readEnd);
    return result;
  }
  result.started = true;
  if (captureOutput) {
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0) result.output.append(buf, n);
    CloseHandle(readEnd);
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  result.exitCode = static_cast<int>(code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

// Standard error is not captured here: the front end starts the console
// program with no handles inherited, and its Win32 view shows no details.
void ChildProcess::ReadErrorOutput(int) {}
void ChildProcess::CloseErrorPipe() {}

ChildProcess ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                 bool /*captureError*/) {
  ChildProcess child;
  std::wstring cmd;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) cmd += L" ";
    cmd += QuoteArgument(Wide(args[i]));
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const std::wstring app = program.wstring();
  // The command line holds the arguments alone, without the program's name:
  // the console program scans every argument, the first included.
  if (CreateProcessW(app.c_str(), cmd.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                     &si, &pi)) {
    CloseHandle(pi.hThread);
    child.handle_ = reinterpret_cast<std::intptr_t>(pi.hProcess);
  }
  return child;
}

bool ChildProcess::IsRunning() const { return handle_ != -1; }

std::optional<int> ChildProcess::Poll() {
  if (exitCode_) return exitCode_;
  if (!IsRunning()) return std::nullopt;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) return std::nullopt;
  DWORD code = 0;
  exitCode_ = GetExitCodeProcess(h, &code) ? static_cast<int>(code) : -1;
  CloseHandle(h);
  handle_ = -1;
  return exitCode_;
}

int ChildProcess::Wait() {
  if (exitCode_) return *exitCode_;
  if (!IsRunning()) return -1;
  WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), INFINITE);
  return Poll().value_or(-1);
}

int ChildProcess::Terminate(std::chrono::milliseconds grace) {
  if (exitCode_) return *exitCode_;
  if (!IsRunning()) return -1;
  HANDLE process = reinterpret_cast<HANDLE>(handle_);
  // The child's named stop event (platform/signals.h): created here when the
  // child has not made it yet, so it finds it set the moment it looks. A
  // console control event would need the child in a console of ours.
  const std::u16string name = Utf8ToUtf16(StopEventName(GetProcessId(process)));
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<const wchar_t*>(name.c_str()));
  if (stop) SetEvent(stop);
  const DWORD waitMs = grace.count() < 0 ? 0 : static_cast<DWORD>(grace.count());
  if (WaitForSingleObject(process, waitMs) != WAIT_OBJECT_0) TerminateProcess(process, 1);
  const int code = Wait();
  if (stop) CloseHandle(stop);
  return code;
}

std::string ExecutableFileName(const std::string& base) { return base + ".exe"; }

std::optional<std::string> GetEnv(const char* name) {
  std::wstring wname = Wide(name);
  DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring buf(n, L'\0');
  n = GetEnvironmentVariableW(wname.c_str(), buf.data(), n);
  buf.resize(n);
  return Utf16ToUtf8(std::u16string(buf.begin(), buf.end()));
}

void SetEnv(const char* name, const std::optional<std::string>& value) {
  std::wstring wname = Wide(name);
  if (value) {
    SetEnvironmentVariableW(wname.c_str(), Wide(*value).c_str());
    _wputenv_s(wname.c_str(), Wide(*value).c_str());
  } else {
    SetEnvironmentVariableW(wname.c_str(), nullptr);
    _wputenv_s(wname.c_str(), L"");
  }
}

}  // namespace tw::platform
