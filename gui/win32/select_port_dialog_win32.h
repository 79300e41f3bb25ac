#pragma once
// The select-port dialog on template 129 with its four pages (templates 101,
// 131, 130, 132) as hidden child dialogs. What it shows and enables is
// decided by gui::CSelectPortDlg and the pages' logic.

#include <windows.h>

#include <array>
#include <memory>

#include "gui/select_port_dialog.h"

namespace tw::gui::win32 {

class PageWindow;

class SelectPortDialog : private ISelectPortView {
 public:
  SelectPortDialog(HINSTANCE instance, CSelectPortDlg& logic);
  ~SelectPortDialog() override;
  SelectPortDialog(const SelectPortDialog&) = delete;
  SelectPortDialog& operator=(const SelectPortDialog&) = delete;

  // Shows the dialog modally, owned by `owner`; true when it ended with OK.
  bool Run(HWND owner);

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();

  void CheckRadio(int index) override;
  void EnableSearch(bool on) override;
  void EnableTest(bool on) override;
  void EnableOk(bool on) override;
  void EnableKindChoice(bool on) override;
  void SetWaitCursor(bool on) override;
  void ShowMessage(const MessageBoxSpec& message) override;
  void SetPolling(bool on) override;
  void EndDialog(bool ok) override;

  HINSTANCE instance_;
  CSelectPortDlg& logic_;
  HWND window_ = nullptr;
  // Serial, parallel, USB, network: the order of the radio buttons.
  std::array<std::unique_ptr<PageWindow>, 4> pages_;
};

}  // namespace tw::gui::win32
