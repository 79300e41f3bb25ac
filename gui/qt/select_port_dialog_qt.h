#pragma once
// The select-port dialog drawn with Qt: four radio buttons, the group box with
// the four pages, "Communication Test", "Search", OK and Cancel. Everything it
// shows and enables is decided by gui::CSelectPortDlg.

#include <QDialog>
#include <QTimer>

#include "gui/qt/wait_cursor.h"
#include <memory>

#include "gui/select_port_dialog.h"

class QComboBox;
class QGroupBox;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace tw::gui::qt {

class ComboList;
class ListBoxList;
class IpAddressEdit;
class ComPage;
class PortListPage;
class EthernetPage;

class SelectPortDialog : public QDialog, private ISelectPortView {
  Q_OBJECT
 public:
  SelectPortDialog(CSelectPortDlg& logic, QWidget* parent = nullptr);
  ~SelectPortDialog() override;

  // For tests: the controls by role.
  QRadioButton* KindButton(int index) const { return radios_[static_cast<std::size_t>(index)]; }
  QPushButton* SearchButton() const { return search_; }
  QPushButton* TestButton() const { return test_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QComboBox* ComPortList() const;
  QComboBox* LptPortList() const;
  QComboBox* UsbPortList() const;
  IpAddressEdit* AddressEdit() const;
  QListWidget* FoundPrinters() const;

  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CheckRadio(int index) override;
  void EnableSearch(bool on) override;
  void EnableTest(bool on) override;
  void EnableOk(bool on) override;
  void EnableKindChoice(bool on) override;
  void SetWaitCursor(bool on) override;
  void ShowMessage(const MessageBoxSpec& message) override;
  void SetPolling(bool on) override;
  void EndDialog(bool ok) override;

  CSelectPortDlg& logic_;
  std::array<QRadioButton*, 4> radios_{};
  QGroupBox* group_ = nullptr;
  QPushButton* test_ = nullptr;
  QPushButton* search_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  std::unique_ptr<ComPage> com_;
  std::unique_ptr<PortListPage> lpt_;
  std::unique_ptr<PortListPage> usb_;
  std::unique_ptr<EthernetPage> ethernet_;
  QTimer poll_;
  WaitCursor waitCursor_;
  bool ending_ = false;
};

}  // namespace tw::gui::qt
