#pragma once
// Dialog units: the dialogs keep the proportions of their Windows templates,
// sized from the font in use here. One horizontal unit is a quarter of the
// font's average character width, one vertical unit an eighth of its height,
// as on Windows.

#include <QFont>
#include <QFontMetricsF>
#include <QRect>
#include <QWidget>

namespace tw::gui::qt {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font, double yScale = 1.0) {
    const QFontMetricsF fm(font);
    baseX_ = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
    baseY_ = fm.height() * yScale;
  }
  int X(double units) const { return qRound(units * baseX_ / 4.0); }
  int Y(double units) const { return qRound(units * baseY_ / 8.0); }
  QRect Rect(double x, double y, double w, double h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
  void Place(QWidget* w, double x, double y, double width, double height) const {
    w->setGeometry(Rect(x, y, width, height));
  }

 private:
  double baseX_ = 6;
  double baseY_ = 13;
};

}  // namespace tw::gui::qt
