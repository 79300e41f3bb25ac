#pragma once
// The select-port dialog's behaviour: the kind of port (one radio button and
// one page per kind), "Search", "Communication Test", OK and Cancel.
//
// The window stays responsive while a search or a communication test runs:
// the operation is started, the view calls Poll() regularly while polling is
// on, and the step finishes when the operation has ended. Meanwhile the three
// buttons, the kind choice and the page are disabled, so there is only ever
// one operation.

#include <array>
#include <future>
#include <memory>
#include <stop_token>

#include "gui/config_port.h"
#include "gui/cui_manager.h"
#include "gui/messages.h"

namespace tw::gui {

class ISelectPortView {
 public:
  virtual ~ISelectPortView() = default;
  // Checks the radio button of page `index` (0 COM .. 3 Ethernet), unchecks the others.
  virtual void CheckRadio(int index) = 0;
  virtual void EnableSearch(bool on) = 0;
  virtual void EnableTest(bool on) = 0;
  virtual void EnableOk(bool on) = 0;
  // The radio buttons, the pages and Cancel: off while an operation runs
  // (the close box still ends the dialog).
  virtual void EnableKindChoice(bool on) = 0;
  virtual void SetWaitCursor(bool on) = 0;
  // A modal message box owned by the dialog.
  virtual void ShowMessage(const MessageBoxSpec& message) = 0;
  // While on, the view calls CSelectPortDlg::Poll() every few tens of milliseconds.
  virtual void SetPolling(bool on) = 0;
  virtual void EndDialog(bool ok) = 0;
};

class CSelectPortDlg : private IDialogButtons {
 public:
  // Page order of the page table and of the radio buttons.
  enum Page { kPageCom = 0, kPageLpt = 1, kPageUsb = 2, kPageEthernet = 3 };

  // `enumPort` (not owned) lists the ports for the four pages.
  explicit CSelectPortDlg(IEnumPort* enumPort);
  ~CSelectPortDlg() override;
  CSelectPortDlg(const CSelectPortDlg&) = delete;
  CSelectPortDlg& operator=(const CSelectPortDlg&) = delete;

  // Before the dialog is shown: the current choice and the runner of the test.
  void SetPortEntry(const PortEntry& entry) { entry_ = entry; }
  void SetCUIManager(ICUIManager* cui) { cui_ = cui; }
  // After OK: the choice.
  const PortEntry& GetPortEntry() const { return entry_; }

  // The pages, for the view to attach its page views before OnInitDialog.
  CConfigCOM& ComPage() { return com_; }
  CConfigLPT& LptPage() { return lpt_; }
  CConfigUSB& UsbPage() { return usb_; }
  CConfigEthernet& EthernetPage() { return ethernet_; }

  void Attach(ISelectPortView* view) { view_ = view; }
  void OnInitDialog();
  // Radio button of page `index` clicked.
  void OnKindClicked(int index);
  void OnSearch();
  void OnCommunicationTest();
  void OnOk();
  // Cancel, the close box or Escape. An operation under way is ended first:
  // a console program run is asked to end (and killed after its grace
  // period), a search is stopped at its next tenth of a second.
  void OnCancel();
  // Finishes the operation under way once it has ended.
  void Poll();

  bool Busy() const { return run_ != nullptr || search_.valid(); }
  int CurrentPage() const { return current_; }

 private:
  void AddressFieldChanged(bool notBlank) override;
  void SetBusy(bool busy);
  void EnableChoiceButtons(bool on);
  IConfigPort* Shown() { return pages_[static_cast<std::size_t>(current_)]; }

  ISelectPortView* view_ = nullptr;
  ICUIManager* cui_ = nullptr;
  CConfigCOM com_;
  CConfigLPT lpt_;
  CConfigUSB usb_;
  CConfigEthernet ethernet_;
  std::array<IConfigPort*, 4> pages_{};
  int current_ = 0;
  PortEntry entry_;
  std::unique_ptr<IConsoleRun> run_;
  std::future<std::vector<PortEntry>> search_;
  std::stop_source searchStop_;
};

}  // namespace tw::gui
