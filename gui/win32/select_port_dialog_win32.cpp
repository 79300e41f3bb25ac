#include "gui/win32/select_port_dialog_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "gui/win32/resource.h"
#include "gui/win32/win32_controls.h"

namespace tw::gui::win32 {
namespace {

// Where the pages lie in the dialog's client area, in pixels.
constexpr int kPageLeft = 20;
constexpr int kPageTop = 57;
// The control id of the template's unnamed controls (-1), in its low 16 bits.
constexpr int IDC_STATIC_ID = 0xFFFF;

}  // namespace

// A page: a child dialog made hidden from its template, shown and hidden in
// its place over the dialog's group box.
class PageWindow {
 public:
  virtual ~PageWindow() {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
  }

  bool Create(HINSTANCE instance, int templateId, HWND dialog) {
    window_ = CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), dialog, &PageWindow::Proc,
                                 reinterpret_cast<LPARAM>(this));
    if (!window_) return false;
    // A page's size follows its own font, which the system may replace by a
    // taller one: the page must then not paint over the dialog's buttons that
    // lie above it in the Z order.
    SetWindowLongPtrW(window_, GWL_STYLE, GetWindowLongPtrW(window_, GWL_STYLE) | WS_CLIPSIBLINGS);
    Attached();
    return window_ != nullptr;
  }

  HWND Window() const { return window_; }

  void Show(bool show) {
    if (!window_) return;
    RECT r{};
    GetWindowRect(window_, &r);
    MoveWindow(window_, kPageLeft, kPageTop, r.right - r.left, r.bottom - r.top, TRUE);
    ShowWindow(window_, show ? SW_SHOW : SW_HIDE);
  }

 protected:
  // The window exists: look up the controls and attach the view to the logic.
  virtual void Attached() = 0;
  virtual INT_PTR Command(WPARAM /*wParam*/, LPARAM /*lParam*/) { return FALSE; }
  HWND Item(int id) const { return GetDlgItem(window_, id); }

  HWND window_ = nullptr;

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(window, DWLP_USER, lParam);
      return FALSE;
    }
    auto* self = reinterpret_cast<PageWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_COMMAND) return self->Command(wParam, lParam);
    if (message == WM_SETCURSOR) return HandleSetCursor(window) ? TRUE : FALSE;
    return FALSE;
  }
};

namespace {

class ComPageWindow : public PageWindow, public IComPageView {
 public:
  explicit ComPageWindow(CConfigCOM& page) : page_(page) {}
  void ShowPage(bool show) override { Show(show); }
  IListControl& PortList() override { return port_; }
  IListControl& BaudRateList() override { return baud_; }
  IListControl& ParityList() override { return parity_; }
  IListControl& DataBitList() override { return dataBits_; }

 protected:
  void Attached() override {
    port_ = ComboList(Item(IDC_COM_PORT));
    baud_ = ComboList(Item(IDC_COM_BAUDRATE));
    parity_ = ComboList(Item(IDC_COM_PARITY));
    dataBits_ = ComboList(Item(IDC_COM_DATABIT));
    page_.Attach(this);
  }

 private:
  CConfigCOM& page_;
  ComboList port_, baud_, parity_, dataBits_;
};

// The parallel and the USB page.
class PortListPageWindow : public PageWindow, public IPortListPageView {
 public:
  PortListPageWindow(CConfigPortList& page, int listId) : page_(page), listId_(listId) {}
  void ShowPage(bool show) override { Show(show); }
  IListControl& PortList() override { return port_; }

 protected:
  void Attached() override {
    port_ = ComboList(Item(listId_));
    page_.Attach(this);
  }

 private:
  CConfigPortList& page_;
  int listId_;
  ComboList port_;
};

class EthernetPageWindow : public PageWindow, public IEthernetPageView {
 public:
  explicit EthernetPageWindow(CConfigEthernet& page) : page_(page) {}
  void ShowPage(bool show) override { Show(show); }
  IListControl& FoundList() override { return found_; }

  void ShowAddressParts(const IpAddressField::Parts& parts) override {
    // Our own changes of the field come back as change notifications; they
    // carry nothing new.
    updating_ = true;
    HWND field = Item(IDC_IPADDRESS);
    const bool allBlank = std::all_of(parts.begin(), parts.end(), [](const auto& p) { return p.empty(); });
    const bool allSet = std::none_of(parts.begin(), parts.end(), [](const auto& p) { return p.empty(); });
    if (allBlank) {
      const auto shown = ShownParts();
      if (std::any_of(shown.begin(), shown.end(), [](const auto& p) { return !p.empty(); })) {
        SendMessageW(field, IPM_CLEARADDRESS, 0, 0);
      }
    } else if (allSet && ShownParts() != std::vector<std::u16string>(parts.begin(), parts.end())) {
      BYTE v[4];
      for (int i = 0; i < 4; ++i) {
        unsigned n = 0;
        for (char16_t c : parts[static_cast<std::size_t>(i)]) n = n * 10 + static_cast<unsigned>(c - u'0');
        v[i] = static_cast<BYTE>(std::min(n, 255u));
      }
      SendMessageW(field, IPM_SETADDRESS, 0, MAKEIPADDRESS(v[0], v[1], v[2], v[3]));
    } else {
      // Some parts blank: each part's own edit control.
      const std::vector<HWND> edits = PartEdits();
      for (std::size_t i = 0; i < edits.size() && i < parts.size(); ++i) {
        if (WindowText(edits[i]) == parts[i]) continue;
        SetWindowTextW(edits[i], Wide(parts[i]));
        SendMessageW(edits[i], EM_SETSEL, parts[i].size(), parts[i].size());
      }
    }
    updating_ = false;
  }

 protected:
  void Attached() override {
    found_ = ListBoxList(Item(IDC_FOUND_LIST));
    page_.Attach(this);
  }

  INT_PTR Command(WPARAM wParam, LPARAM) override {
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (id == IDC_IPADDRESS && code == EN_CHANGE) {
      if (!updating_) FieldEdited();
      return TRUE;
    }
    if (id == IDC_FOUND_LIST && code == LBN_SELCHANGE) {
      page_.OnFoundSelectionChanged();
      return TRUE;
    }
    return FALSE;
  }

 private:
  // The four parts' edit controls of the address field, left to right.
  std::vector<HWND> PartEdits() const {
    std::vector<HWND> edits;
    for (HWND w = GetWindow(Item(IDC_IPADDRESS), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) edits.push_back(w);
    std::sort(edits.begin(), edits.end(), [](HWND a, HWND b) {
      RECT ra{}, rb{};
      GetWindowRect(a, &ra);
      GetWindowRect(b, &rb);
      return ra.left < rb.left;
    });
    return edits;
  }

  std::vector<std::u16string> ShownParts() const {
    std::vector<std::u16string> parts;
    for (HWND e : PartEdits()) parts.push_back(WindowText(e));
    return parts;
  }

  // The user typed: hand each part that differs from the logic's to it.
  void FieldEdited() {
    const std::vector<std::u16string> shown = ShownParts();
    const auto& known = page_.Field().GetParts();
    for (std::size_t i = 0; i < shown.size() && i < known.size(); ++i) {
      if (shown[i] != known[i]) page_.OnAddressPartEdited(static_cast<int>(i), shown[i]);
    }
  }

  CConfigEthernet& page_;
  ListBoxList found_;
  bool updating_ = false;
};

}  // namespace

SelectPortDialog::SelectPortDialog(HINSTANCE instance, CSelectPortDlg& logic) : instance_(instance), logic_(logic) {}

SelectPortDialog::~SelectPortDialog() {
  // The logic outlives this view: detach every view before the windows go,
  // and end an operation that is still under way.
  logic_.Attach(nullptr);
  if (logic_.Busy()) logic_.OnCancel();
  logic_.ComPage().Attach(nullptr);
  logic_.LptPage().Attach(nullptr);
  logic_.UsbPage().Attach(nullptr);
  logic_.EthernetPage().Attach(nullptr);
}

bool SelectPortDialog::Run(HWND owner) {
  const INT_PTR result = DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_SELECT_PORT), owner, &SelectPortDialog::Proc,
                                         reinterpret_cast<LPARAM>(this));
  return result == IDOK;
}

INT_PTR CALLBACK SelectPortDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    reinterpret_cast<SelectPortDialog*>(lParam)->window_ = window;
  }
  auto* self = reinterpret_cast<SelectPortDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  return self ? self->Handle(message, wParam, lParam) : FALSE;
}

void SelectPortDialog::OnInitDialog() {
  pages_[0] = std::make_unique<ComPageWindow>(logic_.ComPage());
  pages_[1] = std::make_unique<PortListPageWindow>(logic_.LptPage(), IDC_LPT_PORT);
  pages_[2] = std::make_unique<PortListPageWindow>(logic_.UsbPage(), IDC_USB_PORT);
  pages_[3] = std::make_unique<EthernetPageWindow>(logic_.EthernetPage());
  const int templates[4] = {IDD_PAGE_COM, IDD_PAGE_LPT, IDD_PAGE_USB, IDD_PAGE_ETHERNET};
  for (int i = 0; i < 4; ++i) pages_[static_cast<std::size_t>(i)]->Create(instance_, templates[i], window_);
  // The pages lie over the group box: it goes below them in the Z order and
  // paints around them (the buttons stay above them).
  for (HWND w = GetWindow(window_, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
    const bool groupBox = (GetWindowLongPtrW(w, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
    if (groupBox && (GetDlgCtrlID(w) & 0xFFFF) == IDC_STATIC_ID) {
      SetWindowLongPtrW(w, GWL_STYLE, GetWindowLongPtrW(w, GWL_STYLE) | WS_CLIPSIBLINGS);
      SetWindowPos(w, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
      break;
    }
  }
  logic_.Attach(this);
  logic_.OnInitDialog();
}

INT_PTR SelectPortDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      // The platform gives the keyboard focus to the first control.
      return TRUE;
    case WM_SETCURSOR:
      return HandleSetCursor(window_) ? TRUE : FALSE;
    case WM_TIMER:
      if (wParam == kPollTimer) logic_.Poll();
      return TRUE;
    case WM_COMMAND: {
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      const int id = LOWORD(wParam);
      if (id >= IDC_RADIO_COM && id <= IDC_RADIO_ETHERNET) {
        logic_.OnKindClicked(id - IDC_RADIO_COM);
        return TRUE;
      }
      switch (id) {
        case IDC_SEARCH:
          logic_.OnSearch();
          return TRUE;
        case IDC_COMMUNICATION_TEST:
          logic_.OnCommunicationTest();
          return TRUE;
        case IDOK:
          logic_.OnOk();
          return TRUE;
        case IDCANCEL:
          logic_.OnCancel();
          return TRUE;
      }
      return FALSE;
    }
    case WM_CLOSE:
      logic_.OnCancel();
      return TRUE;
    case WM_DESTROY:
      KillTimer(window_, kPollTimer);
      logic_.Attach(nullptr);
      return FALSE;
  }
  (void)lParam;
  return FALSE;
}

void SelectPortDialog::CheckRadio(int index) {
  CheckRadioButton(window_, IDC_RADIO_COM, IDC_RADIO_ETHERNET, IDC_RADIO_COM + index);
}

void SelectPortDialog::EnableSearch(bool on) { EnableWindow(GetDlgItem(window_, IDC_SEARCH), on); }

void SelectPortDialog::EnableTest(bool on) { EnableWindow(GetDlgItem(window_, IDC_COMMUNICATION_TEST), on); }

void SelectPortDialog::EnableOk(bool on) { EnableWindow(GetDlgItem(window_, IDOK), on); }

void SelectPortDialog::EnableKindChoice(bool on) {
  for (int id = IDC_RADIO_COM; id <= IDC_RADIO_ETHERNET; ++id) EnableWindow(GetDlgItem(window_, id), on);
  EnableWindow(GetDlgItem(window_, IDCANCEL), on);
  for (const auto& page : pages_) {
    if (page) EnableWindow(page->Window(), on);
  }
}

void SelectPortDialog::SetWaitCursor(bool on) { win32::SetWaitCursor(on); }

void SelectPortDialog::ShowMessage(const MessageBoxSpec& message) {
  MessageBoxW(window_, Wide(message.text), Wide(message.caption), static_cast<UINT>(message.type));
}

void SelectPortDialog::SetPolling(bool on) {
  SetPollTimer(window_, on);
}

void SelectPortDialog::EndDialog(bool ok) { ::EndDialog(window_, ok ? IDOK : IDCANCEL); }

}  // namespace tw::gui::win32
