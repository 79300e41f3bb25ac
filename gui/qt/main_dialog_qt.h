#pragma once
// The main dialog drawn with Qt: the chosen port, "Select Port", the notice
// and "Adjustment". Everything it shows and enables is decided by
// gui::CTrimsenseDlg.

#include <QDialog>
#include <QTimer>

#include "gui/qt/wait_cursor.h"

#include "gui/main_dialog.h"

class QLabel;
class QPushButton;

namespace tw::gui::qt {

class SelectPortDialog;

class MainDialog : public QDialog, private IMainDialogView {
  Q_OBJECT
 public:
  // `cui` and `enumPort` (not owned) default to the console program beside
  // this program and the machine's ports.
  explicit MainDialog(ICUIManager* cui = nullptr, IEnumPort* enumPort = nullptr, QWidget* parent = nullptr);
  ~MainDialog() override;

  QLabel* PortText() const { return portText_; }
  QPushButton* SelectPortButton() const { return selectPort_; }
  QPushButton* AdjustmentButton() const { return adjustment_; }
  const CTrimsenseDlg& Logic() const { return logic_; }

 signals:
  // The select-port dialog is up (tests drive it from here).
  void selectPortDialogShown(tw::gui::qt::SelectPortDialog* dialog);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void SetPortText(const std::u16string& text) override;
  void EnableAdjustment(bool on) override;
  void EnableSelectPort(bool on) override;
  void SetWaitCursor(bool on) override;
  void ShowMessage(const MessageBoxSpec& message) override;
  bool RunSelectPortDialog(CSelectPortDlg& dialog) override;
  void SetPolling(bool on) override;

  CTrimsenseDlg logic_;
  QLabel* portText_ = nullptr;
  QPushButton* selectPort_ = nullptr;
  QPushButton* adjustment_ = nullptr;
  QTimer poll_;
  WaitCursor waitCursor_;
};

}  // namespace tw::gui::qt
