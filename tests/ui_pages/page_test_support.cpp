#include "tests/ui_pages/page_test_support.h"

#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "connection/connection.h"
#include "connection/connection_testing.h"
#include "platform/port_map.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tests/support/virtual_ports.h"
#include "transport/ports.h"

namespace lumivex::ui::test {

namespace {

namespace fs = std::filesystem;
using lumivex::testing::VirtualPortsOnly;

// Keys whose display text the tests compare; each translates to itself.
const char* const kKeys[] = {
    key::kUartOpen,       key::kUartClose,   key::kWarningUartTitle, key::kWarningSystemTitle,
    key::kNotFinded,      key::kConnectFail, key::kConnectSuccess,   key::kFirmwareOld,
    key::kNotOpen,        key::kReadFail,    key::kInvalidFirmware,  key::kInvalidFileName,
    key::kNotFindFile,    key::kNotFindDisk, key::kUpgradeFail,      key::kUpgradeSuccess,
    key::kUpgradeTimeOut,
};

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// One per test process: the virtual ports folder, the program folder with its language file,
// and the application object live until the process ends.
class PagesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/lumivex-ui-pages.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "runtime");
    // Before anything reads the port map or starts a board.
    ::setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const fs::path program = root_ / "program";
    fs::create_directories(program / "Language");
    WriteText(program / "Config.ini", "[themes]\nSolution=Keys\n");
    std::string lang = "[String]\n";
    for (const char* k : kKeys) lang += std::string(k) + "=" + k + "\n";
    WriteText(program / "Language" / "Keys.lang", lang);
    settings::LoadLanguage(program.string() + "/");

    static int argc = 1;
    static char name[] = "ui_pages_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }

  void TearDown() override {
    app_.reset();
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(root_, ignored);
  }

  static fs::path Root() { return root_; }

 private:
  static inline fs::path root_;
  std::unique_ptr<QApplication> app_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new PagesEnvironment);

class SilentPage : public connection::ConnectionPage {
 public:
  void ShowMessage(const std::string& text, const std::string&) override { boxes.push_back(text); }
  void SetConnectCaption(const std::string&) override {}
  std::vector<std::string> boxes;
};

}  // namespace

void ResetOneShotFlags() {
  TemperatureLayoutPending = true;
  TemperatureAutoReadPending = true;
  InputSourceListPending = true;
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void Pump(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

std::vector<Bytes> FramesWithCommand(const boardsim::SimulatedBoard& board, uint16_t command) {
  std::vector<Bytes> found;
  for (const Bytes& frame : board.receivedFrames()) {
    if (frame.size() >= 4 && (frame[2] << 8 | frame[3]) == command) found.push_back(frame);
  }
  return found;
}

void PageTest::SetUp() {
  ResetOneShotFlags();
  const fs::path dir =
      PagesEnvironment::Root() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  fs::create_directories(dir);
  workDir_ = dir.string();
  // The settings file is looked up in the working folder.
  fs::current_path(dir);
  fs::remove_all(platform::VirtualPortsFolder(), ignored);
  connection::SetPortMapReader(VirtualPortsOnly);
}

void PageTest::TearDown() {
  if (connection::IsConnected()) DisconnectElsewhere();
  transport::ClosePort();
  connection::SetPortMapReader(nullptr);
  std::error_code ignored;
  fs::current_path(PagesEnvironment::Root(), ignored);
  fs::remove_all(workDir_, ignored);
  fs::remove_all(platform::VirtualPortsFolder(), ignored);
}

std::unique_ptr<boardsim::SimulatedBoard> PageTest::StartBoard(boardsim::BoardOptions options) {
  auto board = std::make_unique<boardsim::SimulatedBoard>(std::move(options));
  EXPECT_TRUE(board->Start()) << board->error();
  return board;
}

void PageTest::WriteSettings(const std::string& text) {
  WriteText(fs::path(workDir_) / "Lumivex.ini", text);
}

std::string PageTest::SettingsText() const {
  std::ifstream in(fs::path(workDir_) / "Lumivex.ini", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void PageTest::Click(CDialog& page, int id) {
  auto* button = qobject_cast<QAbstractButton*>(page.GetDlgItem(id));
  ASSERT_NE(button, nullptr) << "no button " << id;
  ASSERT_TRUE(button->isEnabled()) << "button " << id << " is disabled";
  button->click();
}

void PageTest::ConnectWith(CDialog& page) {
  ASSERT_FALSE(connection::IsConnected());
  recorder_->Clear();
  Click(page, connection::kConnectButtonId);
  ASSERT_TRUE(connection::IsConnected());
  ASSERT_FALSE(recorder_->Messages().empty());
  EXPECT_EQ(recorder_->Messages().front().text, key::kConnectSuccess);
  EXPECT_EQ(recorder_->Messages().size(), 1u) << recorder_->Messages().back().text;
  EXPECT_EQ(page.GetDlgItemText(connection::kConnectButtonId), key::kUartClose);
  recorder_->Clear();
}

void PageTest::ConnectElsewhere() {
  SilentPage page;
  ASSERT_EQ(connection::ToggleConnection(page), connection::kToggled);
  ASSERT_TRUE(connection::IsConnected());
}

void PageTest::DisconnectElsewhere() {
  SilentPage page;
  if (connection::IsConnected()) connection::ToggleConnection(page);
}

std::vector<std::pair<std::string, std::string>> PageTest::Boxes() {
  std::vector<std::pair<std::string, std::string>> boxes;
  for (const RecordedMessage& m : recorder_->Messages()) boxes.emplace_back(m.text, m.title);
  return boxes;
}

}  // namespace lumivex::ui::test
