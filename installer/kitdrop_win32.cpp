// Kitdrop on Windows: a GUI-subsystem program without a window of its own. The
// shell's folder browser asks for the folder; a message box reports a failure.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>
#include <string>

#include "installer/kitdrop.h"
#include "platform/process.h"

namespace {

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) SendMessageW(window, BFFM_SETSELECTIONW, 1, data);
  return 0;
}

// The shell folder browser rooted at the desktop. `chosen` ends in "\\".
bool BrowseForFolder(const std::u16string& initialFolder, std::u16string& chosen) {
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || !allocator) return false;

  wchar_t initial[MAX_PATH] = {};
  if (!initialFolder.empty()) {
    const std::wstring text(initialFolder.begin(), initialFolder.end());
    wcsncpy(initial, text.c_str(), MAX_PATH - 1);
    const size_t length = wcslen(initial);
    if (length > 0 && initial[length - 1] == L'\\') initial[length - 1] = L'\0';
  }

  LPITEMIDLIST root = nullptr;
  SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &root);

  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW info = {};
  info.hwndOwner = nullptr;
  info.pidlRoot = root;
  info.pszDisplayName = displayName;
  info.lpszTitle = L"Select Folder";
  info.ulFlags = 0x1051;  // BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_BROWSEFORCOMPUTER
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(initial);

  bool ok = false;
  if (LPITEMIDLIST item = SHBrowseForFolderW(&info)) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(item, path) && path[0] != L'\0') {
      std::wstring text(path);
      if (text.back() != L'\\') text.push_back(L'\\');
      chosen.assign(text.begin(), text.end());
      ok = true;
    }
    CoTaskMemFree(item);
  }
  if (root) allocator->Free(root);
  allocator->Release();
  return ok;
}

class Win32KitdropView : public tw::installer::IKitdropView {
 public:
  bool BrowseForFolder(const std::u16string& initialFolder, std::u16string& chosen) override {
    return ::BrowseForFolder(initialFolder, chosen);
  }
  void ShowFailure(const std::u16string& text) override {
    const std::wstring wide(text.begin(), text.end());
    MessageBoxW(nullptr, wide.c_str(), L"Kitdrop", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The dialog style with the edit box is built from COM objects.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Win32KitdropView view;
  const int code = tw::installer::RunKitdrop(view, tw::platform::ExecutableFolder());
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}
