#include "gui/main_dialog.h"

#include "gui/dialog_texts.h"

namespace tw::gui {

CTrimsenseDlg::CTrimsenseDlg(IMainDialogView& view, ICUIManager* cui, IEnumPort* enumPort)
    : view_(view), cui_(cui ? cui : &ownManager_), enum_(enumPort ? enumPort : &ownEnum_) {}

CTrimsenseDlg::~CTrimsenseDlg() {
  if (run_) run_->Abort();
}

void CTrimsenseDlg::OnInitDialog() {
  view_.SetPortText(text::kNoPortSelected);
  view_.EnableAdjustment(false);
  view_.EnableSelectPort(true);
}

void CTrimsenseDlg::OnSelectPort() {
  if (Busy()) return;
  CSelectPortDlg dialog(enum_);
  dialog.SetPortEntry(entry_);
  dialog.SetCUIManager(cui_);
  // On Cancel nothing changes: a port chosen earlier stays chosen.
  if (!view_.RunSelectPortDialog(dialog)) return;
  entry_ = dialog.GetPortEntry();
  view_.SetPortText(entry_.name);
  view_.EnableAdjustment(true);
}

void CTrimsenseDlg::OnAdjustment() {
  if (Busy()) return;
  view_.SetWaitCursor(true);
  view_.EnableAdjustment(false);
  view_.EnableSelectPort(false);
  run_ = cui_->StartAdjustment(entry_);
  view_.SetPolling(true);
  Poll();
}

void CTrimsenseDlg::Poll() {
  if (!run_) return;
  const auto code = run_->Poll();
  if (!code) return;
  const std::u16string reason = run_->FailureReason();
  run_.reset();
  view_.SetPolling(false);
  view_.SetWaitCursor(false);
  view_.ShowMessage(AdjustmentResultMessage(*code, reason));
  view_.EnableSelectPort(true);
  view_.EnableAdjustment(true);
}

void CTrimsenseDlg::OnClose() {
  if (!run_) return;
  run_->Abort();
  run_.reset();
  view_.SetPolling(false);
  view_.SetWaitCursor(false);
}

}  // namespace tw::gui
