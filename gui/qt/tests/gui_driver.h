#pragma once
// Helpers that drive the real dialogs as a user would: find the window that
// has just come up, click its buttons, type into its fields, and read and
// close message boxes. Modal dialogs run their own event loops, so each step
// is scheduled to run inside the loop of the window it acts on.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>

#include "gui/qt/ip_address_edit.h"
#include "gui/qt/main_dialog_qt.h"
#include "gui/qt/select_port_dialog_qt.h"

namespace tw::gui::qt::testing {

struct SeenMessage {
  QString text;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Runs `step` once, inside whatever event loop runs, as soon as `ready` holds.
inline void When(std::function<bool()> ready, std::function<void()> step) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, ready, step] {
    if (!ready()) return;
    timer->stop();
    timer->deleteLater();
    step();
  });
  timer->start();
}

// The message box that is up, or nullptr.
inline QMessageBox* OpenMessageBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
  }
  return nullptr;
}

// Reads the next message box into `seen` and presses its OK button.
inline void AnswerNextMessage(SeenMessage* seen, bool* done) {
  When([] { return OpenMessageBox() != nullptr; }, [seen, done] {
    QMessageBox* box = OpenMessageBox();
    seen->text = box->text();
    seen->caption = box->windowTitle();
    seen->icon = box->icon();
    *done = true;
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
}

// Processes events until `done` or the limit; false on time-out.
inline bool Wait(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > limitMs) return false;
    QTest::qWait(10);
  }
  return true;
}

inline void TypeAddress(IpAddressEdit* edit, const QStringList& parts) {
  for (int i = 0; i < 4; ++i) {
    QLineEdit* part = edit->Part(i);
    part->setFocus();
    part->selectAll();
    QTest::keyClick(part, Qt::Key_Backspace);
    QTest::keyClicks(part, parts[i]);
  }
}

}  // namespace tw::gui::qt::testing
