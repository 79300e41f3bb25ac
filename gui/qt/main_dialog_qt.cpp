#include "gui/qt/main_dialog_qt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "gui/dialog_texts.h"
#include "gui/qt/dialog_units.h"
#include "gui/qt/message_box.h"
#include "gui/qt/select_port_dialog_qt.h"

namespace tw::gui::qt {

MainDialog::MainDialog(ICUIManager* cui, IEnumPort* enumPort, QWidget* parent)
    : QDialog(parent), logic_(*this, cui, enumPort) {
  setWindowTitle(QString::fromUtf16(text::kMainCaption));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  const DialogUnits du(font());
  setFixedSize(du.X(271), du.Y(135));

  auto* group = new QGroupBox(QString::fromUtf16(text::kPortGroup), this);
  du.Place(group, 12, 6, 249, 45);
  portText_ = new QLabel(QStringLiteral("192.168.192.168"), this);
  portText_->setObjectName(QStringLiteral("portText"));
  const QRect r = du.Rect(24, 24, 90, 8);
  portText_->setGeometry(r.x(), r.y() - 2, std::max(r.width(), du.X(150)), r.height() + 4);
  selectPort_ = new QPushButton(QString::fromUtf16(text::kSelectPortButton), this);
  du.Place(selectPort_, 189, 18, 60, 24);

  auto* notice = new QLabel(QString::fromUtf16(text::kRemoveSlipNotice), this);
  notice->setFrameShape(QFrame::Box);
  notice->setWordWrap(true);
  notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  notice->setMargin(2);
  du.Place(notice, 12, 60, 249, 39);

  adjustment_ = new QPushButton(QString::fromUtf16(text::kAdjustmentButton), this);
  du.Place(adjustment_, 111, 106, 60, 24);

  connect(selectPort_, &QPushButton::clicked, this, [this] { logic_.OnSelectPort(); });
  connect(adjustment_, &QPushButton::clicked, this, [this] { logic_.OnAdjustment(); });
  poll_.setInterval(50);
  connect(&poll_, &QTimer::timeout, this, [this] { logic_.Poll(); });

  logic_.OnInitDialog();
  selectPort_->setFocus();
}

MainDialog::~MainDialog() {
  logic_.OnClose();
}

void MainDialog::closeEvent(QCloseEvent* event) {
  // A run under way is ended and collected before the window goes.
  logic_.OnClose();
  QDialog::closeEvent(event);
}

void MainDialog::reject() {
  // Escape closes the dialog, as the close box does, but not in the middle of
  // an adjustment.
  if (logic_.Busy()) return;
  QDialog::reject();
}

void MainDialog::SetPortText(const std::u16string& text) { portText_->setText(QString::fromStdU16String(text)); }
void MainDialog::EnableAdjustment(bool on) { adjustment_->setEnabled(on); }
void MainDialog::EnableSelectPort(bool on) { selectPort_->setEnabled(on); }

void MainDialog::SetWaitCursor(bool on) { waitCursor_.Set(on); }

void MainDialog::ShowMessage(const MessageBoxSpec& message) { ShowMessageBox(this, message); }

bool MainDialog::RunSelectPortDialog(CSelectPortDlg& dialog) {
  SelectPortDialog view(dialog, this);
  QTimer::singleShot(0, this, [this, &view] { emit selectPortDialogShown(&view); });
  return view.exec() == QDialog::Accepted;
}

void MainDialog::SetPolling(bool on) {
  if (on) {
    poll_.start();
  } else {
    poll_.stop();
  }
}

}  // namespace tw::gui::qt
