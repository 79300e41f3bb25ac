#pragma once
// The IP address field: four small edits separated by dots inside one frame.
// It only draws and reports typing; the rules live in gui/ip_address_field.h.
// A dot or a third digit moves on to the next part, Backspace in an empty
// part back to the previous one.

#include <QFrame>
#include <QLineEdit>
#include <array>

#include "gui/ip_address_field.h"

namespace tw::gui::qt {

class IpAddressEdit : public QFrame {
  Q_OBJECT
 public:
  explicit IpAddressEdit(QWidget* parent = nullptr);
  void ShowParts(const IpAddressField::Parts& parts);
  QLineEdit* Part(int index) const { return parts_[static_cast<std::size_t>(index)]; }

 signals:
  void partEdited(int index, const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::array<QLineEdit*, 4> parts_{};
  std::array<QWidget*, 3> dots_{};
  bool showing_ = false;
};

}  // namespace tw::gui::qt
