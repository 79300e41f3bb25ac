#include "gui/select_port_dialog.h"

#include <chrono>

namespace tw::gui {

CSelectPortDlg::CSelectPortDlg(IEnumPort* enumPort)
    : com_(enumPort), lpt_(enumPort), usb_(enumPort), ethernet_(enumPort) {}

CSelectPortDlg::~CSelectPortDlg() {
  if (run_) run_->Abort();
  searchStop_.request_stop();
  if (search_.valid()) search_.wait();
}

void CSelectPortDlg::OnInitDialog() {
  ethernet_.SetDialogButtons(this);
  pages_ = {&com_, &lpt_, &usb_, &ethernet_};
  // The page of the entry's kind takes it; an empty entry goes nowhere.
  int taken = -1;
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i]->SetPortEntry(entry_) && taken < 0) taken = static_cast<int>(i);
  }
  // Building the pages fills their lists: serial, parallel and USB ports are
  // enumerated now; the network search waits for "Search".
  com_.OnInitDialog();
  lpt_.OnInitDialog();
  usb_.OnInitDialog();
  ethernet_.OnInitDialog();
  for (IConfigPort* p : pages_) p->ShowPage(kShowHide);
  const int index = taken >= 0 ? taken : kPageCom;
  if (view_) {
    view_->CheckRadio(index);
    view_->EnableSearch(true);
  }
  current_ = index;
  OnKindClicked(index);
}

void CSelectPortDlg::OnKindClicked(int index) {
  if (Busy() || index < 0 || index > 3) return;
  Shown()->ShowPage(kShowHide);
  current_ = index;
  Shown()->ShowPage(kShowShow);
  EnableChoiceButtons(Shown()->HasSelectablePort());
}

void CSelectPortDlg::EnableChoiceButtons(bool on) {
  if (!view_) return;
  view_->EnableTest(on);
  view_->EnableOk(on);
}

void CSelectPortDlg::SetBusy(bool busy) {
  if (!view_) return;
  if (busy) {
    view_->SetWaitCursor(true);
    view_->EnableSearch(false);
    EnableChoiceButtons(false);
    view_->EnableKindChoice(false);
    view_->SetPolling(true);
  } else {
    view_->SetPolling(false);
    view_->EnableKindChoice(true);
    view_->SetWaitCursor(false);
  }
}

void CSelectPortDlg::OnSearch() {
  if (Busy()) return;
  SetBusy(true);
  IConfigPort* page = Shown();
  searchStop_ = std::stop_source();
  search_ = std::async(std::launch::async, [page, stop = searchStop_.get_token()] { return page->FindPorts(stop); });
}

void CSelectPortDlg::OnCommunicationTest() {
  if (Busy() || !cui_) return;
  PortEntry tested;
  Shown()->GetPortEntry(tested);
  SetBusy(true);
  run_ = cui_->StartCommunicationTest(tested);
}

void CSelectPortDlg::Poll() {
  using namespace std::chrono_literals;
  if (search_.valid() && search_.wait_for(0s) == std::future_status::ready) {
    std::vector<PortEntry> found = search_.get();
    Shown()->ShowFoundPorts(std::move(found));
    SetBusy(false);
    if (view_) view_->EnableSearch(true);
    EnableChoiceButtons(Shown()->HasSelectablePort());
  }
  if (run_) {
    const auto code = run_->Poll();
    if (!code) return;
    const std::u16string reason = run_->FailureReason();
    run_.reset();
    SetBusy(false);
    // The result changes nothing in the dialog: neither the entry nor the page.
    if (view_) view_->ShowMessage(CommunicationTestResultMessage(*code, reason));
    if (view_) view_->EnableSearch(true);
    EnableChoiceButtons(true);
  }
}

void CSelectPortDlg::OnOk() {
  if (Busy()) return;
  // A page with nothing to give leaves the entry as it was.
  Shown()->GetPortEntry(entry_);
  if (view_) view_->EndDialog(true);
}

void CSelectPortDlg::OnCancel() {
  if (run_) {
    run_->Abort();
    run_.reset();
  }
  // A search is told to stop and ends within a tenth of a second.
  if (search_.valid()) {
    searchStop_.request_stop();
    search_.get();
  }
  if (view_) {
    view_->SetPolling(false);
    view_->SetWaitCursor(false);
  }
  entry_ = PortEntry{};
  if (view_) view_->EndDialog(false);
}

void CSelectPortDlg::AddressFieldChanged(bool notBlank) {
  // During a search or a test the buttons stay off whatever the field says.
  if (Busy()) return;
  EnableChoiceButtons(notBlank);
}

}  // namespace tw::gui
