#pragma once
// IListControl over a drop-down list (QComboBox) and a list box (QListWidget).

#include <QComboBox>
#include <QLabel>
#include <QListWidget>

#include "gui/view_controls.h"

namespace tw::gui::qt {

inline QString ToQt(const std::u16string& s) { return QString::fromStdU16String(s); }
inline std::u16string FromQt(const QString& s) { return s.toStdU16String(); }

class ComboList : public IListControl {
 public:
  explicit ComboList(QComboBox* box = nullptr) : box_(box) {}
  void Clear() override { box_->clear(); }
  // A drop-down list gains no selection by being filled: the logic decides.
  void Add(const std::u16string& text) override {
    const int before = box_->currentIndex();
    box_->addItem(ToQt(text));
    if (before < 0) box_->setCurrentIndex(-1);
  }
  int Count() const override { return box_->count(); }
  int Selected() const override { return box_->currentIndex(); }
  void Select(int index) override { box_->setCurrentIndex(index >= 0 && index < box_->count() ? index : -1); }
  std::u16string Text(int index) const override { return FromQt(box_->itemText(index)); }
  // The row's tooltip in the dropped list; the box and its details line
  // (ShowDetailsOfCurrent) show the chosen row's.
  void SetDetail(int index, const std::u16string& detail) override {
    box_->setItemData(index, ToQt(detail), Qt::ToolTipRole);
    if (index == box_->currentIndex()) box_->setToolTip(ToQt(detail));
  }

 private:
  QComboBox* box_;
};

// Keeps `line` (and the box's own tooltip) showing the details of the row
// chosen in `box`: the device and product on the first line, whether it may
// be opened (and the fix) on the second. A label without word wrap has room
// for these two lines only: each is cut to its width, the tooltip has all.
inline void ShowDetailsOfCurrent(QComboBox* box, QLabel* line) {
  QObject::connect(box, &QComboBox::currentIndexChanged, line, [box, line](int index) {
    const QString detail = index < 0 ? QString() : box->itemData(index, Qt::ToolTipRole).toString();
    box->setToolTip(detail);
    line->setToolTip(detail);
    QStringList lines = detail.split(QLatin1Char('\n'));
    // device, product, access: the first two share a line.
    if (lines.size() == 3) lines = QStringList{lines[0] + QStringLiteral("  \u00b7  ") + lines[1], lines[2]};
    if (!line->wordWrap()) {
      for (QString& l : lines) l = line->fontMetrics().elidedText(l, Qt::ElideRight, line->width());
    }
    line->setText(lines.join(QLatin1Char('\n')));
  });
}

class ListBoxList : public IListControl {
 public:
  explicit ListBoxList(QListWidget* list = nullptr) : list_(list) {}
  void Clear() override { list_->clear(); }
  void Add(const std::u16string& text) override { list_->addItem(ToQt(text)); }
  int Count() const override { return list_->count(); }
  // The selected row, not the current one: focus alone (Tab into the list)
  // makes a row current without anyone having picked it.
  int Selected() const override {
    const QList<QListWidgetItem*> items = list_->selectedItems();
    return items.isEmpty() ? -1 : list_->row(items.first());
  }
  void Select(int index) override { list_->setCurrentRow(index >= 0 && index < list_->count() ? index : -1); }
  std::u16string Text(int index) const override {
    const QListWidgetItem* item = list_->item(index);
    return item ? FromQt(item->text()) : std::u16string();
  }

 private:
  QListWidget* list_;
};

}  // namespace tw::gui::qt
