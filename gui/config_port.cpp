#include "gui/config_port.h"

namespace tw::gui {

const std::vector<ValueItem> kBaudRateItems = {
    {u"2400 bps", 2400},   {u"4800 bps", 4800},   {u"9600 bps", 9600},     {u"19200 bps", 19200},
    {u"38400 bps", 38400}, {u"57600 bps", 57600}, {u"115200 bps", 115200},
};
const std::vector<ValueItem> kParityItems = {{u"None", kParityNone}, {u"Even", kParityEven}, {u"Odd", kParityOdd}};
const std::vector<ValueItem> kDataBitItems = {{u"7bit", 7}, {u"8bit", 8}};

namespace {

void FillValues(IListControl& list, const std::vector<ValueItem>& items) {
  list.Clear();
  for (const auto& item : items) list.Add(item.text);
}

// Selects the item with `value`; a list without it keeps its selection.
void SelectValue(IListControl& list, const std::vector<ValueItem>& items, int value) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].value == value) {
      list.Select(static_cast<int>(i));
      return;
    }
  }
}

// The value of the selected item; 0 when nothing is selected.
int SelectedValue(const IListControl& list, const std::vector<ValueItem>& items) {
  const int i = list.Selected();
  return i >= 0 && static_cast<std::size_t>(i) < items.size() ? items[static_cast<std::size_t>(i)].value : 0;
}

// The found entry behind the list's selected row; nullptr for none.
const PortEntry* SelectedFound(const IListControl& list, const std::vector<PortEntry>& found) {
  const int i = list.Selected();
  if (i < 0 || static_cast<std::size_t>(i) >= found.size()) return nullptr;
  return &found[static_cast<std::size_t>(i)];
}

}  // namespace

CConfigPortBase::CConfigPortBase(IEnumPort* enumPort) : enumPort_(enumPort) {}

bool CConfigPortBase::SetPortEntry(const PortEntry& entry) {
  if (entry.kind != GetPortKind()) return false;
  entry_ = entry;
  return true;
}

void CConfigPortBase::GetPortEntry(PortEntry& out) {
  if (!ReadControls()) return;
  entry_.kind = GetPortKind();
  out = entry_;
}

void CConfigPortBase::ShowPage(int command) {
  if (IPageView* v = View()) v->ShowPage(command != kShowHide);
}

void CConfigPortBase::RefreshPorts() { ShowFoundPorts(FindPorts()); }

bool CConfigPortBase::HasSelectablePort() { return !found_.empty(); }

std::vector<PortEntry> CConfigPortBase::FindPorts(std::stop_token stop) {
  std::vector<PortEntry> found;
  if (enumPort_) enumPort_->EnumPorts(GetPortKind(), found, std::move(stop));
  return found;
}

void CConfigPortBase::ShowFoundPorts(std::vector<PortEntry> found) {
  found_ = std::move(found);
  FillControls();
}

// Serial page.

void CConfigCOM::OnInitDialog() {
  if (!view_) return;
  FillValues(view_->BaudRateList(), kBaudRateItems);
  FillValues(view_->ParityList(), kParityItems);
  FillValues(view_->DataBitList(), kDataBitItems);
  RefreshPorts();
}

void CConfigCOM::FillControls() {
  if (!view_) return;
  IListControl& ports = view_->PortList();
  ports.Clear();
  int match = -1;
  for (std::size_t i = 0; i < found_.size(); ++i) {
    ports.Add(found_[i].name);
    ports.SetDetail(static_cast<int>(i), DescribePortDetails(found_[i].details));
    if (match < 0 && !entry_.name.empty() && found_[i].name == entry_.name) match = static_cast<int>(i);
  }
  if (match >= 0) {
    // The port chosen earlier is still there: take it with its line settings.
    ports.Select(match);
    SelectValue(view_->BaudRateList(), kBaudRateItems, entry_.baudRate);
    SelectValue(view_->ParityList(), kParityItems, entry_.parity);
    SelectValue(view_->DataBitList(), kDataBitItems, entry_.dataBits);
  } else {
    ports.Select(0);
    view_->BaudRateList().Select(kDefaultBaudItem);
    view_->ParityList().Select(kDefaultParityItem);
    view_->DataBitList().Select(kDefaultDataBitItem);
  }
}

bool CConfigCOM::ReadControls() {
  if (!view_ || found_.empty()) return false;
  const PortEntry* chosen = SelectedFound(view_->PortList(), found_);
  if (!chosen) return false;
  entry_ = *chosen;
  entry_.baudRate = SelectedValue(view_->BaudRateList(), kBaudRateItems);
  entry_.parity = SelectedValue(view_->ParityList(), kParityItems);
  entry_.dataBits = SelectedValue(view_->DataBitList(), kDataBitItems);
  return true;
}

// Parallel and USB pages.

void CConfigPortList::OnInitDialog() { RefreshPorts(); }

void CConfigPortList::FillControls() {
  if (!view_) return;
  IListControl& ports = view_->PortList();
  ports.Clear();
  for (std::size_t i = 0; i < found_.size(); ++i) {
    ports.Add(found_[i].name);
    ports.SetDetail(static_cast<int>(i), DescribePortDetails(found_[i].details));
  }
  ports.Select(0);
}

bool CConfigPortList::ReadControls() {
  if (!view_ || found_.empty()) return false;
  const PortEntry* chosen = SelectedFound(view_->PortList(), found_);
  if (!chosen) return false;
  entry_ = *chosen;
  return true;
}

// Network page.

void CConfigEthernet::OnInitDialog() {
  // No search here: the list of printers stays empty until "Search".
  if (!entry_.name.empty()) {
    field_.SetText(entry_.name);
    FieldChanged();
  }
}

void CConfigEthernet::FillControls() {
  if (!view_) return;
  IListControl& rows = view_->FoundList();
  rows.Clear();
  // Rows keep the order in which the printers answered; the field is left alone.
  for (const auto& e : found_) rows.Add(e.detail);
}

bool CConfigEthernet::HasSelectablePort() {
  if (field_.IsBlank()) return false;
  return !field_.Text().empty();
}

bool CConfigEthernet::ReadControls() {
  const std::u16string text = field_.Text();
  if (text.empty()) return false;
  entry_.name = text;
  return true;
}

void CConfigEthernet::OnAddressPartEdited(int index, const std::u16string& typed) {
  field_.EditPart(index, typed);
  FieldChanged();
}

void CConfigEthernet::OnAddressTextSet(const std::u16string& text) {
  field_.SetText(text);
  FieldChanged();
}

void CConfigEthernet::OnFoundSelectionChanged() {
  if (!view_) return;
  const int row = view_->FoundList().Selected();
  if (row < 0) return;
  std::u16string text = view_->FoundList().Text(row);
  if (text.size() > 260) text.resize(260);
  const auto parts = ParseAddressRow(text);
  field_.SetAddress(parts[0], parts[1], parts[2], parts[3]);
  FieldChanged();
}

void CConfigEthernet::FieldChanged() {
  if (view_) view_->ShowAddressParts(field_.GetParts());
  if (buttons_) buttons_->AddressFieldChanged(!field_.IsBlank());
}

}  // namespace tw::gui
