#include "gui/win32/win32_controls.h"

namespace tw::gui::win32 {

std::u16string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int n = GetWindowTextW(window, text.data(), length + 1);
  return std::u16string(text.begin(), text.begin() + (n > 0 ? n : 0));
}

void ComboList::Clear() { SendMessageW(box_, CB_RESETCONTENT, 0, 0); }
void ComboList::Add(const std::u16string& text) {
  SendMessageW(box_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text)));
}
int ComboList::Count() const { return static_cast<int>(SendMessageW(box_, CB_GETCOUNT, 0, 0)); }
int ComboList::Selected() const {
  const LRESULT i = SendMessageW(box_, CB_GETCURSEL, 0, 0);
  return i == CB_ERR ? -1 : static_cast<int>(i);
}
void ComboList::Select(int index) { SendMessageW(box_, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
std::u16string ComboList::Text(int index) const {
  const LRESULT length = SendMessageW(box_, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT n = SendMessageW(box_, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  if (n == CB_ERR) return {};
  return std::u16string(text.begin(), text.begin() + n);
}

void ListBoxList::Clear() { SendMessageW(box_, LB_RESETCONTENT, 0, 0); }
void ListBoxList::Add(const std::u16string& text) {
  // Inserted at the end (-1): the rows keep the order of the found list.
  SendMessageW(box_, LB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(Wide(text)));
}
int ListBoxList::Count() const { return static_cast<int>(SendMessageW(box_, LB_GETCOUNT, 0, 0)); }
int ListBoxList::Selected() const {
  const LRESULT i = SendMessageW(box_, LB_GETCURSEL, 0, 0);
  return i == LB_ERR ? -1 : static_cast<int>(i);
}
void ListBoxList::Select(int index) { SendMessageW(box_, LB_SETCURSEL, static_cast<WPARAM>(index), 0); }
std::u16string ListBoxList::Text(int index) const {
  const LRESULT length = SendMessageW(box_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT n = SendMessageW(box_, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  if (n == LB_ERR) return {};
  return std::u16string(text.begin(), text.begin() + n);
}

namespace {
int waitDepth = 0;  // the dialogs' thread only
}

void SetWaitCursor(bool on) {
  waitDepth += on ? 1 : -1;
  if (waitDepth < 0) waitDepth = 0;
  SetCursor(LoadCursorW(nullptr, waitDepth > 0 ? IDC_WAIT : IDC_ARROW));
}

bool HandleSetCursor(HWND dialog) {
  if (waitDepth == 0) return false;
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
  return true;
}

void SetPollTimer(HWND dialog, bool on) {
  if (on) {
    SetTimer(dialog, kPollTimer, kPollIntervalMs, nullptr);
  } else {
    KillTimer(dialog, kPollTimer);
  }
}

}  // namespace tw::gui::win32
