#pragma once
// The few control operations the dialogs' logic needs from a view. Each view
// (Qt, Win32) implements them over its own widgets; tests use fakes.

#include <string>

namespace tw::gui {

// Window show commands as the logic passes them to a page.
constexpr int kShowHide = 0;
constexpr int kShowShow = 5;

// A drop-down list or a list box: rows of text in the order added (never
// sorted), at most one selected.
class IListControl {
 public:
  virtual ~IListControl() = default;
  virtual void Clear() = 0;
  virtual void Add(const std::u16string& text) = 0;
  virtual int Count() const = 0;
  // The selected row, or -1.
  virtual int Selected() const = 0;
  // Selects a row (-1: none); an index out of range selects nothing.
  virtual void Select(int index) = 0;
  virtual std::u16string Text(int index) const = 0;
  // What the view may show about a row beside its text (a tooltip, a second
  // column); the row's text stays as it is. Views without room ignore it.
  virtual void SetDetail(int index, const std::u16string& detail) { (void)index, (void)detail; }
};

}  // namespace tw::gui
