// The dialog framework: templates, controls by id, data exchange, key filtering, messages and
// calls from worker threads.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QSlider>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <atomic>
#include <thread>

#include "ui/framework/dialog.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/gui_thread.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/framework/shell.h"
#include "ui/translate_window.h"
#include "ui_test_support.h"

namespace lumivex::ui {
namespace {

// ----- templates

struct BadTemplate {
  const char* name;
  const char* text;
  const char* reason;  // part of the error
};

class BadTemplateTest : public testing::TestWithParam<BadTemplate> {};

TEST_P(BadTemplateTest, IsRefusedWithItsLine) {
  std::string error;
  EXPECT_FALSE(ParseDialogTemplate(GetParam().text, &error).has_value());
  EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Templates, BadTemplateTest,
    testing::Values(
        BadTemplate{"NoHeader", "LTEXT -1 \"a\" 0 0 1 1\n", "line 1: control before"},
        BadTemplate{"Empty", "# nothing\n", "no DIALOG"},
        BadTemplate{"UnknownKind", "DIALOG 1 10 10 \"\"\nBUTTON 5 \"a\" 0 0 1 1\n",
                    "line 2: unknown control kind"},
        BadTemplate{"UnknownStyle", "DIALOG 1 10 10 \"\"\nLTEXT 5 \"a\" 0 0 1 1 BOLD\n",
                    "unknown style BOLD"},
        BadTemplate{"Unterminated", "DIALOG 1 10 10 \"\"\nLTEXT 5 \"a 0 0 1 1\n", "unterminated"},
        BadTemplate{"DuplicateId",
                    "DIALOG 1 10 10 \"\"\nLTEXT 5 \"a\" 0 0 1 1\nLTEXT 5 \"b\" 0 0 1 1\n",
                    "line 3: control id 5 used twice"},
        BadTemplate{"MissingNumbers", "DIALOG 1 10 10 \"\"\nLTEXT 5 \"a\" 0 0 1\n", "expected"},
        BadTemplate{"BadNumber", "DIALOG 1 10 10 \"\"\nLTEXT 5 \"a\" 0 x 1 1\n",
                    "bad control numbers"},
        BadTemplate{"ZeroSize", "DIALOG 1 0 10 \"\"\n", "bad DIALOG numbers"},
        BadTemplate{"TwoHeaders", "DIALOG 1 10 10 \"\"\nDIALOG 2 10 10 \"\"\n", "second DIALOG"}),
    [](const testing::TestParamInfo<BadTemplate>& p) { return p.param.name; });

TEST(TemplateTest, ParsesCaptionsStylesAndComments) {
  auto t = ParseDialogTemplate(
      "\xEF\xBB\xBF# comment\r\nDIALOG 7 120 40 \"Cap \\\"q\\\"\"\r\n"
      "  EDITTEXT 1004 \"\" 1 2 3 4 NUMBER CENTER\r\n\r\nLTEXT -1 \"Max：255\" 5 6 7 8\n");
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->id, 7);
  EXPECT_EQ(t->caption, "Cap \"q\"");
  ASSERT_EQ(t->controls.size(), 2u);
  EXPECT_EQ(t->controls[0].kind, ControlKind::kEdit);
  EXPECT_EQ(t->controls[0].styles, style::kNumber | style::kCentred);
  EXPECT_EQ(t->controls[1].caption, "Max：255");
  EXPECT_EQ(t->controls[1].id, kStaticId);
  EXPECT_EQ(t->Find(kStaticId), nullptr);
}

struct TemplateSize {
  int id;
  int width;
  int height;
};

TEST(TemplateTest, CompiledTemplatesKeepTheirSizes) {
  for (TemplateSize s :
       {TemplateSize{templ::kAbout, 235, 55}, TemplateSize{templ::kMain, 296, 256},
        TemplateSize{templ::kLedPage, 290, 103}, TemplateSize{templ::kInputSourcePage, 205, 75},
        TemplateSize{templ::kTemperaturePage, 299, 84}, TemplateSize{templ::kSystemPage, 285, 79},
        TemplateSize{templ::kFlipPage, 187, 78}}) {
    const DialogTemplate* t = FindDialogTemplate(s.id);
    ASSERT_NE(t, nullptr) << s.id;
    EXPECT_EQ(t->width, s.width) << s.id;
    EXPECT_EQ(t->height, s.height) << s.id;
    for (const ControlTemplate& c : t->controls) {
      // Every control lies inside its dialog.
      EXPECT_LE(c.x + c.width, t->width) << s.id << " control " << c.id << " " << c.caption;
      if (c.kind != ControlKind::kComboBox) {
        EXPECT_LE(c.y + c.height, t->height) << s.id << " control " << c.id << " " << c.caption;
      }
    }
  }
  EXPECT_EQ(FindDialogTemplate(999), nullptr);
}

struct ExpectedControl {
  int templ;
  int id;
  ControlKind kind;
  const char* caption;
  uint32_t styles;  // styles that must be set
};

TEST(TemplateTest, PagesHoldTheirControls) {
  using K = ControlKind;
  const ExpectedControl expected[] = {
      {templ::kMain, 1000, K::kTabControl, "Tab1", 0},
      {templ::kLedPage, 1001, K::kPushButton, "Uart.Open", 0},
      {templ::kLedPage, 1002, K::kPushButton, "Led.Off", 0},
      {templ::kLedPage, 1003, K::kSlider, "", style::kNoTicks},
      {templ::kLedPage, 1004, K::kEdit, "", style::kNumber | style::kCentred},
      {templ::kLedPage, 1005, K::kPushButton, "Led.Write", 0},
      {templ::kLedPage, 1006, K::kPushButton, "Led.Read", 0},
      {templ::kLedPage, 1007, K::kRadioButton, "R", style::kGroup | style::kDisabled},
      {templ::kLedPage, 1008, K::kRadioButton, "G", style::kDisabled},
      {templ::kLedPage, 1009, K::kRadioButton, "B", style::kDisabled},
      {templ::kLedPage, 1010, K::kRadioButton, "W", style::kDisabled},
      {templ::kLedPage, 1078, K::kPushButton, "Led.confirm", 0},
      {templ::kLedPage, 1079, K::kGroupBox, "", 0},
      {templ::kLedPage, 1080, K::kLabel, "Led.Light", 0},
      {templ::kLedPage, 1081, K::kComboBox, "", 0},
      {templ::kInputSourcePage, 1011, K::kComboBox, "", 0},
      {templ::kInputSourcePage, 1012, K::kPushButton, "InputSource.confirm", 0},
      {templ::kInputSourcePage, 1001, K::kPushButton, "Uart.Open", 0},
      {templ::kTemperaturePage, 1013, K::kLabel, "-100", style::kHidden},
      {templ::kTemperaturePage, 1016, K::kPushButton, "Temperature.Read", style::kHidden},
      {templ::kTemperaturePage, 1034, K::kLabel, "-100", 0},
      {templ::kTemperaturePage, 1035, K::kPushButton, "Temperature.Read", 0},
      {templ::kTemperaturePage, 1040, K::kLabel, "R:", style::kHidden},
      {templ::kTemperaturePage, 1043, K::kLabel, "Board:", style::kHidden},
      {templ::kTemperaturePage, 1044, K::kLabel, "℃", style::kHidden},
      {templ::kTemperaturePage, 1048, K::kGroupBox, "", style::kHidden},
      {templ::kTemperaturePage, 1049, K::kGroupBox, "", 0},
      {templ::kTemperaturePage, 1050, K::kLabel, "Temperature.Temp", 0},
      {templ::kTemperaturePage, 1001, K::kPushButton, "Uart.Open", 0},
      {templ::kSystemPage, 1001, K::kPushButton, "Uart.Open", 0},
      {templ::kSystemPage, 1032, K::kPushButton, "System.UpGrate", 0},
      {templ::kSystemPage, 1061, K::kEdit, "", 0},
      {templ::kFlipPage, 1001, K::kPushButton, "Uart.Open", 0},
      {templ::kFlipPage, 1068, K::kCheckBox, "FLIP.x", style::kTextLeft},
      {templ::kFlipPage, 1069, K::kCheckBox, "FLIP.y", style::kTextLeft},
      {templ::kFlipPage, 1070, K::kPushButton, "FLIP.do", 0},
      {templ::kAbout, kIdOk, K::kPushButton, "确定", style::kDefault},
  };
  for (const ExpectedControl& e : expected) {
    const DialogTemplate* t = FindDialogTemplate(e.templ);
    ASSERT_NE(t, nullptr);
    const ControlTemplate* c = t->Find(e.id);
    ASSERT_NE(c, nullptr) << e.templ << "/" << e.id;
    EXPECT_EQ(c->kind, e.kind) << e.id;
    EXPECT_EQ(c->caption, e.caption) << e.id;
    EXPECT_EQ(c->styles & e.styles, e.styles) << e.id;
  }
  // The temperature page hides 1034..1051 as one range: every id there must exist.
  const DialogTemplate* temperature = FindDialogTemplate(templ::kTemperaturePage);
  for (int id = 1034; id <= 1051; ++id) EXPECT_NE(temperature->Find(id), nullptr) << id;
}

TEST(DialogUnitsTest, EdgesMapOneByOne) {
  const DialogBaseUnits base{7, 17};
  // x in quarters of 7 px, y in eighths of 17 px, rounded to the nearest pixel.
  EXPECT_EQ(MapDialogRect(Rect{4, 8, 4, 8}, base), (Rect{7, 17, 7, 17}));
  EXPECT_EQ(MapDialogRect(Rect{1, 1, 1, 1}, base), (Rect{2, 2, 2, 2}));
  // Adjacent controls stay adjacent whatever the rounding.
  const Rect a = MapDialogRect(Rect{3, 3, 5, 5}, base);
  const Rect b = MapDialogRect(Rect{8, 8, 5, 5}, base);
  EXPECT_EQ(a.x + a.width, b.x);
  EXPECT_EQ(a.y + a.height, b.y);
  EXPECT_EQ(MapDialogSize(290, 103, base), (Size{508, 219}));
}

TEST(DialogUnitsTest, FollowTheDialogFont) {
  const DialogBaseUnits base = DialogUnits();
  EXPECT_GT(base.x, 2);
  EXPECT_GT(base.y, base.x);
  EXPECT_EQ(DialogFont().pointSize(), 9);
}

// ----- a dialog over a test template

class TestDialog : public CDialog {
 public:
  explicit TestDialog(int templateId = templ::kLedPage) : CDialog(templateId) {}
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Control(pDX, 1004, m_edit);
    DDX_Text(pDX, 1004, m_value);
    DDV_MinMaxUInt(pDX, m_value, 0, 255);
    ++exchanges;
  }
  bool OnInitDialog() override {
    ++initialisations;
    return CDialog::OnInitDialog();
  }
  bool PreTranslateMessage(const InputMessage& message) override {
    if (swallowKeys && IsEscapeOrReturnKeyDown(message)) return true;
    return CDialog::PreTranslateMessage(message);
  }
  void OnCancel() override {
    ++cancels;
    CDialog::OnCancel();
  }
  CEdit m_edit;
  uint32_t m_value = 0;
  int exchanges = 0;
  int initialisations = 0;
  int cancels = 0;
  bool swallowKeys = true;
};

class DialogTest : public testing::Test {
 protected:
  void SetUp() override {
    folders.UseNoLanguage();
    parent.resize(600, 300);
    parent.show();
    // Focus moves only within the active window.
    parent.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&parent));
    ASSERT_TRUE(dialog.Create(parent));
    dialog.show();
  }
  test::UiFolders folders;
  test::HostWindow parent;
  TestDialog dialog;
  ScopedMessageRecorder recorder;
};

TEST_F(DialogTest, CreateBuildsHiddenAndRunsInitialisationOnce) {
  test::HostWindow host;
  TestDialog fresh;
  ASSERT_TRUE(fresh.Create(host));
  EXPECT_TRUE(fresh.isHidden());
  EXPECT_EQ(fresh.initialisations, 1);
  EXPECT_EQ(fresh.size(), test::QSizeOf(fresh.TemplatePixelSize()));
  EXPECT_EQ(fresh.GetDlgItemText(1004), "0");  // the field went into the box
  EXPECT_FALSE(fresh.IsItemShown(1079));       // hidden in the template
  EXPECT_TRUE(fresh.IsItemShown(1002));
  EXPECT_FALSE(fresh.IsItemEnabled(1007));  // disabled in the template
  EXPECT_EQ(fresh.GetDlgItem(4242), nullptr);
  CDialog missing(4242);
  EXPECT_FALSE(missing.Create(host));
}

struct NumberCase {
  const char* text;
  bool accepted;
  uint32_t value;  // the field afterwards: a number out of range is stored, then refused
  const char* message;
};

TEST_F(DialogTest, UnsignedNumberExchangeValidates) {
  const NumberCase cases[] = {
      {"0", true, 0, nullptr},
      {"255", true, 255, nullptr},
      {" 42 ", true, 42, nullptr},
      {"256", false, 256, "Please enter an integer between 0 and 255."},
      {"99999999999999999999", false, 4294967295u, "Please enter an integer between 0 and 255."},
      {"", false, 7, "Please enter a positive integer."},
      {"-1", false, 7, "Please enter a positive integer."},
      {"12a", false, 7, "Please enter a positive integer."},
      {"温度", false, 7, "Please enter a positive integer."},
      {"１２", false, 7, "Please enter a positive integer."},  // full-width digits
  };
  for (const NumberCase& c : cases) {
    recorder->Clear();
    dialog.m_value = 7;
    // The box takes digits only from the keyboard; the program can still put anything there.
    qobject_cast<QLineEdit*>(dialog.m_edit.GetSafeWnd())->setValidator(nullptr);
    dialog.SetDlgItemText(1004, c.text);
    dialog.SetDlgItemText(1005, "focus elsewhere");
    dialog.GetDlgItem(1005)->setFocus();
    EXPECT_EQ(dialog.UpdateData(true), c.accepted) << c.text;
    EXPECT_EQ(dialog.m_value, c.value) << c.text;
    if (c.accepted) {
      EXPECT_TRUE(recorder->Messages().empty()) << c.text;
    } else {
      ASSERT_EQ(recorder->Messages().size(), 1u) << c.text;
      EXPECT_EQ(recorder->Messages()[0].text, c.message);
      EXPECT_EQ(recorder->Messages()[0].title, "Lumivex");
      EXPECT_EQ(recorder->Messages()[0].owner, &dialog);
      EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(1004)) << c.text;
    }
  }
}

TEST_F(DialogTest, WritingTheSameTextReportsNoChange) {
  int changes = 0;
  dialog.OnEditChange(1004, [&] { ++changes; });
  dialog.m_value = 12;
  dialog.UpdateData(false);
  EXPECT_EQ(changes, 1);
  dialog.UpdateData(false);
  EXPECT_EQ(changes, 1);
  QTest::keyClicks(dialog.GetDlgItem(1004), "3");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(dialog.GetDlgItemText(1004), "123");
}

TEST_F(DialogTest, NumberBoxRefusesNonDigitsFromTheKeyboard) {
  dialog.SetDlgItemText(1004, "");
  QTest::keyClicks(dialog.GetDlgItem(1004), "1x-2");
  EXPECT_EQ(dialog.GetDlgItemText(1004), "12");
}

class TextDialog : public CDialog {
 public:
  TextDialog() : CDialog(templ::kSystemPage) {}
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Control(pDX, 1061, m_edit);
    DDX_Text(pDX, 1061, m_name);
    DDV_MaxChars(pDX, m_name, 248);
  }
  CEdit m_edit;
  std::string m_name = "KVB03.bin";
};

TEST(TextExchangeTest, LengthLimitNeverCutsAndRefusesLongerNames) {
  test::UiFolders folders;
  folders.UseNoLanguage();
  ScopedMessageRecorder recorder;
  test::HostWindow host;
  TextDialog dialog;
  ASSERT_TRUE(dialog.Create(host));
  host.show();
  dialog.show();
  host.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
  EXPECT_EQ(dialog.GetDlgItemText(1061), "KVB03.bin");

  dialog.m_name = std::string(300, 'a');
  EXPECT_TRUE(dialog.UpdateData(false));
  // A longer name from the settings file reaches validation whole.
  EXPECT_EQ(dialog.GetDlgItemText(1061).size(), 300u);
  EXPECT_FALSE(dialog.UpdateData(true));
  ASSERT_EQ(recorder->Messages().size(), 1u);
  EXPECT_EQ(recorder->Messages()[0].text, "Please enter no more than 248 characters.");
  // The user may shorten it, not lengthen it.
  QWidget* box = dialog.GetDlgItem(1061);
  box->setFocus();
  QTest::keyClick(box, Qt::Key_End);
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(dialog.GetDlgItemText(1061).size(), 299u);
  QTest::keyClicks(box, "z");
  EXPECT_EQ(dialog.GetDlgItemText(1061).size(), 299u);

  // The user can type up to the limit and no further.
  dialog.m_name = std::string(247, 'b');
  dialog.UpdateData(false);
  QTest::keyClick(box, Qt::Key_End);
  QTest::keyClicks(box, "cde");
  EXPECT_EQ(dialog.GetDlgItemText(1061), std::string(247, 'b') + "c");
  EXPECT_TRUE(dialog.UpdateData(true));
  EXPECT_EQ(dialog.m_name.size(), 248u);
  // Validation counts bytes: the name goes to the board as bytes.
  dialog.SetDlgItemText(1061, std::string(124, 'x') + "温");  // 124 + 3 bytes
  EXPECT_TRUE(dialog.UpdateData(true));
  dialog.SetDlgItemText(1061, std::string(246, 'x') + "温");  // 249 bytes
  EXPECT_FALSE(dialog.UpdateData(true));
}

TEST_F(DialogTest, RadioButtonsByRange) {
  for (int id = 1007; id <= 1010; ++id) dialog.EnableItem(id);
  EXPECT_EQ(dialog.GetCheckedRadioButton(1007, 1010), 0);
  dialog.CheckRadioButton(1007, 1010, 1009);
  EXPECT_EQ(dialog.GetCheckedRadioButton(1007, 1010), 1009);
  dialog.CheckRadioButton(1007, 1010, 1007);
  EXPECT_EQ(dialog.GetCheckedRadioButton(1007, 1010), 1007);
  EXPECT_EQ(dialog.IsDlgButtonChecked(1009), 0u);
  // A click moves the selection within the group.
  QTest::mouseClick(dialog.GetDlgItem(1008), Qt::LeftButton);
  EXPECT_EQ(dialog.GetCheckedRadioButton(1007, 1010), 1008);
  // The program may clear the group.
  dialog.CheckDlgButton(1008, 0);
  EXPECT_EQ(dialog.GetCheckedRadioButton(1007, 1010), 0);
}

TEST_F(DialogTest, ListOperations) {
  EXPECT_EQ(dialog.ComboGetCurSel(1081), -1);
  EXPECT_EQ(dialog.ComboAddString(1081, "Red"), 0);
  EXPECT_EQ(dialog.ComboAddString(1081, "White"), 1);
  // Adding never selects.
  EXPECT_EQ(dialog.ComboGetCurSel(1081), -1);
  EXPECT_EQ(dialog.ComboSetCurSel(1081, 1), 1);
  EXPECT_EQ(dialog.GetDlgItemText(1081), "White");
  EXPECT_EQ(dialog.ComboSetCurSel(1081, 5), -1);
  EXPECT_EQ(dialog.ComboGetCurSel(1081), -1);
  EXPECT_EQ(dialog.ComboGetText(1081, 0), "Red");
  dialog.ComboResetContent(1081);
  EXPECT_EQ(dialog.ComboGetCount(1081), 0);
  EXPECT_EQ(dialog.ComboGetCurSel(4242), -1);
}

TEST_F(DialogTest, SliderClampsAndReportsCustomDraw) {
  int draws = 0;
  dialog.OnSliderCustomDraw(1003, [&] { ++draws; });
  dialog.SliderSetRange(1003, 0, 255);
  dialog.SliderSetTicFreq(1003, 1);
  dialog.SliderSetPos(1003, 300);
  EXPECT_EQ(dialog.SliderGetPos(1003), 255);
  EXPECT_GE(draws, 1);
  dialog.SliderSetPos(1003, -5);
  EXPECT_EQ(dialog.SliderGetPos(1003), 0);

  // A repaint alone reports too, once it has happened.
  const int before = draws;
  dialog.GetDlgItem(1003)->repaint();
  QTRY_VERIFY_WITH_TIMEOUT(draws > before, 5000);
  // Dragging by keyboard moves and reports.
  const int beforeKeys = draws;
  dialog.GetDlgItem(1003)->setFocus();
  QTest::keyClick(dialog.GetDlgItem(1003), Qt::Key_Right);
  EXPECT_EQ(dialog.SliderGetPos(1003), 1);
  EXPECT_GT(draws, beforeKeys);
}

TEST_F(DialogTest, ClickAndLeftButtonHandlersById) {
  int writes = 0;
  int presses = 0;
  dialog.OnClicked(1005, [&] { ++writes; });
  dialog.OnLButtonDown(1004, [&] { ++presses; });
  QTest::mouseClick(dialog.GetDlgItem(1005), Qt::LeftButton);
  EXPECT_EQ(writes, 1);
  QTest::mouseClick(dialog.GetDlgItem(1004), Qt::LeftButton);
  EXPECT_EQ(presses, 1);
  // The press still reaches the box.
  EXPECT_TRUE(dialog.GetDlgItem(1004)->hasFocus());
  QTest::mouseClick(dialog.GetDlgItem(1004), Qt::RightButton);
  QTest::mouseClick(dialog.GetDlgItem(1005), Qt::LeftButton);
  EXPECT_EQ(presses, 1);
  // A disabled button cannot be clicked.
  dialog.EnableItem(1005, false);
  QTest::mouseClick(dialog.GetDlgItem(1005), Qt::LeftButton);
  EXPECT_EQ(writes, 2);
}

struct KeyCase {
  const char* name;
  int target;  // control id, 0 for the dialog
  Qt::Key key;
};

class KeyFilterTest : public DialogTest, public testing::WithParamInterface<KeyCase> {};

TEST_P(KeyFilterTest, EscapeAndReturnDoNothingWhenFiltered) {
  QWidget* target = GetParam().target ? dialog.GetDlgItem(GetParam().target) : &dialog;
  int clicks = 0;
  dialog.OnClicked(1005, [&] { ++clicks; });
  target->setFocus();
  QTest::keyClick(target, GetParam().key);
  EXPECT_FALSE(dialog.isHidden());
  EXPECT_EQ(dialog.cancels, 0);
  EXPECT_EQ(clicks, 0);
}

class UnfilteredKeyTest : public DialogTest, public testing::WithParamInterface<KeyCase> {};

TEST_P(UnfilteredKeyTest, WithoutTheFilterEscapeEndsTheDialog) {
  dialog.swallowKeys = false;
  QWidget* target = GetParam().target ? dialog.GetDlgItem(GetParam().target) : &dialog;
  QTest::keyClick(target, GetParam().key);
  EXPECT_EQ(dialog.cancels, 1);
  EXPECT_TRUE(dialog.isHidden());
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyFilterTest,
                         testing::Values(KeyCase{"EscapeOnPage", 0, Qt::Key_Escape},
                                         KeyCase{"ReturnOnPage", 0, Qt::Key_Return},
                                         KeyCase{"EscapeInEdit", 1004, Qt::Key_Escape},
                                         KeyCase{"ReturnInEdit", 1004, Qt::Key_Return},
                                         KeyCase{"EnterInEdit", 1004, Qt::Key_Enter},
                                         KeyCase{"EscapeOnButton", 1005, Qt::Key_Escape},
                                         KeyCase{"ReturnOnButton", 1005, Qt::Key_Return},
                                         KeyCase{"EscapeOnSlider", 1003, Qt::Key_Escape}),
                         [](const testing::TestParamInfo<KeyCase>& p) { return p.param.name; });

INSTANTIATE_TEST_SUITE_P(Keys, UnfilteredKeyTest,
                         testing::Values(KeyCase{"EscapeOnPage", 0, Qt::Key_Escape},
                                         KeyCase{"EscapeInEdit", 1004, Qt::Key_Escape},
                                         KeyCase{"EscapeOnButton", 1005, Qt::Key_Escape}),
                         [](const testing::TestParamInfo<KeyCase>& p) { return p.param.name; });

TEST_F(DialogTest, MessagesGoThroughThePresenter) {
  EXPECT_EQ(dialog.MessageBox("text", "title"), kIdOk);
  dialog.ShowMessage("NotOpen", "Title");
  ASSERT_EQ(recorder->Messages().size(), 2u);
  EXPECT_EQ(recorder->Messages()[1].owner, &dialog);
  EXPECT_EQ(recorder->Messages()[1].text, "NotOpen");
  EXPECT_EQ(recorder->Messages()[1].title, "Title");
  dialog.SetConnectCaption("Close");
  EXPECT_EQ(dialog.GetDlgItemText(1001), "Close");
}

TEST(PresenterTest, ScopedRecorderRestoresThePreviousPresenter) {
  MessagePresenter* before = &CurrentMessagePresenter();
  {
    ScopedMessageRecorder recorder;
    EXPECT_EQ(&CurrentMessagePresenter(), &*recorder);
  }
  EXPECT_EQ(&CurrentMessagePresenter(), before);
}

// A style that puts icons on dialog buttons, as some desktop styles do.
class ButtonIconStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 1;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

TEST(ModalBoxTest, OkButtonShowsNoIconAndFollowsQtsTranslation) {
  const QString qm = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_zh_CN.qm";
  if (!QFile::exists(qm)) GTEST_SKIP() << "no Qt translations installed (qt6-translations-l10n)";
  test::HostWindow owner;
  // Setting a style deletes the one before.
  const QString previous = QApplication::style()->name();
  QApplication::setStyle(new ButtonIconStyle);
  ASSERT_TRUE(LoadToolkitTranslation("/x/Language/SimplifiedChinese.lang", "/nonexistent/"));
  bool seen = false;
  QString okText;
  bool okHasIcon = true;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen = true;
    okText = box->button(QMessageBox::Ok)->text();
    okHasIcon = !box->button(QMessageBox::Ok)->icon().isNull();
    box->accept();
  });
  poll.start(10);
  ModalMessagePresenter().Show(owner, "text", "title");
  poll.stop();
  // Leave the program English and in its own style for the other tests.
  for (QTranslator* t : qApp->findChildren<QTranslator*>()) QCoreApplication::removeTranslator(t);
  QApplication::setStyle(QStyleFactory::create(previous));
  ASSERT_TRUE(seen);
  EXPECT_FALSE(okHasIcon);
  EXPECT_EQ(okText, QString("确定"));
  EXPECT_EQ(QDialogButtonBox(QDialogButtonBox::Ok).button(QDialogButtonBox::Ok)->text(), "OK");
}

TEST(ModalBoxTest, LanguageNamesChooseQtsTranslation) {
  const std::pair<const char*, const char*> cases[] = {
      {"SimplifiedChinese", "zh_CN"},
      {"TraditionalChinese", "zh_TW"},
      {"German", "de"},
      {"pt_BR", "pt_BR"},  // a file named after its locale
      {"English", ""},
      {"en", ""},
      {"Klingon", ""},
      {"", ""},
      {"simplifiedchinese", ""},
  };
  for (const auto& [name, locale] : cases) EXPECT_EQ(QtLocaleForLanguage(name), locale) << name;
  EXPECT_FALSE(LoadToolkitTranslation("/x/Language/English.lang", "/nonexistent/"));
}

TEST(TranslateWindowTest, CaptionsFromTheTemplateAndEditBoxesLeftAlone) {
  test::UiFolders folders;
  folders.UseLanguage("Led.Write=Wri.te\nUart.Open=Connect\n");
  test::HostWindow host;
  TestDialog dialog;
  ASSERT_TRUE(dialog.Create(host));
  dialog.SetDlgItemText(1004, "Led.Write");
  for (int i = 0; i < 3; ++i) {
    TranslateWindow(dialog);
    EXPECT_EQ(dialog.GetDlgItemText(1005), "Wri.te");  // not cut to "te" at the next pass
    EXPECT_EQ(dialog.GetDlgItemText(1006), "Read");
    EXPECT_EQ(dialog.GetDlgItemText(1001), "Connect");
    EXPECT_EQ(dialog.GetDlgItemText(1007), "R");
    EXPECT_EQ(dialog.GetDlgItemText(1004), "Led.Write");  // data, bound to a CEdit
  }
  // An edit of the language file shows at the next translation.
  folders.WriteLanguage("Led.Write=Write now\n");
  TranslateWindow(dialog);
  EXPECT_EQ(dialog.GetDlgItemText(1005), "Write now");
  EXPECT_EQ(dialog.GetDlgItemText(1001), "Open");
}

TEST(TranslateWindowTest, AnUnboundEditBoxIsTranslated) {
  test::UiFolders folders;
  folders.UseNoLanguage();
  test::HostWindow host;
  CDialog dialog(templ::kSystemPage);
  ASSERT_TRUE(dialog.Create(host));
  dialog.SetDlgItemText(1061, "Led.Write");
  TranslateWindow(dialog);
  // Translated from its template caption, which is empty.
  EXPECT_EQ(dialog.GetDlgItemText(1061), "");
}

// ----- what assistive technologies see and do

QAccessibleInterface* Accessible(const CDialog& dialog, int id) {
  return QAccessible::queryAccessibleInterface(dialog.GetDlgItem(id));
}

// Runs an accessibility action the way a screen reader does.
void DoAccessibleAction(const CDialog& dialog, int id, const QString& action) {
  QAccessibleInterface* iface = Accessible(dialog, id);
  ASSERT_NE(iface, nullptr);
  ASSERT_NE(iface->actionInterface(), nullptr);
  ASSERT_TRUE(iface->actionInterface()->actionNames().contains(action)) << id;
  iface->actionInterface()->doAction(action);
}

TEST_F(DialogTest, TickButtonsAreAnnouncedAsWhatTheyAre) {
  for (int id = 1007; id <= 1010; ++id) {
    ASSERT_NE(Accessible(dialog, id), nullptr);
    EXPECT_EQ(Accessible(dialog, id)->role(), QAccessible::RadioButton) << id;
  }
  test::HostWindow host;
  CDialog flip(templ::kFlipPage);
  ASSERT_TRUE(flip.Create(host));
  EXPECT_EQ(Accessible(flip, 1068)->role(), QAccessible::CheckBox);
  EXPECT_EQ(Accessible(flip, 1070)->role(), QAccessible::Button);
}

TEST_F(DialogTest, TickChangedByTheUserByAnyMeansNotifiesThePageOnce) {
  for (int id = 1007; id <= 1010; ++id) dialog.EnableItem(id);
  std::vector<int> clicks;
  for (int id = 1007; id <= 1010; ++id)
    dialog.OnClicked(id, [&clicks, id] { clicks.push_back(id); });

  DoAccessibleAction(dialog, 1007, QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(dialog.GetCheckedRadioButton(1007, 1010), 1007);
  EXPECT_EQ(clicks, std::vector<int>{1007});

  // A click notifies once, not once for the tick and again for the click.
  QTest::mouseClick(dialog.GetDlgItem(1009), Qt::LeftButton);
  EXPECT_EQ(dialog.GetCheckedRadioButton(1007, 1010), 1009);
  EXPECT_EQ(clicks, (std::vector<int>{1007, 1009}));
  // A click on the ticked button still reports, as on Windows.
  QTest::mouseClick(dialog.GetDlgItem(1009), Qt::LeftButton);
  EXPECT_EQ(clicks, (std::vector<int>{1007, 1009, 1009}));
  // The keyboard's space bar is a click too.
  dialog.GetDlgItem(1008)->setFocus();
  QTest::keyClick(dialog.GetDlgItem(1008), Qt::Key_Space);
  EXPECT_EQ(clicks, (std::vector<int>{1007, 1009, 1009, 1008}));

  // Changes made by the program notify nothing.
  clicks.clear();
  dialog.CheckRadioButton(1007, 1010, 1010);
  dialog.CheckDlgButton(1010, 0);
  dialog.CheckDlgButton(1007, 1);
  EXPECT_TRUE(clicks.empty());

  // A press dragged off the button is no click; a later toggle still reports.
  QWidget* g = dialog.GetDlgItem(1008);
  QTest::mousePress(g, Qt::LeftButton, {}, QPoint(2, g->height() / 2));
  QMouseEvent away(QEvent::MouseMove, QPointF(-50, -50), g->mapToGlobal(QPointF(-50, -50)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(g, &away);
  QTest::mouseRelease(g, Qt::LeftButton, {}, QPoint(-50, -50));
  EXPECT_TRUE(clicks.empty());
  DoAccessibleAction(dialog, 1008, QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(clicks, std::vector<int>{1008});
  EXPECT_EQ(dialog.GetCheckedRadioButton(1007, 1010), 1008);

  // Check boxes: every change by the user reports, in both directions.
  test::HostWindow host;
  CDialog flip(templ::kFlipPage);
  ASSERT_TRUE(flip.Create(host));
  int flips = 0;
  flip.OnClicked(1068, [&] { ++flips; });
  DoAccessibleAction(flip, 1068, QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(flip.IsDlgButtonChecked(1068), 1u);
  DoAccessibleAction(flip, 1068, QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(flip.IsDlgButtonChecked(1068), 0u);
  EXPECT_EQ(flips, 2);
  QTest::mouseClick(flip.GetDlgItem(1068), Qt::LeftButton);
  EXPECT_EQ(flips, 3);
  flip.CheckDlgButton(1068, 0);
  flip.UpdateData(false);
  EXPECT_EQ(flips, 3);
}

TEST(AccessibleNameTest, ValueControlsAreNamedAfterTheLabelBeforeThem) {
  test::UiFolders folders;
  folders.UseLanguage(
      "Led.SliderTitle=Drive current\nLed.LedCurrent=LED current\nLed.Light=Lit colours\n"
      "System.UdiskFileName=Firmware file\nInputSource.ChangeTo=Switch to\n");
  test::HostWindow host;
  TestDialog led;
  ASSERT_TRUE(led.Create(host));
  TranslateWindow(led);
  struct Case {
    int templateId;
    int id;
    const char* name;
  };
  const Case cases[] = {
      {templ::kLedPage, 1003, "Drive current"},  // slider
      {templ::kLedPage, 1004, "LED current"},    // edit box, after the radio buttons
      {templ::kLedPage, 1081, "Lit colours"},    // drop-down list
      {templ::kSystemPage, 1061, "Firmware file"}, {templ::kInputSourcePage, 1011, "Switch to"},
  };
  CDialog system(templ::kSystemPage);
  CDialog input(templ::kInputSourcePage);
  ASSERT_TRUE(system.Create(host));
  ASSERT_TRUE(input.Create(host));
  TranslateWindow(system);
  TranslateWindow(input);
  for (const Case& c : cases) {
    const CDialog& d = c.templateId == templ::kLedPage      ? static_cast<const CDialog&>(led)
                       : c.templateId == templ::kSystemPage ? system
                                                            : input;
    QAccessibleInterface* iface = Accessible(d, c.id);
    ASSERT_NE(iface, nullptr) << c.id;
    EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), c.name) << c.id;
  }
  // The list's value is its selected entry, not its name.
  led.ComboAddString(1081, "White");
  led.ComboSetCurSel(1081, 0);
  EXPECT_EQ(Accessible(led, 1081)->text(QAccessible::Name), "Lit colours");
  EXPECT_EQ(Accessible(led, 1081)->text(QAccessible::Value), "White");
  EXPECT_EQ(Accessible(led, 1081)->role(), QAccessible::ComboBox);
  // A name follows the language of its label.
  folders.WriteLanguage("Led.SliderTitle=驱动电流\n");
  TranslateWindow(led);
  EXPECT_EQ(Accessible(led, 1003)->text(QAccessible::Name), QString("驱动电流"));
  // The slider's value is what is read after its name.
  led.SliderSetRange(1003, 0, 255);
  led.SliderSetPos(1003, 100);
  ASSERT_NE(Accessible(led, 1003)->valueInterface(), nullptr);
  EXPECT_EQ(Accessible(led, 1003)->valueInterface()->currentValue().toInt(), 100);
}

// ----- left-text buttons

// The first and last columns of the button's image that differ from its background.
std::pair<int, int> InkColumns(QWidget* w) {
  const QImage image = w->grab().toImage();
  const QRgb background = image.pixel(image.width() / 2, 0);
  int first = image.width();
  int last = -1;
  for (int x = 0; x < image.width(); ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if (image.pixel(x, y) != background) {
        first = std::min(first, x);
        last = std::max(last, x);
      }
    }
  }
  return {first, last};
}

TEST(LeftTextButtonTest, TextsStartAtTheLeftEdgeAndBoxesSitAtTheRightEdge) {
  test::UiFolders folders;
  folders.UseLanguage("FLIP.x=Mirror horizontally\nFLIP.y=Flip\n");
  test::HostWindow host;
  CDialog flip(templ::kFlipPage);
  ASSERT_TRUE(flip.Create(host));
  TranslateWindow(flip);
  flip.show();
  const auto [xFirst, xLast] = InkColumns(flip.GetDlgItem(1068));
  const auto [yFirst, yLast] = InkColumns(flip.GetDlgItem(1069));
  const int width = flip.GetDlgItem(1068)->width();
  ASSERT_EQ(width, flip.GetDlgItem(1069)->width());
  EXPECT_EQ(xFirst, yFirst);  // texts of different lengths start together
  EXPECT_LE(xFirst, 3);
  EXPECT_GE(xLast, width - 3);  // the box at the right edge
  EXPECT_EQ(xLast, yLast);
  // The whole control takes the click, the gap between text and box included.
  QTest::mouseClick(flip.GetDlgItem(1069), Qt::LeftButton, {},
                    QPoint(width * 3 / 4, flip.GetDlgItem(1069)->height() / 2));
  EXPECT_EQ(flip.IsDlgButtonChecked(1069), 1u);
}

// ----- calls from worker threads

TEST(GuiCallGateTest, WorkerCallsRunOnTheGuiThread) {
  GuiCallGate gate;
  std::atomic<bool> ranOnGui{false};
  std::atomic<bool> posted{false};
  std::atomic<int> callResult{-1};
  std::thread worker([&] {
    callResult = gate.Call([&] { ranOnGui = QThread::currentThread() == qApp->thread(); }) ? 1 : 0;
    gate.Post([&] { posted = true; });
  });
  QTRY_VERIFY_WITH_TIMEOUT(callResult != -1, 10000);
  worker.join();
  EXPECT_EQ(callResult, 1);
  EXPECT_TRUE(ranOnGui);
  QTRY_VERIFY_WITH_TIMEOUT(posted, 10000);
}

TEST(GuiCallGateTest, ClosingWakesAWaitingWorkerAndDropsItsCall) {
  GuiCallGate gate;
  std::atomic<bool> ran{false};
  std::atomic<int> callResult{-1};
  std::thread worker([&] { callResult = gate.Call([&] { ran = true; }) ? 1 : 0; });
  // Wait until the call is queued but do not let the GUI thread run it.
  QThread::msleep(50);
  gate.Close();
  worker.join();
  EXPECT_EQ(callResult, 0);
  QApplication::processEvents();
  EXPECT_FALSE(ran);
  EXPECT_FALSE(gate.Post([&] { ran = true; }));
  QApplication::processEvents();
  EXPECT_FALSE(ran);
}

TEST(GuiCallGateTest, CallOnTheGuiThreadRunsAtOnce) {
  GuiCallGate gate;
  bool ran = false;
  EXPECT_TRUE(gate.Call([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace lumivex::ui
