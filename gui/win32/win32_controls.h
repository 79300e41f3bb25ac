#pragma once
// Small helpers of the Win32 view: texts between the logic's UTF-16 strings
// and Win32's wide strings, the list controls the logic fills, the wait
// cursor shared by all windows of the program.

#include <windows.h>

#include <string>

#include "gui/view_controls.h"

namespace tw::gui::win32 {

// wchar_t is 16 bits on Windows: the logic's texts pass as they are.
inline const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
std::u16string WindowText(HWND window);

// A drop-down list (combo box) or a list box; rows stay in the order added.
class ComboList : public IListControl {
 public:
  ComboList() = default;
  explicit ComboList(HWND box) : box_(box) {}
  void Clear() override;
  void Add(const std::u16string& text) override;
  int Count() const override;
  int Selected() const override;
  void Select(int index) override;
  std::u16string Text(int index) const override;

 private:
  HWND box_ = nullptr;
};

class ListBoxList : public IListControl {
 public:
  ListBoxList() = default;
  explicit ListBoxList(HWND box) : box_(box) {}
  void Clear() override;
  void Add(const std::u16string& text) override;
  int Count() const override;
  int Selected() const override;
  void Select(int index) override;
  std::u16string Text(int index) const override;

 private:
  HWND box_ = nullptr;
};

// The wait cursor: on while any window of the program has an operation under
// way. Dialog procedures answer WM_SETCURSOR with HandleSetCursor, so the
// cursor stays the hourglass while the user moves over the windows, which
// keep being painted meanwhile.
void SetWaitCursor(bool on);
// True (and the cursor set) when the wait cursor is on.
bool HandleSetCursor(HWND dialog);

// Polling of the logic while an operation runs: one timer id per dialog.
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollIntervalMs = 50;
void SetPollTimer(HWND dialog, bool on);

}  // namespace tw::gui::win32
