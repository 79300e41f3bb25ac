// Drives TrimsenseGUI.exe like a user, from another process, by window
// captions and control ids: the start-up state, "Select Port", "Ethernet", an
// address typed part by part, OK, "Adjustment", and the result message box.
//
//   gui_driver.exe --log FILE [--shots DIR] CASE...
//   CASE = FOLDER;ADDRESS;STAND_IN_EXIT;EXPECTED_CODE[;search|close|cancel]
// FOLDER holds TrimsenseGUI.exe (and the console program or a stand-in, or
// none); STAND_IN_EXIT ("-" for none) is handed to the stand-in through
// TW_STAND_IN_EXIT; EXPECTED_CODE (0, 6 or another) picks the message that must
// come up. With "search", the address is not typed: "Search" must find a
// printer interface at ADDRESS and picking its row fills the field. With --shots, the driver stops twice in the first case (the
// select-port dialog filled in, then the main dialog with the port chosen),
// writes DIR\NAME.ready with the window's screen rectangle and waits for
// DIR\NAME.done, so the caller can take a screenshot. With "close" or
// "cancel" the window is closed (WM_CLOSE as from the close box and Alt+F4,
// or IDCANCEL) while the adjustment runs, once the simulated printer whose
// report file is named by TW_CLOSE_REPORT has received the opening frame:
// the front end must be gone within 5 s and the printer must have received a
// closing frame for every opening frame.
// Exit code 0 when every case passed.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

const wchar_t kMainCaption[] = L"Orlex KP-S410 Slip Paper Sensor Adjustment Tool";
const wchar_t kSelectCaption[] = L"Select Port";
const wchar_t kResultCaption[] = L"Slip Papre Senser Adjustment";
const wchar_t kDialogClass[] = L"#32770";

std::ofstream logFile;

std::string Utf8(const std::wstring& w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}
int failures = 0;

void Log(const std::wstring& line) {
  logFile << Utf8(line) << std::endl;
  std::printf("%s\n", Utf8(line).c_str());
  std::fflush(stdout);
}

bool Check(bool ok, const std::wstring& what) {
  Log((ok ? L"ok   " : L"FAIL ") + what);
  if (!ok) ++failures;
  return ok;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return condition();
}

std::wstring Text(HWND w) {
  wchar_t buf[1024] = {};
  // Across processes: the window may be busy, so never wait forever.
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &n)) return L"";
  std::wstring s(buf, n);
  // Line ends as a program sees them on every system.
  s.erase(std::remove(s.begin(), s.end(), L'\r'), s.end());
  return s;
}

std::wstring ClassOf(HWND w) {
  wchar_t buf[64] = {};
  GetClassNameW(w, buf, 64);
  return buf;
}

HWND FindTopWindow(const wchar_t* caption, DWORD pid) {
  HWND found = nullptr;
  for (HWND w = FindWindowExW(nullptr, nullptr, kDialogClass, caption); w;
       w = FindWindowExW(nullptr, w, kDialogClass, caption)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && IsWindowVisible(w)) found = w;
  }
  return found;
}

BOOL CALLBACK CollectWindow(HWND w, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
  return TRUE;
}

// Every descendant of `root`, depth first.
std::vector<HWND> Descendants(HWND root) {
  std::vector<HWND> all;
  EnumChildWindows(root, &CollectWindow, reinterpret_cast<LPARAM>(&all));
  return all;
}

HWND FindDescendant(HWND root, int id, const wchar_t* cls) {
  for (HWND w : Descendants(root)) {
    if (GetDlgCtrlID(w) == id && _wcsicmp(ClassOf(w).c_str(), cls) == 0) return w;
  }
  return nullptr;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

bool Checked(HWND button) {
  DWORD_PTR r = 0;
  SendMessageTimeoutW(button, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
  return r == BST_CHECKED;
}

// Lets the caller take a screenshot of `window`.
void Pause(const std::wstring& shots, const std::wstring& name, HWND window) {
  if (shots.empty()) return;
  RECT r{};
  GetWindowRect(window, &r);
  const std::wstring ready = shots + L"\\" + name + L".ready";
  const std::wstring done = shots + L"\\" + name + L".done";
  {
    std::ofstream out(std::filesystem::path(ready + L".tmp"));
    out << r.left << " " << r.top << " " << (r.right - r.left) << " " << (r.bottom - r.top) << "\n";
  }
  MoveFileW((ready + L".tmp").c_str(), ready.c_str());
  Check(WaitFor([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30s),
        L"screenshot " + name + L" taken");
}

// The four parts' edit controls of an address field, left to right.
std::vector<HWND> PartEdits(HWND field) {
  std::vector<HWND> edits;
  for (HWND w = GetWindow(field, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) edits.push_back(w);
  std::sort(edits.begin(), edits.end(), [](HWND a, HWND b) {
    RECT ra{}, rb{};
    GetWindowRect(a, &ra);
    GetWindowRect(b, &rb);
    return ra.left < rb.left;
  });
  return edits;
}

struct MessageBoxContent {
  std::wstring text;
  bool icon = false;   // an icon is shown
  HWND ok = nullptr;   // its button
};

MessageBoxContent ReadMessageBox(HWND box) {
  MessageBoxContent m;
  for (HWND w : Descendants(box)) {
    const std::wstring cls = ClassOf(w);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
      if ((GetWindowLongW(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        DWORD_PTR h = 0;
        SendMessageTimeoutW(w, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &h);
        m.icon = m.icon || (IsWindowVisible(w) && h != 0);
      } else if (!Text(w).empty()) {
        m.text = Text(w);
      }
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsWindowVisible(w)) {
      m.ok = w;
    }
  }
  return m;
}

std::wstring ExpectedText(int code) {
  if (code == 0) return L"Slip Papre Senser Adjustment is completed.";
  if (code == 6) return L"Slip Papre Senser Adjustment is failed.\n\nOthre Model";
  return L"Slip Papre Senser Adjustment is failed.\n\nA communication error occurred.";
}

struct Case {
  std::wstring folder, address, standInExit;
  int expected = 0;
  bool search = false;
  std::wstring closeWith;  // "close" or "cancel": ends the window during the run
};

// How often `name` occurs in the "commands=" line of a simulated printer's report.
int CommandCount(const std::wstring& report, const std::string& name) {
  std::ifstream in{std::filesystem::path(report)};
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("commands=", 0) != 0) continue;
    int n = 0;
    for (std::size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) ++n;
    return n;
  }
  return 0;
}

std::wstring EnvText(const wchar_t* name) {
  wchar_t buf[1024] = {};
  const DWORD n = GetEnvironmentVariableW(name, buf, 1024);
  return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

void RunCase(const Case& c, const std::wstring& shots) {
  Log(L"case: " + c.folder + L" address " + c.address + L" stand-in exit " + c.standInExit + L" expecting " +
      std::to_wstring(c.expected));
  SetEnvironmentVariableW(L"TW_STAND_IN_EXIT", c.standInExit == L"-" ? nullptr : c.standInExit.c_str());
  // The stand-in takes a moment, so the driver sees the window answer meanwhile.
  SetEnvironmentVariableW(L"TW_STAND_IN_SLEEP_MS", c.standInExit == L"-" ? nullptr : L"1500");

  std::wstring program = c.folder + L"\\TrimsenseGUI.exe";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!Check(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            c.folder.c_str(), &si, &pi) != 0,
             L"TrimsenseGUI.exe started")) {
    return;
  }
  CloseHandle(pi.hThread);
  const DWORD pid = pi.dwProcessId;

  HWND main = nullptr;
  if (!Check(WaitFor([&] { return (main = FindTopWindow(kMainCaption, pid)) != nullptr; }, 30s),
             L"main dialog found by its caption")) {
    TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    return;
  }
  HWND portText = GetDlgItem(main, 1016);
  HWND selectPort = GetDlgItem(main, 1000);
  HWND adjustment = GetDlgItem(main, 1001);
  WaitFor([&] { return Text(portText) == L"Port is not selected."; }, 5s);
  Check(Text(portText) == L"Port is not selected.", L"start-up port text: '" + Text(portText) + L"'");
  Check(!IsWindowEnabled(adjustment), L"\"Adjustment\" disabled at start-up");
  Check(IsWindowEnabled(selectPort) != 0, L"\"Select Port\" enabled at start-up");
  Check(Text(adjustment) == L"Adjustment" && Text(selectPort) == L"Select Port", L"button texts");

  Click(selectPort);
  HWND select = nullptr;
  if (Check(WaitFor([&] { return (select = FindTopWindow(kSelectCaption, pid)) != nullptr; }, 20s),
            L"select-port dialog found by its caption")) {
    Check(Checked(GetDlgItem(select, 1002)), L"\"COM\" chosen when no port was chosen before");
    Click(GetDlgItem(select, 1005));
    HWND field = FindDescendant(select, 1013, WC_IPADDRESSW);
    Check(field != nullptr, L"address field is a " + std::wstring(WC_IPADDRESSW));
    Check(WaitFor([&] { return Checked(GetDlgItem(select, 1005)) && field && IsWindowVisible(field); }, 5s),
          L"\"Ethernet\" chosen, its page shown");
    HWND ok = GetDlgItem(select, IDOK);
    HWND test = GetDlgItem(select, 1006);
    if (field) {
      // The page lies at (20, 57) of the dialog's client area.
      HWND page = GetParent(field);
      POINT origin{0, 0};
      MapWindowPoints(page, select, &origin, 1);
      Check(origin.x == 20 && origin.y == 57,
            L"page at (" + std::to_wstring(origin.x) + L", " + std::to_wstring(origin.y) + L")");
    }
    // No list sorts its rows: row n is entry n of the ports found.
    bool unsorted = true;
    int lists = 0;
    for (HWND w : Descendants(select)) {
      const LONG style = GetWindowLongW(w, GWL_STYLE);
      if (_wcsicmp(ClassOf(w).c_str(), L"ComboBox") == 0) {
        ++lists;
        unsorted = unsorted && !(style & CBS_SORT) && (style & 3) == CBS_DROPDOWNLIST;
      } else if (_wcsicmp(ClassOf(w).c_str(), L"ListBox") == 0 && GetDlgCtrlID(w) == 1014) {
        ++lists;
        unsorted = unsorted && !(style & LBS_SORT) && (style & LBS_NOTIFY);
      }
    }
    Check(unsorted && lists == 7, L"seven unsorted lists, the drop-down ones without typing");
    Check(!IsWindowEnabled(ok) && !IsWindowEnabled(test), L"OK and \"Communication Test\" off with a blank field");
    HWND search = GetDlgItem(select, 1017);
    HWND found = FindDescendant(select, 1014, L"ListBox");
    if (field && c.search && found) {
      Click(search);
      Check(WaitFor([&] { return !IsWindowEnabled(search); }, 5s), L"\"Search\" off while the search runs");
      DWORD_PTR r = 0;
      Check(SendMessageTimeoutW(select, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &r) != 0,
            L"window answers while the search runs");
      Check(WaitFor([&] { return IsWindowEnabled(search) != 0; }, 30s), L"\"Search\" on again after the search");
      DWORD_PTR rows = 0;
      SendMessageTimeoutW(found, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &rows);
      wchar_t row[64] = {};
      if (rows > 0) SendMessageTimeoutW(found, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row), SMTO_ABORTIFHUNG, 5000, &r);
      Check(rows == 1 && c.address == row, L"search found one printer: '" + std::wstring(row) + L"'");
      // The user clicks the row.
      PostMessageW(found, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
      PostMessageW(found, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
      Check(WaitFor([&] { return IsWindowEnabled(ok) && IsWindowEnabled(test); }, 5s),
            L"OK and \"Communication Test\" on once a found printer is picked");
      const std::vector<HWND> edits = PartEdits(field);
      std::wstring shown;
      for (std::size_t i = 0; i < edits.size(); ++i) shown += (i ? L"." : L"") + Text(edits[i]);
      Check(shown == c.address, L"the field shows the picked row: '" + shown + L"'");

      // A communication test with the picked printer: the stand-in ends with 0.
      Click(test);
      HWND box = nullptr;
      if (Check(WaitFor([&] { return (box = FindTopWindow(L"Communication Test", pid)) != nullptr; }, 60s),
                L"communication test message box found by its caption")) {
        const MessageBoxContent m = ReadMessageBox(box);
        Check(m.text == L"Communication Test is success." && !m.icon, L"test message: '" + m.text + L"'");
        if (m.ok) Click(m.ok);
        Check(WaitFor([&] { return IsWindowEnabled(ok) && IsWindowEnabled(test) && IsWindowEnabled(search); }, 5s),
              L"OK, \"Communication Test\" and \"Search\" on again after the test");
      }
    } else if (field) {
      // Typed part by part, as keystrokes into each part.
      std::vector<std::wstring> parts;
      std::wstring part;
      for (wchar_t ch : c.address + L".") {
        if (ch == L'.') {
          parts.push_back(part);
          part.clear();
        } else {
          part.push_back(ch);
        }
      }
      const std::vector<HWND> edits = PartEdits(field);
      Check(edits.size() == 4, L"address field has four parts");
      for (std::size_t i = 0; i < edits.size() && i < parts.size(); ++i) {
        for (wchar_t ch : parts[i]) PostMessageW(edits[i], WM_CHAR, ch, 1);
      }
      Check(WaitFor([&] { return IsWindowEnabled(ok) && IsWindowEnabled(test); }, 5s),
            L"OK and \"Communication Test\" on once an address is typed");
      // The keystrokes are posted: the field has them all once it shows them.
      const bool same = WaitFor(
          [&] {
            bool all = edits.size() == 4;
            for (std::size_t i = 0; all && i < parts.size(); ++i) all = Text(edits[i]) == parts[i];
            return all;
          },
          5s);
      Check(same, L"the field shows the address typed");
    }
    Pause(shots, L"select-port", select);
    Click(ok);
    Check(WaitFor([&] { return FindTopWindow(kSelectCaption, pid) == nullptr; }, 10s), L"select-port dialog closed by OK");
  }
  Check(WaitFor([&] { return Text(portText) == c.address; }, 5s), L"port text is the address: '" + Text(portText) + L"'");
  Check(IsWindowEnabled(adjustment) != 0, L"\"Adjustment\" enabled once a port is chosen");
  Pause(shots, L"main", main);

  if (!c.closeWith.empty()) {
    const std::wstring report = EnvText(L"TW_CLOSE_REPORT");
    const int opened = CommandCount(report, "frame_open");
    Click(adjustment);
    Check(WaitFor([&] { return CommandCount(report, "frame_open") > opened; }, 60s),
          L"the printer received the opening frame");
    const auto asked = std::chrono::steady_clock::now();
    if (c.closeWith == L"cancel") {
      PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    } else {
      PostMessageW(main, WM_CLOSE, 0, 0);
    }
    const bool gone = WaitForSingleObject(pi.hProcess, 5000) == WAIT_OBJECT_0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    Check(gone, L"TrimsenseGUI.exe ended " + std::to_wstring(ms.count()) + L" ms after " + c.closeWith +
                    L" during the run");
    Check(WaitFor([&] { return CommandCount(report, "frame_close") == CommandCount(report, "frame_open"); }, 10s),
          L"the printer received the closing frame");
    Check(CommandCount(report, "frame_threshold_write") == 0, L"no threshold written");
    if (!gone) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    return;
  }

  Click(adjustment);
  HWND box = nullptr;
  bool answered = false;
  bool buttonsOff = false;
  const bool boxUp = WaitFor(
      [&] {
        box = FindTopWindow(kResultCaption, pid);
        if (box) return true;
        // While the console program runs, the window keeps answering and
        // both buttons stay off.
        DWORD_PTR r = 0;
        if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &r)) answered = true;
        if (!IsWindowEnabled(adjustment) && !IsWindowEnabled(selectPort)) buttonsOff = true;
        return false;
      },
      180s);
  if (Check(boxUp, L"result message box found by its caption")) {
    if (c.standInExit != L"-") {
      Check(answered && buttonsOff, L"window answered while the console program ran, its buttons off");
    }
    const MessageBoxContent m = ReadMessageBox(box);
    Check(m.text == ExpectedText(c.expected), L"message text: '" + m.text + L"'");
    Check(m.icon == (c.expected != 0), m.icon ? L"error icon shown" : L"no icon shown");
    if (m.ok) Click(m.ok);
    Check(WaitFor([&] { return FindTopWindow(kResultCaption, pid) == nullptr; }, 10s), L"message box closed");
    Check(WaitFor([&] { return IsWindowEnabled(adjustment) != 0; }, 5s), L"\"Adjustment\" enabled again");
  }
  PostMessageW(main, WM_CLOSE, 0, 0);
  const bool ended = WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0;
  Check(ended, L"TrimsenseGUI.exe ended when its window was closed");
  if (!ended) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hProcess);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring log = L"gui_driver.log", shots;
  std::vector<Case> cases;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--log" && i + 1 < argc) {
      log = argv[++i];
    } else if (a == L"--shots" && i + 1 < argc) {
      shots = argv[++i];
    } else {
      Case c;
      std::vector<std::wstring> f;
      std::wstring cur;
      for (wchar_t ch : a + L";") {
        if (ch == L';') {
          f.push_back(cur);
          cur.clear();
        } else {
          cur.push_back(ch);
        }
      }
      if (f.size() != 4 && !(f.size() == 5 && (f[4] == L"search" || f[4] == L"close" || f[4] == L"cancel"))) {
        std::fwprintf(stderr, L"bad case %ls\n", a.c_str());
        return 2;
      }
      c.folder = f[0];
      c.address = f[1];
      c.standInExit = f[2];
      c.expected = _wtoi(f[3].c_str());
      c.search = f.size() == 5 && f[4] == L"search";
      if (f.size() == 5 && !c.search) c.closeWith = f[4];
      cases.push_back(c);
    }
  }
  logFile.open(std::filesystem::path(log));
  for (std::size_t i = 0; i < cases.size(); ++i) RunCase(cases[i], i == 0 ? shots : std::wstring());
  Log(failures == 0 ? L"PASS" : L"FAILED: " + std::to_wstring(failures));
  logFile.close();
  return failures == 0 ? 0 : 1;
}
