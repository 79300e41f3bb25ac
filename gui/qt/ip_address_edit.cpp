#include "gui/qt/ip_address_edit.h"

#include <QKeyEvent>
#include <QLabel>

#include "gui/qt/list_controls.h"

namespace tw::gui::qt {

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  for (int i = 0; i < 4; ++i) {
    auto* e = new QLineEdit(this);
    e->setFrame(false);
    e->setAlignment(Qt::AlignCenter);
    e->setMaxLength(8);  // the field itself cuts to three digits
    e->setObjectName(QStringLiteral("part%1").arg(i));
    e->installEventFilter(this);
    connect(e, &QLineEdit::textEdited, this, [this, i](const QString& text) {
      if (showing_) return;
      emit partEdited(i, text);
      // A full part moves on to the next one.
      if (parts_[static_cast<std::size_t>(i)]->text().size() == 3 && i < 3 && text.size() >= 3) {
        parts_[static_cast<std::size_t>(i) + 1]->setFocus();
        parts_[static_cast<std::size_t>(i) + 1]->selectAll();
      }
    });
    parts_[static_cast<std::size_t>(i)] = e;
    if (i < 3) {
      auto* dot = new QLabel(QStringLiteral("."), this);
      dot->setAlignment(Qt::AlignCenter);
      dots_[static_cast<std::size_t>(i)] = dot;
    }
  }
  setFocusProxy(parts_[0]);
}

void IpAddressEdit::ShowParts(const IpAddressField::Parts& parts) {
  showing_ = true;
  for (int i = 0; i < 4; ++i) {
    QLineEdit* e = parts_[static_cast<std::size_t>(i)];
    const QString text = ToQt(parts[static_cast<std::size_t>(i)]);
    if (e->text() != text) {
      const int cursor = e->cursorPosition();
      e->setText(text);
      e->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
    }
  }
  showing_ = false;
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    for (int i = 0; i < 4; ++i) {
      if (watched != parts_[static_cast<std::size_t>(i)]) continue;
      QLineEdit* e = parts_[static_cast<std::size_t>(i)];
      if ((key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) && i < 3) {
        if (!e->text().isEmpty()) {
          parts_[static_cast<std::size_t>(i) + 1]->setFocus();
          parts_[static_cast<std::size_t>(i) + 1]->selectAll();
        }
        return true;
      }
      if (key->key() == Qt::Key_Backspace && e->text().isEmpty() && i > 0) {
        parts_[static_cast<std::size_t>(i) - 1]->setFocus();
        parts_[static_cast<std::size_t>(i) - 1]->end(false);
        return true;
      }
    }
  }
  return QFrame::eventFilter(watched, event);
}

void IpAddressEdit::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  const QRect r = contentsRect();
  const int dotWidth = fontMetrics().horizontalAdvance(QLatin1Char('.')) + 2;
  const int partWidth = (r.width() - 3 * dotWidth) / 4;
  int x = r.left();
  for (int i = 0; i < 4; ++i) {
    parts_[static_cast<std::size_t>(i)]->setGeometry(x, r.top(), partWidth, r.height());
    x += partWidth;
    if (i < 3) {
      dots_[static_cast<std::size_t>(i)]->setGeometry(x, r.top(), dotWidth, r.height());
      x += dotWidth;
    }
  }
}

}  // namespace tw::gui::qt
