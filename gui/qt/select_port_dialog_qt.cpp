#include "gui/qt/select_port_dialog_qt.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "gui/dialog_texts.h"
#include "gui/qt/dialog_units.h"
#include "gui/qt/ip_address_edit.h"
#include "gui/qt/list_controls.h"
#include "gui/qt/message_box.h"

namespace tw::gui::qt {
namespace {

// The dialog's template size and the place of the pages in it. The pages'
// own units are a little shorter than the dialog's (their font is), so a page
// ends where the buttons inside the group box begin.
constexpr double kDialogWidth = 233, kDialogHeight = 198;
constexpr double kPageX = 13.3, kPageY = 35.1;
constexpr double kPageWidth = 177, kPageHeight = 102;
constexpr double kPageYScale = 12.0 / 13.0;

QComboBox* NewDropDown(QWidget* parent, const DialogUnits& du, double x, double y, double w) {
  auto* box = new QComboBox(parent);
  box->setEditable(false);
  box->setMaxVisibleItems(8);
  // The template's height includes the dropped list; the closed box keeps its
  // natural height.
  box->setGeometry(du.X(x), du.Y(y), du.X(w), box->sizeHint().height());
  return box;
}

// The line under a port list that tells about the chosen port: its device,
// product and whether the user may open it.
QLabel* NewDetailsLine(QWidget* parent, const DialogUnits& du, QComboBox* box, double y, double h, bool wrap) {
  auto* line = new QLabel(parent);
  line->setObjectName(box->objectName() + QStringLiteral("Details"));
  line->setWordWrap(wrap);
  line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  line->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont small = line->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  line->setFont(small);
  line->setForegroundRole(QPalette::PlaceholderText);
  du.Place(line, 6, y, 165, h);
  ShowDetailsOfCurrent(box, line);
  return line;
}

QLabel* NewLabel(QWidget* parent, const DialogUnits& du, const char16_t* text, double x, double y, double w,
                 double h) {
  auto* label = new QLabel(QString::fromUtf16(text), parent);
  const QRect r = du.Rect(x, y, w, h);
  // Texts keep their place but may need more room than the template gives
  // with this platform's fonts.
  label->setGeometry(r.x(), r.y() - 2, std::max(r.width(), label->sizeHint().width()), r.height() + 4);
  return label;
}

// A page: a child widget laid over the group box, hidden until chosen.
class PageWidget : public QWidget {
 public:
  PageWidget(QWidget* dialog, const DialogUnits& dialogUnits) : QWidget(dialog), du_(font(), kPageYScale) {
    setGeometry(dialogUnits.X(kPageX), dialogUnits.Y(kPageY), du_.X(kPageWidth), du_.Y(kPageHeight));
    hide();
  }
  const DialogUnits& Units() const { return du_; }

 private:
  DialogUnits du_;
};

}  // namespace

class ComPage : public IComPageView {
 public:
  ComPage(QWidget* dialog, const DialogUnits& du) : page(new PageWidget(dialog, du)) {
    const DialogUnits& u = page->Units();
    NewLabel(page, u, text::kPortLabel, 6, 9, 13, 8);
    port = NewDropDown(page, u, 90, 6, 60);
    NewLabel(page, u, text::kBaudrateLabel, 6, 30, 27, 8);
    baud = NewDropDown(page, u, 90, 27, 60);
    NewLabel(page, u, text::kParityLabel, 6, 51, 18, 8);
    parity = NewDropDown(page, u, 90, 48, 60);
    NewLabel(page, u, text::kDataBitLabel, 6, 72, 26, 8);
    dataBits = NewDropDown(page, u, 90, 69, 60);
    port->setObjectName(QStringLiteral("comPort"));
    details = NewDetailsLine(page, u, port, 84, 18, false);
    portList = ComboList(port);
    baudList = ComboList(baud);
    parityList = ComboList(parity);
    dataBitList = ComboList(dataBits);
  }
  void ShowPage(bool show) override { page->setVisible(show); }
  IListControl& PortList() override { return portList; }
  IListControl& BaudRateList() override { return baudList; }
  IListControl& ParityList() override { return parityList; }
  IListControl& DataBitList() override { return dataBitList; }

  PageWidget* page;
  QComboBox *port, *baud, *parity, *dataBits;
  QLabel* details;
  ComboList portList, baudList, parityList, dataBitList;
};

class PortListPage : public IPortListPageView {
 public:
  PortListPage(QWidget* dialog, const DialogUnits& du, const char* name) : page(new PageWidget(dialog, du)) {
    NewLabel(page, page->Units(), text::kPortLabel, 6, 9, 13, 8);
    port = NewDropDown(page, page->Units(), 90, 6, 60);
    port->setObjectName(QString::fromLatin1(name));
    details = NewDetailsLine(page, page->Units(), port, 27, 48, true);
    portList = ComboList(port);
  }
  void ShowPage(bool show) override { page->setVisible(show); }
  IListControl& PortList() override { return portList; }

  PageWidget* page;
  QComboBox* port;
  QLabel* details;
  ComboList portList;
};

class EthernetPage : public IEthernetPageView {
 public:
  EthernetPage(QWidget* dialog, const DialogUnits& du, CConfigEthernet& logic) : page(new PageWidget(dialog, du)) {
    const DialogUnits& u = page->Units();
    NewLabel(page, u, text::kIpAddressLabel, 6, 9, 59, 8);
    address = new IpAddressEdit(page);
    const QRect r = u.Rect(69, 6, 100, 15);
    address->setGeometry(r.x(), r.y(), r.width(), std::max(r.height(), address->Part(0)->sizeHint().height() + 4));
    found = new QListWidget(page);
    found->setObjectName(QStringLiteral("foundPrinters"));
    found->setSelectionMode(QAbstractItemView::SingleSelection);
    found->setSortingEnabled(false);
    u.Place(found, 6, 27, 165, 69);
    QObject::connect(address, &IpAddressEdit::partEdited, page,
                     [&logic](int i, const QString& text) { logic.OnAddressPartEdited(i, FromQt(text)); });
    foundList = ListBoxList(found);
    // Only a user's pick of a row fills the address field: a changed
    // selection (click, arrow keys) or a click on the row already selected.
    // Tabbing into the list makes a row current but picks nothing.
    QObject::connect(found, &QListWidget::itemSelectionChanged, page, [&logic] { logic.OnFoundSelectionChanged(); });
    QObject::connect(found, &QListWidget::itemClicked, page, [&logic](QListWidgetItem*) {
      logic.OnFoundSelectionChanged();
    });
  }
  void ShowPage(bool show) override { page->setVisible(show); }
  IListControl& FoundList() override { return foundList; }
  void ShowAddressParts(const IpAddressField::Parts& parts) override { address->ShowParts(parts); }

  PageWidget* page;
  IpAddressEdit* address;
  QListWidget* found;
  ListBoxList foundList;
};

SelectPortDialog::SelectPortDialog(CSelectPortDlg& logic, QWidget* parent) : QDialog(parent), logic_(logic) {
  setWindowTitle(QString::fromUtf16(text::kSelectPortCaption));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  const DialogUnits du(font());
  setFixedSize(du.X(kDialogWidth), du.Y(kDialogHeight));

  const char16_t* kinds[4] = {text::kKindCom, text::kKindLpt, text::kKindUsb, text::kKindEthernet};
  auto* group = new QButtonGroup(this);
  for (int i = 0; i < 4; ++i) {
    auto* r = new QRadioButton(QString::fromUtf16(kinds[i]), this);
    du.Place(r, 12 + 51 * i, 15, 45, 10);
    r->resize(std::max(r->width(), r->sizeHint().width()), std::max(r->height(), r->sizeHint().height()));
    group->addButton(r, i);
    radios_[static_cast<std::size_t>(i)] = r;
  }
  connect(group, &QButtonGroup::idClicked, this, [this](int id) { logic_.OnKindClicked(id); });

  group_ = new QGroupBox(this);
  du.Place(group_, 12, 30, 210, 129);
  group_->lower();

  test_ = new QPushButton(QString::fromUtf16(text::kTestButton), this);
  du.Place(test_, 24, 129, 90, 24);
  search_ = new QPushButton(QString::fromUtf16(text::kSearchButton), this);
  du.Place(search_, 150, 129, 60, 24);
  ok_ = new QPushButton(QString::fromUtf16(text::kOkButton), this);
  du.Place(ok_, 111, 168, 51, 24);
  ok_->setDefault(true);
  cancel_ = new QPushButton(QString::fromUtf16(text::kCancelButton), this);
  du.Place(cancel_, 171, 168, 51, 24);
  connect(test_, &QPushButton::clicked, this, [this] { logic_.OnCommunicationTest(); });
  connect(search_, &QPushButton::clicked, this, [this] { logic_.OnSearch(); });
  connect(ok_, &QPushButton::clicked, this, [this] { logic_.OnOk(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { logic_.OnCancel(); });

  com_ = std::make_unique<ComPage>(this, du);
  lpt_ = std::make_unique<PortListPage>(this, du, "lptPort");
  usb_ = std::make_unique<PortListPage>(this, du, "usbPort");
  ethernet_ = std::make_unique<EthernetPage>(this, du, logic_.EthernetPage());

  poll_.setInterval(50);
  connect(&poll_, &QTimer::timeout, this, [this] { logic_.Poll(); });

  logic_.ComPage().Attach(com_.get());
  logic_.LptPage().Attach(lpt_.get());
  logic_.UsbPage().Attach(usb_.get());
  logic_.EthernetPage().Attach(ethernet_.get());
  logic_.Attach(this);
  logic_.OnInitDialog();
  radios_[static_cast<std::size_t>(logic_.CurrentPage())]->setFocus();
}

SelectPortDialog::~SelectPortDialog() {
  // The logic outlives this view: detach every view before the widgets go,
  // and end an operation that is still under way.
  logic_.Attach(nullptr);
  if (logic_.Busy()) logic_.OnCancel();
  logic_.ComPage().Attach(nullptr);
  logic_.LptPage().Attach(nullptr);
  logic_.UsbPage().Attach(nullptr);
  logic_.EthernetPage().Attach(nullptr);
}

QComboBox* SelectPortDialog::ComPortList() const { return com_->port; }
QComboBox* SelectPortDialog::LptPortList() const { return lpt_->port; }
QComboBox* SelectPortDialog::UsbPortList() const { return usb_->port; }
IpAddressEdit* SelectPortDialog::AddressEdit() const { return ethernet_->address; }
QListWidget* SelectPortDialog::FoundPrinters() const { return ethernet_->found; }

void SelectPortDialog::reject() {
  // Escape does not break off a search or a test; the close box does.
  if (logic_.Busy()) return;
  logic_.OnCancel();
}

void SelectPortDialog::closeEvent(QCloseEvent* event) {
  if (!ending_) logic_.OnCancel();
  event->accept();
}

void SelectPortDialog::CheckRadio(int index) {
  if (index >= 0 && index < 4) radios_[static_cast<std::size_t>(index)]->setChecked(true);
}
void SelectPortDialog::EnableSearch(bool on) { search_->setEnabled(on); }
void SelectPortDialog::EnableTest(bool on) { test_->setEnabled(on); }
void SelectPortDialog::EnableOk(bool on) { ok_->setEnabled(on); }

void SelectPortDialog::EnableKindChoice(bool on) {
  for (auto* r : radios_) r->setEnabled(on);
  com_->page->setEnabled(on);
  lpt_->page->setEnabled(on);
  usb_->page->setEnabled(on);
  ethernet_->page->setEnabled(on);
  cancel_->setEnabled(on);
}

void SelectPortDialog::SetWaitCursor(bool on) { waitCursor_.Set(on); }

void SelectPortDialog::ShowMessage(const MessageBoxSpec& message) { ShowMessageBox(this, message); }

void SelectPortDialog::SetPolling(bool on) {
  if (on) {
    poll_.start();
  } else {
    poll_.stop();
  }
}

void SelectPortDialog::EndDialog(bool ok) {
  ending_ = true;
  done(ok ? QDialog::Accepted : QDialog::Rejected);
}

}  // namespace tw::gui::qt
