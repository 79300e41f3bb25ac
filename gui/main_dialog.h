#pragma once
// The main dialog's behaviour: the chosen port, "Select Port" and
// "Adjustment".
//
// States: no port (text "Port is not selected.", "Adjustment" off); port
// chosen (the port's name, "Adjustment" on); running (both buttons off, wait
// cursor) until the console program ends and its result is shown. The window
// keeps answering while it runs: the view calls Poll() while polling is on.

#include <memory>

#include "gui/cui_manager.h"
#include "gui/enum_port.h"
#include "gui/messages.h"
#include "gui/select_port_dialog.h"

namespace tw::gui {

class IMainDialogView {
 public:
  virtual ~IMainDialogView() = default;
  virtual void SetPortText(const std::u16string& text) = 0;
  virtual void EnableAdjustment(bool on) = 0;
  virtual void EnableSelectPort(bool on) = 0;
  virtual void SetWaitCursor(bool on) = 0;
  // A modal message box owned by the main dialog.
  virtual void ShowMessage(const MessageBoxSpec& message) = 0;
  // Shows the select-port dialog for `dialog` modally: the view attaches its
  // page views and its own view, runs it, and returns true when it ended with OK.
  virtual bool RunSelectPortDialog(CSelectPortDlg& dialog) = 0;
  // While on, the view calls CTrimsenseDlg::Poll() every few tens of milliseconds.
  virtual void SetPolling(bool on) = 0;
};

class CTrimsenseDlg {
 public:
  // `cui` and `enumPort` (not owned) default to the dialog's own runner and
  // the machine's ports.
  explicit CTrimsenseDlg(IMainDialogView& view, ICUIManager* cui = nullptr, IEnumPort* enumPort = nullptr);
  ~CTrimsenseDlg();

  void OnInitDialog();
  void OnSelectPort();
  void OnAdjustment();
  void Poll();
  // The window is closing: a run under way is ended and collected first, so
  // no console program outlives the front end.
  void OnClose();

  bool Busy() const { return run_ != nullptr; }
  const PortEntry& CurrentEntry() const { return entry_; }

 private:
  IMainDialogView& view_;
  CCUIManager ownManager_;
  CEnumPort ownEnum_;
  ICUIManager* cui_;
  IEnumPort* enum_;
  PortEntry entry_;
  std::unique_ptr<IConsoleRun> run_;
};

}  // namespace tw::gui
