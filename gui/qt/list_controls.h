#pragma once
// IListControl over a drop-down list (QComboBox) and a list box (QListWidget).

#include <QComboBox>
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

 private:
  QComboBox* box_;
};

class ListBoxList : public IListControl {
 public:
  explicit ListBoxList(QListWidget* list = nullptr) : list_(list) {}
  void Clear() override { list_->clear(); }
  void Add(const std::u16string& text) override { list_->addItem(ToQt(text)); }
  int Count() const override { return list_->count(); }
  int Selected() const override { return list_->currentRow(); }
  void Select(int index) override { list_->setCurrentRow(index >= 0 && index < list_->count() ? index : -1); }
  std::u16string Text(int index) const override {
    const QListWidgetItem* item = list_->item(index);
    return item ? FromQt(item->text()) : std::u16string();
  }

 private:
  QListWidget* list_;
};

}  // namespace tw::gui::qt
