// The main dialog and the select-port dialog as state machines over fake
// views: start-up state, choosing, Cancel, running, results, closing.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "fake_views.h"
#include "gui/main_dialog.h"
#include "gui/select_port_dialog.h"

namespace tw::gui {
namespace {

using testing::Narrow;

// Polls until `done` or 10 s.
void PollUntil(const std::function<void()>& poll, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < end) {
    poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

struct SelectFixture {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  testing::FakeLauncher launcher;
  CEnumPort enumPort{&src, &finder};
  CCUIManager cui{&launcher, "/opt/kp"};
  CSelectPortDlg dlg{&enumPort};
  testing::SelectPortHarness h;

  void Open(const PortEntry& entry = {}) {
    dlg.SetPortEntry(entry);
    dlg.SetCUIManager(&cui);
    h.Attach(dlg);
    dlg.OnInitDialog();
  }
  void Finish() {
    PollUntil([&] { dlg.Poll(); }, [&] { return !dlg.Busy(); });
  }
};

TEST(SelectPortDialog, FirstUseShowsTheComPageWithItsButtons) {
  SelectFixture f;
  f.src.com = {1};
  f.Open();
  EXPECT_EQ(f.h.view.radio, 0);
  EXPECT_TRUE(f.h.com.shown);
  EXPECT_FALSE(f.h.eth.shown);
  EXPECT_TRUE(f.h.view.search);
  EXPECT_TRUE(f.h.view.ok);
  EXPECT_TRUE(f.h.view.test);
  // Switching to a kind without ports disables OK and the test at once.
  f.dlg.OnKindClicked(CSelectPortDlg::kPageLpt);
  EXPECT_TRUE(f.h.lpt.shown);
  EXPECT_FALSE(f.h.com.shown);
  EXPECT_FALSE(f.h.view.ok);
  EXPECT_FALSE(f.h.view.test);
  EXPECT_TRUE(f.h.view.search);
}

TEST(SelectPortDialog, NetworkEntryOpensTheEthernetPageWithItsAddress) {
  SelectFixture f;
  PortEntry net;
  net.kind = kPortNetwork;
  net.name = u"127.0.0.5";
  f.Open(net);
  EXPECT_EQ(f.h.view.radio, 3);
  EXPECT_TRUE(f.h.eth.shown);
  EXPECT_EQ(f.h.eth.parts, (IpAddressField::Parts{u"127", u"0", u"0", u"5"}));
  EXPECT_TRUE(f.h.view.ok);
  EXPECT_EQ(f.finder.searches, 0);

  // A blank field disables OK and "Communication Test"; typing enables them.
  for (int i = 0; i < 4; ++i) f.dlg.EthernetPage().OnAddressPartEdited(i, u"");
  EXPECT_FALSE(f.h.view.ok);
  EXPECT_FALSE(f.h.view.test);
  f.dlg.EthernetPage().OnAddressPartEdited(2, u"4");
  EXPECT_TRUE(f.h.view.ok);
  EXPECT_TRUE(f.h.view.test);
}

TEST(SelectPortDialog, UsbEntryOpensTheUsbPage) {
  SelectFixture f;
  PortEntry usb;
  usb.kind = kPortUsb;
  f.Open(usb);
  EXPECT_EQ(f.h.view.radio, 2);
  EXPECT_TRUE(f.h.usb.shown);
}

TEST(SelectPortDialog, SearchRunsWhileTheButtonsAreOffAndFillsTheRows) {
  SelectFixture f;
  f.finder.printers = {"192.168.192.168"};
  f.Open();
  f.dlg.OnKindClicked(CSelectPortDlg::kPageEthernet);
  f.dlg.OnSearch();
  EXPECT_TRUE(f.h.view.waitCursor);
  EXPECT_FALSE(f.h.view.search);
  EXPECT_FALSE(f.h.view.ok);
  EXPECT_FALSE(f.h.view.kindChoice);
  EXPECT_TRUE(f.h.view.polling);
  f.dlg.OnKindClicked(CSelectPortDlg::kPageCom);  // ignored while busy
  f.dlg.EthernetPage().OnAddressPartEdited(0, u"1");  // cannot enable the buttons while busy
  EXPECT_FALSE(f.h.view.ok);
  f.Finish();
  EXPECT_EQ(f.dlg.CurrentPage(), CSelectPortDlg::kPageEthernet);
  EXPECT_EQ(f.h.eth.found.Rows(), (std::vector<std::string>{"192.168.192.168"}));
  EXPECT_TRUE(f.h.view.search);
  EXPECT_FALSE(f.h.view.waitCursor);
  EXPECT_FALSE(f.h.view.polling);
  EXPECT_TRUE(f.h.view.kindChoice);
  // On this page the field counts, not the rows: it holds "1", so OK is on.
  EXPECT_TRUE(f.h.view.ok);
}

TEST(SelectPortDialog, CancelDuringASearchStopsIt) {
  SelectFixture f;
  f.finder.printers = {"127.0.0.5"};
  f.finder.untilStopped = true;
  f.Open();
  f.dlg.OnKindClicked(CSelectPortDlg::kPageEthernet);
  f.dlg.OnSearch();
  ASSERT_TRUE(f.dlg.Busy());
  PollUntil([] {}, [&] { return f.finder.searches.load() > 0; });
  const auto start = std::chrono::steady_clock::now();
  f.dlg.OnCancel();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(f.dlg.Busy());
  EXPECT_TRUE(f.h.view.ended);
  EXPECT_FALSE(f.h.view.endedOk);
}

TEST(SelectPortDialog, SearchThatFindsNothingKeepsOkAndTestOff) {
  SelectFixture f;
  f.src.com = {1};
  f.Open();
  f.src.com = {};
  f.dlg.OnSearch();
  f.Finish();
  EXPECT_TRUE(f.h.view.search);
  EXPECT_FALSE(f.h.view.ok);
  EXPECT_FALSE(f.h.view.test);
}

TEST(SelectPortDialog, CommunicationTestUsesWhatThePageShowsAndReportsTheResult) {
  SelectFixture f;
  f.src.com = {1, 3};
  f.Open();
  ASSERT_TRUE(f.h.com.ports.Pick("COM3"));
  f.launcher.exitCode = std::nullopt;  // still running
  f.dlg.OnCommunicationTest();
  EXPECT_TRUE(f.dlg.Busy());
  EXPECT_FALSE(f.h.view.search);
  EXPECT_FALSE(f.h.view.ok);
  EXPECT_FALSE(f.h.view.test);
  EXPECT_TRUE(f.h.view.waitCursor);
  f.dlg.Poll();
  EXPECT_TRUE(f.h.view.messages.empty());
  f.launcher.exitCode = 6;
  f.launcher.reason = u"Trimsense: why";
  f.dlg.Poll();
  ASSERT_EQ(f.h.view.messages.size(), 1u);
  EXPECT_EQ(Narrow(f.h.view.messages[0].text), "Communication Test is failed.\n\nOthre Model");
  EXPECT_EQ(Narrow(f.h.view.messages[0].details), "Trimsense: why");
  EXPECT_EQ(Narrow(f.h.view.messages[0].caption), "Communication Test");
  EXPECT_EQ(f.h.view.messages[0].type, kMbIconError);
  EXPECT_EQ(f.launcher.calls[0], "-c3|-cB38400|-cPn|-cD8|-tC");
  EXPECT_TRUE(f.h.view.search && f.h.view.ok && f.h.view.test);
  EXPECT_FALSE(f.h.view.waitCursor);

  // Cancel afterwards: the dialog's entry is emptied, nothing is chosen.
  f.dlg.OnCancel();
  EXPECT_TRUE(f.h.view.ended);
  EXPECT_FALSE(f.h.view.endedOk);
  EXPECT_EQ(f.dlg.GetPortEntry(), PortEntry{});
}

TEST(SelectPortDialog, CancelDuringATestEndsTheConsoleProgram) {
  SelectFixture f;
  f.src.com = {1};
  f.Open();
  f.launcher.exitCode = std::nullopt;
  f.dlg.OnCommunicationTest();
  f.dlg.OnCancel();
  EXPECT_TRUE(f.launcher.aborted);
  EXPECT_FALSE(f.dlg.Busy());
  EXPECT_FALSE(f.h.view.waitCursor);
  EXPECT_TRUE(f.h.view.messages.empty());
}

TEST(SelectPortDialog, OkTakesThePagesChoice) {
  SelectFixture f;
  f.src.com = {1, 2, 10};
  f.Open();
  ASSERT_TRUE(f.h.com.ports.Pick("COM10"));
  f.dlg.OnOk();
  EXPECT_TRUE(f.h.view.endedOk);
  EXPECT_EQ(f.dlg.GetPortEntry().number, 10);
  EXPECT_EQ(f.dlg.GetPortEntry().kind, kPortSerial);
}

class FakeMainView : public IMainDialogView {
 public:
  void SetPortText(const std::u16string& t) override { portText = Narrow(t); }
  void EnableAdjustment(bool on) override { adjustment = on; }
  void EnableSelectPort(bool on) override { selectPort = on; }
  void SetWaitCursor(bool on) override { waitCursor = on; }
  void ShowMessage(const MessageBoxSpec& m) override { messages.push_back(m); }
  bool RunSelectPortDialog(CSelectPortDlg& dialog) override {
    ++dialogs;
    testing::SelectPortHarness h;
    h.Attach(dialog);
    dialog.OnInitDialog();
    if (script) script(dialog, h);
    return h.view.ended && h.view.endedOk;
  }
  void SetPolling(bool on) override { polling = on; }

  std::function<void(CSelectPortDlg&, testing::SelectPortHarness&)> script;
  std::string portText;
  bool adjustment = true, selectPort = false, waitCursor = false, polling = false;
  int dialogs = 0;
  std::vector<MessageBoxSpec> messages;
};

struct MainFixture {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  testing::FakeLauncher launcher;
  CEnumPort enumPort{&src, &finder};
  CCUIManager cui{&launcher, "/opt/kp"};
  FakeMainView view;
  CTrimsenseDlg dlg{view, &cui, &enumPort};
};

TEST(MainDialog, StartsWithoutPortAndAdjustmentOff) {
  MainFixture f;
  f.dlg.OnInitDialog();
  EXPECT_EQ(f.view.portText, "Port is not selected.");
  EXPECT_FALSE(f.view.adjustment);
  EXPECT_TRUE(f.view.selectPort);
}

TEST(MainDialog, OkTakesThePortAndCancelKeepsTheEarlierChoice) {
  MainFixture f;
  f.src.com = {1, 3};
  f.dlg.OnInitDialog();
  f.view.script = [](CSelectPortDlg& d, testing::SelectPortHarness& h) {
    h.com.ports.Pick("COM3");
    d.OnOk();
  };
  f.dlg.OnSelectPort();
  EXPECT_EQ(f.view.portText, "COM3");
  EXPECT_TRUE(f.view.adjustment);

  // Opened again: COM3 is preselected; a successful test, then Cancel.
  f.view.script = [&](CSelectPortDlg& d, testing::SelectPortHarness& h) {
    EXPECT_EQ(h.com.ports.SelectedText(), "COM3");
    h.com.ports.Pick("COM1");
    d.OnCommunicationTest();
    d.Poll();
    d.OnCancel();
  };
  f.dlg.OnSelectPort();
  EXPECT_EQ(f.view.portText, "COM3");
  EXPECT_TRUE(f.view.adjustment);
  EXPECT_EQ(f.dlg.CurrentEntry().number, 3);
  EXPECT_EQ(f.launcher.calls.back(), "-c1|-cB38400|-cPn|-cD8|-tC");
}

TEST(MainDialog, AdjustmentRunsWithButtonsOffAndReportsTheExitCode) {
  MainFixture f;
  f.dlg.OnInitDialog();
  f.view.script = [](CSelectPortDlg& d, testing::SelectPortHarness&) {
    d.OnKindClicked(CSelectPortDlg::kPageEthernet);
    d.EthernetPage().OnAddressTextSet(u"127.0.0.5");
    d.OnOk();
  };
  f.dlg.OnSelectPort();
  EXPECT_EQ(f.view.portText, "127.0.0.5");

  struct Case {
    int code;
    const char* text;
    int type;
  };
  for (const Case c : {Case{0, "Slip Papre Senser Adjustment is completed.", kMbOk},
                       Case{6, "Slip Papre Senser Adjustment is failed.\n\nOthre Model", kMbIconError},
                       Case{3, "Slip Papre Senser Adjustment is failed.\n\nA communication error occurred.",
                            kMbIconError}}) {
    f.launcher.exitCode = std::nullopt;
    f.dlg.OnAdjustment();
    EXPECT_FALSE(f.view.adjustment);
    EXPECT_FALSE(f.view.selectPort);
    EXPECT_TRUE(f.view.waitCursor);
    EXPECT_TRUE(f.view.polling);
    f.dlg.OnAdjustment();  // a second press while running starts nothing
    f.dlg.Poll();
    f.launcher.exitCode = c.code;
    // The console program's reason goes with a failure only, as details.
    f.launcher.reason = u"Trimsense: cannot open COM5 (/dev/ttyS4): Permission denied";
    f.dlg.Poll();
    ASSERT_FALSE(f.view.messages.empty());
    EXPECT_EQ(Narrow(f.view.messages.back().text), c.text);
    EXPECT_EQ(Narrow(f.view.messages.back().details), c.code == 0 ? "" : Narrow(f.launcher.reason));
    EXPECT_EQ(Narrow(f.view.messages.back().caption), "Slip Papre Senser Adjustment");
    EXPECT_EQ(f.view.messages.back().type, c.type);
    EXPECT_TRUE(f.view.adjustment);
    EXPECT_TRUE(f.view.selectPort);
    EXPECT_FALSE(f.view.waitCursor);
    EXPECT_FALSE(f.view.polling);
  }
  EXPECT_EQ(f.launcher.calls.size(), 3u);
  EXPECT_EQ(f.launcher.calls[0], "-n127.0.0.5");

  // The console program cannot be started: 10, a communication error.
  f.launcher.startable = false;
  f.dlg.OnAdjustment();
  EXPECT_EQ(Narrow(f.view.messages.back().text),
            "Slip Papre Senser Adjustment is failed.\n\nA communication error occurred.");
  EXPECT_TRUE(f.view.adjustment);
}

TEST(MainDialog, ClosingDuringARunEndsTheConsoleProgram) {
  MainFixture f;
  f.dlg.OnInitDialog();
  f.launcher.exitCode = std::nullopt;
  f.dlg.OnAdjustment();
  f.dlg.OnClose();
  EXPECT_TRUE(f.launcher.aborted);
  EXPECT_FALSE(f.dlg.Busy());
  EXPECT_TRUE(f.view.messages.empty());
}

}  // namespace
}  // namespace tw::gui
