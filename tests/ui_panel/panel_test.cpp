// The panel's worker thread, status line and unplugged port.
#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "board/temperatures.h"
#include "connection/connection.h"
#include "protocol/commands.h"
#include "settings/language_keys.h"
#include "tests/ui_panel/panel_support.h"
#include "transport/port_table.h"
#include "transport/ports.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/qt/controls_qt.h"

namespace lumivex::ui::test {
namespace {

using namespace std::chrono_literals;

constexpr int kSingleReadButton = 1035;
constexpr char kTemperatureTabOnly[] = "[dialog]\ndlg3=true\n";

void AccessibilityPress(QWidget* control) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
  ASSERT_NE(accessible, nullptr);
  ASSERT_NE(accessible->actionInterface(), nullptr);
  accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

boardsim::BoardOptions Silent() {
  boardsim::BoardOptions o;
  o.silent = true;
  return o;
}

// The longest time the GUI thread went without running its timer, start and end included.
qint64 LongestGap(const std::vector<qint64>& ticks, qint64 end) {
  qint64 last = 0;
  qint64 longest = 0;
  for (qint64 t : ticks) {
    longest = std::max(longest, t - last);
    last = t;
  }
  return std::max(longest, end - last);
}

TEST_F(PanelTest, DuringASilentReadTheWindowKeepsTurningAndNoPressReachesThePage) {
  auto board = StartBoard();
  CMainDialog& panel = OpenPanel(kTemperatureTabOnly);
  ConnectElsewhere();
  board->SetOptions(Silent());
  QWidget* read = panel.m_temperaturePage.GetDlgItem(kSingleReadButton);
  ASSERT_NE(read, nullptr);
  ASSERT_TRUE(read->isVisible());

  QElapsedTimer clock;
  std::vector<qint64> ticks;
  QTimer ticker;
  ticker.setInterval(20);
  QObject::connect(&ticker, &QTimer::timeout, [&] { ticks.push_back(clock.elapsed()); });
  QString statusMidway;
  bool waitCursor = false;
  QTimer::singleShot(1000, [&] {
    QTest::mouseClick(read, Qt::LeftButton);
    QTest::keyClick(read, Qt::Key_Space);
    statusMidway = QString::fromStdString(panel.StatusText());
    waitCursor = QApplication::overrideCursor() != nullptr &&
                 QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  });
  QTimer::singleShot(2000, [&] { AccessibilityPress(read); });
  // A press in the last moments of the wait: its click would come after the wait has ended.
  bool latePress = false;
  QTimer late;
  late.setInterval(10);
  QObject::connect(&late, &QTimer::timeout, [&] {
    if (latePress || clock.elapsed() < 7000 || !IsInputBlocked()) return;
    latePress = true;
    AccessibilityPress(read);
  });
  late.start();

  clock.start();
  ticker.start();
  const board::TemperatureReading reading = board::ReadTemperatures();
  const qint64 took = clock.elapsed();
  ticker.stop();

  late.stop();
  EXPECT_TRUE(latePress);
  EXPECT_FALSE(reading.answered);
  EXPECT_GT(took, 7000);
  EXPECT_LT(LongestGap(ticks, took), 300) << ticks.size() << " ticks in " << took << " ms";
  EXPECT_TRUE(waitCursor);
  EXPECT_TRUE(statusMidway.startsWith(Tr("Busy.ReadTemperatures") + QStringLiteral(" ")))
      << statusMidway.toStdString();
  EXPECT_TRUE(statusMidway.endsWith(QStringLiteral(" s"))) << statusMidway.toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(worker_.Busy());

  // Nothing was kept for later either.
  Pump(1500ms);
  EXPECT_EQ(FramesWithCommand(*board, protocol::command::kReadTemperatures).size(), 2u);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(QString::fromStdString(panel.StatusText()).startsWith(QStringLiteral("COM")))
      << QString::fromStdString(panel.StatusText()).toStdString();

  // The same press with the window idle reaches the page: the presses above were real ones.
  board->SetOptions({});
  AccessibilityPress(read);
  EXPECT_TRUE(PumpUntil(
      [&] { return FramesWithCommand(*board, protocol::command::kReadTemperatures).size() > 2; },
      5s));
}

TEST_F(PanelTest, WorkNeverOverlapsAndARunInsideARunNeitherDeadlocksNorRefuses) {
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::mutex orderMutex;
  std::vector<std::string> order;
  auto piece = [&](std::string name, std::chrono::milliseconds pause) {
    return [&, name, pause] {
      if (inside++ != 0) overlapped = true;
      std::this_thread::sleep_for(pause);
      {
        std::lock_guard lock(orderMutex);
        order.push_back(name);
      }
      --inside;
    };
  };

  // A timer fires while the GUI thread waits for the first piece: its piece queues behind.
  bool timerRunReturned = false;
  QTimer::singleShot(50, [&] {
    worker_.Run("Busy.Timer", piece("timer", 50ms));
    timerRunReturned = true;
  });
  std::thread::id workerThread;
  bool nestedInPlace = false;
  worker_.Run("Busy.First", [&] {
    piece("first", 300ms)();
    workerThread = std::this_thread::get_id();
    // Work that runs further work runs it at once, where it is.
    worker_.Run("Busy.Nested", [&] { nestedInPlace = std::this_thread::get_id() == workerThread; });
  });
  EXPECT_TRUE(timerRunReturned);
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(order, (std::vector<std::string>{"first", "timer"}));
  EXPECT_TRUE(nestedInPlace);
  EXPECT_NE(workerThread, std::this_thread::get_id());
  EXPECT_FALSE(worker_.Busy());

  // From another thread Run blocks, on the same worker.
  std::thread::id otherRanOn;
  std::thread other(
      [&] { worker_.Run("Busy.Other", [&] { otherRanOn = std::this_thread::get_id(); }); });
  other.join();
  EXPECT_EQ(otherRanOn, workerThread);

  // A failure inside the work reaches the caller, and the worker goes on.
  EXPECT_THROW(worker_.Run("Busy.Fail", [] { throw std::runtime_error("fault"); }),
               std::runtime_error);
  bool ranAfter = false;
  worker_.Run("Busy.After", [&] { ranAfter = true; });
  EXPECT_TRUE(ranAfter);
}

TEST_F(PanelTest, ABoxThatComesUpDuringACommandCanBeDismissedAndTheCommandHandsBack) {
  CMainDialog& panel = OpenPanel();
  bool dismissedByClick = false;
  // As the upgrade worker's outcome box comes up while the GUI thread waits for a command.
  QTimer::singleShot(100, [&] {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Title"), QStringLiteral("Text"),
                    QMessageBox::Ok, &panel);
    QTimer::singleShot(300,
                       [&] { QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton); });
    // Should the click be swallowed, the box goes after a while and the test fails.
    QTimer::singleShot(3000, &box, [&] { box.done(QMessageBox::Cancel); });
    dismissedByClick = box.exec() == QMessageBox::Ok;
  });
  worker_.Run("Busy.Test", [] { std::this_thread::sleep_for(1s); });
  EXPECT_TRUE(dismissedByClick);
  EXPECT_FALSE(worker_.Busy());
}

TEST_F(PanelTest, ATabChosenDuringACommandIsUndoneAndThePageNotShown) {
  CMainDialog& panel = OpenPanel();
  QTabBar* tabs = static_cast<TabControl*>(panel.TabCtrl().GetSafeWnd())->TabBar();
  int selectedMidway = -1;
  // An accessibility action selects the tab without a click.
  QTimer::singleShot(100, [&] {
    tabs->setCurrentIndex(2);
    selectedMidway = tabs->currentIndex();
  });
  worker_.Run("Busy.Test", [] { std::this_thread::sleep_for(500ms); });
  EXPECT_EQ(selectedMidway, 0);
  EXPECT_EQ(panel.CurrentPage(), 0);
  EXPECT_TRUE(panel.Pages()[0]->isVisible());
  EXPECT_FALSE(panel.Pages()[2]->isVisible());
  // Idle, the same selection switches the page.
  tabs->setCurrentIndex(2);
  EXPECT_EQ(panel.CurrentPage(), 2);
}

TEST_F(PanelTest, StatusLineNamesPortDeviceSpeedAndFirmwareAndTheWindowGrowsByIt) {
  boardsim::BoardOptions options;
  options.firmwareVersion = 0x2A0C1;
  auto board = StartBoard(options);
  CMainDialog& panel = OpenPanel();
  EXPECT_EQ(QString::fromStdString(panel.StatusText()), Tr(key::kStatusNotConnected));
  ASSERT_NE(panel.StatusLine(), nullptr);
  const QSize page(panel.m_ledPage.TemplatePixelSize().width,
                   panel.m_ledPage.TemplatePixelSize().height);
  EXPECT_GT(panel.StatusLine()->height(), 0);
  EXPECT_EQ(panel.size(),
            QSize(page.width() + 16, page.height() + 33 + panel.StatusLine()->height()));
  EXPECT_EQ(panel.StatusLine()->y(), page.height() + 33);

  ConnectElsewhere();
  const QString expected = QStringLiteral("COM%1  %2  115200 %3  %4 2A0C1")
                               .arg(board->comNumber())
                               .arg(QString::fromStdString(board->slavePath()))
                               .arg(Tr(key::kStatusBaud))
                               .arg(Tr(key::kStatusFirmware));
  EXPECT_TRUE(PumpUntil([&] { return QString::fromStdString(panel.StatusText()) == expected; }, 2s))
      << QString::fromStdString(panel.StatusText()).toStdString()
      << " != " << expected.toStdString();
  EXPECT_EQ(panel.StatusLine()->toolTip(), expected);

  DisconnectElsewhere();
  EXPECT_TRUE(PumpUntil(
      [&] { return QString::fromStdString(panel.StatusText()) == Tr(key::kStatusNotConnected); },
      2s));
}

// What every page's connect button reads while connected through the pages.
void CaptionAsConnected(CMainDialog& panel) {
  for (CDialog* page :
       {static_cast<CDialog*>(&panel.m_ledPage), static_cast<CDialog*>(&panel.m_inputSourcePage),
        static_cast<CDialog*>(&panel.m_temperaturePage), static_cast<CDialog*>(&panel.m_systemPage),
        static_cast<CDialog*>(&panel.m_flipPage)}) {
    page->SetConnectCaption(settings::Translate(key::kUartClose));
  }
}

void ExpectEveryPageOffersToConnect(CMainDialog& panel) {
  for (CDialog* page :
       {static_cast<CDialog*>(&panel.m_ledPage), static_cast<CDialog*>(&panel.m_inputSourcePage),
        static_cast<CDialog*>(&panel.m_temperaturePage), static_cast<CDialog*>(&panel.m_systemPage),
        static_cast<CDialog*>(&panel.m_flipPage)}) {
    EXPECT_EQ(page->GetDlgItemText(connection::kConnectButtonId),
              settings::Translate(key::kUartOpen))
        << page->TemplateId();
  }
}

TEST_F(PanelTest, AnUnpluggedPortIsClosedAndReportedOnceWhileIdle) {
  auto board = StartBoard();
  CMainDialog& panel = OpenPanel();
  ConnectElsewhere();
  CaptionAsConnected(panel);

  board->Stop();  // the line's far end goes away
  EXPECT_TRUE(PumpUntil([&] { return !Boxes().empty(); }, 5s));
  Pump(500ms);
  const std::vector<std::pair<std::string, std::string>> once = {
      {settings::Translate(key::kPortGone), settings::Translate(key::kWarningUartTitle)}};
  EXPECT_EQ(Boxes(), once);
  EXPECT_FALSE(connection::IsConnected());
  ExpectEveryPageOffersToConnect(panel);
  EXPECT_EQ(QString::fromStdString(panel.StatusText()), Tr(key::kStatusNotConnected));
}

TEST_F(PanelTest, AnUnplugDuringACommandIsReportedOnceAfterItAndTheNextFindsNoConnection) {
  auto board = StartBoard();
  CMainDialog& panel = OpenPanel();
  ConnectElsewhere();
  CaptionAsConnected(panel);
  board->SetOptions(Silent());

  QTimer::singleShot(500, [&] { board->Stop(); });
  board::ReadTemperatures();
  // The port went with the command's end; the box waits for the handler's own steps.
  EXPECT_FALSE(connection::IsConnected());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(PumpUntil([&] { return !Boxes().empty(); }, 2s));
  Pump(500ms);
  const std::vector<std::pair<std::string, std::string>> once = {
      {settings::Translate(key::kPortGone), settings::Translate(key::kWarningUartTitle)}};
  EXPECT_EQ(Boxes(), once);
  ExpectEveryPageOffersToConnect(panel);
  EXPECT_EQ(QString::fromStdString(panel.StatusText()), Tr(key::kStatusNotConnected));
}

TEST_F(PanelTest, ClosingTheWindowDuringACommandWaitsForItThenClosesThePort) {
  auto board = StartBoard();
  CMainDialog& panel = OpenPanel();
  ConnectElsewhere();
  board->SetOptions(Silent());
  bool visibleAfterClose = false;
  QTimer::singleShot(300, [&] {
    panel.close();
    visibleAfterClose = panel.isVisible();
  });
  const board::TemperatureReading reading = board::ReadTemperatures();
  // The command ran to its end: its frames, its result.
  EXPECT_FALSE(reading.answered);
  EXPECT_EQ(FramesWithCommand(*board, protocol::command::kReadTemperatures).size(), 2u);
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_TRUE(PumpUntil([&] { return !panel.isVisible(); }, 2s));
  EXPECT_FALSE(transport::PortTable[transport::CurrentPortNumber.load()].IsOpen());
}

}  // namespace
}  // namespace lumivex::ui::test
