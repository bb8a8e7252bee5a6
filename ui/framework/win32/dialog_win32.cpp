// CDialog on the Win32 dialog manager: the window and its controls come from an in-memory
// template built from the program's own template, and the dialog procedure hands what the
// controls report to the neutral Notify* entries.

#include <algorithm>
#include <map>
#include <set>

#include "ui/framework/dialog.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/win32/internal.h"
#include "ui/framework/win32/template_win32.h"

namespace lumivex::ui {

using win32::DialogOf;
using win32::Narrow;
using win32::Widen;

namespace {

constexpr wchar_t kDialogProp[] = L"LumivexDialog";
// A drop-down list's selection as the page last knew it (index + 2, so that "no property"
// differs from "no selection").
constexpr wchar_t kKnownSelectionProp[] = L"LumivexKnownSelection";
constexpr wchar_t kSliderPositionProp[] = L"LumivexSliderPosition";

// Posted to the dialog: wParam is a slider whose paint has ended; a combo box whose selection
// the user may have changed.
constexpr UINT kCustomDrawQueued = WM_APP + 0x141;
constexpr UINT kSelectionCheck = WM_APP + 0x142;

void EnsureCommonControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES;
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

// A page on a tab control takes the tab body's background (the theme's texture), as the
// property sheets of Windows do. uxtheme is asked at run time: without a theme nothing changes.
void UseTabBackground(HWND page) {
  using EnableTexture = HRESULT(WINAPI*)(HWND, DWORD);
  static const EnableTexture enable = []() -> EnableTexture {
    HMODULE module = LoadLibraryW(L"uxtheme.dll");
    if (module == nullptr) return nullptr;
    return reinterpret_cast<EnableTexture>(
        reinterpret_cast<void*>(GetProcAddress(module, "EnableThemeDialogTexture")));
  }();
  constexpr DWORD kEnableTabTexture = 0x2 | 0x4;  // ETDT_ENABLE | ETDT_USETABTEXTURE
  if (enable != nullptr) enable(page, kEnableTabTexture);
}

std::wstring WindowTextOf(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
  const int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

std::string ComboEntryText(HWND combo, int index) {
  const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return std::string();
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return Narrow(text);
}

HWND RootOf(HWND window) {
  return window ? GetAncestor(window, GA_ROOT) : nullptr;
}

}  // namespace

namespace win32 {

CDialog* DialogOf(HWND window) {
  return window ? static_cast<CDialog*>(GetPropW(window, kDialogProp)) : nullptr;
}

HWND EnclosingDialog(HWND window) {
  for (HWND w = window; w != nullptr; w = GetParent(w)) {
    if (DialogOf(w) != nullptr) return w;
    if ((GetWindowLongW(w, GWL_STYLE) & WS_CHILD) == 0) break;
  }
  return nullptr;
}

// A slider's position as last reported, offset so that "no property" differs from any value.
INT_PTR NoteSliderPosition(HWND slider) {
  const auto position =
      static_cast<INT_PTR>(static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0)));
  const INT_PTR value = position + (INT_PTR{1} << 40);
  SetPropW(slider, kSliderPositionProp, reinterpret_cast<HANDLE>(value));
  return value;
}

void NoteKnownSelection(HWND combo) {
  const LRESULT sel = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  SetPropW(combo, kKnownSelectionProp,
           reinterpret_cast<HANDLE>(static_cast<INT_PTR>((sel == CB_ERR ? -1 : sel) + 2)));
}

}  // namespace win32

struct CDialog::Backend {
  // A child dialog: the control of its parent it sits on (nullptr: the parent itself).
  HWND host = nullptr;
  // A modal run under way, and the owner it disabled.
  EventLoop* modalLoop = nullptr;
  int modalResult = 0;
  HWND disabledOwner = nullptr;
  // A resizable window's smallest client area.
  bool resizable = false;
  Size minimumClient;
  // Sliders whose post-paint notification has been posted and not yet run; their positions
  // as last reported.
  std::set<int> customDrawQueued;
  // Captions that nothing shows and that the control cannot keep as its text (an icon names
  // its image by its text; a text view's text is its lines).
  std::map<HWND, std::string> captions;

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static INT_PTR Handle(CDialog& d, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static void OnCommand(CDialog& d, int id, int code, HWND control);
  static bool OnNotify(CDialog& d, const NMHDR& header, LRESULT& result);
  static bool OnContextMenu(CDialog& d, HWND hwnd, LPARAM lp);
  static void Forget(CDialog& d);
  static bool MapControls(CDialog& d);
  static void ReenableOwner(CDialog& d);
};

INT_PTR CALLBACK CDialog::Backend::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CDialog*>(lp);
    SetPropW(hwnd, kDialogProp, dialog);
    dialog->m_hWnd = hwnd;
    // The focus is placed once OnInitDialog has run.
    return FALSE;
  }
  CDialog* dialog = DialogOf(hwnd);
  if (dialog == nullptr) return FALSE;
  return Handle(*dialog, hwnd, msg, wp, lp);
}

INT_PTR CDialog::Backend::Handle(CDialog& d, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(d, LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return TRUE;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (!OnNotify(d, *reinterpret_cast<const NMHDR*>(lp), result)) return FALSE;
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (lp != 0) win32::SliderPositionMayHaveChanged(reinterpret_cast<HWND>(lp));
      return TRUE;
    case kCustomDrawQueued:
      d.m_backend->customDrawQueued.erase(static_cast<int>(wp));
      d.NotifyCustomDraw(static_cast<int>(wp));
      return TRUE;
    case kSelectionCheck: {
      const int id = static_cast<int>(wp);
      HWND combo = d.GetDlgItem(id);
      if (combo == nullptr || SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0)) return TRUE;
      const auto known = reinterpret_cast<INT_PTR>(GetPropW(combo, kKnownSelectionProp)) - 2;
      const LRESULT sel = SendMessageW(combo, CB_GETCURSEL, 0, 0);
      if ((sel == CB_ERR ? -1 : sel) == known) return TRUE;
      win32::NoteKnownSelection(combo);
      d.NotifySelChange(id);
      return TRUE;
    }
    case WM_CLOSE:
      d.OnClose();
      return TRUE;
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED) d.OnSize(Size{LOWORD(lp), HIWORD(lp)});
      return TRUE;
    case WM_SHOWWINDOW:
      d.OnShowWindow(wp != 0);
      return FALSE;
    case WM_CONTEXTMENU:
      return OnContextMenu(d, hwnd, lp) ? TRUE : FALSE;
    case WM_GETMINMAXINFO: {
      if (!d.m_backend->resizable) return FALSE;
      RECT r{0, 0, d.m_backend->minimumClient.width, d.m_backend->minimumClient.height};
      AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      info->ptMinTrackSize = POINT{r.right - r.left, r.bottom - r.top};
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      // A read-only edit box is drawn as a label; a text view is a page of text, on the
      // background of text.
      const ControlSlot* slot = d.FindSlot(GetDlgCtrlID(reinterpret_cast<HWND>(lp)));
      if (slot == nullptr || slot->tmpl->kind != ControlKind::kTextView) return FALSE;
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_NCDESTROY:
      Forget(d);
      return FALSE;
    default:
      return FALSE;
  }
}

void CDialog::Backend::OnCommand(CDialog& d, int id, int code, HWND control) {
  const ControlSlot* slot = control != nullptr ? d.FindSlot(id) : nullptr;
  if (slot == nullptr || slot->widget != control) {
    // Return and Escape as the dialog manager reports them (no such control).
    if ((id == IDOK || id == IDCANCEL) && code == BN_CLICKED) d.NotifyClicked(id);
    return;
  }
  switch (slot->tmpl->kind) {
    case ControlKind::kPushButton:
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
      if (code == BN_CLICKED) d.NotifyClicked(id);
      break;
    case ControlKind::kEdit:
      if (code == EN_CHANGE && !win32::EditChangeDeferred(control)) d.NotifyEditChanged(id);
      break;
    case ControlKind::kComboBox:
      // A drop-down list reports every entry the keyboard passes over while it is open; the
      // page hears only the choice it is left with.
      if (code == CBN_SELCHANGE || code == CBN_CLOSEUP || code == CBN_SELENDOK) {
        PostMessageW(d.m_hWnd, kSelectionCheck, static_cast<WPARAM>(id), 0);
      }
      break;
    default:
      break;
  }
}

bool CDialog::Backend::OnNotify(CDialog& d, const NMHDR& header, LRESULT& result) {
  const int id = static_cast<int>(header.idFrom);
  const ControlSlot* slot = d.FindSlot(id);
  if (slot == nullptr || slot->widget != header.hwndFrom) return false;
  if (slot->tmpl->kind == ControlKind::kTabControl && header.code == TCN_SELCHANGE) {
    d.NotifyTabSelChange(id);
    return true;
  }
  if (slot->tmpl->kind == ControlKind::kSlider && header.code == NM_CUSTOMDRAW) {
    const auto& draw = reinterpret_cast<const NMCUSTOMDRAW&>(header);
    if (draw.dwDrawStage == CDDS_PREPAINT) {
      result = CDRF_NOTIFYPOSTPAINT;
      return true;
    }
    if (draw.dwDrawStage == CDDS_POSTPAINT) {
      // Once for a burst of paints, after the slider is on the screen.
      if (d.m_customDraw.count(id) != 0 && d.m_backend->customDrawQueued.insert(id).second) {
        PostMessageW(d.m_hWnd, kCustomDrawQueued, static_cast<WPARAM>(id), 0);
      }
      result = CDRF_DODEFAULT;
      return true;
    }
  }
  return false;
}

bool CDialog::Backend::OnContextMenu(CDialog& d, HWND hwnd, LPARAM lp) {
  std::vector<MenuEntry> entries = d.ContextMenuEntries();
  // None: the dialog around this one may have a menu.
  if (entries.empty()) return false;
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return true;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    AppendMenuW(menu, MF_STRING, i + 1, Widen(entries[i].text).c_str());
  }
  POINT at{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
  if (lp == -1) {
    // The menu key: open at the window's top-left corner.
    RECT r{};
    GetWindowRect(hwnd, &r);
    at = POINT{r.left + 8, r.top + 8};
  }
  const BOOL chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x,
                                     at.y, 0, hwnd, nullptr);
  DestroyMenu(menu);
  if (chosen > 0 && static_cast<std::size_t>(chosen) <= entries.size()) {
    if (entries[static_cast<std::size_t>(chosen) - 1].action)
      entries[static_cast<std::size_t>(chosen) - 1].action();
  }
  return true;
}

void CDialog::Backend::Forget(CDialog& d) {
  RemovePropW(d.m_hWnd, kDialogProp);
  d.m_hWnd = nullptr;
  d.m_created = false;
  for (ControlSlot& slot : d.m_controls) slot.widget = nullptr;
  if (d.m_backend->modalLoop != nullptr) {
    ReenableOwner(d);
    d.m_backend->modalLoop->Quit();
    d.m_backend->modalLoop = nullptr;
  }
}

void CDialog::Backend::ReenableOwner(CDialog& d) {
  if (d.m_backend->disabledOwner != nullptr) {
    EnableWindow(d.m_backend->disabledOwner, TRUE);
    d.m_backend->disabledOwner = nullptr;
  }
}

// The dialog manager makes the controls in template order, which is their order among the
// dialog's children; each is checked against its id.
bool CDialog::Backend::MapControls(CDialog& d) {
  std::vector<HWND> children;
  for (HWND w = GetWindow(d.m_hWnd, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    children.push_back(w);
  }
  const auto& controls = d.m_template->controls;
  if (children.size() != controls.size()) return false;
  auto matches = [&] {
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (GetDlgCtrlID(children[i]) != controls[i].id) return false;
    }
    return true;
  };
  if (!matches()) {
    std::reverse(children.begin(), children.end());
    if (!matches()) return false;
  }
  d.m_controls.clear();
  d.m_slotById.clear();
  d.m_controls.reserve(controls.size());
  const DialogBaseUnits base = DialogUnits();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ControlTemplate& t = controls[i];
    HWND w = children[i];
    switch (t.kind) {
      case ControlKind::kEdit:
        win32::InstallEditLimit(w);
        break;
      case ControlKind::kTextView:
        win32::InstallTextView(w);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(win32::FixedFont()), FALSE);
        d.m_backend->captions[w] = t.caption;
        break;
      case ControlKind::kIcon:
        d.m_backend->captions[w] = t.caption;
        break;
      case ControlKind::kComboBox:
        win32::NoteKnownSelection(w);
        break;
      case ControlKind::kSlider:
        win32::NoteSliderPosition(w);
        break;
      default:
        break;
    }
    // The dialog manager maps a control's size on its own, so a control can end a pixel short
    // of its neighbour; mapped edge by edge, controls that touch in the template touch here,
    // and sit where the Qt panel puts them.
    const Rect r = MapDialogRect(Rect{t.x, t.y, t.width, t.height}, base);
    SetWindowPos(w, nullptr, r.x, r.y, r.width, r.height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    if (t.id != kStaticId) d.m_slotById[t.id] = d.m_controls.size();
    d.m_controls.push_back(ControlSlot{&t, w, nullptr});
  }
  // Frames lie under the controls they surround, as in the Qt panel: a label that crosses a
  // frame's line stays whole. Group boxes take no focus, so the tab order does not change.
  for (auto it = d.m_controls.rbegin(); it != d.m_controls.rend(); ++it) {
    if (it->tmpl->kind != ControlKind::kGroupBox) continue;
    SetWindowPos(it->widget, HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
  }
  return true;
}

namespace win32 {

void SliderPositionMayHaveChanged(HWND slider) {
  const INT_PTR known = reinterpret_cast<INT_PTR>(GetPropW(slider, kSliderPositionProp));
  const INT_PTR now = NoteSliderPosition(slider);
  if (known == now) return;
  if (CDialog* dialog = DialogOf(GetParent(slider))) dialog->NotifyCustomDraw(GetDlgCtrlID(slider));
}

}  // namespace win32

// ----- creation and life

CDialog::CDialog(int templateId, CDialog* owner)
    : m_templateId(templateId), m_owner(owner), m_backend(std::make_unique<Backend>()) {}

CDialog::~CDialog() {
  if (m_backend->modalLoop != nullptr) {
    Backend::ReenableOwner(*this);
    m_backend->modalLoop->Quit();
    m_backend->modalLoop = nullptr;
  }
  if (m_hWnd != nullptr) {
    HWND hwnd = m_hWnd;
    // The window must not reach this object while it goes.
    RemovePropW(hwnd, kDialogProp);
    m_hWnd = nullptr;
    DestroyWindow(hwnd);
  }
}

bool CDialog::BuildFromTemplate(CDialog* parent, int hostId, bool asWindow) {
  if (m_created) return true;
  if (m_template == nullptr) m_template = FindDialogTemplate(m_templateId);
  if (m_template == nullptr) return false;
  EnsureCommonControls();
  // The thread that builds the first dialog is the GUI thread, gate or no gate.
  win32::MessageWindow();

  // asWindow: parent is the owner, if any. A page without a parent is a hidden window of its
  // own (the page tests drive pages so).
  HWND parentWindow = parent != nullptr ? parent->GetSafeHwnd() : nullptr;
  win32::DialogFrame frame = win32::DialogFrame::kChild;
  if (asWindow) {
    parentWindow = RootOf(parentWindow);
    frame = m_modeless                ? win32::DialogFrame::kTool
            : parentWindow != nullptr ? win32::DialogFrame::kOwned
                                      : win32::DialogFrame::kMain;
  } else if (parentWindow == nullptr) {
    if (parent != nullptr) return false;
    frame = win32::DialogFrame::kLonePage;
  }
  const std::vector<DWORD> bytes = win32::BuildDialogTemplate(*m_template, frame);
  HWND hwnd = CreateDialogIndirectParamW(
      win32::Instance(), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), parentWindow,
      &Backend::DialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd == nullptr) return false;
  if (!Backend::MapControls(*this)) {
    RemovePropW(hwnd, kDialogProp);
    m_hWnd = nullptr;
    DestroyWindow(hwnd);
    return false;
  }
  if (asWindow && frame == win32::DialogFrame::kOwned) {
    // Over the middle of its owner, inside the owner's screen, as Windows places its boxes.
    RECT owner{};
    RECT self{};
    GetWindowRect(parentWindow, &owner);
    GetWindowRect(hwnd, &self);
    const int width = self.right - self.left;
    const int height = self.bottom - self.top;
    int x = owner.left + ((owner.right - owner.left) - width) / 2;
    int y = owner.top + ((owner.bottom - owner.top) - height) / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(parentWindow, MONITOR_DEFAULTTONEAREST), &monitor)) {
      const RECT& work = monitor.rcWork;
      x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - width));
      y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - height));
    }
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (asWindow) {
    if (HICON big = win32::ApplicationIcon(true))
      SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (HICON small = win32::ApplicationIcon(false))
      SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  } else if (parent != nullptr && hostId != kStaticId) {
    m_backend->host = parent->GetDlgItem(hostId);
    if (m_backend->host != nullptr) {
      // Over the host, which must not paint over it: just above it among the siblings.
      HWND above = GetWindow(m_backend->host, GW_HWNDPREV);
      SetWindowPos(hwnd, above != nullptr ? above : HWND_TOP, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      RECT r{};
      GetWindowRect(m_backend->host, &r);
      MapWindowPoints(HWND_DESKTOP, parentWindow, reinterpret_cast<POINT*>(&r), 2);
      SetWindowPos(hwnd, nullptr, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      wchar_t hostClass[32] = {};
      GetClassNameW(m_backend->host, hostClass, 32);
      if (lstrcmpiW(hostClass, WC_TABCONTROLW) == 0) UseTabBackground(hwnd);
    }
  }
  m_created = true;
  return true;
}

int CDialog::DoModal() {
  m_backend->modalResult = 0;
  EventLoop loop;
  m_backend->modalLoop = &loop;
  bool placeFocus = false;
  if (!m_created) {
    if (!BuildFromTemplate(m_owner, kStaticId, true)) {
      m_backend->modalLoop = nullptr;
      return -1;
    }
    placeFocus = OnInitDialog();
  }
  // EndDialog during the initialisation has ended the run before it starts.
  if (m_backend->modalLoop != nullptr && m_hWnd != nullptr) {
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    if (owner != nullptr && IsWindowEnabled(owner)) {
      EnableWindow(owner, FALSE);
      m_backend->disabledOwner = owner;
    }
    ::ShowWindow(m_hWnd, SW_SHOW);
    SetForegroundWindow(m_hWnd);
    if (placeFocus) {
      if (HWND first = GetNextDlgTabItem(m_hWnd, nullptr, FALSE))
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }
    // The program's own loop, so the pre-translate hook sees this window's input too.
    loop.Run();
  }
  Backend::ReenableOwner(*this);
  m_backend->modalLoop = nullptr;
  if (m_hWnd != nullptr) ::ShowWindow(m_hWnd, SW_HIDE);
  return m_backend->modalResult;
}

void CDialog::EndDialog(int result) {
  m_backend->modalResult = result;
  // The owner takes input again before this window goes, so the activation returns to it.
  Backend::ReenableOwner(*this);
  if (m_hWnd != nullptr) ::ShowWindow(m_hWnd, SW_HIDE);
  if (m_backend->modalLoop != nullptr) {
    m_backend->modalLoop->Quit();
    m_backend->modalLoop = nullptr;
  }
}

// ----- the window

NativeWindow CDialog::GetSafeWnd() const {
  return m_hWnd;
}

void CDialog::SetWindowText(const std::string& text) {
  if (m_hWnd != nullptr) SetWindowTextW(m_hWnd, Widen(text).c_str());
}

std::string CDialog::GetWindowText() const {
  return m_hWnd != nullptr ? Narrow(WindowTextOf(m_hWnd)) : std::string();
}

void CDialog::ShowWindow(bool show) {
  if (m_hWnd != nullptr) ::ShowWindow(m_hWnd, show ? SW_SHOW : SW_HIDE);
}

bool CDialog::IsWindowVisible() const {
  return m_hWnd != nullptr && ::IsWindowVisible(m_hWnd);
}

void CDialog::BringToFront() {
  if (m_hWnd == nullptr) return;
  HWND root = RootOf(m_hWnd);
  if (IsIconic(root)) ::ShowWindow(root, SW_RESTORE);
  SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(root);
  if (root == m_hWnd) {
    SetActiveWindow(m_hWnd);
  } else {
    SetFocus(m_hWnd);
  }
}

void CDialog::Close() {
  if (m_hWnd != nullptr) SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
}

namespace {
// The window a child dialog's coordinates are given in.
HWND CoordinateWindow(HWND hwnd, HWND host) {
  if (host != nullptr) return host;
  return (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) != 0 ? GetParent(hwnd) : HWND_DESKTOP;
}
}  // namespace

void CDialog::MoveWindow(const Rect& rect) {
  if (m_hWnd == nullptr) return;
  POINT at{rect.x, rect.y};
  HWND from = CoordinateWindow(m_hWnd, m_backend->host);
  if (from != HWND_DESKTOP) MapWindowPoints(from, GetParent(m_hWnd), &at, 1);
  ::MoveWindow(m_hWnd, at.x, at.y, rect.width, rect.height, TRUE);
}

Rect CDialog::WindowRect() const {
  if (m_hWnd == nullptr) return Rect{};
  RECT r{};
  GetWindowRect(m_hWnd, &r);
  HWND to = CoordinateWindow(m_hWnd, m_backend->host);
  if (to != HWND_DESKTOP) MapWindowPoints(HWND_DESKTOP, to, reinterpret_cast<POINT*>(&r), 2);
  return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void CDialog::SetFixedClientSize(Size client) {
  if (m_hWnd == nullptr) return;
  m_backend->resizable = false;
  LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
  SetWindowLongW(m_hWnd, GWL_STYLE, style & ~static_cast<LONG>(WS_THICKFRAME | WS_MAXIMIZEBOX));
  // The outer size the main window's layout is worked out for.
  SetWindowPos(m_hWnd, nullptr, 0, 0, client.width + 8, client.height + 35,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

Size CDialog::ClientSize() const {
  if (m_hWnd == nullptr) return Size{};
  RECT r{};
  GetClientRect(m_hWnd, &r);
  return Size{r.right - r.left, r.bottom - r.top};
}

void CDialog::SetResizable(Size minimum) {
  if (m_hWnd == nullptr) return;
  m_backend->resizable = true;
  m_backend->minimumClient = minimum;
  LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
  SetWindowLongW(m_hWnd, GWL_STYLE, style | WS_THICKFRAME | WS_MAXIMIZEBOX);
  SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  const Size now = ClientSize();
  if (now.width < minimum.width || now.height < minimum.height) {
    RECT r{0, 0, std::max(now.width, minimum.width), std::max(now.height, minimum.height)};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(m_hWnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(m_hWnd, GWL_EXSTYLE)));
    SetWindowPos(m_hWnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// ----- controls

int CDialog::ControlIdOf(NativeWindow control) const {
  if (m_hWnd == nullptr) return kStaticId;
  HWND w = control;
  while (w != nullptr && GetParent(w) != m_hWnd) {
    if ((GetWindowLongW(w, GWL_STYLE) & WS_CHILD) == 0) return kStaticId;
    w = GetParent(w);
  }
  if (w == nullptr) return kStaticId;
  for (const ControlSlot& slot : m_controls) {
    if (slot.widget == w) return slot.tmpl->id;
  }
  // A page that sits on one of the controls (the tab control) lies inside it.
  if (CDialog* page = DialogOf(w); page != nullptr && page->m_backend->host != nullptr) {
    for (const ControlSlot& slot : m_controls) {
      if (slot.widget == page->m_backend->host) return slot.tmpl->id;
    }
  }
  return kStaticId;
}

namespace {

enum class TextKind { kWindowText, kComboSelection, kHiddenCaption };

// How a control keeps its caption, told from its window class and style.
TextKind TextKindOf(HWND w) {
  wchar_t name[32] = {};
  GetClassNameW(w, name, 32);
  const LONG style = GetWindowLongW(w, GWL_STYLE);
  if (lstrcmpiW(name, L"ComboBox") == 0) return TextKind::kComboSelection;
  // An icon names its image by its text; a text view's text is its lines.
  if (lstrcmpiW(name, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
    return TextKind::kHiddenCaption;
  if (lstrcmpiW(name, L"Edit") == 0 && (style & ES_MULTILINE) != 0) return TextKind::kHiddenCaption;
  return TextKind::kWindowText;
}

}  // namespace

void CDialog::SetControlText(NativeWindow w, const std::string& text) {
  if (w == nullptr) return;
  switch (TextKindOf(w)) {
    case TextKind::kComboSelection: {
      // A drop-down list shows only its entries: a caption can only choose one.
      const LRESULT count = SendMessageW(w, CB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        if (ComboEntryText(w, static_cast<int>(i)) == text) {
          SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
          win32::NoteKnownSelection(w);
          break;
        }
      }
      break;
    }
    case TextKind::kHiddenCaption:
      if (CDialog* dialog = DialogOf(GetParent(w))) dialog->m_backend->captions[w] = text;
      break;
    case TextKind::kWindowText:
      SetWindowTextW(w, Widen(text).c_str());
      break;
  }
}

std::string CDialog::GetControlText(NativeWindow w) {
  if (w == nullptr) return std::string();
  switch (TextKindOf(w)) {
    case TextKind::kComboSelection: {
      const LRESULT sel = SendMessageW(w, CB_GETCURSEL, 0, 0);
      return sel == CB_ERR ? std::string() : ComboEntryText(w, static_cast<int>(sel));
    }
    case TextKind::kHiddenCaption: {
      CDialog* dialog = DialogOf(GetParent(w));
      if (dialog == nullptr) return std::string();
      auto it = dialog->m_backend->captions.find(w);
      return it == dialog->m_backend->captions.end() ? std::string() : it->second;
    }
    case TextKind::kWindowText:
      break;
  }
  return Narrow(WindowTextOf(w));
}

void CDialog::ShowItem(int id, bool show) {
  if (HWND w = GetDlgItem(id)) ::ShowWindow(w, show ? SW_SHOWNA : SW_HIDE);
}

bool CDialog::IsItemShown(int id) const {
  HWND w = GetDlgItem(id);
  return w != nullptr && (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0;
}

void CDialog::EnableItem(int id, bool enable) {
  HWND w = GetDlgItem(id);
  if (w == nullptr) return;
  if (!enable && GetFocus() == w) {
    // A disabled control cannot keep the focus: the dialog's keys would reach nothing.
    SendMessageW(RootOf(w), WM_NEXTDLGCTL, 0, FALSE);
  }
  EnableWindow(w, enable ? TRUE : FALSE);
}

bool CDialog::IsItemEnabled(int id) const {
  HWND w = GetDlgItem(id);
  return w != nullptr && IsWindowEnabled(w);
}

void CDialog::MoveItem(int id, const Rect& rect) {
  const ControlSlot* slot = FindSlot(id);
  if (slot == nullptr || slot->widget == nullptr) return;
  int height = rect.height;
  if (slot->tmpl->kind == ControlKind::kComboBox) {
    // A combo box's window height includes its dropped list; the rectangle is the closed box.
    RECT closed{};
    RECT dropped{};
    GetWindowRect(slot->widget, &closed);
    SendMessageW(slot->widget, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    height = std::max(rect.height, static_cast<int>(dropped.bottom - dropped.top));
  }
  RECT before{};
  GetWindowRect(slot->widget, &before);
  ::MoveWindow(slot->widget, rect.x, rect.y, rect.width, height, TRUE);
  RECT after{};
  GetWindowRect(slot->widget, &after);
  const int dx = after.left - before.left;
  const int dy = after.top - before.top;
  if (dx == 0 && dy == 0) return;
  // The pages on this control keep their place on it, as children of it would.
  for (HWND w = GetWindow(m_hWnd, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    CDialog* page = DialogOf(w);
    if (page == nullptr || page->m_backend->host != slot->widget) continue;
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(w, nullptr, r.left + dx, r.top + dy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

Rect CDialog::ItemRect(int id) const {
  HWND w = GetDlgItem(id);
  if (w == nullptr || m_hWnd == nullptr) return Rect{};
  RECT r{};
  GetWindowRect(w, &r);
  MapWindowPoints(HWND_DESKTOP, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
  return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void CDialog::FocusItem(int id) {
  HWND w = GetDlgItem(id);
  if (w == nullptr) return;
  HWND root = RootOf(w);
  if (DialogOf(root) != nullptr) {
    SendMessageW(root, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(w), TRUE);
  } else {
    SetFocus(w);
  }
}

unsigned CDialog::IsDlgButtonChecked(int id) const {
  const ControlSlot* slot = FindSlot(id);
  if (slot == nullptr || slot->widget == nullptr) return 0;
  if (slot->tmpl->kind != ControlKind::kCheckBox && slot->tmpl->kind != ControlKind::kRadioButton)
    return 0;
  switch (SendMessageW(slot->widget, BM_GETCHECK, 0, 0)) {
    case BST_CHECKED:
      return 1;
    case BST_INDETERMINATE:
      return 2;
    default:
      return 0;
  }
}

void CDialog::CheckDlgButton(int id, unsigned check) {
  const ControlSlot* slot = FindSlot(id);
  if (slot == nullptr || slot->widget == nullptr) return;
  HWND w = slot->widget;
  // BM_SETCHECK notifies nobody: the program's ticks never reach a page's click handler.
  if (slot->tmpl->kind == ControlKind::kCheckBox) {
    if (check == 2) {
      // Only a three-state box can show the third state.
      const LONG style = GetWindowLongW(w, GWL_STYLE);
      if ((style & BS_TYPEMASK) != BS_AUTO3STATE) {
        SendMessageW(w, BM_SETSTYLE, (style & ~static_cast<LONG>(BS_TYPEMASK)) | BS_AUTO3STATE,
                     TRUE);
      }
    }
    SendMessageW(w, BM_SETCHECK,
                 check == 0   ? BST_UNCHECKED
                 : check == 2 ? BST_INDETERMINATE
                              : BST_CHECKED,
                 0);
  } else if (slot->tmpl->kind == ControlKind::kRadioButton) {
    SendMessageW(w, BM_SETCHECK, check != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

}  // namespace lumivex::ui
