// Drives Kitdrop.exe's real folder dialog the way a user would: starts the
// program, waits for its dialog, types a folder into the dialog's edit box,
// selects the same folder in the dialog's tree and presses OK (or Cancel), then
// waits for the program and ends with its exit code (100 + n when the dialog
// never showed or the program hung). The tree selection is made as well
// because Wine's dialog takes the result from the tree alone; it goes through
// the dialog's own BFFM_SETSELECTIONW, with the path placed in Kitdrop's
// memory.
//
//   kitdrop_driver <Kitdrop.exe> <folder> | --cancel
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

struct Search {
  DWORD processId = 0;
  HWND dialog = nullptr;
  HWND edit = nullptr;
};

BOOL CALLBACK FindEdit(HWND child, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  wchar_t cls[64] = {};
  GetClassNameW(child, cls, 64);
  if (lstrcmpiW(cls, L"Edit") == 0 && IsWindowVisible(child)) {
    search->edit = child;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->processId || !IsWindowVisible(window)) return TRUE;
  search->edit = nullptr;
  EnumChildWindows(window, FindEdit, param);
  if (search->edit && GetDlgItem(window, IDOK)) {
    search->dialog = window;
    return FALSE;
  }
  return TRUE;
}

struct MessageBoxSearch {
  DWORD processId = 0;
  HWND box = nullptr;
};

BOOL CALLBACK FindMessageBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<MessageBoxSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->processId && IsWindowVisible(window) && GetDlgItem(window, 0xFFFF)) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

// Waits for the process to end; a message box it shows meanwhile is printed
// and confirmed.
bool WaitAnsweringMessageBoxes(HANDLE process, DWORD processId) {
  for (int i = 0; i < 600; ++i) {  // up to 60 s
    if (WaitForSingleObject(process, 100) == WAIT_OBJECT_0) return true;
    MessageBoxSearch search;
    search.processId = processId;
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&search));
    if (search.box) {
      wchar_t text[1024] = {};
      GetDlgItemTextW(search.box, 0xFFFF, text, 1024);
      std::printf("message: %ls\n", text);
      PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      Sleep(500);
    }
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kitdrop_driver <Kitdrop.exe> <folder>|--cancel\n");
    return 100;
  }
  const bool cancel = lstrcmpW(argv[2], L"--cancel") == 0;
  std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "kitdrop_driver: cannot start Kitdrop (error %lu)\n", GetLastError());
    return 101;
  }

  Search search;
  search.processId = process.dwProcessId;
  for (int i = 0; i < 600 && !search.dialog; ++i) {  // up to 60 s
    if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) break;
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
  }
  if (!search.dialog) {
    std::fprintf(stderr, "kitdrop_driver: no folder dialog with an edit box appeared\n");
    TerminateProcess(process.hProcess, 1);
    return 102;
  }
  Sleep(300);  // let the dialog finish its initial selection
  if (cancel) {
    PostMessageW(search.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(search.dialog, IDCANCEL)));
  } else {
    SendMessageW(search.edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
    const SIZE_T bytes = (lstrlenW(argv[2]) + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(process.hProcess, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process.hProcess, remote, argv[2], bytes, nullptr)) {
      std::fprintf(stderr, "kitdrop_driver: cannot hand %ls to the dialog\n", argv[2]);
      TerminateProcess(process.hProcess, 1);
      return 104;
    }
    // A dialog procedure's answer is not the message's result: success shows
    // only in what Kitdrop does.
    SendMessageW(search.dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
    PostMessageW(search.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(search.dialog, IDOK)));
  }
  if (!WaitAnsweringMessageBoxes(process.hProcess, process.dwProcessId)) {
    std::fprintf(stderr, "kitdrop_driver: Kitdrop did not end\n");
    TerminateProcess(process.hProcess, 1);
    return 103;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("Kitdrop exit code %ld\n", static_cast<long>(code));
  return static_cast<int>(code);
}
