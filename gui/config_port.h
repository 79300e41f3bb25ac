#pragma once
// The four port pages of the select-port dialog: serial, parallel, USB and
// network. Each lists the ports of its kind, lets the user pick one (and the
// serial line settings, or type or pick an IP address) and turns the choice
// into a PortEntry. The select-port dialog sees them only as IConfigPort.

#include <vector>

#include "gui/enum_port.h"
#include "gui/ip_address_field.h"
#include "gui/port_entry.h"
#include "gui/view_controls.h"

namespace tw::gui {

class IConfigPort {
 public:
  virtual ~IConfigPort() = default;
  // Takes the entry as the page's own when its kind is the page's; false and
  // nothing changed otherwise.
  virtual bool SetPortEntry(const PortEntry& entry) = 0;
  // Fills `out` with the user's choice; leaves it untouched when the page has
  // nothing to give.
  virtual void GetPortEntry(PortEntry& out) = 0;
  // kShowShow or kShowHide.
  virtual void ShowPage(int command) = 0;
  // Enumerates again and refills the page's list.
  virtual void RefreshPorts() = 0;
  virtual bool HasSelectablePort() = 0;

  // RefreshPorts in two halves, so a window can keep answering while a slow
  // search runs: FindPorts touches no control and may run on a worker thread
  // (one at a time); ShowFoundPorts then runs on the window's thread.
  // A stop request on `stop` ends a slow search early (the dialog closes).
  virtual std::vector<PortEntry> FindPorts(std::stop_token stop = {}) = 0;
  virtual void ShowFoundPorts(std::vector<PortEntry> found) = 0;
};

// What every page view can do.
class IPageView {
 public:
  virtual ~IPageView() = default;
  // Shows or hides the page in its place inside the dialog's group box.
  virtual void ShowPage(bool show) = 0;
};

class IComPageView : public IPageView {
 public:
  virtual IListControl& PortList() = 0;
  virtual IListControl& BaudRateList() = 0;
  virtual IListControl& ParityList() = 0;
  virtual IListControl& DataBitList() = 0;
};

// The parallel and the USB page.
class IPortListPageView : public IPageView {
 public:
  virtual IListControl& PortList() = 0;
};

class IEthernetPageView : public IPageView {
 public:
  // The list box of found printers.
  virtual IListControl& FoundList() = 0;
  // Draws the IP address field's four parts.
  virtual void ShowAddressParts(const IpAddressField::Parts& parts) = 0;
};

// The select-port dialog's OK and "Communication Test" buttons, which the
// network page switches by the IP address field.
class IDialogButtons {
 public:
  virtual ~IDialogButtons() = default;
  virtual void AddressFieldChanged(bool notBlank) = 0;
};

// One value of a serial value list: the text shown and the value stored.
struct ValueItem {
  const char16_t* text;
  int value;
};
// Built once per program run; shown in this order.
extern const std::vector<ValueItem> kBaudRateItems;
extern const std::vector<ValueItem> kParityItems;
extern const std::vector<ValueItem> kDataBitItems;
// The serial defaults: "38400 bps", "None", "8bit".
constexpr int kDefaultBaudItem = 4;
constexpr int kDefaultParityItem = 0;
constexpr int kDefaultDataBitItem = 1;

class CConfigPortBase : public IConfigPort {
 public:
  // `enumPort` (not owned) lists the ports; shared by the four pages.
  explicit CConfigPortBase(IEnumPort* enumPort);

  bool SetPortEntry(const PortEntry& entry) override;
  void GetPortEntry(PortEntry& out) override;
  void ShowPage(int command) override;
  void RefreshPorts() override;
  bool HasSelectablePort() override;
  std::vector<PortEntry> FindPorts(std::stop_token stop = {}) override;
  void ShowFoundPorts(std::vector<PortEntry> found) override;

  // The page's window has been created and its view attached: fill its lists.
  virtual void OnInitDialog() {}
  // Copies the user's choice from the controls into the page's entry.
  virtual bool ReadControls() { return false; }
  virtual int GetPortKind() const { return -1; }

  const PortEntry& PageEntry() const { return entry_; }
  const std::vector<PortEntry>& Found() const { return found_; }

 protected:
  virtual IPageView* View() = 0;
  // Puts the found list into the page's controls.
  virtual void FillControls() {}

  PortEntry entry_;
  std::vector<PortEntry> found_;
  IEnumPort* enumPort_;
};

class CConfigCOM : public CConfigPortBase {
 public:
  using CConfigPortBase::CConfigPortBase;
  void Attach(IComPageView* view) { view_ = view; }
  void OnInitDialog() override;
  bool ReadControls() override;
  int GetPortKind() const override { return kPortSerial; }

 protected:
  IPageView* View() override { return view_; }
  void FillControls() override;

 private:
  IComPageView* view_ = nullptr;
};

// The parallel and the USB page share their behaviour.
class CConfigPortList : public CConfigPortBase {
 public:
  CConfigPortList(IEnumPort* enumPort, int kind) : CConfigPortBase(enumPort), kind_(kind) {}
  void Attach(IPortListPageView* view) { view_ = view; }
  void OnInitDialog() override;
  bool ReadControls() override;
  int GetPortKind() const override { return kind_; }

 protected:
  IPageView* View() override { return view_; }
  void FillControls() override;

 private:
  int kind_;
  IPortListPageView* view_ = nullptr;
};

class CConfigLPT : public CConfigPortList {
 public:
  explicit CConfigLPT(IEnumPort* enumPort) : CConfigPortList(enumPort, kPortParallel) {}
};

class CConfigUSB : public CConfigPortList {
 public:
  explicit CConfigUSB(IEnumPort* enumPort) : CConfigPortList(enumPort, kPortUsb) {}
};

class CConfigEthernet : public CConfigPortBase {
 public:
  using CConfigPortBase::CConfigPortBase;
  void Attach(IEthernetPageView* view) { view_ = view; }
  // The dialog whose OK and "Communication Test" follow the address field.
  void SetDialogButtons(IDialogButtons* buttons) { buttons_ = buttons; }

  void OnInitDialog() override;
  bool ReadControls() override;
  int GetPortKind() const override { return kPortNetwork; }
  bool HasSelectablePort() override;

  // The user typed into part `index` of the address field.
  void OnAddressPartEdited(int index, const std::u16string& typed);
  // The user cleared the whole field or set it at once (pasted text).
  void OnAddressTextSet(const std::u16string& text);
  // A row of the found printers' list was selected (-1: none).
  void OnFoundSelectionChanged();

  const IpAddressField& Field() const { return field_; }

 protected:
  IPageView* View() override { return view_; }
  void FillControls() override;

 private:
  // The field changed: redraw it and let the dialog follow it.
  void FieldChanged();

  IEthernetPageView* view_ = nullptr;
  IDialogButtons* buttons_ = nullptr;
  IpAddressField field_;
};

}  // namespace tw::gui
