// The dialog framework on the Win32 dialog manager, run under Wine: the program's own templates
// built as real windows, checked control by control, and the framework's behaviour driven
// through the messages a user's input sends.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ui/framework/controls.h"
#include "ui/framework/dialog.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/plot_control.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {
namespace {

using win32::Narrow;
using win32::Widen;

constexpr int kTabId = 1000;

std::wstring ClassOf(HWND w) {
  wchar_t name[64] = {};
  GetClassNameW(w, name, 64);
  return name;
}

LONG StyleOf(HWND w) {
  return GetWindowLongW(w, GWL_STYLE);
}

std::string RawText(HWND w) {
  wchar_t text[512] = {};
  GetWindowTextW(w, text, 512);
  return Narrow(text);
}

// Lets posted notifications (queued custom draws, selection checks) arrive.
void Pump() {
  for (int i = 0; i < 3; ++i) ProcessPendingEvents();
}

// Types text into a control as the keyboard would, one character message at a time.
void Type(HWND w, const std::wstring& text) {
  for (wchar_t c : text) SendMessageW(w, WM_CHAR, c, 1);
}

// The main window with every page on its tab control, as the panel builds them.
struct Panel {
  CDialog main{templ::kMain};
  std::vector<std::unique_ptr<CDialog>> pages;
  Panel() {
    EXPECT_TRUE(main.CreateAsWindow());
    for (int id : {templ::kLedPage, templ::kInputSourcePage, templ::kTemperaturePage,
                   templ::kSystemPage, templ::kFlipPage}) {
      pages.push_back(std::make_unique<CDialog>(id));
      EXPECT_TRUE(pages.back()->Create(main, kTabId)) << id;
    }
  }
  CDialog& Page(int templateId) {
    for (auto& p : pages) {
      if (p->TemplateId() == templateId) return *p;
    }
    ADD_FAILURE() << templateId;
    return *pages.front();
  }
};

// ----- the templates as windows

struct KindExpectation {
  ControlKind kind;
  const wchar_t* className;
};

constexpr KindExpectation kClasses[] = {
    {ControlKind::kPushButton, L"Button"},
    {ControlKind::kCheckBox, L"Button"},
    {ControlKind::kRadioButton, L"Button"},
    {ControlKind::kGroupBox, L"Button"},
    {ControlKind::kLabel, L"Static"},
    {ControlKind::kEdit, L"Edit"},
    {ControlKind::kComboBox, L"ComboBox"},
    {ControlKind::kSlider, L"msctls_trackbar32"},
    {ControlKind::kTabControl, L"SysTabControl32"},
    {ControlKind::kIcon, L"Static"},
    {ControlKind::kPlot, L"LumivexPlot"},
    {ControlKind::kTextView, L"Edit"},
};

// What the control's styles must say for its template line.
void ExpectStyles(const ControlTemplate& t, HWND w) {
  const LONG style = StyleOf(w);
  const std::string where = "control " + std::to_string(t.id) + " \"" + t.caption + "\"";
  for (const KindExpectation& e : kClasses) {
    if (e.kind == t.kind) {
      EXPECT_EQ(lstrcmpiW(ClassOf(w).c_str(), e.className), 0) << where;
    }
  }
  EXPECT_EQ((style & WS_VISIBLE) == 0, t.Has(style::kHidden)) << where;
  EXPECT_EQ((style & WS_DISABLED) != 0, t.Has(style::kDisabled)) << where;
  const LONG type = style & BS_TYPEMASK;
  switch (t.kind) {
    case ControlKind::kPushButton:
      EXPECT_EQ(type, t.Has(style::kDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) << where;
      break;
    case ControlKind::kCheckBox:
      EXPECT_EQ(type, BS_AUTOCHECKBOX) << where;
      EXPECT_EQ((style & BS_LEFTTEXT) != 0, t.Has(style::kTextLeft)) << where;
      EXPECT_EQ((style & BS_PUSHLIKE) != 0, t.Has(style::kPushLike)) << where;
      break;
    case ControlKind::kRadioButton:
      EXPECT_EQ(type, BS_AUTORADIOBUTTON) << where;
      EXPECT_EQ((style & WS_GROUP) != 0, t.Has(style::kGroup)) << where;
      break;
    case ControlKind::kGroupBox:
      EXPECT_EQ(type, BS_GROUPBOX) << where;
      break;
    case ControlKind::kLabel:
      EXPECT_EQ(style & SS_TYPEMASK, t.Has(style::kCentred) ? SS_CENTER
                                     : t.Has(style::kRight) ? SS_RIGHT
                                                            : SS_LEFT)
          << where;
      break;
    case ControlKind::kEdit:
      EXPECT_EQ((style & ES_NUMBER) != 0, t.Has(style::kNumber)) << where;
      EXPECT_EQ((style & ES_CENTER) != 0, t.Has(style::kCentred)) << where;
      EXPECT_NE(style & ES_AUTOHSCROLL, 0) << where;
      EXPECT_EQ(style & ES_MULTILINE, 0) << where;
      break;
    case ControlKind::kComboBox:
      EXPECT_EQ(style & 3, CBS_DROPDOWNLIST) << where;
      break;
    case ControlKind::kSlider:
      EXPECT_EQ((style & TBS_NOTICKS) != 0, t.Has(style::kNoTicks)) << where;
      break;
    case ControlKind::kIcon:
      EXPECT_EQ(style & SS_TYPEMASK, SS_ICON) << where;
      break;
    case ControlKind::kTextView:
      EXPECT_NE(style & ES_MULTILINE, 0) << where;
      EXPECT_NE(style & ES_READONLY, 0) << where;
      EXPECT_NE(style & WS_VSCROLL, 0) << where;
      break;
    default:
      break;
  }
}

void ExpectBuiltFromTemplate(const CDialog& dialog) {
  const DialogTemplate* t = dialog.Template();
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(dialog.Controls().size(), t->controls.size()) << t->id;
  const DialogBaseUnits base = DialogUnits();
  for (std::size_t i = 0; i < t->controls.size(); ++i) {
    const ControlTemplate& c = t->controls[i];
    HWND w = dialog.Controls()[i].widget;
    ASSERT_NE(w, nullptr) << t->id << " #" << i;
    EXPECT_EQ(GetParent(w), dialog.GetSafeHwnd());
    EXPECT_EQ(GetDlgCtrlID(w), c.id) << t->id << " #" << i;
    if (c.id != kStaticId) {
      EXPECT_EQ(dialog.GetDlgItem(c.id), w);
      EXPECT_EQ(GetDlgItem(dialog.GetSafeHwnd(), c.id), w);
    }
    ExpectStyles(c, w);
    // Where the dialog manager put it is where MapDialogRect says (a combo box's height is the
    // closed box's).
    const Rect expected = MapDialogRect(Rect{c.x, c.y, c.width, c.height}, base);
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, dialog.GetSafeHwnd(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, expected.x) << t->id << " control " << c.id;
    EXPECT_EQ(r.top, expected.y) << t->id << " control " << c.id;
    EXPECT_EQ(r.right - r.left, expected.width) << t->id << " control " << c.id;
    if (c.kind != ControlKind::kComboBox && c.kind != ControlKind::kIcon) {
      EXPECT_EQ(r.bottom - r.top, expected.height) << t->id << " control " << c.id;
    }
    // Captions cross to the OS as UTF-16 and come back as they were (a drop-down list's is
    // its selected entry, none yet).
    if (c.id != kStaticId && c.kind != ControlKind::kComboBox) {
      EXPECT_EQ(dialog.GetDlgItemText(c.id), c.caption) << t->id << " control " << c.id;
    } else if (c.kind == ControlKind::kLabel || c.kind == ControlKind::kGroupBox) {
      EXPECT_EQ(RawText(w), c.caption) << t->id << " #" << i;
    }
  }
  const Size size = dialog.TemplatePixelSize();
  RECT client{};
  GetClientRect(dialog.GetSafeHwnd(), &client);
  EXPECT_EQ(client.right, size.width) << t->id;
  EXPECT_EQ(client.bottom, size.height) << t->id;
}

TEST(Win32Dialogs, EveryTemplateBuildsEveryControlAsItsKindSays) {
  Panel panel;
  ExpectBuiltFromTemplate(panel.main);
  EXPECT_EQ(panel.main.GetWindowText(), panel.main.Template()->caption);
  for (auto& page : panel.pages) {
    SCOPED_TRACE(page->TemplateId());
    ExpectBuiltFromTemplate(*page);
    EXPECT_EQ(GetParent(page->GetSafeHwnd()), panel.main.GetSafeHwnd());
    EXPECT_NE(StyleOf(page->GetSafeHwnd()) & WS_CHILD, 0);
  }
  CDialog about(templ::kAbout, &panel.main);
  ASSERT_TRUE(about.CreateAsWindow());
  ExpectBuiltFromTemplate(about);
  EXPECT_EQ(GetWindow(about.GetSafeHwnd(), GW_OWNER), panel.main.GetSafeHwnd());
  EXPECT_EQ(about.GetWindowText(), "关于 Lumivex");
  for (int id : {templ::kTemperatureHistory, templ::kTrafficWindow}) {
    SCOPED_TRACE(id);
    CDialog tool(id);
    ASSERT_TRUE(tool.CreateModeless(&panel.main));
    ExpectBuiltFromTemplate(tool);
    EXPECT_NE(GetWindowLongW(tool.GetSafeHwnd(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  }
}

TEST(Win32Dialogs, DialogUnitsAreTheDialogManagersOwn) {
  CDialog page(templ::kFlipPage);
  ASSERT_TRUE(page.Create(nullptr));
  // One character cell: MapDialogRect of the dialog manager against ours.
  for (const Rect& du : {Rect{0, 0, 4, 8}, Rect{3, 5, 101, 77}, Rect{10, 10, 104, 12}}) {
    RECT r{du.x, du.y, du.x + du.width, du.y + du.height};
    ASSERT_TRUE(::MapDialogRect(page.GetSafeHwnd(), &r));
    const Rect ours = MapDialogRect(du, DialogUnits());
    EXPECT_EQ(ours, (Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}));
  }
  // The font the templates are laid out for: 9 points at the screen's resolution.
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(page.GetSafeHwnd(), WM_GETFONT, 0, 0)),
             sizeof(font), &font);
  EXPECT_EQ(font.lfHeight, -MulDiv(9, dpi, 72));
}

TEST(Win32Dialogs, CaptionsRoundTripInUtf8) {
  CDialog page(templ::kSystemPage);
  ASSERT_TRUE(page.Create(nullptr));
  const std::string texts[] = {"打开串口", "Ünïcødé €", "emoji \xF0\x9F\x98\x80 pair", ""};
  for (const std::string& text : texts) {
    page.SetDlgItemText(1032, text);  // a button
    EXPECT_EQ(page.GetDlgItemText(1032), text);
    EXPECT_EQ(RawText(page.GetDlgItem(1032)), text);
    page.SetDlgItemText(1061, text);  // an edit box
    EXPECT_EQ(page.GetDlgItemText(1061), text);
    page.SetWindowText(text);
    EXPECT_EQ(page.GetWindowText(), text);
  }
}

// ----- data exchange

class SystemFields : public CDialog {
 public:
  SystemFields() : CDialog(templ::kSystemPage) {}
  std::string fileName = "abcdef";
  int maxBytes = 4;
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, 1061, fileName);
    DDV_MaxChars(pDX, fileName, maxBytes);
  }
};

class LedFields : public CDialog {
 public:
  LedFields() : CDialog(templ::kLedPage) {}
  uint32_t current = 100;
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, 1004, current);
    DDV_MinMaxUInt(pDX, current, 0, 255);
  }
};

TEST(Win32DataExchange, NumbersAreParsedAndRangeCheckedWithTheMessageShown) {
  ScopedMessageRecorder recorder;
  LedFields page;
  ASSERT_TRUE(page.Create(nullptr));
  page.ShowWindow(true);
  EXPECT_EQ(page.GetDlgItemText(1004), "100");
  struct Case {
    const char* text;
    bool ok;
    uint32_t value;
    const char* message;
  } cases[] = {
      {" 42 ", true, 42, nullptr},
      {"255", true, 255, nullptr},
      {"256", false, 0, "Please enter an integer between 0 and 255."},
      {"99999999999", false, 0, "Please enter an integer between 0 and 255."},
      {"", false, 0, kParseUIntMessage},
      {"-1", false, 0, kParseUIntMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    recorder->Clear();
    page.current = 7;
    page.SetDlgItemText(1004, c.text);
    EXPECT_EQ(page.UpdateData(true), c.ok);
    if (c.ok) {
      EXPECT_EQ(page.current, c.value);
      EXPECT_TRUE(recorder->Messages().empty());
    } else {
      ASSERT_EQ(recorder->Messages().size(), 1u);
      EXPECT_EQ(recorder->Messages()[0].text, c.message);
      EXPECT_EQ(recorder->Messages()[0].title, "Lumivex");
      EXPECT_EQ(GetFocus(), page.GetDlgItem(1004));
    }
  }
}

TEST(Win32DataExchange, TheTypingLimitCountsUtf8BytesAndNeverCutsTheProgramsText) {
  ScopedMessageRecorder recorder;
  SystemFields page;
  ASSERT_TRUE(page.Create(nullptr));
  page.ShowWindow(true);
  HWND edit = page.GetDlgItem(1061);
  int changes = 0;
  page.OnEditChange(1061, [&] { ++changes; });
  // The program's text is longer than the limit: it stays whole.
  EXPECT_EQ(page.GetDlgItemText(1061), "abcdef");
  // Typing cannot lengthen it, deleting shortens it.
  SendMessageW(edit, EM_SETSEL, 6, 6);
  Type(edit, L"x");
  EXPECT_EQ(page.GetDlgItemText(1061), "abcdef");
  EXPECT_EQ(changes, 0);
  Type(edit, L"\b\b");
  EXPECT_EQ(page.GetDlgItemText(1061), "abcd");
  EXPECT_EQ(changes, 2);
  // Saving a text over the limit fails with the message naming it.
  page.SetDlgItemText(1061, "abcde");
  EXPECT_FALSE(page.UpdateData(true));
  ASSERT_EQ(recorder->Messages().size(), 1u);
  EXPECT_EQ(recorder->Messages()[0].text, "Please enter no more than 4 characters.");
  // Bytes, not characters: "中" is three.
  page.SetDlgItemText(1061, "");
  changes = 0;
  Type(edit, L"中a");
  EXPECT_EQ(page.GetDlgItemText(1061), "中a");
  Type(edit, L"b中");
  EXPECT_EQ(page.GetDlgItemText(1061), "中a");
  EXPECT_EQ(changes, 2);
  // A replacement that keeps it within the limit is taken.
  SendMessageW(edit, EM_SETSEL, 0, 1);
  Type(edit, L"xy");
  EXPECT_EQ(page.GetDlgItemText(1061), "xya");
  page.fileName.clear();
  EXPECT_TRUE(page.UpdateData(true));
  EXPECT_EQ(page.fileName, "xya");
}

// ----- buttons

TEST(Win32Buttons, OnlyTheUsersClicksNotifyAndRadioGroupsExcludeEachOther) {
  Panel panel;
  CDialog& led = panel.Page(templ::kLedPage);
  panel.main.ShowWindow(true);
  led.ShowWindow(true);
  std::map<int, int> clicks;
  for (int id = 1007; id <= 1010; ++id) {
    led.EnableItem(id);
    led.OnClicked(id, [&clicks, id] { ++clicks[id]; });
  }
  led.CheckRadioButton(1007, 1010, 1008);
  EXPECT_EQ(led.GetCheckedRadioButton(1007, 1010), 1008);
  EXPECT_TRUE(clicks.empty());
  SendMessageW(led.GetDlgItem(1009), BM_CLICK, 0, 0);
  EXPECT_EQ(led.GetCheckedRadioButton(1007, 1010), 1009);
  EXPECT_EQ(led.IsDlgButtonChecked(1008), 0u);
  EXPECT_EQ(clicks, (std::map<int, int>{{1009, 1}}));
  led.CheckRadioButton(1007, 1010, 0);
  EXPECT_EQ(led.GetCheckedRadioButton(1007, 1010), 0);

  CDialog& flip = panel.Page(templ::kFlipPage);
  flip.ShowWindow(true);
  int flipClicks = 0;
  flip.OnClicked(1068, [&] { ++flipClicks; });
  flip.CheckDlgButton(1068, 1);
  flip.CheckDlgButton(1068, 2);
  EXPECT_EQ(flip.IsDlgButtonChecked(1068), 2u);
  flip.CheckDlgButton(1068, 0);
  EXPECT_EQ(flipClicks, 0);
  SendMessageW(flip.GetDlgItem(1068), BM_CLICK, 0, 0);
  EXPECT_EQ(flip.IsDlgButtonChecked(1068), 1u);
  EXPECT_EQ(flipClicks, 1);
  int tick = 0;
  CDataExchange load(flip, false);
  tick = 1;
  DDX_Check(&load, 1069, tick);
  EXPECT_EQ(flip.IsDlgButtonChecked(1069), 1u);
}

TEST(Win32Buttons, AClosedGateDropsClicksAndSwallowsInputButNotInUsableWindows) {
  Panel panel;
  CDialog& flip = panel.Page(templ::kFlipPage);
  panel.main.ShowWindow(true);
  flip.ShowWindow(true);
  int clicks = 0;
  flip.OnClicked(1070, [&] { ++clicks; });
  MSG key{flip.GetDlgItem(1070), WM_KEYDOWN, VK_SPACE, 0, 0, {}};
  {
    ScopedInputBlock block;
    // An accessibility press arrives as a click: dropped.
    SendMessageW(flip.GetDlgItem(1070), BM_CLICK, 0, 0);
    EXPECT_TRUE(win32::PreTranslateInput(key));
    MSG mouse{flip.GetDlgItem(1070), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3), 0, {}};
    EXPECT_TRUE(win32::PreTranslateInput(mouse));
  }
  EXPECT_EQ(clicks, 0);
  SendMessageW(flip.GetDlgItem(1070), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);

  // A window kept usable takes keys while the gate is closed; the others do not.
  CDialog system(templ::kSystemPage);
  ASSERT_TRUE(system.Create(nullptr));
  system.ShowWindow(true);
  HWND edit = system.GetDlgItem(1061);
  MSG typed{edit, WM_CHAR, 'A', 1, 0, {}};
  ScopedInputBlock block;
  EXPECT_TRUE(win32::PreTranslateInput(typed));
  EXPECT_EQ(system.GetDlgItemText(1061), "");
  KeepUsableWhileBlocked(system.GetSafeHwnd());
  if (!win32::PreTranslateInput(typed)) DispatchMessageW(&typed);
  EXPECT_EQ(system.GetDlgItemText(1061), "A");
}

// ----- the pre-translate hook

class KeyRecorder : public CDialog {
 public:
  using CDialog::CDialog;
  std::vector<InputMessage> seen;
  bool swallow = false;
  bool PreTranslateMessage(const InputMessage& message) override {
    seen.push_back(message);
    return swallow;
  }
};

TEST(Win32PreTranslate, EachDialogFromTheInnermostSeesTheKeyWithItsOwnControlId) {
  KeyRecorder main(templ::kMain);
  ASSERT_TRUE(main.CreateAsWindow());
  KeyRecorder page(templ::kLedPage);
  ASSERT_TRUE(page.Create(main, kTabId));
  page.ShowWindow(true);
  HWND edit = page.GetDlgItem(1004);
  MSG enter{edit, WM_KEYDOWN, VK_RETURN, 1 | (1 << 24), 0, {}};
  page.swallow = true;
  EXPECT_TRUE(win32::PreTranslateInput(enter));
  ASSERT_EQ(page.seen.size(), 1u);
  EXPECT_EQ(page.seen[0].key, Key::kEnter);
  EXPECT_EQ(page.seen[0].controlId, 1004);
  EXPECT_EQ(page.seen[0].target, edit);
  EXPECT_TRUE(main.seen.empty());

  page.swallow = false;
  MSG escape{edit, WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
  main.swallow = true;
  EXPECT_TRUE(win32::PreTranslateInput(escape));
  ASSERT_EQ(main.seen.size(), 1u);
  EXPECT_EQ(main.seen[0].key, Key::kEscape);
  // To the main window the page lies on its tab control.
  EXPECT_EQ(main.seen[0].controlId, kTabId);
  EXPECT_TRUE(IsEscapeOrReturnKeyDown(main.seen[0]));

  int pressed = 0;
  page.OnLButtonDown(1005, [&] { ++pressed; });
  MSG down{page.GetDlgItem(1005), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2), 0, {}};
  EXPECT_TRUE(win32::PreTranslateInput(down));
  EXPECT_EQ(pressed, 1);
  EXPECT_EQ(page.seen.back().type, InputMessage::Type::kMouseDown);
  EXPECT_EQ(page.seen.back().button, MouseButton::kLeft);
}

class MenuOwner : public CDialog {
 public:
  using CDialog::CDialog;
  int asked = 0;
  bool withEntry = false;
  std::vector<MenuEntry> ContextMenuEntries() override {
    ++asked;
    if (!withEntry) return {};
    return {MenuEntry{"&About Lumivex…", [] {}}};
  }
};

TEST(Win32PreTranslate, APageWithoutAMenuLeavesTheRightClickToTheWindowAroundIt) {
  MenuOwner main(templ::kMain);
  ASSERT_TRUE(main.CreateAsWindow());
  main.withEntry = true;
  MenuOwner page(templ::kFlipPage);
  ASSERT_TRUE(page.Create(main, kTabId));
  page.ShowWindow(true);
  // The menu opens in a loop of its own; the call queued now closes it from inside.
  CallSoon([] { EndMenu(); });
  RECT r{};
  GetWindowRect(page.GetDlgItem(1070), &r);
  SendMessageW(page.GetDlgItem(1070), WM_CONTEXTMENU,
               reinterpret_cast<WPARAM>(page.GetDlgItem(1070)), MAKELPARAM(r.left + 2, r.top + 2));
  EXPECT_EQ(page.asked, 1);
  EXPECT_EQ(main.asked, 1);
}

// ----- lists, sliders, tabs

TEST(Win32Controls, DropDownListsReportOnlyTheUsersChoice) {
  CDialog page(templ::kInputSourcePage);
  ASSERT_TRUE(page.Create(nullptr));
  page.ShowWindow(true);
  int changes = 0;
  page.OnSelChange(1011, [&] { ++changes; });
  CComboBox combo;
  CDataExchange dx(page, false);
  DDX_Control(&dx, 1011, combo);
  ASSERT_TRUE(combo.IsAttached());
  EXPECT_EQ(page.FindSlot(1011)->boundClass, std::string("CComboBox"));
  EXPECT_EQ(combo.AddString("HDMI"), 0);
  EXPECT_EQ(combo.AddString("视频"), 1);
  EXPECT_EQ(combo.AddString("hdmi"), 2);
  EXPECT_EQ(combo.GetCount(), 3);
  EXPECT_EQ(combo.GetCurSel(), -1);
  EXPECT_EQ(combo.SetCurSel(1), 1);
  EXPECT_EQ(page.GetDlgItemText(1011), "视频");
  page.SetDlgItemText(1011, "hdmi");
  EXPECT_EQ(combo.GetCurSel(), 2);
  page.SetDlgItemText(1011, "absent");
  EXPECT_EQ(combo.GetCurSel(), 2);
  EXPECT_EQ(combo.SetCurSel(7), -1);
  EXPECT_EQ(combo.GetLBText(1), "视频");
  Pump();
  EXPECT_EQ(changes, 0);
  // The keyboard on the closed list chooses the next entry.
  combo.SetCurSel(0);
  SendMessageW(combo.GetSafeWnd(), WM_KEYDOWN, VK_DOWN, 0);
  Pump();
  EXPECT_EQ(combo.GetCurSel(), 1);
  EXPECT_EQ(changes, 1);
  combo.ResetContent();
  EXPECT_EQ(combo.GetCount(), 0);
  Pump();
  EXPECT_EQ(changes, 1);
}

TEST(Win32Controls, TheSliderClampsAndItsCustomDrawRunsOnEveryChangeAndAfterPaints) {
  Panel panel;
  CDialog& led = panel.Page(templ::kLedPage);
  panel.main.ShowWindow(true);
  led.ShowWindow(true);
  Pump();
  int draws = 0;
  led.OnSliderCustomDraw(1003, [&] { ++draws; });
  led.SliderSetRange(1003, 0, 255);
  led.SliderSetPos(1003, 300);
  EXPECT_EQ(led.SliderGetPos(1003), 255);
  EXPECT_EQ(draws, 1);  // at once, before any paint
  led.SliderSetPos(1003, 255);
  EXPECT_EQ(draws, 1);  // no change, no call
  led.SliderSetRange(1003, 0, 100);
  EXPECT_EQ(led.SliderGetPos(1003), 100);
  EXPECT_EQ(draws, 2);
  // A burst of paints makes one queued call.
  draws = 0;
  for (int i = 0; i < 3; ++i) {
    InvalidateRect(led.GetDlgItem(1003), nullptr, TRUE);
    UpdateWindow(led.GetDlgItem(1003));
  }
  Pump();
  EXPECT_EQ(draws, 1);
  // The keyboard moves it as the user would: WM_HSCROLL reports the change.
  draws = 0;
  SendMessageW(led.GetDlgItem(1003), WM_KEYDOWN, VK_LEFT, 0);
  EXPECT_EQ(led.SliderGetPos(1003), 99);
  EXPECT_GE(draws, 1);
}

TEST(Win32Controls, TabsChangeWithoutNotifyingUnlessTheUserChoosesAndPagesSitOnTheTabs) {
  Panel panel;
  panel.main.ShowWindow(true);
  CTabCtrl tabs;
  ASSERT_TRUE(tabs.Attach(panel.main.GetDlgItem(kTabId)));
  EXPECT_FALSE(CEdit().Attach(panel.main.GetDlgItem(kTabId)));
  int changes = 0;
  panel.main.OnTabSelChange(kTabId, [&] { ++changes; });
  EXPECT_EQ(tabs.InsertItem(0, "LED"), 0);
  EXPECT_EQ(tabs.InsertItem(5, "温度"), 1);
  EXPECT_EQ(tabs.InsertItem(1, "Input"), 1);
  EXPECT_EQ(tabs.GetItemCount(), 3);
  EXPECT_EQ(tabs.GetItemText(2), "温度");
  EXPECT_EQ(tabs.SetCurSel(2), 0);
  EXPECT_EQ(tabs.GetCurSel(), 2);
  EXPECT_EQ(changes, 0);
  SendMessageW(tabs.GetSafeWnd(), WM_KEYDOWN, VK_LEFT, 0);
  EXPECT_EQ(tabs.GetCurSel(), 1);
  EXPECT_EQ(changes, 1);

  // A page's place is given in the tab control's coordinates.
  CDialog& page = panel.Page(templ::kFlipPage);
  const Rect inTabs{4, 24, 200, 90};
  page.MoveWindow(inTabs);
  EXPECT_EQ(page.WindowRect(), inTabs);
  const Rect tab = panel.main.ItemRect(kTabId);
  RECT r{};
  GetWindowRect(page.GetSafeHwnd(), &r);
  MapWindowPoints(HWND_DESKTOP, panel.main.GetSafeHwnd(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, tab.x + inTabs.x);
  EXPECT_EQ(r.top, tab.y + inTabs.y);
  // The main window lays the page out first and moves the tab control after: the page moves
  // with it.
  panel.main.MoveItem(kTabId, Rect{0, 0, 400, 300});
  EXPECT_EQ(page.WindowRect(), inTabs);
  GetWindowRect(page.GetSafeHwnd(), &r);
  MapWindowPoints(HWND_DESKTOP, panel.main.GetSafeHwnd(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, inTabs.x);
  EXPECT_EQ(r.top, inTabs.y);
}

// ----- windows

TEST(Win32Windows, AFixedClientSizeIsTheOuterSizeTheLayoutAssumesAndKeepsTheCorner) {
  CDialog main(templ::kMain);
  ASSERT_TRUE(main.CreateAsWindow());
  SetWindowPos(main.GetSafeHwnd(), nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  main.SetFixedClientSize(Size{600, 500});
  RECT r{};
  GetWindowRect(main.GetSafeHwnd(), &r);
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.top, 30);
  EXPECT_EQ(r.right - r.left, 608);
  EXPECT_EQ(r.bottom - r.top, 535);
  EXPECT_EQ(StyleOf(main.GetSafeHwnd()) & WS_THICKFRAME, 0);
  main.SetResizable(Size{300, 200});
  EXPECT_NE(StyleOf(main.GetSafeHwnd()) & WS_THICKFRAME, 0);
  // Not smaller than the minimum, whatever the user drags.
  SetWindowPos(main.GetSafeHwnd(), nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_GE(main.ClientSize().width, 300);
  EXPECT_GE(main.ClientSize().height, 200);
}

class SizeRecorder : public CDialog {
 public:
  using CDialog::CDialog;
  std::vector<Size> sizes;
  int closes = 0;
  void OnSize(Size client) override { sizes.push_back(client); }
  void OnClose() override {
    ++closes;
    CDialog::OnClose();
  }
};

TEST(Win32Windows, SizeCloseAndTheDialogKeysReachTheDialog) {
  SizeRecorder traffic(templ::kTrafficWindow);
  ASSERT_TRUE(traffic.CreateModeless(nullptr));
  traffic.SetResizable(Size{200, 150});
  traffic.sizes.clear();
  SetWindowPos(traffic.GetSafeHwnd(), nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
  ASSERT_FALSE(traffic.sizes.empty());
  EXPECT_EQ(traffic.sizes.back(), traffic.ClientSize());
  // The close button's request runs OnClose, which by default ends (hides) the window.
  traffic.Close();
  EXPECT_EQ(traffic.closes, 1);
  EXPECT_FALSE(traffic.IsWindowVisible());

  // Escape in a window goes through the hook to the dialog manager, which cancels it.
  CDialog about(templ::kAbout);
  ASSERT_TRUE(about.CreateAsWindow());
  ASSERT_TRUE(about.IsWindowVisible());
  MSG escape{about.GetDlgItem(kIdOk), WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
  EXPECT_TRUE(win32::PreTranslateInput(escape));
  EXPECT_FALSE(about.IsWindowVisible());
}

TEST(Win32Windows, AModalRunEndsWithItsResultAndGivesTheOwnerBack) {
  CDialog main(templ::kMain);
  ASSERT_TRUE(main.CreateAsWindow());
  CDialog about(templ::kAbout, &main);
  bool ownerDisabled = false;
  CallSoon([&] {
    ownerDisabled = !IsWindowEnabled(main.GetSafeHwnd());
    about.EndDialog(7);
  });
  EXPECT_EQ(about.DoModal(), 7);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(main.GetSafeHwnd()));
  EXPECT_FALSE(about.IsWindowVisible());
  // The About box's OK button (id 1) ends it with IDOK.
  CallSoon([&] { SendMessageW(about.GetDlgItem(kIdOk), BM_CLICK, 0, 0); });
  EXPECT_EQ(about.DoModal(), kIdOk);
  // Escape, as the dialog manager reports it.
  CallSoon([&] { SendMessageW(about.GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0); });
  EXPECT_EQ(about.DoModal(), kIdCancel);
}

// ----- text view and status line

TEST(Win32TextView, KeepsAtMostMaxLinesAndCopiesTheSelectedLines) {
  CDialog traffic(templ::kTrafficWindow);
  ASSERT_TRUE(traffic.CreateModeless(nullptr));
  CTextView view;
  for (const ControlSlot& slot : traffic.Controls()) {
    if (slot.tmpl->kind == ControlKind::kTextView) {
      ASSERT_TRUE(view.Attach(slot.widget));
    }
  }
  ASSERT_TRUE(view.IsAttached());
  EXPECT_FALSE(CEdit().Attach(view.GetSafeWnd()));
  view.SetMaxLines(3);
  view.AppendLines({"one", "two"});
  view.AppendLines({"three", "四", "five"});
  EXPECT_EQ(view.Lines(), (std::vector<std::string>{"three", "四", "five"}));
  EXPECT_EQ(RawText(view.GetSafeWnd()), "three\r\n四\r\nfive");
  EXPECT_EQ(view.SelectedOrAllText(), "three\n四\nfive");
  // From inside "three" to the start of "five": the first two lines.
  SendMessageW(view.GetSafeWnd(), EM_SETSEL, 2, 9);
  EXPECT_EQ(view.SelectedOrAllText(), "three\n四");
  view.Clear();
  EXPECT_TRUE(view.Lines().empty());
  // Many lines: the box holds more than a multi-line edit's default 32K characters.
  std::vector<std::string> many(2000, std::string(40, 'x'));
  view.SetMaxLines(5000);
  view.AppendLines(many);
  EXPECT_EQ(view.Lines().size(), 2000u);
  EXPECT_EQ(SendMessageW(view.GetSafeWnd(), EM_GETLINECOUNT, 0, 0), 2000);
}

TEST(Win32StatusLine, CutsInTheMiddleToFitAndKeepsTheWholeTextForReaders) {
  CDialog main(templ::kMain);
  ASSERT_TRUE(main.CreateAsWindow());
  CStatusLine status;
  status.Create(main);
  ASSERT_TRUE(status.IsCreated());
  EXPECT_GT(status.Height(), DialogUnits().y);
  status.MoveWindow(Rect{0, 0, 400, status.Height()});
  status.SetText("COM3 connected");
  EXPECT_EQ(status.ShownText(), "COM3 connected");
  const std::string whole =
      "COM3 at 115200 baud reading the board's temperatures and writing firmware 1000B";
  status.MoveWindow(Rect{0, 0, 160, status.Height()});
  status.SetText(whole);
  EXPECT_EQ(status.Text(), whole);
  EXPECT_EQ(RawText(status.GetSafeWnd()), whole);
  const std::string shown = status.ShownText();
  const std::string ellipsis = "\xE2\x80\xA6";
  const std::size_t cut = shown.find(ellipsis);
  ASSERT_NE(cut, std::string::npos) << shown;
  EXPECT_EQ(whole.substr(0, cut), shown.substr(0, cut));
  const std::string tail = shown.substr(cut + ellipsis.size());
  EXPECT_FALSE(tail.empty());
  EXPECT_EQ(whole.substr(whole.size() - tail.size()), tail);
  // It fits the line.
  HDC dc = GetDC(status.GetSafeWnd());
  SelectObject(dc, win32::DialogFont());
  const std::wstring wide = Widen(shown);
  SIZE extent{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
  ReleaseDC(status.GetSafeWnd(), dc);
  RECT client{};
  GetClientRect(status.GetSafeWnd(), &client);
  EXPECT_LE(extent.cx, client.right);
}

// ----- the plot

TEST(Win32Plot, PaintsItsModelAndMapsValuesIntoItsArea) {
  CDialog history(templ::kTemperatureHistory);
  ASSERT_TRUE(history.CreateModeless(nullptr));
  CPlotCtrl plot;
  ASSERT_TRUE(plot.Attach(history.GetDlgItem(1201)));
  ASSERT_NE(plot.Model(), nullptr);
  plot.SetLines({PlotLine{"LED", 0xFF0000, "25 °C"}});
  plot.SetXRange(0, 100);
  plot.SetSource([](std::size_t, double from, double to, std::span<PlotColumnValues> columns) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const double v =
          from + (to - from) * static_cast<double>(i) / static_cast<double>(columns.size());
      columns[i] = PlotColumnValues{true, v, v, v, v, i == 0 ? -1 : static_cast<int>(i) - 1};
    }
  });
  UpdateWindow(plot.GetSafeWnd());
  const Rect area = plot.PlotArea();
  RECT client{};
  GetClientRect(plot.GetSafeWnd(), &client);
  EXPECT_GT(area.width, 0);
  EXPECT_LE(area.x + area.width, client.right);
  EXPECT_EQ(plot.XToPixel(0), area.x);
  EXPECT_LT(plot.XToPixel(0), plot.XToPixel(100));
  // The line is drawn in its colour somewhere in the area.
  HDC dc = GetDC(plot.GetSafeWnd());
  bool red = false;
  for (int x = area.x; x < area.x + area.width && !red; x += 2) {
    for (int y = area.y; y < area.y + area.height && !red; ++y) {
      red = GetPixel(dc, x, y) == RGB(0xFF, 0, 0);
    }
  }
  ReleaseDC(plot.GetSafeWnd(), dc);
  EXPECT_TRUE(red);
}

}  // namespace
}  // namespace lumivex::ui
