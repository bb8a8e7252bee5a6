// The system page and its upgrade worker against simulated boards.
#include "ui/system_page.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "connection/connection.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "settings/language_keys.h"
#include "settings/settings.h"
#include "tests/ui_pages/page_test_support.h"
#include "ui/main_dialog.h"

namespace lumivex::ui::test {
namespace {

using namespace std::chrono_literals;
using boardsim::BoardOptions;

constexpr int kUpgrade = 1032;
constexpr int kFileName = 1061;
constexpr int kConnect = connection::kConnectButtonId;

// A box as the page showed it, with the state of its two buttons at that moment.
struct ShownBox {
  std::string text;
  std::string title;
  bool upgradeEnabled;
  bool connectEnabled;
};

// Records every box of the test together with the button states of the page that showed it.
class ButtonProbe : public MessagePresenter {
 public:
  void Show(CDialog& owner, const std::string& text, const std::string& title) override {
    auto* page = &owner;
    boxes.push_back({text, title, page && page->IsItemEnabled(kUpgrade),
                     page && page->IsItemEnabled(kConnect)});
  }
  std::vector<ShownBox> boxes;
};

// Installs a ButtonProbe for its lifetime.
class ScopedButtonProbe {
 public:
  ScopedButtonProbe() {
    auto probe = std::make_unique<ButtonProbe>();
    m_probe = probe.get();
    m_previous = SetMessagePresenter(std::move(probe));
  }
  ~ScopedButtonProbe() { SetMessagePresenter(std::move(m_previous)); }
  ScopedButtonProbe(const ScopedButtonProbe&) = delete;
  ScopedButtonProbe& operator=(const ScopedButtonProbe&) = delete;
  ButtonProbe* operator->() { return m_probe; }

 private:
  ButtonProbe* m_probe;
  std::unique_ptr<MessagePresenter> m_previous;
};

std::string StoredName() {
  return settings::ReadSetting(settings::section::kSystem, settings::kFirmwareNameKey);
}

Bytes StartFrame(const std::string& name) {
  // Header, length, class, command, the name, its terminating zero, the check byte.
  Bytes frame(name.size() + 6, 0);
  frame[0] = 0xE0;
  frame[1] = static_cast<uint8_t>(frame.size());
  frame[2] = 0x44;
  frame[3] = 0x0E;
  std::copy(name.begin(), name.end(), frame.begin() + 4);
  protocol::SetChecksum(frame.data(), 1);
  return frame;
}

BoardOptions Outcome(int status, std::optional<uint8_t> preliminary = std::nullopt) {
  BoardOptions options;
  options.upgradeOutcome = status;
  options.preliminaryStatus = preliminary;
  options.upgradeDelayMs = 300;
  return options;
}

class SystemPageTest : public PageTest {
 protected:
  static bool WaitForWorkerEnd(const CSystemPage& page) {
    return PumpUntil([&] { return !page.IsUpgradeWorkerRunning(); }, 20s);
  }
};

// ----- outcomes

struct OutcomeCase {
  const char* name;
  int status;
  std::optional<uint8_t> preliminary;
  const char* message;
};

class UpgradeOutcomeTest : public SystemPageTest,
                           public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UpgradeOutcomeTest, AcknowledgedStartReportsTheBoardsStatusThenEnablesBothButtons) {
  auto board = StartBoard(Outcome(GetParam().status, GetParam().preliminary));
  CSystemPage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  ScopedButtonProbe probe;

  Click(page, kUpgrade);
  EXPECT_TRUE(page.IsUpgradeWorkerRunning());
  ASSERT_TRUE(PumpUntil([&] { return !page.IsItemEnabled(kUpgrade); }, 5s));
  EXPECT_FALSE(page.IsItemEnabled(kConnect));
  ASSERT_TRUE(WaitForWorkerEnd(page));

  ASSERT_EQ(probe->boxes.size(), 1u);
  EXPECT_EQ(probe->boxes[0].text, GetParam().message);
  EXPECT_EQ(probe->boxes[0].title, key::kWarningSystemTitle);
  // The buttons stay disabled until the box has been dismissed.
  EXPECT_FALSE(probe->boxes[0].upgradeEnabled);
  EXPECT_FALSE(probe->boxes[0].connectEnabled);
  EXPECT_TRUE(page.IsItemEnabled(kUpgrade));
  EXPECT_TRUE(page.IsItemEnabled(kConnect));

  const auto starts = FramesWithCommand(*board, protocol::command::kStartFirmwareUpgrade);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0], StartFrame("KVB03.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Status, UpgradeOutcomeTest,
    ::testing::Values(OutcomeCase{"Success", 0, std::nullopt, key::kUpgradeSuccess},
                      OutcomeCase{"NoDisk", 1, std::nullopt, key::kNotFindDisk},
                      OutcomeCase{"NoFile", 2, std::nullopt, key::kNotFindFile},
                      OutcomeCase{"InvalidFirmware", 3, std::nullopt, key::kInvalidFirmware},
                      OutcomeCase{"Failed", 4, std::nullopt, key::kUpgradeFail},
                      // A byte that is no outcome is skipped and the wait goes on.
                      OutcomeCase{"UnknownStatusThenSuccess", 0, uint8_t{9}, key::kUpgradeSuccess}),
    CaseName());

TEST_F(SystemPageTest, DefaultNameWithoutAcknowledgementSendsTheShortFrameAndStartsNoWorker) {
  BoardOptions options = Outcome(0);
  options.upgradeAck = false;
  auto board = StartBoard(options);
  CSystemPage page;
  ASSERT_TRUE(page.Create(nullptr));
  ASSERT_EQ(page.GetDlgItemText(kFileName), "KVB03.bin");
  ConnectWith(page);
  const uint64_t before = board->counters().frames;

  Click(page, kUpgrade);
  EXPECT_FALSE(page.IsUpgradeWorkerRunning());
  ASSERT_TRUE(board->WaitForFrames(before + 2, 2s));
  const auto frames = board->receivedFrames();
  EXPECT_EQ(frames[frames.size() - 2], StartFrame("KVB03.bin"));
  EXPECT_EQ(frames.back(), (Bytes{0xE0, 0x03, 0x38}));
  Pump(100ms);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(page.IsItemEnabled(kUpgrade));
  EXPECT_TRUE(page.IsItemEnabled(kConnect));
}

TEST_F(SystemPageTest, OtherNameWithoutAcknowledgementWaitsAnywayAndTimesOut) {
  BoardOptions options = Outcome(0);
  options.upgradeAck = false;
  auto board = StartBoard(options);
  CSystemPage page(nullptr, 5);
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  page.SetDlgItemText(kFileName, "other.bin");

  const auto start = std::chrono::steady_clock::now();
  Click(page, kUpgrade);
  EXPECT_TRUE(page.IsUpgradeWorkerRunning());
  ASSERT_TRUE(WaitForWorkerEnd(page));
  // Five receive waits and five pauses of 20 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kUpgradeTimeOut, key::kWarningSystemTitle}}));
  EXPECT_EQ(board->receivedFrames().back(), StartFrame("other.bin"));
  EXPECT_TRUE(page.IsItemEnabled(kUpgrade));
  EXPECT_TRUE(page.IsItemEnabled(kConnect));
}

TEST_F(SystemPageTest, CycleCountTakenWhenTheUpgradeStarts) {
  BoardOptions options = Outcome(boardsim::kUpgradeOutcomeNone);
  auto board = StartBoard(options);
  CSystemPage page(nullptr, 2);
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  page.SetStatusWaitCycles(4);
  const auto start = std::chrono::steady_clock::now();
  Click(page, kUpgrade);
  ASSERT_TRUE(WaitForWorkerEnd(page));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 80ms);
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kUpgradeTimeOut, key::kWarningSystemTitle}}));
}

// ----- the name

TEST_F(SystemPageTest, NameIsStoredBeforeThePortIsTested) {
  WriteSettings("[system]\nFirmWareName=old.bin\n");
  CSystemPage page;
  ASSERT_TRUE(page.Create(nullptr));
  ASSERT_EQ(page.GetDlgItemText(kFileName), "old.bin");
  page.SetDlgItemText(kFileName, "new.bin");
  Click(page, kUpgrade);
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kNotOpen, key::kWarningUartTitle}}));
  EXPECT_EQ(StoredName(), "new.bin");
  EXPECT_FALSE(page.IsUpgradeWorkerRunning());
}

TEST_F(SystemPageTest, EmptyNameIsReportedAfterThePortAndNotStored) {
  WriteSettings("[system]\nFirmWareName=old.bin\n");
  auto board = StartBoard();
  CSystemPage page;
  ASSERT_TRUE(page.Create(nullptr));
  page.SetDlgItemText(kFileName, "");
  Click(page, kUpgrade);
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kNotOpen, key::kWarningUartTitle}}));

  ConnectWith(page);
  page.SetDlgItemText(kFileName, "");
  Click(page, kUpgrade);
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kInvalidFileName, key::kWarningSystemTitle}}));
  EXPECT_EQ(StoredName(), "old.bin");
  EXPECT_TRUE(FramesWithCommand(*board, protocol::command::kStartFirmwareUpgrade).empty());
  EXPECT_FALSE(page.IsUpgradeWorkerRunning());
}

struct StoredNameCase {
  const char* name;
  const char* settings;  // nullptr: no settings file
};

class DefaultNameTest : public SystemPageTest,
                        public ::testing::WithParamInterface<StoredNameCase> {};

TEST_P(DefaultNameTest, ShowingWritesTheDefaultWhenNoNameIsStored) {
  if (GetParam().settings) WriteSettings(GetParam().settings);
  CSystemPage page;
  ASSERT_TRUE(page.Create(nullptr));
  EXPECT_EQ(page.GetDlgItemText(kFileName), "KVB03.bin");
  EXPECT_EQ(StoredName(), "KVB03.bin");
}

INSTANTIATE_TEST_SUITE_P(Settings, DefaultNameTest,
                         ::testing::Values(StoredNameCase{"NoFile", nullptr},
                                           StoredNameCase{"NoSection", "[led]\nr=true\n"},
                                           StoredNameCase{"NoKey", "[system]\nOther=1\n"},
                                           StoredNameCase{"EmptyValue",
                                                          "[system]\nFirmWareName=\n"}),
                         CaseName());

TEST_F(SystemPageTest, ShowingAgainReplacesAnUnusedTypedNameWithTheStoredOne) {
  WriteSettings("[system]\nFirmWareName=stored.bin\n");
  CSystemPage page;
  ASSERT_TRUE(page.Create(nullptr));
  page.SetDlgItemText(kFileName, "typed.bin");
  page.OnInitDialog();
  EXPECT_EQ(page.GetDlgItemText(kFileName), "stored.bin");
  EXPECT_EQ(StoredName(), "stored.bin");
}

// Only the settings file can hold a longer name than the box takes; a read gives back at most
// 259 bytes of it, still too long to send.
class OverlongNameTest : public SystemPageTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(OverlongNameTest, NeverStartsAnUpgrade) {
  const std::string longName(GetParam(), 'a');
  WriteSettings("[system]\nFirmWareName=" + longName + "\n");
  auto board = StartBoard(Outcome(0));
  CSystemPage page;
  ASSERT_TRUE(page.Create(nullptr));
  ASSERT_EQ(page.GetDlgItemText(kFileName), longName.substr(0, 259));
  ConnectWith(page);
  Click(page, kUpgrade);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].first.find("248"), std::string::npos) << Boxes()[0].first;
  EXPECT_TRUE(FramesWithCommand(*board, protocol::command::kStartFirmwareUpgrade).empty());
  EXPECT_FALSE(page.IsUpgradeWorkerRunning());
  EXPECT_TRUE(page.IsItemEnabled(kUpgrade));
}

INSTANTIATE_TEST_SUITE_P(Lengths, OverlongNameTest, ::testing::Values(249, 255, 1000));

struct SentNameCase {
  const char* name;
  std::string fileName;
  // Whether the settings file gives the name back as it is (it drops blanks around a value).
  bool storedAsTyped;
};

class SentNameTest : public SystemPageTest, public ::testing::WithParamInterface<SentNameCase> {};

TEST_P(SentNameTest, NameIsSentAsTypedWithItsTerminatingZero) {
  auto board = StartBoard(Outcome(boardsim::kUpgradeOutcomeFromDisk));
  CSystemPage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  page.SetDlgItemText(kFileName, GetParam().fileName);
  Click(page, kUpgrade);
  ASSERT_TRUE(WaitForWorkerEnd(page));
  const auto starts = FramesWithCommand(*board, protocol::command::kStartFirmwareUpgrade);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0], StartFrame(GetParam().fileName));
  EXPECT_EQ(board->upgradeFileName(), GetParam().fileName);
  if (GetParam().storedAsTyped) {
    EXPECT_EQ(StoredName(), GetParam().fileName);
  }
  // The simulated disk holds only the default file.
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kNotFindFile, key::kWarningSystemTitle}}));
}

INSTANTIATE_TEST_SUITE_P(Names, SentNameTest,
                         ::testing::Values(SentNameCase{"BlanksOnly", "   ", false},
                                           SentNameCase{"LongestTaken", std::string(248, 'f'),
                                                        true}),
                         CaseName());

// ----- closing

TEST_F(SystemPageTest, CloseRequestIsIgnoredWhileTheUpgradeIsAwaited) {
  auto board = StartBoard(Outcome(0));
  CSystemPage page;
  ASSERT_TRUE(page.CreateAsWindow());
  ConnectWith(page);
  Click(page, kUpgrade);
  ASSERT_TRUE(PumpUntil([&] { return !page.IsItemEnabled(kUpgrade); }, 5s));
  page.close();
  EXPECT_TRUE(page.isVisible());
  ASSERT_TRUE(WaitForWorkerEnd(page));
  page.close();
  EXPECT_FALSE(page.isVisible());
}

TEST_F(SystemPageTest, MainWindowClosesWhileTheWorkerWaits) {
  WriteSettings("[dialog]\ndlg5=true\n");
  auto board = StartBoard(Outcome(boardsim::kUpgradeOutcomeNone));
  auto dialog = std::make_unique<CMainDialog>();
  ASSERT_TRUE(dialog->CreateAsWindow());
  CSystemPage& page = dialog->m_systemPage;
  ASSERT_TRUE(page.isVisible());
  ConnectWith(page);
  Click(page, kUpgrade);
  ASSERT_TRUE(PumpUntil([&] { return !page.IsItemEnabled(kUpgrade); }, 5s));
  Pump(100ms);

  dialog->close();
  EXPECT_FALSE(dialog->isVisible());
  const auto start = std::chrono::steady_clock::now();
  dialog.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(SystemPageTest, PageDestroyedBeforeTheWorkerReachedTheGuiThread) {
  auto board = StartBoard(Outcome(boardsim::kUpgradeOutcomeNone));
  auto page = std::make_unique<CSystemPage>();
  ASSERT_TRUE(page->Create(nullptr));
  ConnectWith(*page);
  Click(*page, kUpgrade);
  ASSERT_TRUE(page->IsUpgradeWorkerRunning());
  // No event has run: the worker waits for the GUI thread to disable the buttons.
  const auto start = std::chrono::steady_clock::now();
  page.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  Pump(50ms);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(SystemPageTest, MainWindowClosedWhileTheOutcomeBoxIsOpen) {
  WriteSettings("[dialog]\ndlg5=true\n");
  auto board = StartBoard(Outcome(3));
  auto dialog = std::make_unique<CMainDialog>();
  ASSERT_TRUE(dialog->CreateAsWindow());
  CSystemPage& page = dialog->m_systemPage;
  ConnectWith(page);

  // The real modal box this time.
  std::unique_ptr<MessagePresenter> recorder = SetMessagePresenter(nullptr);
  bool boxSeen = false;
  QPointer<CMainDialog> window = dialog.get();
  QTimer closer;
  closer.setInterval(20);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    boxSeen = true;
    EXPECT_EQ(box->text().toStdString(), key::kInvalidFirmware);
    if (window && window->isVisible()) {
      window->close();
      return;
    }
    box->accept();
  });
  closer.start();

  Click(page, kUpgrade);
  const bool ended = WaitForWorkerEnd(page);
  closer.stop();
  SetMessagePresenter(std::move(recorder));
  ASSERT_TRUE(ended);
  EXPECT_TRUE(boxSeen);
  EXPECT_FALSE(dialog->isVisible());
  const auto start = std::chrono::steady_clock::now();
  dialog.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace lumivex::ui::test
