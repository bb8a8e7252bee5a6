// The main window: tabs from the settings file, layout, page switching, keys, translation,
// the shared connection, the About box and closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "connection/connection.h"
#include "tools/boardsim/board.h"
#include "ui/about_dialog.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/main_dialog.h"
#include "ui_test_support.h"

namespace lumivex::ui {
namespace {

class MainDialogTest : public testing::Test {
 protected:
  void SetUp() override { folders.UseNoLanguage(); }
  void Open() { ASSERT_TRUE(dialog.CreateAsWindow()); }
  std::vector<CDialog*> Tabs() const {
    std::vector<CDialog*> pages;
    for (int i = 0; i < dialog.TabCount(); ++i) pages.push_back(dialog.Pages()[i]);
    return pages;
  }
  void SelectTab(int index) {
    static_cast<TabControl*>(dialog.TabCtrl().GetSafeWnd())->TabBar()->setCurrentIndex(index);
  }

  test::UiFolders folders;
  ScopedMessageRecorder recorder;
  CMainDialog dialog;
};

struct TabCase {
  const char* name;
  const char* settings;  // "" for no settings file
  std::vector<const char*> titles;
};

class TabOrderTest : public MainDialogTest, public testing::WithParamInterface<TabCase> {};

TEST_P(TabOrderTest, TabsFollowTheDialogSection) {
  if (*GetParam().settings) folders.WriteSettings(GetParam().settings);
  Open();
  ASSERT_EQ(dialog.TabCount(), static_cast<int>(GetParam().titles.size()));
  const std::map<std::string, CDialog*> byTitle = {{"Led", &dialog.m_ledPage},
                                                   {"InputSource", &dialog.m_inputSourcePage},
                                                   {"Temperature", &dialog.m_temperaturePage},
                                                   {"Flip", &dialog.m_flipPage},
                                                   {"System", &dialog.m_systemPage}};
  for (int i = 0; i < dialog.TabCount(); ++i) {
    EXPECT_EQ(dialog.TabCtrl().GetItemText(i), GetParam().titles[i]);
    EXPECT_EQ(dialog.Pages()[i], byTitle.at(GetParam().titles[i]));
  }
  for (std::size_t i = dialog.TabCount(); i < kMaxTabs; ++i) EXPECT_EQ(dialog.Pages()[i], nullptr);
  // The first tab's page is the only page showing.
  EXPECT_EQ(dialog.TabCtrl().GetCurSel(), 0);
  EXPECT_EQ(dialog.CurrentPage(), 0);
  for (const auto& [title, page] : byTitle) {
    EXPECT_EQ(page->isVisible(), page == dialog.Pages()[0]) << title;
    EXPECT_TRUE(page->IsCreated()) << title;  // pages without a tab exist all the same
  }
  EXPECT_EQ(dialog.GetWindowText(), "Lumivex");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TabOrderTest,
    testing::Values(
        TabCase{"NoSettingsFile", "", {"Led", "InputSource", "Temperature", "Flip", "System"}},
        TabCase{"NoEnablingLine",
                "[dialog]\ndlg1=false\ndlg2=True\n",
                {"Led", "InputSource", "Temperature", "Flip", "System"}},
        TabCase{"OnlySystem", "[dialog]\ndlg5=true\n", {"System"}},
        TabCase{
            "FlipAboveInput", "[dialog]\ndlg4=true\nother=x\ndlg2=true\n", {"Flip", "InputSource"}},
        TabCase{"CaseMatters", "[dialog]\nDLG1=true\ndlg3=TRUE\ndlg2=true\n", {"InputSource"}},
        TabCase{
            "RepeatedPage", "[dialog]\ndlg3=true\ndlg1=true\ndlg3=true\n", {"Temperature", "Led"}},
        TabCase{"SevenLines",
                "[dialog]\ndlg5=true\ndlg4=true\ndlg4=true\ndlg3=true\ndlg2=true\ndlg1=true\n"
                "dlg5=true\n",
                {"System", "Flip", "Temperature", "InputSource", "Led"}}),
    [](const testing::TestParamInfo<TabCase>& p) { return p.param.name; });

TEST_F(MainDialogTest, EveryPageIsInitialisedOnceAtStart) {
  folders.WriteSettings("[dialog]\ndlg5=true\n");
  // The connect caption is written by each page's initialisation: one run gives "Open".
  Open();
  for (CDialog* page :
       {static_cast<CDialog*>(&dialog.m_ledPage), static_cast<CDialog*>(&dialog.m_inputSourcePage),
        static_cast<CDialog*>(&dialog.m_temperaturePage), static_cast<CDialog*>(&dialog.m_flipPage),
        static_cast<CDialog*>(&dialog.m_systemPage)}) {
    EXPECT_EQ(page->GetDlgItemText(connection::kConnectButtonId), "Open");
    EXPECT_EQ(page->parentWidget(), dialog.TabCtrl().GetSafeWnd());
  }
}

TEST_F(MainDialogTest, WindowFollowsThePageShownAndKeepsItsCorner) {
  Open();
  dialog.move(40, 30);
  QApplication::processEvents();
  const QPoint corner = dialog.pos();
  for (int i : {0, 3, 2, 0, 4, 1}) {
    SelectTab(i);
    CDialog* page = dialog.Pages()[i];
    const QSize p = test::QSizeOf(page->TemplatePixelSize());
    EXPECT_EQ(dialog.CurrentPage(), i);
    EXPECT_EQ(page->geometry(), QRect(8, 25, p.width(), p.height()));
    EXPECT_EQ(dialog.TabCtrl().GetSafeWnd()->geometry(),
              QRect(0, 0, p.width() + 16, p.height() + 33));
    // The status line adds its height below the tab control.
    ASSERT_NE(dialog.StatusLine(), nullptr);
    EXPECT_EQ(dialog.size(),
              QSize(p.width() + 16, p.height() + 33 + dialog.StatusLine()->height()));
    EXPECT_EQ(dialog.pos(), corner);
    for (CDialog* other : Tabs()) EXPECT_EQ(other->isVisible(), other == page);
  }
  // The flip page is the smallest: the window shrinks to it.
  EXPECT_LT(dialog.m_flipPage.TemplatePixelSize().width,
            dialog.m_ledPage.TemplatePixelSize().width);
}

TEST_F(MainDialogTest, EscapeAndReturnDoNothing) {
  Open();
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    QTest::keyClick(&dialog, key);
    QTest::keyClick(dialog.TabCtrl().GetSafeWnd(), key);
    QTest::keyClick(dialog.m_ledPage.GetDlgItem(1004), key);
    QTest::keyClick(dialog.m_ledPage.GetDlgItem(1001), key);
  }
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(dialog.m_ledPage.isVisible());
  EXPECT_TRUE(recorder->Messages().empty());  // the connect button was not pressed
}

TEST_F(MainDialogTest, CaptionsDoNotDecayOverTabSwitches) {
  folders.UseLanguage(
      "Tab.Led=L.E.D\nUart.Open=Op.en\nFLIP.do=Do.it\nLed.Write=Wr.ite\n"
      "Lumivex v2.4.1.1-QELTOR=Some.title\n");
  folders.WriteSettings("[dialog]\ndlg1=true\ndlg4=true\n");
  Open();
  for (int round = 0; round < 20; ++round) {
    SelectTab(1);
    SelectTab(0);
  }
  EXPECT_EQ(dialog.TabCtrl().GetItemText(0), "L.E.D");
  EXPECT_EQ(dialog.m_ledPage.GetDlgItemText(1005), "Wr.ite");
  EXPECT_EQ(dialog.m_ledPage.GetDlgItemText(1001), "Op.en");
  EXPECT_EQ(dialog.m_flipPage.GetDlgItemText(1070), "Do.it");
  EXPECT_EQ(dialog.m_flipPage.GetDlgItemText(1001), "Op.en");
  // The caption is the product name whatever the language file holds.
  EXPECT_EQ(dialog.GetWindowText(), "Lumivex");
  // A language file edited meanwhile shows at the next showing of a page.
  folders.WriteLanguage("FLIP.do=Apply both directions now\n");
  SelectTab(1);
  EXPECT_EQ(dialog.m_flipPage.GetDlgItemText(1070), "Apply both directions now");
}

TEST_F(MainDialogTest, DataBoxesAreNeverTranslated) {
  folders.UseLanguage("KVB03.bin=translated.bin\n0=zero\n");
  folders.WriteSettings("[dialog]\ndlg1=true\ndlg5=true\n");
  Open();
  dialog.m_ledPage.SetDlgItemText(1004, "0");
  for (int i = 0; i < 3; ++i) {
    SelectTab(1);
    SelectTab(0);
  }
  EXPECT_EQ(dialog.m_ledPage.GetDlgItemText(1004), "0");
  EXPECT_NE(dialog.m_systemPage.GetDlgItemText(1061), "translated.bin");
}

TEST_F(MainDialogTest, ConnectionMadeOnOnePageShowsOnAnotherAfterSwitching) {
  // A private ports folder: the only board the connection can find is this one.
  QTemporaryDir runtime;
  const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  boardsim::BoardOptions options;
  options.baud = 9600;
  boardsim::SimulatedBoard board(options);
  ASSERT_TRUE(board.Start()) << board.error();

  folders.WriteSettings("[dialog]\ndlg1=true\ndlg4=true\n");
  Open();
  QTest::mouseClick(dialog.m_ledPage.GetDlgItem(connection::kConnectButtonId), Qt::LeftButton);
  EXPECT_TRUE(connection::IsConnected());
  EXPECT_EQ(dialog.m_ledPage.GetDlgItemText(connection::kConnectButtonId), "Close");
  EXPECT_EQ(dialog.m_flipPage.GetDlgItemText(connection::kConnectButtonId), "Open");
  SelectTab(1);
  EXPECT_EQ(dialog.m_flipPage.GetDlgItemText(connection::kConnectButtonId), "Close");

  // And back: closed on the flip page, the LED page shows it at its next showing.
  QTest::mouseClick(dialog.m_flipPage.GetDlgItem(connection::kConnectButtonId), Qt::LeftButton);
  EXPECT_FALSE(connection::IsConnected());
  SelectTab(0);
  EXPECT_EQ(dialog.m_ledPage.GetDlgItemText(connection::kConnectButtonId), "Open");
  board.Stop();
  qputenv("XDG_RUNTIME_DIR", previous);
}

TEST_F(MainDialogTest, AboutBoxOpensFromTheMenuCommandAndClosesWithOk) {
  Open();
  bool seen = false;
  std::string version;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* about = dynamic_cast<CAboutDialog*>(w);
      if (!about || !about->isVisible()) continue;
      seen = true;
      version = about->GetWindowText();
      QTest::mouseClick(about->GetDlgItem(kIdOk), Qt::LeftButton);
    }
  });
  QTimer watchdog;  // never hang the suite on a box that did not close
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* about = dynamic_cast<CAboutDialog*>(w)) about->EndDialog(kIdCancel);
    }
  });
  watchdog.start(10000);
  dialog.OnSysCommand(kIdmAboutBox);
  EXPECT_TRUE(seen);
  EXPECT_EQ(version, "关于 Lumivex");
  // Other commands open nothing.
  seen = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (dynamic_cast<CAboutDialog*>(w) && w->isVisible()) seen = true;
    }
  });
  dialog.OnSysCommand(0xF060);
  QApplication::processEvents();
  EXPECT_FALSE(seen);
}

TEST_F(MainDialogTest, AboutBoxTextsPassNoLanguageTable) {
  folders.UseLanguage("确定=Nope\n");
  test::HostWindow host;
  CAboutDialog about(&host);
  ASSERT_TRUE(about.CreateAsWindow(&host));
  EXPECT_EQ(about.GetDlgItemText(kIdOk), "确定");
  EXPECT_EQ(about.GetWindowText(), "关于 Lumivex");
  about.EndDialog(kIdOk);
}

TEST_F(MainDialogTest, ClosingTheWindowEndsTheModalRun) {
  int result = -1;
  QTimer::singleShot(0, [&] { dialog.close(); });
  QTimer::singleShot(10000, [&] { dialog.EndDialog(99); });  // watchdog
  result = dialog.DoModal();
  EXPECT_EQ(result, kIdCancel);
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace lumivex::ui
