#pragma once
// A modal message box as the logic describes it: text, caption and type
// (an OK button alone, or with the error icon).

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

#include "gui/messages.h"

namespace tw::gui::qt {

inline void ShowMessageBox(QWidget* owner, const MessageBoxSpec& m) {
  QMessageBox box(m.type == kMbIconError ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QString::fromStdU16String(m.caption), QString::fromStdU16String(m.text), QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  // The console program's reason, behind "Show Details...".
  if (!m.details.empty()) box.setDetailedText(QString::fromStdU16String(m.details));
  box.setObjectName(QStringLiteral("resultMessage"));
  box.button(QMessageBox::Ok)->setIcon(QIcon());  // a plain OK, as on Windows
  box.exec();
}

}  // namespace tw::gui::qt
