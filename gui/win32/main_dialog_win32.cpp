#include "gui/win32/main_dialog_win32.h"

#include "gui/win32/resource.h"
#include "gui/win32/select_port_dialog_win32.h"
#include "gui/win32/win32_controls.h"

namespace tw::gui::win32 {

MainDialog::MainDialog(HINSTANCE instance, ICUIManager* cui, IEnumPort* enumPort)
    : instance_(instance),
      bigIcon_(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0))),
      smallIcon_(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0))),
      logic_(*this, cui, enumPort) {}

MainDialog::~MainDialog() {
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

INT_PTR MainDialog::Run() {
  return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_TRIMSENSE_DIALOG), nullptr, &MainDialog::Proc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    reinterpret_cast<MainDialog*>(lParam)->window_ = window;
  }
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR MainDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
      SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
      logic_.OnInitDialog();
      return TRUE;
    case WM_SETCURSOR:
      return HandleSetCursor(window_) ? TRUE : FALSE;
    case WM_TIMER:
      if (wParam == kPollTimer) logic_.Poll();
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      switch (LOWORD(wParam)) {
        case IDC_SELECT_PORT:
          logic_.OnSelectPort();
          return TRUE;
        case IDC_ADJUSTMENT:
          logic_.OnAdjustment();
          return TRUE;
        // No handling of its own for Enter and Escape: like the close box
        // they end the program.
        case IDOK:
        case IDCANCEL:
          Close(LOWORD(wParam));
          return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      Close(IDCANCEL);
      return TRUE;
  }
  (void)lParam;
  return FALSE;
}

void MainDialog::Close(INT_PTR result) {
  // The close box, Alt+F4, Enter and Escape all come here. A console program
  // still running is asked to end first (its stop event) and gets the grace
  // period to close the printer's exchange; none outlives the window.
  logic_.OnClose();
  EndDialog(window_, result);
}

void MainDialog::SetPortText(const std::u16string& text) { SetDlgItemTextW(window_, IDC_PORT_TEXT, Wide(text)); }

void MainDialog::EnableAdjustment(bool on) { EnableWindow(GetDlgItem(window_, IDC_ADJUSTMENT), on); }

void MainDialog::EnableSelectPort(bool on) { EnableWindow(GetDlgItem(window_, IDC_SELECT_PORT), on); }

void MainDialog::SetWaitCursor(bool on) { win32::SetWaitCursor(on); }

void MainDialog::ShowMessage(const MessageBoxSpec& message) {
  MessageBoxW(window_, Wide(message.text), Wide(message.caption), static_cast<UINT>(message.type));
}

bool MainDialog::RunSelectPortDialog(CSelectPortDlg& dialog) {
  SelectPortDialog view(instance_, dialog);
  return view.Run(window_);
}

void MainDialog::SetPolling(bool on) {
  SetPollTimer(window_, on);
}

}  // namespace tw::gui::win32
