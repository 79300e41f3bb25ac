#pragma once
// The application's wait cursor, switched on and off by a dialog's logic;
// switching it on twice still needs only one switch off.

#include <QApplication>

namespace tw::gui::qt {

class WaitCursor {
 public:
  ~WaitCursor() { Set(false); }
  void Set(bool on) {
    if (on == on_) return;
    on_ = on;
    if (on) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  }

 private:
  bool on_ = false;
};

}  // namespace tw::gui::qt
