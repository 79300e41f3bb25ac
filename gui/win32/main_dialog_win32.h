#pragma once
// The main dialog on template 102: everything it shows and enables is
// decided by gui::CTrimsenseDlg.

#include <windows.h>

#include "gui/main_dialog.h"

namespace tw::gui::win32 {

class MainDialog : private IMainDialogView {
 public:
  // `cui` and `enumPort` (not owned) default to the console program beside
  // this program and the machine's ports.
  explicit MainDialog(HINSTANCE instance, ICUIManager* cui = nullptr, IEnumPort* enumPort = nullptr);
  ~MainDialog() override;
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Shows the dialog modally until it is closed.
  INT_PTR Run();

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Close(INT_PTR result);

  void SetPortText(const std::u16string& text) override;
  void EnableAdjustment(bool on) override;
  void EnableSelectPort(bool on) override;
  void SetWaitCursor(bool on) override;
  void ShowMessage(const MessageBoxSpec& message) override;
  bool RunSelectPortDialog(CSelectPortDlg& dialog) override;
  void SetPolling(bool on) override;

  HINSTANCE instance_;
  HWND window_ = nullptr;
  // Loaded from icon resource 128 when the dialog object is made.
  HICON bigIcon_;
  HICON smallIcon_;
  CTrimsenseDlg logic_;
};

}  // namespace tw::gui::win32
