// The dialog framework: templates, controls by id, data exchange, key filtering, messages and
// calls from worker threads.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <atomic>
#include <thread>

#include "ui/framework/dialog.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/gui_thread.h"
#include "ui/framework/message_presenter.h"
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
  EXPECT_EQ(MapDialogRect(QRect(4, 8, 4, 8), base), QRect(7, 17, 7, 17));
  EXPECT_EQ(MapDialogRect(QRect(1, 1, 1, 1), base), QRect(2, 2, 2, 2));
  // Adjacent controls stay adjacent whatever the rounding.
  const QRect a = MapDialogRect(QRect(3, 3, 5, 5), base);
  const QRect b = MapDialogRect(QRect(8, 8, 5, 5), base);
  EXPECT_EQ(a.x() + a.width(), b.x());
  EXPECT_EQ(a.y() + a.height(), b.y());
  EXPECT_EQ(MapDialogSize(290, 103, base), QSize(508, 219));
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
  bool PreTranslateMessage(QObject* target, QEvent* event) override {
    if (swallowKeys && IsEscapeOrReturnKeyDown(event)) return true;
    return CDialog::PreTranslateMessage(target, event);
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
    ASSERT_TRUE(dialog.Create(&parent));
    dialog.show();
  }
  test::UiFolders folders;
  QWidget parent;
  TestDialog dialog;
  ScopedMessageRecorder recorder;
};

TEST_F(DialogTest, CreateBuildsHiddenAndRunsInitialisationOnce) {
  QWidget host;
  TestDialog fresh;
  ASSERT_TRUE(fresh.Create(&host));
  EXPECT_TRUE(fresh.isHidden());
  EXPECT_EQ(fresh.initialisations, 1);
  EXPECT_EQ(fresh.size(), fresh.TemplatePixelSize());
  EXPECT_EQ(fresh.GetDlgItemText(1004), "0");  // the field went into the box
  EXPECT_FALSE(fresh.IsItemShown(1079));       // hidden in the template
  EXPECT_TRUE(fresh.IsItemShown(1002));
  EXPECT_FALSE(fresh.IsItemEnabled(1007));  // disabled in the template
  EXPECT_EQ(fresh.GetDlgItem(4242), nullptr);
  CDialog missing(4242);
  EXPECT_FALSE(missing.Create(&host));
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
    dialog.m_edit.Widget()->setValidator(nullptr);
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
  QWidget host;
  TextDialog dialog;
  ASSERT_TRUE(dialog.Create(&host));
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

TEST(TranslateWindowTest, CaptionsFromTheTemplateAndEditBoxesLeftAlone) {
  test::UiFolders folders;
  folders.UseLanguage("Led.Write=Wri.te\nUart.Open=Connect\n");
  QWidget host;
  TestDialog dialog;
  ASSERT_TRUE(dialog.Create(&host));
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
  QWidget host;
  CDialog dialog(templ::kSystemPage);
  ASSERT_TRUE(dialog.Create(&host));
  dialog.SetDlgItemText(1061, "Led.Write");
  TranslateWindow(dialog);
  // Translated from its template caption, which is empty.
  EXPECT_EQ(dialog.GetDlgItemText(1061), "");
}

// ----- calls from worker threads

TEST(GuiCallGateTest, WorkerCallsRunOnTheGuiThread) {
  QObject context;
  GuiCallGate gate(&context);
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
  QObject context;
  GuiCallGate gate(&context);
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
  QObject context;
  GuiCallGate gate(&context);
  bool ran = false;
  EXPECT_TRUE(gate.Call([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace lumivex::ui
