// The control objects on Win32's own controls: EDIT, COMBOBOX, msctls_trackbar32,
// SysTabControl32, a read-only multi-line EDIT for text views, and a STATIC for the status line.

#include <algorithm>
#include <deque>
#include <limits>

#include "ui/framework/controls.h"
#include "ui/framework/dialog.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

using win32::Narrow;
using win32::Widen;

namespace {

bool HasClass(HWND w, const wchar_t* name) {
  if (w == nullptr) return false;
  wchar_t actual[64] = {};
  GetClassNameW(w, actual, 64);
  return lstrcmpiW(actual, name) == 0;
}

LONG StyleOf(HWND w) {
  return GetWindowLongW(w, GWL_STYLE);
}

std::wstring TextOf(HWND w) {
  const int length = GetWindowTextLengthW(w);
  std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
  const int got = GetWindowTextW(w, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

// ----- the edit box's typing limit

// Each subclassed control keeps its state in a window property as well, where the program
// finds it (GetWindowSubclass has no import by name in every toolchain).
constexpr UINT_PTR kEditSubclassId = 0x4C56;  // "LV"
constexpr wchar_t kEditStateProp[] = L"LumivexEditState";
constexpr wchar_t kTextViewStateProp[] = L"LumivexTextViewState";
constexpr wchar_t kStatusStateProp[] = L"LumivexStatusState";

struct EditState {
  int limitBytes = 0;  // 0: none
  bool userChange = false;
};

bool ChangesText(UINT message) {
  switch (message) {
    case WM_CHAR:
    case WM_IME_CHAR:
    case WM_PASTE:
    case WM_UNDO:
    case EM_UNDO:
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, UINT_PTR id,
                          DWORD_PTR data) {
  auto* state = reinterpret_cast<EditState*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &EditProc, id);
    RemovePropW(hwnd, kEditStateProp);
    delete state;
    return DefSubclassProc(hwnd, message, wp, lp);
  }
  if (!ChangesText(message) || state->userChange) return DefSubclassProc(hwnd, message, wp, lp);

  const std::wstring before = TextOf(hwnd);
  DWORD selStart = 0;
  DWORD selEnd = 0;
  SendMessageW(hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
               reinterpret_cast<LPARAM>(&selEnd));
  state->userChange = true;
  const LRESULT result = DefSubclassProc(hwnd, message, wp, lp);
  const std::wstring after = TextOf(hwnd);
  if (after == before) {
    state->userChange = false;
    return result;
  }
  if (state->limitBytes > 0) {
    const std::size_t bytesAfter = Narrow(after).size();
    if (bytesAfter > static_cast<std::size_t>(state->limitBytes) &&
        bytesAfter > Narrow(before).size()) {
      // Too long, and longer than before: the change is undone. A text the program set longer
      // than the limit stays; the user can shorten it, never lengthen it.
      SetWindowTextW(hwnd, before.c_str());
      SendMessageW(hwnd, EM_SETSEL, selStart, selEnd);
      state->userChange = false;
      MessageBeep(MB_OK);
      return result;
    }
  }
  state->userChange = false;
  // The change stays: the dialog hears of it now, once.
  SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), EN_CHANGE),
               reinterpret_cast<LPARAM>(hwnd));
  return result;
}

EditState* EditStateOf(HWND edit) {
  return edit != nullptr ? static_cast<EditState*>(GetPropW(edit, kEditStateProp)) : nullptr;
}

// ----- text views

constexpr UINT_PTR kTextViewSubclassId = 0x4C57;

struct TextViewState {
  std::size_t maxLines = std::numeric_limits<std::size_t>::max();
  std::deque<std::string> lines;
};

LRESULT CALLBACK TextViewProc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, UINT_PTR id,
                              DWORD_PTR data) {
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &TextViewProc, id);
    RemovePropW(hwnd, kTextViewStateProp);
    delete reinterpret_cast<TextViewState*>(data);
  }
  return DefSubclassProc(hwnd, message, wp, lp);
}

TextViewState* TextViewStateOf(HWND edit) {
  return edit != nullptr ? static_cast<TextViewState*>(GetPropW(edit, kTextViewStateProp))
                         : nullptr;
}

// A line as the edit box shows it: a line break inside it would make two lines there.
std::wstring ShownLine(const std::string& line) {
  std::wstring shown = Widen(line);
  std::replace(shown.begin(), shown.end(), L'\r', L' ');
  std::replace(shown.begin(), shown.end(), L'\n', L' ');
  return shown;
}

// ----- the status line

constexpr UINT_PTR kStatusSubclassId = 0x4C58;
// Space before and after the status line's text; above and below it.
constexpr int kStatusIndent = 4;
constexpr int kStatusPadding = 6;

struct StatusState {
  HWND tooltip = nullptr;
};

// text cut in the middle so it fits width pixels in dc's font ("COM3 … firmware 1000B").
std::wstring ElideMiddle(HDC dc, const std::wstring& text, int width) {
  auto widthOf = [dc](const std::wstring& s) {
    SIZE size{};
    GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
    return static_cast<int>(size.cx);
  };
  if (widthOf(text) <= width) return text;
  // Cut at code points, never between the halves of a surrogate pair.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] < 0xDC00 || text[i] > 0xDFFF) starts.push_back(i);
  }
  const std::size_t count = starts.size();
  auto keep = [&](std::size_t kept) {
    const std::size_t head = (kept + 1) / 2;
    const std::size_t tail = kept - head;
    std::wstring s = text.substr(0, head < count ? starts[head] : text.size());
    s += L'\u2026';
    if (tail > 0) s += text.substr(starts[count - tail]);
    return s;
  };
  std::size_t low = 0;
  std::size_t high = count;  // count itself never fits (the whole text did not)
  while (low + 1 < high) {
    const std::size_t mid = (low + high) / 2;
    if (widthOf(keep(mid)) <= width) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return keep(low);
}

std::wstring ShownStatusText(HWND label) {
  RECT client{};
  GetClientRect(label, &client);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, win32::DialogFont());
  const std::wstring shown =
      ElideMiddle(dc, TextOf(label), (client.right - client.left) - 2 * kStatusIndent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return shown;
}

// The window text is the whole line (what assistive technologies read); the paint shows what
// fits.
void PaintStatusLine(HWND hwnd, HDC dc) {
  RECT client{};
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  HGDIOBJ old = SelectObject(dc, win32::DialogFont());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(IsWindowEnabled(hwnd) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  const std::wstring shown =
      ElideMiddle(dc, TextOf(hwnd), (client.right - client.left) - 2 * kStatusIndent);
  RECT textRect = client;
  textRect.left += kStatusIndent;
  textRect.right -= kStatusIndent;
  DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &textRect,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
  SelectObject(dc, old);
}

LRESULT CALLBACK StatusProc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, UINT_PTR id,
                            DWORD_PTR data) {
  auto* state = reinterpret_cast<StatusState*>(data);
  switch (message) {
    case WM_NCDESTROY:
      if (state->tooltip != nullptr) DestroyWindow(state->tooltip);
      RemoveWindowSubclass(hwnd, &StatusProc, id);
      RemovePropW(hwnd, kStatusStateProp);
      delete state;
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      HDC dc = BeginPaint(hwnd, &paint);
      PaintStatusLine(hwnd, dc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintStatusLine(hwnd, reinterpret_cast<HDC>(wp));
      return 0;
    case WM_SIZE:
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wp, lp);
}

StatusState* StatusStateOf(HWND label) {
  return label != nullptr ? static_cast<StatusState*>(GetPropW(label, kStatusStateProp)) : nullptr;
}

}  // namespace

namespace win32 {

void InstallEditLimit(HWND edit) {
  if (EditStateOf(edit) != nullptr) return;
  auto* state = new EditState;
  SetPropW(edit, kEditStateProp, state);
  SetWindowSubclass(edit, &EditProc, kEditSubclassId, reinterpret_cast<DWORD_PTR>(state));
}

void SetEditByteLimit(HWND edit, int maxBytes) {
  InstallEditLimit(edit);
  if (EditState* state = EditStateOf(edit)) state->limitBytes = std::max(maxBytes, 0);
}

int EditByteLimit(HWND edit) {
  const EditState* state = EditStateOf(edit);
  return state != nullptr ? state->limitBytes : 0;
}

bool EditChangeDeferred(HWND edit) {
  const EditState* state = EditStateOf(edit);
  return state != nullptr && state->userChange;
}

void InstallTextView(HWND edit) {
  if (TextViewStateOf(edit) != nullptr) return;
  // A multi-line edit box holds 32K characters unless told otherwise.
  SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
  auto* state = new TextViewState;
  SetPropW(edit, kTextViewStateProp, state);
  SetWindowSubclass(edit, &TextViewProc, kTextViewSubclassId, reinterpret_cast<DWORD_PTR>(state));
}

void InstallStatusLine(HWND label) {
  if (StatusStateOf(label) != nullptr) return;
  auto* state = new StatusState;
  SetPropW(label, kStatusStateProp, state);
  SetWindowSubclass(label, &StatusProc, kStatusSubclassId, reinterpret_cast<DWORD_PTR>(state));
}

}  // namespace win32

// ----- CWndHandle

void CWndHandle::EnableWindow(bool enable) {
  if (m_widget != nullptr) ::EnableWindow(m_widget, enable ? TRUE : FALSE);
}

void CWndHandle::ShowWindow(bool show) {
  if (m_widget != nullptr) ::ShowWindow(m_widget, show ? SW_SHOWNA : SW_HIDE);
}

// ----- CEdit

bool CEdit::Attach(NativeWindow control) {
  if (!HasClass(control, L"Edit") || (StyleOf(control) & ES_MULTILINE) != 0) return false;
  win32::InstallEditLimit(control);
  m_widget = control;
  return true;
}

std::string CEdit::GetWindowText() const {
  return m_widget != nullptr ? Narrow(TextOf(m_widget)) : std::string();
}

void CEdit::SetWindowText(const std::string& text) {
  // WM_SETTEXT passes by the typing limit: the program's text is never cut.
  if (m_widget != nullptr) SetWindowTextW(m_widget, Widen(text).c_str());
}

void CEdit::SetLimitText(int maxBytes) {
  // EM_LIMITTEXT counts UTF-16 units and refuses a replacement that still leaves a text over
  // the limit even when it shortens it; the limit is kept in bytes by the edit's subclass.
  if (m_widget != nullptr) win32::SetEditByteLimit(m_widget, maxBytes);
}

void CEdit::SelectAll() {
  if (m_widget != nullptr) SendMessageW(m_widget, EM_SETSEL, 0, -1);
}

// ----- CComboBox

bool CComboBox::Attach(NativeWindow control) {
  if (!HasClass(control, L"ComboBox")) return false;
  m_widget = control;
  return true;
}

int CComboBox::AddString(const std::string& text) {
  if (m_widget == nullptr) return -1;
  const LRESULT index =
      SendMessageW(m_widget, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
  return index < 0 ? -1 : static_cast<int>(index);
}

int CComboBox::GetCount() const {
  if (m_widget == nullptr) return 0;
  const LRESULT count = SendMessageW(m_widget, CB_GETCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<int>(count);
}

int CComboBox::GetCurSel() const {
  if (m_widget == nullptr) return -1;
  const LRESULT sel = SendMessageW(m_widget, CB_GETCURSEL, 0, 0);
  return sel < 0 ? -1 : static_cast<int>(sel);
}

int CComboBox::SetCurSel(int index) {
  if (m_widget == nullptr) return -1;
  if (index < 0 || index >= GetCount()) index = -1;
  SendMessageW(m_widget, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  win32::NoteKnownSelection(m_widget);
  return GetCurSel();
}

std::string CComboBox::GetLBText(int index) const {
  if (m_widget == nullptr || index < 0 || index >= GetCount()) return std::string();
  const LRESULT length = SendMessageW(m_widget, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return std::string();
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(m_widget, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return Narrow(text);
}

void CComboBox::ResetContent() {
  if (m_widget == nullptr) return;
  SendMessageW(m_widget, CB_RESETCONTENT, 0, 0);
  win32::NoteKnownSelection(m_widget);
}

// ----- CSliderCtrl

bool CSliderCtrl::Attach(NativeWindow control) {
  if (!HasClass(control, TRACKBAR_CLASSW)) return false;
  m_widget = control;
  return true;
}

void CSliderCtrl::SetRange(int minimum, int maximum, bool redraw) {
  if (m_widget == nullptr) return;
  SendMessageW(m_widget, TBM_SETRANGEMIN, FALSE, minimum);
  SendMessageW(m_widget, TBM_SETRANGEMAX, redraw ? TRUE : FALSE, maximum);
  // The position stays inside the range, and a page hears when that moved it.
  const int position = GetPos();
  const int clamped = std::clamp(position, minimum, std::max(minimum, maximum));
  if (clamped != position) SendMessageW(m_widget, TBM_SETPOS, redraw ? TRUE : FALSE, clamped);
  win32::SliderPositionMayHaveChanged(m_widget);
}

int CSliderCtrl::GetRangeMin() const {
  return m_widget != nullptr ? static_cast<int>(SendMessageW(m_widget, TBM_GETRANGEMIN, 0, 0)) : 0;
}

int CSliderCtrl::GetRangeMax() const {
  return m_widget != nullptr ? static_cast<int>(SendMessageW(m_widget, TBM_GETRANGEMAX, 0, 0)) : 0;
}

void CSliderCtrl::SetTicFreq(int frequency) {
  if (m_widget != nullptr)
    SendMessageW(m_widget, TBM_SETTICFREQ, static_cast<WPARAM>(frequency), 0);
}

int CSliderCtrl::GetPos() const {
  return m_widget != nullptr ? static_cast<int>(SendMessageW(m_widget, TBM_GETPOS, 0, 0)) : 0;
}

void CSliderCtrl::SetPos(int position) {
  if (m_widget == nullptr) return;
  const int clamped = std::clamp(position, GetRangeMin(), std::max(GetRangeMin(), GetRangeMax()));
  SendMessageW(m_widget, TBM_SETPOS, TRUE, clamped);
  win32::SliderPositionMayHaveChanged(m_widget);
}

// ----- CTabCtrl

bool CTabCtrl::Attach(NativeWindow control) {
  if (!HasClass(control, WC_TABCONTROLW)) return false;
  m_widget = control;
  return true;
}

int CTabCtrl::InsertItem(int position, const std::string& text) {
  if (m_widget == nullptr) return -1;
  position = std::clamp(position, 0, GetItemCount());
  std::wstring wide = Widen(text);
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = wide.data();
  const LRESULT index = SendMessageW(m_widget, TCM_INSERTITEMW, static_cast<WPARAM>(position),
                                     reinterpret_cast<LPARAM>(&item));
  return index < 0 ? -1 : static_cast<int>(index);
}

int CTabCtrl::GetItemCount() const {
  return m_widget != nullptr ? static_cast<int>(SendMessageW(m_widget, TCM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string CTabCtrl::GetItemText(int index) const {
  if (m_widget == nullptr || index < 0 || index >= GetItemCount()) return std::string();
  wchar_t buffer[512] = {};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = buffer;
  item.cchTextMax = 512;
  if (!SendMessageW(m_widget, TCM_GETITEMW, static_cast<WPARAM>(index),
                    reinterpret_cast<LPARAM>(&item))) {
    return std::string();
  }
  // The control may hand back its own buffer rather than fill ours.
  return Narrow(item.pszText != nullptr ? item.pszText : buffer);
}

int CTabCtrl::GetCurSel() const {
  return m_widget != nullptr ? static_cast<int>(SendMessageW(m_widget, TCM_GETCURSEL, 0, 0)) : -1;
}

int CTabCtrl::SetCurSel(int index) {
  if (m_widget == nullptr || index < 0 || index >= GetItemCount()) return -1;
  // TCM_SETCURSEL sends no TCN_SELCHANGE: the program's choice reaches no page.
  return static_cast<int>(SendMessageW(m_widget, TCM_SETCURSEL, static_cast<WPARAM>(index), 0));
}

// ----- CTextView

bool CTextView::Attach(NativeWindow control) {
  if (!HasClass(control, L"Edit") || TextViewStateOf(control) == nullptr) return false;
  m_widget = control;
  return true;
}

void CTextView::SetMaxLines(std::size_t maxLines) {
  TextViewState* state = TextViewStateOf(m_widget);
  if (state == nullptr) return;
  state->maxLines = maxLines == 0 ? std::numeric_limits<std::size_t>::max() : maxLines;
  if (state->lines.size() > state->maxLines) {
    // Dropping the oldest lines is what AppendLines does; an empty batch does just that.
    AppendLines({});
  }
}

void CTextView::AppendLines(const std::vector<std::string>& lines) {
  TextViewState* state = TextViewStateOf(m_widget);
  if (state == nullptr) return;
  HWND edit = m_widget;
  const std::size_t total = state->lines.size() + lines.size();
  if (lines.empty() && total <= state->maxLines) return;

  // Scrolled to the end, the view follows the new lines; scrolled up, it keeps its place.
  SCROLLINFO scroll{};
  scroll.cbSize = sizeof(scroll);
  scroll.fMask = SIF_ALL;
  const bool hasBar = GetScrollInfo(edit, SB_VERT, &scroll) != FALSE && scroll.nMax > 0 &&
                      scroll.nPage > 0 && static_cast<int>(scroll.nPage) <= scroll.nMax;
  const bool atEnd = !hasBar || scroll.nPos + static_cast<int>(scroll.nPage) > scroll.nMax;
  const int firstVisible = static_cast<int>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
  DWORD selStart = 0;
  DWORD selEnd = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
               reinterpret_cast<LPARAM>(&selEnd));

  SendMessageW(edit, WM_SETREDRAW, FALSE, 0);
  if (!lines.empty()) {
    std::wstring batch;
    for (const std::string& line : lines) {
      if (!batch.empty() || !state->lines.empty()) batch += L"\r\n";
      batch += ShownLine(line);
      state->lines.push_back(line);
    }
    const int end = GetWindowTextLengthW(edit);
    SendMessageW(edit, EM_SETSEL, end, end);
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(batch.c_str()));
  }
  int dropped = 0;
  DWORD droppedChars = 0;
  if (state->lines.size() > state->maxLines) {
    dropped = static_cast<int>(state->lines.size() - state->maxLines);
    state->lines.erase(state->lines.begin(), state->lines.begin() + dropped);
    droppedChars = static_cast<DWORD>(SendMessageW(edit, EM_LINEINDEX, dropped, 0));
    SendMessageW(edit, EM_SETSEL, 0, droppedChars);
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  }
  // The user's selection stays on the same characters (or what is left of them).
  selStart = selStart > droppedChars ? selStart - droppedChars : 0;
  selEnd = selEnd > droppedChars ? selEnd - droppedChars : 0;
  SendMessageW(edit, EM_SETSEL, selStart, selEnd);
  const int lineCount = static_cast<int>(SendMessageW(edit, EM_GETLINECOUNT, 0, 0));
  const int target = atEnd ? lineCount : std::max(firstVisible - dropped, 0);
  const int now = static_cast<int>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
  SendMessageW(edit, EM_LINESCROLL, 0, target - now);
  SendMessageW(edit, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(edit, nullptr, TRUE);
}

void CTextView::Clear() {
  TextViewState* state = TextViewStateOf(m_widget);
  if (state == nullptr) return;
  state->lines.clear();
  SetWindowTextW(m_widget, L"");
}

std::vector<std::string> CTextView::Lines() const {
  const TextViewState* state = TextViewStateOf(m_widget);
  if (state == nullptr) return {};
  return std::vector<std::string>(state->lines.begin(), state->lines.end());
}

std::string CTextView::SelectedOrAllText() const {
  const TextViewState* state = TextViewStateOf(m_widget);
  if (state == nullptr || state->lines.empty()) return std::string();
  DWORD selStart = 0;
  DWORD selEnd = 0;
  SendMessageW(m_widget, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
               reinterpret_cast<LPARAM>(&selEnd));
  std::size_t first = 0;
  std::size_t last = state->lines.size() - 1;
  if (selStart != selEnd) {
    first = static_cast<std::size_t>(SendMessageW(m_widget, EM_LINEFROMCHAR, selStart, 0));
    last = static_cast<std::size_t>(SendMessageW(m_widget, EM_LINEFROMCHAR, selEnd, 0));
    // A selection that ends where a line begins does not take that line.
    if (last > first &&
        static_cast<DWORD>(SendMessageW(m_widget, EM_LINEINDEX, last, 0)) == selEnd) {
      --last;
    }
    last = std::min(last, state->lines.size() - 1);
    first = std::min(first, last);
  }
  std::string text;
  for (std::size_t i = first; i <= last; ++i) {
    if (i > first) text += '\n';
    text += state->lines[i];
  }
  return text;
}

// ----- CStatusLine

CStatusLine::~CStatusLine() {
  // The line goes with its dialog's window when that went first.
  if (m_widget != nullptr && IsWindow(m_widget) && StatusStateOf(m_widget) != nullptr)
    DestroyWindow(m_widget);
}

void CStatusLine::Create(CDialog& owner) {
  if (m_widget != nullptr || owner.GetSafeHwnd() == nullptr) return;
  HWND label =
      CreateWindowExW(WS_EX_STATICEDGE, L"Static", Widen(m_text).c_str(),
                      WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 0,
                      0, owner.GetSafeHwnd(), nullptr, win32::Instance(), nullptr);
  if (label == nullptr) return;
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(win32::DialogFont()), FALSE);
  win32::InstallStatusLine(label);
  // The whole text as a tooltip, for when the line shows it cut.
  if (StatusState* state = StatusStateOf(label)) {
    state->tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                     WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                     owner.GetSafeHwnd(), nullptr, win32::Instance(), nullptr);
    if (state->tooltip != nullptr) {
      TTTOOLINFOW tool{};
      tool.cbSize = sizeof(tool);
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = owner.GetSafeHwnd();
      tool.uId = reinterpret_cast<UINT_PTR>(label);
      std::wstring tip = Widen(m_text);
      tool.lpszText = tip.data();
      SendMessageW(state->tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
      SendMessageW(state->tooltip, TTM_SETMAXTIPWIDTH, 0, 600);
    }
  }
  m_widget = label;
}

int CStatusLine::Height() const {
  if (m_widget == nullptr) return 0;
  HDC dc = GetDC(m_widget);
  HGDIOBJ old = SelectObject(dc, win32::DialogFont());
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(m_widget, dc);
  return metrics.tmHeight + kStatusPadding;
}

void CStatusLine::MoveWindow(const Rect& rect) {
  if (m_widget != nullptr) ::MoveWindow(m_widget, rect.x, rect.y, rect.width, rect.height, TRUE);
}

void CStatusLine::SetText(const std::string& text) {
  m_text = text;
  if (m_widget == nullptr) return;
  const std::wstring wide = Widen(text);
  if (TextOf(m_widget) != wide) SetWindowTextW(m_widget, wide.c_str());
  InvalidateRect(m_widget, nullptr, TRUE);
  if (StatusState* state = StatusStateOf(m_widget); state != nullptr && state->tooltip != nullptr) {
    std::wstring tip = wide;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = GetParent(m_widget);
    tool.uId = reinterpret_cast<UINT_PTR>(m_widget);
    tool.lpszText = tip.data();
    SendMessageW(state->tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

std::string CStatusLine::ShownText() const {
  return m_widget != nullptr ? Narrow(ShownStatusText(m_widget)) : m_text;
}

}  // namespace lumivex::ui
