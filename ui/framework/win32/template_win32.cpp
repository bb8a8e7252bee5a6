#include "ui/framework/win32/template_win32.h"

#include <cstring>

namespace lumivex::ui::win32 {

namespace {

constexpr uint16_t kButtonAtom = 0x0080;
constexpr uint16_t kEditAtom = 0x0081;
constexpr uint16_t kStaticAtom = 0x0082;
constexpr uint16_t kComboBoxAtom = 0x0085;

// Appends the words of a DLGTEMPLATEEX, keeping the DWORD alignment the items need.
class TemplateWriter {
 public:
  void Word(uint16_t w) { m_words.push_back(w); }
  void Dword(uint32_t d) {
    Word(static_cast<uint16_t>(d & 0xFFFF));
    Word(static_cast<uint16_t>(d >> 16));
  }
  void Short(int v) { Word(static_cast<uint16_t>(static_cast<int16_t>(v))); }
  void String(const std::wstring& s) {
    for (wchar_t c : s) Word(static_cast<uint16_t>(c));
    Word(0);
  }
  void AlignDword() {
    if (m_words.size() % 2 != 0) Word(0);
  }
  std::size_t Size() const { return m_words.size(); }
  void Patch(std::size_t at, uint16_t w) { m_words[at] = w; }

  std::vector<DWORD> Take() {
    AlignDword();
    std::vector<DWORD> out(m_words.size() / 2);
    std::memcpy(out.data(), m_words.data(), m_words.size() * sizeof(uint16_t));
    return out;
  }

 private:
  std::vector<uint16_t> m_words;
};

DWORD Common(const ControlTemplate& c) {
  DWORD style = WS_CHILD;
  if (!c.Has(style::kHidden)) style |= WS_VISIBLE;
  if (c.Has(style::kDisabled)) style |= WS_DISABLED;
  if (c.Has(style::kGroup)) style |= WS_GROUP;
  return style;
}

}  // namespace

const std::wstring& DialogFaceName() {
  // The face Windows gives its own dialogs and message boxes: the message font of the desktop
  // ("Segoe UI" on an English Windows, the locale's UI face on an East Asian one, "Tahoma"
  // under Wine). "MS Shell Dlg" would map to Microsoft Sans Serif, the face of Windows 2000.
  static const std::wstring face = [] {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) &&
        metrics.lfMessageFont.lfFaceName[0] != L'\0') {
      return std::wstring(metrics.lfMessageFont.lfFaceName);
    }
    return std::wstring(L"Segoe UI");
  }();
  return face;
}

ItemClass ControlClass(const ControlTemplate& c) {
  ItemClass item;
  DWORD style = Common(c);
  switch (c.kind) {
    case ControlKind::kPushButton:
      item.atom = kButtonAtom;
      style |= WS_TABSTOP | (c.Has(style::kDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      break;
    case ControlKind::kCheckBox:
      item.atom = kButtonAtom;
      style |= WS_TABSTOP | BS_AUTOCHECKBOX;
      if (c.Has(style::kTextLeft)) style |= BS_LEFTTEXT;
      if (c.Has(style::kPushLike)) style |= BS_PUSHLIKE;
      break;
    case ControlKind::kRadioButton:
      item.atom = kButtonAtom;
      // Only the first button of a group is a tab stop; the arrow keys move inside the group.
      style |= BS_AUTORADIOBUTTON;
      if (c.Has(style::kGroup)) style |= WS_TABSTOP;
      if (c.Has(style::kTextLeft)) style |= BS_LEFTTEXT;
      break;
    case ControlKind::kGroupBox:
      item.atom = kButtonAtom;
      style |= BS_GROUPBOX;
      // Painted after the controls it surrounds, it must not wipe them; it lies under them
      // (the dialog lowers it), and clipped by them it cannot paint over a caption that
      // crosses its frame.
      style |= WS_CLIPSIBLINGS;
      item.exStyle |= WS_EX_TRANSPARENT;
      break;
    case ControlKind::kLabel:
      item.atom = kStaticAtom;
      style |= SS_NOPREFIX | (c.Has(style::kCentred) ? SS_CENTER
                              : c.Has(style::kRight) ? SS_RIGHT
                                                     : SS_LEFT);
      break;
    case ControlKind::kEdit:
      item.atom = kEditAtom;
      style |= WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
      if (c.Has(style::kNumber)) style |= ES_NUMBER;
      if (c.Has(style::kCentred)) style |= ES_CENTER;
      if (c.Has(style::kRight)) style |= ES_RIGHT;
      item.exStyle |= WS_EX_CLIENTEDGE;
      style &= ~static_cast<DWORD>(WS_BORDER);
      break;
    case ControlKind::kComboBox:
      item.atom = kComboBoxAtom;
      style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
      break;
    case ControlKind::kSlider:
      item.name = TRACKBAR_CLASSW;
      style |= WS_TABSTOP | TBS_HORZ | (c.Has(style::kNoTicks) ? TBS_NOTICKS : TBS_AUTOTICKS);
      break;
    case ControlKind::kTabControl:
      item.name = WC_TABCONTROLW;
      // The pages lie above it; it must not paint over them.
      style |= WS_TABSTOP | WS_CLIPSIBLINGS;
      break;
    case ControlKind::kIcon:
      item.atom = kStaticAtom;
      style |= SS_ICON | SS_REALSIZECONTROL;
      break;
    case ControlKind::kPlot:
      item.name = PlotClassName();
      break;
    case ControlKind::kTextView:
      item.atom = kEditAtom;
      style |= WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
               ES_AUTOHSCROLL;
      item.exStyle |= WS_EX_CLIENTEDGE;
      break;
  }
  item.style = style;
  return item;
}

DWORD DialogStyle(DialogFrame frame) {
  const DWORD common = DS_SETFONT | WS_CLIPCHILDREN;
  switch (frame) {
    case DialogFrame::kChild:
      return common | DS_CONTROL | WS_CHILD | WS_CLIPSIBLINGS;
    case DialogFrame::kMain:
      return common | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    case DialogFrame::kOwned:
      return common | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    case DialogFrame::kTool:
      return common | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    case DialogFrame::kLonePage:
      return common | WS_POPUP;
  }
  return common;
}

DWORD DialogExStyle(DialogFrame frame) {
  switch (frame) {
    case DialogFrame::kChild:
      return WS_EX_CONTROLPARENT;
    case DialogFrame::kMain:
      return WS_EX_APPWINDOW;
    case DialogFrame::kOwned:
      return WS_EX_DLGMODALFRAME;
    case DialogFrame::kTool:
      return WS_EX_TOOLWINDOW;
    case DialogFrame::kLonePage:
      return WS_EX_CONTROLPARENT;
  }
  return 0;
}

std::vector<DWORD> BuildDialogTemplate(const DialogTemplate& dialog, DialogFrame frame) {
  TemplateWriter w;
  w.Word(1);       // dlgVer
  w.Word(0xFFFF);  // signature: the extended template
  w.Dword(0);      // helpID
  w.Dword(DialogExStyle(frame));
  w.Dword(DialogStyle(frame));
  w.Word(static_cast<uint16_t>(dialog.controls.size()));
  // A window of its own goes where the system puts new windows (0x8000: CW_USEDEFAULT in a
  // template's 16 bits); a page is placed by its parent, an owned window over its owner.
  const bool systemPlaces = frame == DialogFrame::kMain || frame == DialogFrame::kTool;
  w.Word(systemPlaces ? 0x8000 : 0);
  w.Short(0);
  w.Short(dialog.width);
  w.Short(dialog.height);
  w.Word(0);  // no menu
  w.Word(0);  // the dialog class
  w.String(Widen(dialog.caption));
  w.Word(kDialogPointSize);
  w.Word(FW_NORMAL);
  w.Word(static_cast<uint16_t>(DEFAULT_CHARSET << 8));  // italic 0, charset
  w.String(DialogFaceName());

  for (const ControlTemplate& c : dialog.controls) {
    w.AlignDword();
    const ItemClass item = ControlClass(c);
    w.Dword(0);  // helpID
    w.Dword(item.exStyle);
    w.Dword(item.style);
    w.Short(c.x);
    w.Short(c.y);
    w.Short(c.width);
    w.Short(c.height);
    w.Dword(static_cast<uint32_t>(c.id));
    if (item.atom != 0) {
      w.Word(0xFFFF);
      w.Word(item.atom);
    } else {
      w.String(item.name);
    }
    // An icon's caption names its resource; a text view starts empty, its caption is not text.
    if (c.kind == ControlKind::kTextView || c.kind == ControlKind::kComboBox) {
      w.String(L"");
    } else {
      w.String(Widen(c.caption));
    }
    w.Word(0);  // no creation data
  }
  return w.Take();
}

}  // namespace lumivex::ui::win32
