// The pages on the Win32 backend under Wine, driven by control id through the messages a user's
// input sends (BM_CLICK, WM_SETTEXT, CB_SETCURSEL), against the Linux simulated board that
// run_pages.sh maps into the prefix as a COM port. The board traces what it receives into a log
// (LUMIVEX_BOARD_LOG, a Windows path); the cases read the frames from there. The pages'
// first-showing work happens once per process, so the script runs every case in a process of
// its own, each against a fresh board ("--currents 10,20,30 --temps 25,-100,27,40").
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "board/executor.h"
#include "connection/connection.h"
#include "protocol/frame.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "transport/ports.h"
#include "ui/flip_page.h"
#include "ui/framework/command_worker.h"
#include "ui/framework/dialog.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/win32/internal.h"
#include "ui/input_source_page.h"
#include "ui/led_page.h"
#include "ui/main_dialog.h"
#include "ui/system_page.h"
#include "ui/temperature_page.h"

namespace lumivex::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using win32::Narrow;
using win32::Widen;
using Box = std::pair<std::string, std::string>;  // text, title
using Boxes = std::vector<Box>;

// Keys whose display text the cases compare; each translates to itself.
const char* const kKeys[] = {
    key::kUartOpen,       key::kUartClose,   key::kWarningUartTitle,
    key::kConnectSuccess, key::kNotOpen,     key::kReadFail,
    key::kLedOn,          key::kLedOff,      key::kWarningSystemTitle,
    key::kNotFinded,      key::kConnectFail, key::kFirmwareOld,
    key::kUpgradeSuccess, key::kUpgradeFail, key::kUpgradeTimeOut,
};

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char piece[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += piece;
  }
  return out;
}

// A class-D frame with its check byte.
std::string ClassD(std::vector<uint8_t> frame) {
  frame.push_back(0);
  protocol::SetChecksum(frame.data(), 1);
  return Hex(frame);
}

// The frames the board traced as received: "<ms> ms recv E0 05 ...".
std::vector<std::string> BoardFrames() {
  const char* path = std::getenv("LUMIVEX_BOARD_LOG");
  std::vector<std::string> frames;
  if (!path) return frames;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t at = line.find(" ms recv ");
    if (at != std::string::npos) frames.push_back(line.substr(at + 9));
  }
  return frames;
}

// One per process: a program folder whose language file translates every key to itself, and a
// working folder for Lumivex.ini.
class PagesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_NE(std::getenv("LUMIVEX_BOARD_LOG"), nullptr) << "run through run_pages.sh";
    root_ = fs::temp_directory_path() / ("lumivex-pages-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "program" / "Language");
    fs::create_directories(root_ / "work");
    std::ofstream(root_ / "program" / "Config.ini", std::ios::binary)
        << "[themes]\r\nSolution=Keys\r\n";
    std::ofstream lang(root_ / "program" / "Language" / "Keys.lang", std::ios::binary);
    lang << "[String]\r\n";
    for (const char* k : kKeys) lang << k << "=" << k << "\r\n";
    lang.close();
    settings::LoadLanguage((root_ / "program").string() + "\\");
    fs::current_path(root_ / "work");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(root_, ignored);
  }
  static fs::path Work() { return root_ / "work"; }

 private:
  static inline fs::path root_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new PagesEnvironment);

class SilentPage : public connection::ConnectionPage {
 public:
  void ShowMessage(const std::string&, const std::string&) override {}
  void SetConnectCaption(const std::string&) override {}
};

class Win32PageTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (connection::IsConnected()) {
      SilentPage quiet;
      connection::ToggleConnection(quiet);
    }
    transport::ClosePort();
  }

  static void WriteSettings(const std::string& text) {
    std::ofstream(PagesEnvironment::Work() / "Lumivex.ini", std::ios::binary) << text;
  }

  // The page as a window of its own, shown, its posted work done.
  static void Show(CDialog& page) {
    ASSERT_TRUE(page.Create(nullptr));
    ShowWindow(page.GetSafeWnd(), SW_SHOW);
    Pump();
  }

  static void Pump() {
    for (int i = 0; i < 5; ++i) ProcessPendingEvents();
  }

  // Runs the GUI thread's messages until done() holds or timeout has passed; returns done().
  static bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      ProcessPendingEvents();
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  static HWND Item(const CDialog& page, int id) {
    HWND w = GetDlgItem(page.GetSafeWnd(), id);
    EXPECT_NE(w, nullptr) << "no control " << id;
    return w;
  }

  // The click of a user: the button's own BM_CLICK, so that its notification travels the
  // dialog manager's way to the page.
  static void Click(const CDialog& page, int id) {
    HWND button = Item(page, id);
    ASSERT_TRUE(IsWindowEnabled(button)) << "control " << id << " is disabled";
    SendMessageW(button, BM_CLICK, 0, 0);
    Pump();
  }

  static void SetText(const CDialog& page, int id, const std::string& text) {
    SendMessageW(Item(page, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
    Pump();
  }

  // What the control itself shows, as the OS has it.
  static std::string Shown(const CDialog& page, int id) {
    wchar_t text[256] = {};
    GetWindowTextW(Item(page, id), text, 256);
    return Narrow(text);
  }

  static bool Checked(const CDialog& page, int id) {
    return SendMessageW(Item(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }

  static void Select(const CDialog& page, int id, int index) {
    SendMessageW(Item(page, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Pump();
  }

  // Connects with the page's connect button: one box, the button recaptioned.
  void ConnectWith(const CDialog& page) {
    ASSERT_FALSE(connection::IsConnected());
    recorder_->Clear();
    Click(page, connection::kConnectButtonId);
    ASSERT_TRUE(connection::IsConnected()) << "no board on a mapped COM port";
    EXPECT_EQ(TakeBoxes(), (Boxes{{key::kConnectSuccess, key::kWarningUartTitle}}));
    EXPECT_EQ(Shown(page, connection::kConnectButtonId), key::kUartClose);
    connectFrames_ = TakeFrames();
  }

  Boxes TakeBoxes() {
    Boxes boxes;
    for (const RecordedMessage& m : recorder_->Messages()) boxes.emplace_back(m.text, m.title);
    recorder_->Clear();
    return boxes;
  }

  // The frames received since the last call. A frame is traced before it is answered and the
  // pages wait for answers, so what a click sent is there; a short look for stragglers is
  // bounded generously.
  std::vector<std::string> TakeFrames(size_t expected = 0) {
    std::vector<std::string> all = BoardFrames();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (all.size() < taken_ + expected && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
      all = BoardFrames();
    }
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(taken_, all.size())),
                                   all.end());
    taken_ = all.size();
    return fresh;
  }

  ScopedMessageRecorder recorder_;
  size_t taken_ = 0;
  std::vector<std::string> connectFrames_;  // the greeting and what the page read after it
};

using Frames = std::vector<std::string>;
const char kReadCurrents[] = "E0 04 41 01";
constexpr char kAllColours[] = "[led]\r\nr=true\r\ng=true\r\nb=true\r\n";

// ----- LED page

TEST_F(Win32PageTest, LedWriteThenReadBackThroughTheControls) {
  WriteSettings(kAllColours);
  CLedPage page;
  Show(page);
  EXPECT_EQ(Shown(page, led::kConnect), key::kUartOpen);
  EXPECT_EQ(Shown(page, led::kPower), key::kLedOff);
  EXPECT_TRUE(Checked(page, led::kRadioGreen));
  EXPECT_EQ(page.GetCheckedRadioButton(led::kRadioRed, led::kRadioWhite), led::kRadioGreen);
  ConnectWith(page);
  // The connection read green's current for the page.
  EXPECT_EQ(Shown(page, led::kCurrentEdit), "20");
  EXPECT_EQ(SendMessageW(Item(page, led::kSlider), TBM_GETPOS, 0, 0), 20);

  SetText(page, led::kCurrentEdit, "120");
  Click(page, led::kWrite);
  EXPECT_EQ(TakeFrames(2), (Frames{kReadCurrents, "E0 0A 41 02 0A 00 78 00 1E 00"}));
  EXPECT_EQ(SendMessageW(Item(page, led::kSlider), TBM_GETPOS, 0, 0), 120);

  // Red then green: each click reads its own channel of the triple.
  Click(page, led::kRadioRed);
  EXPECT_TRUE(Checked(page, led::kRadioRed));
  EXPECT_FALSE(Checked(page, led::kRadioGreen));
  EXPECT_EQ(page.GetCheckedRadioButton(led::kRadioRed, led::kRadioWhite), led::kRadioRed);
  EXPECT_EQ(Shown(page, led::kCurrentEdit), "10");
  Click(page, led::kRadioGreen);
  EXPECT_EQ(Shown(page, led::kCurrentEdit), "120");
  SetText(page, led::kCurrentEdit, "7");
  Click(page, led::kRead);
  EXPECT_EQ(Shown(page, led::kCurrentEdit), "120");
  EXPECT_EQ(page.GetDlgItemText(led::kCurrentEdit), "120");
  EXPECT_EQ(TakeFrames(3), (Frames{kReadCurrents, kReadCurrents, kReadCurrents}));
  EXPECT_TRUE(TakeBoxes().empty());
}

TEST_F(Win32PageTest, LedLightOffAndOnAgain) {
  WriteSettings(kAllColours);
  CLedPage page;
  Show(page);
  ConnectWith(page);

  Click(page, led::kPower);
  EXPECT_EQ(TakeFrames(1), Frames{"E0 05 41 18 00"});
  EXPECT_EQ(Shown(page, led::kPower), key::kLedOn);
  for (int id : {led::kSlider, led::kCurrentEdit, led::kWrite, led::kRead}) {
    EXPECT_FALSE(IsWindowEnabled(Item(page, id))) << id;
  }
  Click(page, led::kPower);
  EXPECT_EQ(TakeFrames(1), Frames{"E0 05 41 18 01"});
  EXPECT_EQ(Shown(page, led::kPower), key::kLedOff);
  for (int id : {led::kSlider, led::kCurrentEdit, led::kWrite, led::kRead}) {
    EXPECT_TRUE(IsWindowEnabled(Item(page, id))) << id;
  }
  EXPECT_TRUE(TakeBoxes().empty());
}

TEST_F(Win32PageTest, LedCurrentAbove255SaysSoAndWritesNothing) {
  WriteSettings(kAllColours);
  CLedPage page;
  Show(page);
  ConnectWith(page);

  SetText(page, led::kCurrentEdit, "300");
  EXPECT_EQ(TakeBoxes(), (Boxes{{"Please enter an integer between 0 and 255.", "Lumivex"}}));
  Click(page, led::kWrite);
  EXPECT_EQ(Shown(page, led::kCurrentEdit), "255");
  EXPECT_EQ(SendMessageW(Item(page, led::kSlider), TBM_GETPOS, 0, 0), 255);
  for (const std::string& frame : TakeFrames()) {
    EXPECT_NE(frame.substr(0, 11), "E0 0A 41 02") << "a write reached the board: " << frame;
  }
  // Repaints of the slider do not repeat what was said while typing.
  RedrawWindow(Item(page, led::kSlider), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  Pump();
  EXPECT_TRUE(TakeBoxes().empty());
}

TEST_F(Win32PageTest, LedLightListSendsTheChosenColour) {
  WriteSettings(kAllColours);
  CLedPage page;
  Show(page);
  ConnectWith(page);
  EXPECT_EQ(SendMessageW(Item(page, led::kLightList), CB_GETCURSEL, 0, 0), 3);
  Select(page, led::kLightList, 0);
  Click(page, led::kLightConfirm);
  Select(page, led::kLightList, 3);
  Click(page, led::kLightConfirm);
  EXPECT_EQ(TakeFrames(2), (Frames{ClassD({0xE0, 0x06, 0x44, 0x18, 0x01}),
                                   ClassD({0xE0, 0x06, 0x44, 0x18, 0x07})}));
  EXPECT_TRUE(TakeBoxes().empty());
}

TEST_F(Win32PageTest, LedCommandsWithThePortClosedWarn) {
  WriteSettings(kAllColours);
  CLedPage page;
  Show(page);
  Click(page, led::kRadioBlue);  // only selects, without a word
  EXPECT_TRUE(Checked(page, led::kRadioBlue));
  EXPECT_FALSE(Checked(page, led::kRadioGreen));
  EXPECT_TRUE(TakeBoxes().empty());
  for (int id : {led::kWrite, led::kRead, led::kLightConfirm, led::kPower}) {
    Click(page, id);
    EXPECT_EQ(TakeBoxes(), (Boxes{{key::kNotOpen, key::kWarningUartTitle}})) << id;
  }
  EXPECT_TRUE(TakeFrames().empty());
}

TEST_F(Win32PageTest, LedOnlyRedLeavesTheOtherChannelsDisabled) {
  WriteSettings("[led]\r\nr=true\r\n");
  CLedPage page;
  Show(page);
  EXPECT_TRUE(Checked(page, led::kRadioRed));
  for (int id : {led::kRadioRed, led::kRadioGreen, led::kRadioBlue, led::kRadioWhite}) {
    EXPECT_FALSE(IsWindowEnabled(Item(page, id))) << id;
  }
  EXPECT_FALSE(IsWindowVisible(Item(page, led::kLightList)));
  ConnectWith(page);
  EXPECT_EQ(Shown(page, led::kCurrentEdit), "10");
}

// ----- flip page

struct TickCase {
  const char* name;
  std::vector<int> clicks;
  uint8_t x;
  uint8_t y;
};

class FlipTicksTest : public Win32PageTest, public ::testing::WithParamInterface<TickCase> {};

constexpr int kFlipX = 1068;
constexpr int kFlipY = 1069;
constexpr int kFlipDo = 1070;

TEST_P(FlipTicksTest, ApplySendsBothBoxesAsTicked) {
  CFlipPage page;
  Show(page);
  ConnectWith(page);
  for (int id : GetParam().clicks) Click(page, id);
  EXPECT_EQ(Checked(page, kFlipX), GetParam().x == 1);
  EXPECT_EQ(Checked(page, kFlipY), GetParam().y == 1);
  EXPECT_TRUE(TakeFrames().empty());
  Click(page, kFlipDo);
  EXPECT_EQ(TakeFrames(1), Frames{ClassD({0xE0, 0x07, 0x44, 0x13, GetParam().x, GetParam().y})});
  EXPECT_TRUE(TakeBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Clicks, FlipTicksTest,
    ::testing::Values(TickCase{"None", {}, 0, 0}, TickCase{"OnlyX", {kFlipX}, 1, 0},
                      TickCase{"BothThenXUnticked", {kFlipX, kFlipY, kFlipX}, 0, 1}),
    [](const ::testing::TestParamInfo<TickCase>& row) { return std::string(row.param.name); });

// ----- input source page

TEST_F(Win32PageTest, InputSourceConfirmSendsTheSelectedEntry) {
  CInputSourcePage page;
  Show(page);
  constexpr int kList = 1011;
  constexpr int kConfirm = 1012;
  HWND list = Item(page, kList);
  ASSERT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(page.ComboGetText(kList, 0), " HDMI");
  EXPECT_EQ(page.ComboGetText(kList, 1), " VGA");
  Click(page, kConfirm);
  EXPECT_EQ(TakeBoxes(), (Boxes{{key::kNotOpen, key::kWarningUartTitle}}));
  ConnectWith(page);
  Select(page, kList, 1);
  Click(page, kConfirm);
  Select(page, kList, 0);
  Click(page, kConfirm);
  EXPECT_EQ(TakeFrames(2), (Frames{"E0 06 44 08 01 CD", "E0 06 44 08 00 CE"}));
  EXPECT_TRUE(TakeBoxes().empty());
}

// ----- temperature page

TEST_F(Win32PageTest, TemperatureShowsTheValuesAndDashesWhereNone) {
  WriteSettings(kAllColours);
  CTemperaturePage page;
  Show(page);
  const int fields[] = {1013, 1014, 1015, 1017};  // red, green, blue, board
  for (int id : fields) EXPECT_EQ(Shown(page, id), "----") << id;
  ConnectWith(page);
  const std::vector<std::string> shown = {Shown(page, 1013), Shown(page, 1014), Shown(page, 1015),
                                          Shown(page, 1017)};
  EXPECT_EQ(shown, (std::vector<std::string>{"25", "----", "27", "40"}));
  size_t reads = 0;
  for (const std::string& frame : connectFrames_) reads += frame.substr(6, 5) == "44 05" ? 1 : 0;
  EXPECT_EQ(reads, 1u);
  Click(page, 1016);  // read again, every time
  const Frames again = TakeFrames(1);
  EXPECT_EQ(again, Frames{ClassD({0xE0, 0x06, 0x44, 0x05, 0x00})});
  EXPECT_EQ(Shown(page, 1014), "----");
  EXPECT_TRUE(TakeBoxes().empty());
}

// ----- system page

// run_pages.sh gives these cases a board that ends the upgrade with the status their name says.
struct OutcomeCase {
  const char* name;  // Success: status 0; Failed: status 4
  const char* message;
};

class UpgradeOutcomeTest : public Win32PageTest,
                           public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UpgradeOutcomeTest, StartSendsTheNameAndTheOutcomeIsShownOnceTheWorkerEnds) {
  constexpr int kUpgrade = 1032;
  CSystemPage page;
  Show(page);
  ConnectWith(page);
  HWND upgrade = Item(page, kUpgrade);
  HWND connect = Item(page, connection::kConnectButtonId);

  Click(page, kUpgrade);
  // The buttons stay disabled while the board works.
  ASSERT_TRUE(PumpUntil([&] { return !IsWindowEnabled(upgrade); }, 5s));
  EXPECT_FALSE(IsWindowEnabled(connect));
  ASSERT_TRUE(PumpUntil([&] { return !page.IsUpgradeWorkerRunning(); }, 30s));
  ASSERT_TRUE(PumpUntil([&] { return !recorder_->Messages().empty(); }, 5s));
  Pump();
  EXPECT_EQ(TakeBoxes(), (Boxes{{GetParam().message, key::kWarningSystemTitle}}));
  EXPECT_TRUE(IsWindowEnabled(upgrade));
  EXPECT_TRUE(IsWindowEnabled(connect));

  std::vector<uint8_t> start = {0xE0, 0, 0x44, 0x0E};
  for (char c : std::string("KVB03.bin")) start.push_back(static_cast<uint8_t>(c));
  start.push_back(0);
  start[1] = static_cast<uint8_t>(start.size() + 1);
  const Frames frames = TakeFrames(1);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), ClassD(start));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, UpgradeOutcomeTest,
                         ::testing::Values(OutcomeCase{"Success", key::kUpgradeSuccess},
                                           OutcomeCase{"Failed", key::kUpgradeFail}),
                         [](const ::testing::TestParamInfo<OutcomeCase>& row) {
                           return std::string(row.param.name);
                         });

// ----- the pages inside the main window

class Win32PanelTest : public Win32PageTest {
 protected:
  void SetUp() override { board::SetExecutor(&worker_); }
  void TearDown() override {
    panel_.reset();
    board::SetExecutor(nullptr);
    Win32PageTest::TearDown();
  }

  CommandWorker worker_;
  std::unique_ptr<CMainDialog> panel_;
};

TEST_F(Win32PanelTest, ConnectOnTheLedTabThenTheTemperatureTabByKeyboardReadsAndShows) {
  WriteSettings("[dialog]\r\ndlg1=true\r\ndlg3=true\r\n" + std::string(kAllColours));
  panel_ = std::make_unique<CMainDialog>();
  panel_->AttachWorker(&worker_);
  ASSERT_TRUE(panel_->CreateAsWindow());
  Pump();
  HWND window = panel_->GetSafeWnd();
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_EQ(Narrow(title), "Lumivex");
  ASSERT_EQ(panel_->TabCount(), 2);
  EXPECT_TRUE(IsWindowVisible(panel_->m_ledPage.GetSafeWnd()));
  EXPECT_FALSE(IsWindowVisible(panel_->m_temperaturePage.GetSafeWnd()));

  ConnectWith(panel_->m_ledPage);
  EXPECT_EQ(Shown(panel_->m_ledPage, led::kCurrentEdit), "20");
  EXPECT_EQ(connectFrames_.back(), kReadCurrents);

  // The next tab, as the keyboard chooses it.
  HWND tabs = panel_->m_tabCtrl.GetSafeWnd();
  SetFocus(tabs);
  SendMessageW(tabs, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(tabs, WM_KEYUP, VK_RIGHT, 0);
  Pump();
  EXPECT_EQ(panel_->CurrentPage(), 1);
  EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 1);
  EXPECT_TRUE(IsWindowVisible(panel_->m_temperaturePage.GetSafeWnd()));
  EXPECT_FALSE(IsWindowVisible(panel_->m_ledPage.GetSafeWnd()));

  // Its first showing on a connection reads the temperatures once.
  ASSERT_TRUE(PumpUntil([&] { return Shown(panel_->m_temperaturePage, 1013) != "----"; }, 10s));
  const CDialog& page = panel_->m_temperaturePage;
  EXPECT_EQ((std::vector<std::string>{Shown(page, 1013), Shown(page, 1014), Shown(page, 1015),
                                      Shown(page, 1017)}),
            (std::vector<std::string>{"25", "----", "27", "40"}));
  EXPECT_EQ(Shown(page, connection::kConnectButtonId), key::kUartClose);
  EXPECT_EQ(TakeFrames(1), Frames{ClassD({0xE0, 0x06, 0x44, 0x05, 0x00})});
  EXPECT_TRUE(TakeBoxes().empty());
}

}  // namespace
}  // namespace lumivex::ui
