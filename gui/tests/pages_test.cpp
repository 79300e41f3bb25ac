// The port pages: lists, preselection, defaults, reading the choice, and the
// IP address field.
#include <gtest/gtest.h>

#include "fake_views.h"
#include "gui/config_port.h"

namespace tw::gui {
namespace {

using testing::Narrow;

struct ComPage {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  CEnumPort enumPort{&src, &finder};
  CConfigCOM page{&enumPort};
  testing::FakeComView view;
  void Open() {
    page.Attach(&view);
    page.OnInitDialog();
  }
};

TEST(SerialPage, WithoutEarlierChoiceTheDefaultsAreFirstPort38400NoneAnd8bit) {
  ComPage p;
  p.src.com = {4, 1};
  p.Open();
  EXPECT_EQ(p.view.ports.Rows(), (std::vector<std::string>{"COM1", "COM4"}));
  EXPECT_EQ(p.view.baud.Rows(), (std::vector<std::string>{"2400 bps", "4800 bps", "9600 bps", "19200 bps",
                                                          "38400 bps", "57600 bps", "115200 bps"}));
  EXPECT_EQ(p.view.parity.Rows(), (std::vector<std::string>{"None", "Even", "Odd"}));
  EXPECT_EQ(p.view.dataBits.Rows(), (std::vector<std::string>{"7bit", "8bit"}));
  EXPECT_EQ(p.view.ports.SelectedText(), "COM1");
  EXPECT_EQ(p.view.baud.SelectedText(), "38400 bps");
  EXPECT_EQ(p.view.parity.SelectedText(), "None");
  EXPECT_EQ(p.view.dataBits.SelectedText(), "8bit");

  PortEntry out;
  p.page.GetPortEntry(out);
  EXPECT_EQ(out.kind, kPortSerial);
  EXPECT_EQ(out.number, 1);
  EXPECT_EQ(out.baudRate, 38400);
  EXPECT_EQ(out.parity, kParityNone);
  EXPECT_EQ(out.dataBits, 8);
}

TEST(SerialPage, EarlierChoiceStillPresentIsPreselectedWithItsLineSettings) {
  ComPage p;
  p.src.com = {1, 2, 10};
  PortEntry earlier;
  earlier.kind = kPortSerial;
  earlier.number = 10;
  earlier.name = u"COM10";
  earlier.baudRate = 9600;
  earlier.parity = kParityOdd;
  earlier.dataBits = 7;
  ASSERT_TRUE(p.page.SetPortEntry(earlier));
  p.Open();
  EXPECT_EQ(p.view.ports.SelectedText(), "COM10");
  EXPECT_EQ(p.view.baud.SelectedText(), "9600 bps");
  EXPECT_EQ(p.view.parity.SelectedText(), "Odd");
  EXPECT_EQ(p.view.dataBits.SelectedText(), "7bit");
  PortEntry out;
  p.page.GetPortEntry(out);
  EXPECT_EQ(out.number, 10);
  EXPECT_EQ(Narrow(out.name), "COM10");

  // The port is gone at the next search: the defaults apply.
  p.src.com = {1, 2};
  p.page.RefreshPorts();
  EXPECT_EQ(p.view.ports.SelectedText(), "COM1");
  EXPECT_EQ(p.view.baud.SelectedText(), "38400 bps");
  EXPECT_EQ(p.view.parity.SelectedText(), "None");
  EXPECT_EQ(p.view.dataBits.SelectedText(), "8bit");
}

TEST(SerialPage, ChoosingCom10YieldsNumber10AndAValueMissingKeepsItsSelection) {
  ComPage p;
  p.src.com = {1, 2, 10};
  PortEntry earlier;
  earlier.kind = kPortSerial;
  earlier.name = u"COM2";
  earlier.baudRate = 12345;  // no such item: the list keeps what it had
  earlier.parity = kParityEven;
  earlier.dataBits = 8;
  p.page.SetPortEntry(earlier);
  p.Open();
  EXPECT_EQ(p.view.ports.SelectedText(), "COM2");
  EXPECT_EQ(p.view.baud.Selected(), -1);  // nothing selected yet in a freshly filled list
  ASSERT_TRUE(p.view.ports.Pick("COM10"));
  p.view.baud.Select(6);
  PortEntry out;
  p.page.GetPortEntry(out);
  EXPECT_EQ(out.number, 10);
  EXPECT_EQ(out.baudRate, 115200);
  EXPECT_EQ(out.parity, kParityEven);
}

TEST(Pages, EntryOfAnotherKindIsRefusedAndNoPortGivesNothing) {
  ComPage p;
  p.Open();  // no serial port at all
  EXPECT_FALSE(p.page.HasSelectablePort());
  PortEntry net;
  net.kind = kPortNetwork;
  EXPECT_FALSE(p.page.SetPortEntry(net));
  PortEntry out;
  out.name = u"untouched";
  p.page.GetPortEntry(out);
  EXPECT_EQ(Narrow(out.name), "untouched");
  EXPECT_EQ(out.kind, kPortNone);
}

TEST(Pages, ParallelAndUsbSearchReplacesTheListAndSelectsItsFirstItem) {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  CEnumPort e(&src, &finder);
  src.lpt = {1, 2};
  CConfigLPT lpt(&e);
  testing::FakePortListView lptView;
  PortEntry earlier;
  earlier.kind = kPortParallel;
  earlier.number = 2;
  earlier.name = u"LPT2";
  lpt.SetPortEntry(earlier);
  lpt.Attach(&lptView);
  lpt.OnInitDialog();
  EXPECT_EQ(lptView.ports.SelectedText(), "LPT1");  // no preselection on this page
  src.lpt = {3};
  lpt.RefreshPorts();
  EXPECT_EQ(lptView.ports.Rows(), (std::vector<std::string>{"LPT3"}));
  PortEntry out;
  lpt.GetPortEntry(out);
  EXPECT_EQ(out.number, 3);
  EXPECT_EQ(out.kind, kPortParallel);

  src.usb[kUsbPrinterClass] = {{0, u"/dev/usb/lp0"}};
  CConfigUSB usb(&e);
  testing::FakePortListView usbView;
  usb.Attach(&usbView);
  usb.OnInitDialog();
  usb.GetPortEntry(out);
  EXPECT_EQ(Narrow(out.name), "USB-001");
  EXPECT_EQ(out.usbClass, kUsbPrinterClass);
  EXPECT_EQ(Narrow(out.detail), "/dev/usb/lp0");
  EXPECT_EQ(out.kind, kPortUsb);
}

struct ButtonsProbe : IDialogButtons {
  void AddressFieldChanged(bool notBlank) override { calls.push_back(notBlank); }
  std::vector<bool> calls;
};

TEST(EthernetPage, ListRowGoesIntoTheFieldAndTheButtonsFollowTheField) {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  finder.printers = {"192.168.192.168", "127.0.0.7"};
  CEnumPort e(&src, &finder);
  CConfigEthernet page(&e);
  testing::FakeEthernetView view;
  ButtonsProbe buttons;
  page.Attach(&view);
  page.SetDialogButtons(&buttons);
  page.OnInitDialog();
  EXPECT_EQ(finder.searches, 0);  // no search until asked
  EXPECT_FALSE(page.HasSelectablePort());

  page.RefreshPorts();
  EXPECT_EQ(view.found.Rows(), (std::vector<std::string>{"192.168.192.168", "127.0.0.7"}));
  EXPECT_TRUE(page.Field().IsBlank());  // a search leaves the field alone
  view.found.Select(0);
  page.OnFoundSelectionChanged();
  EXPECT_EQ(view.parts, (IpAddressField::Parts{u"192", u"168", u"192", u"168"}));
  EXPECT_EQ(buttons.calls.back(), true);
  EXPECT_TRUE(page.HasSelectablePort());
  PortEntry out;
  page.GetPortEntry(out);
  EXPECT_EQ(out.kind, kPortNetwork);
  EXPECT_EQ(Narrow(out.name), "192.168.192.168");

  // Clearing the field by hand: blank, buttons off; typing one part: on.
  for (int i = 0; i < 4; ++i) page.OnAddressPartEdited(i, u"");
  EXPECT_EQ(buttons.calls.back(), false);
  EXPECT_FALSE(page.HasSelectablePort());
  out = PortEntry{};
  page.GetPortEntry(out);
  EXPECT_EQ(out.kind, kPortNone);
  page.OnAddressPartEdited(0, u"127");
  EXPECT_EQ(buttons.calls.back(), true);
  page.GetPortEntry(out);
  EXPECT_EQ(Narrow(out.name), "127.0.0.0");

  // No selected row: nothing happens.
  const auto before = buttons.calls.size();
  view.found.Select(-1);
  page.OnFoundSelectionChanged();
  EXPECT_EQ(buttons.calls.size(), before);
}

TEST(EthernetPage, EarlierNetworkChoiceIsShownInTheField) {
  testing::FakePortSource src;
  testing::FakeFinder finder;
  CEnumPort e(&src, &finder);
  CConfigEthernet page(&e);
  testing::FakeEthernetView view;
  PortEntry earlier;
  earlier.kind = kPortNetwork;
  earlier.name = u"127.0.0.5";
  page.SetPortEntry(earlier);
  page.Attach(&view);
  page.OnInitDialog();
  EXPECT_EQ(view.parts, (IpAddressField::Parts{u"127", u"0", u"0", u"5"}));
  EXPECT_TRUE(page.HasSelectablePort());
}

TEST(IpAddressField, PartsHoldAtMostThreeDigitsUpTo255) {
  IpAddressField f;
  EXPECT_TRUE(f.IsBlank());
  EXPECT_EQ(Narrow(f.Text()), "");
  EXPECT_EQ(Narrow(f.EditPart(0, u"1a2")), "12");
  EXPECT_EQ(Narrow(f.EditPart(1, u"999")), "255");
  EXPECT_EQ(Narrow(f.EditPart(2, u"12345")), "123");
  EXPECT_EQ(Narrow(f.EditPart(3, u"007")), "7");
  EXPECT_EQ(Narrow(f.Text()), "12.255.123.7");
  EXPECT_EQ(Narrow(f.EditPart(4, u"1")), "");  // no such part
  f.EditPart(1, u"");
  EXPECT_EQ(Narrow(f.Text()), "12.0.123.7");
  f.Clear();
  EXPECT_TRUE(f.IsBlank());
  f.SetText(u"1.2.3.4");
  EXPECT_EQ(Narrow(f.Text()), "1.2.3.4");
  f.SetText(u"");
  EXPECT_TRUE(f.IsBlank());
}

TEST(IpAddressField, ListRowsAreReadAsFourNumbersLimitedTo255) {
  using A = std::array<std::uint8_t, 4>;
  EXPECT_EQ(ParseAddressRow(u"192.168.192.168"), (A{192, 168, 192, 168}));
  EXPECT_EQ(ParseAddressRow(u"300.1.2.3"), (A{255, 1, 2, 3}));
  EXPECT_EQ(ParseAddressRow(u"10.20"), (A{10, 20, 0, 0}));
  EXPECT_EQ(ParseAddressRow(u"printer"), (A{0, 0, 0, 0}));
  EXPECT_EQ(ParseAddressRow(u"1.x.3.4"), (A{1, 0, 0, 0}));
  EXPECT_EQ(ParseAddressRow(u"99999999999999999999.1.1.1"), (A{255, 1, 1, 1}));
}

}  // namespace
}  // namespace tw::gui
