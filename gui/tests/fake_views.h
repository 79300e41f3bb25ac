#pragma once
// Fakes of the views, the console runner and the port sources for the
// dialogs' logic.

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "gui/config_port.h"
#include "gui/cui_manager.h"
#include "gui/main_dialog.h"
#include "gui/select_port_dialog.h"

namespace tw::gui::testing {

inline std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }
inline std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class FakeList : public IListControl {
 public:
  void Clear() override { rows.clear(), details.clear(), selected = -1; }
  void SetDetail(int index, const std::u16string& d) override { details[index] = Narrow(d); }
  std::map<int, std::string> details;
  void Add(const std::u16string& text) override { rows.push_back(text); }
  int Count() const override { return static_cast<int>(rows.size()); }
  int Selected() const override { return selected; }
  void Select(int index) override { selected = index >= 0 && index < Count() ? index : -1; }
  std::u16string Text(int index) const override { return rows.at(static_cast<std::size_t>(index)); }
  // Selects the row with this text; false when there is none.
  bool Pick(const std::string& text) {
    for (int i = 0; i < Count(); ++i) {
      if (Narrow(rows[static_cast<std::size_t>(i)]) == text) return selected = i, true;
    }
    return false;
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> out;
    for (auto& r : rows) out.push_back(Narrow(r));
    return out;
  }
  std::string SelectedText() const { return selected < 0 ? "" : Narrow(rows[static_cast<std::size_t>(selected)]); }
  std::vector<std::u16string> rows;
  int selected = -1;
};

class FakeComView : public IComPageView {
 public:
  void ShowPage(bool show) override { shown = show; }
  IListControl& PortList() override { return ports; }
  IListControl& BaudRateList() override { return baud; }
  IListControl& ParityList() override { return parity; }
  IListControl& DataBitList() override { return dataBits; }
  FakeList ports, baud, parity, dataBits;
  bool shown = false;
};

class FakePortListView : public IPortListPageView {
 public:
  void ShowPage(bool show) override { shown = show; }
  IListControl& PortList() override { return ports; }
  FakeList ports;
  bool shown = false;
};

class FakeEthernetView : public IEthernetPageView {
 public:
  void ShowPage(bool show) override { shown = show; }
  IListControl& FoundList() override { return found; }
  void ShowAddressParts(const IpAddressField::Parts& p) override { parts = p; }
  FakeList found;
  IpAddressField::Parts parts;
  bool shown = false;
};

// A console run whose end the test decides.
class FakeRun : public IConsoleRun {
 public:
  FakeRun(std::optional<int>* code, bool* aborted, const std::u16string* reason)
      : code_(code), aborted_(aborted), reason_(reason) {}
  std::optional<int> Poll() override { return *code_; }
  int Finish() override { return code_->value_or(-1); }
  void Abort() override { *aborted_ = true; }
  std::u16string FailureReason() const override { return *reason_; }

 private:
  std::optional<int>* code_;
  bool* aborted_;
  const std::u16string* reason_;
};

// Records every program start; runs end with `exitCode` (nullopt: still running).
class FakeLauncher : public IConsoleLauncher {
 public:
  std::unique_ptr<IConsoleRun> Launch(const std::filesystem::path& program,
                                      const std::vector<std::u16string>& args) override {
    programs.push_back(program);
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (i) line += '|';
      line += Narrow(args[i]);
    }
    calls.push_back(line);
    if (!startable) return nullptr;
    return std::make_unique<FakeRun>(&exitCode, &aborted, &reason);
  }
  std::u16string reason;  // what the runs say on standard error
  std::vector<std::filesystem::path> programs;
  std::vector<std::string> calls;
  std::optional<int> exitCode = 0;
  bool startable = true;
  bool aborted = false;
};

class FakePortSource : public IPortSource {
 public:
  std::vector<int> ComPortNumbers() override { return com; }
  std::vector<int> LptPortNumbers() override { return lpt; }
  std::vector<UsbMember> UsbMembers(int usbClass) override { return usb[usbClass]; }
  PortDetails Details(int kind, int number, int usbClass) override {
    auto it = details.find({kind, number, usbClass});
    return it == details.end() ? PortDetails{} : it->second;
  }
  std::map<std::tuple<int, int, int>, PortDetails> details;
  std::vector<int> com, lpt;
  std::map<int, std::vector<UsbMember>> usb;
};

class FakeFinder : public INetworkFinder {
 public:
  std::vector<std::u16string> FindPrinters(std::stop_token stop) override {
    ++searches;
    // A search that would not end by itself: only a stop request ends it.
    for (int i = 0; untilStopped && i < 3000 && !stop.stop_requested(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<std::u16string> out;
    for (auto& a : printers) out.push_back(Wide(a));
    return out;
  }
  std::vector<std::string> printers;
  std::atomic<int> searches = 0;
  bool untilStopped = false;
};

class FakeSelectView : public ISelectPortView {
 public:
  void CheckRadio(int index) override { radio = index; }
  void EnableSearch(bool on) override { search = on; }
  void EnableTest(bool on) override { test = on; }
  void EnableOk(bool on) override { ok = on; }
  void EnableKindChoice(bool on) override { kindChoice = on; }
  void SetWaitCursor(bool on) override { waitCursor = on; }
  void ShowMessage(const MessageBoxSpec& m) override { messages.push_back(m); }
  void SetPolling(bool on) override { polling = on; }
  void EndDialog(bool okEnd) override { ended = true, endedOk = okEnd; }
  int radio = -1;
  bool search = false, test = false, ok = false, kindChoice = true, waitCursor = false, polling = false;
  bool ended = false, endedOk = false;
  std::vector<MessageBoxSpec> messages;
};

// The four page views and the dialog's view, attached to a CSelectPortDlg.
struct SelectPortHarness {
  void Attach(CSelectPortDlg& d) {
    d.ComPage().Attach(&com);
    d.LptPage().Attach(&lpt);
    d.UsbPage().Attach(&usb);
    d.EthernetPage().Attach(&eth);
    d.Attach(&view);
  }
  FakeComView com;
  FakePortListView lpt, usb;
  FakeEthernetView eth;
  FakeSelectView view;
};

}  // namespace tw::gui::testing
