// Renders the main window with its status line (not connected, connected, while a command
// waits) and the serial traffic window to PNG files in LUMIVEX_SCREENSHOT_DIR (default: the
// working folder), for a look. Run by hand: lumivex-panel-screenshots.
#include <QPixmap>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "board/temperatures.h"
#include "protocol/commands.h"
#include "tests/ui_panel/panel_support.h"
#include "ui/traffic_window.h"

namespace lumivex::ui::test {
namespace {

using namespace std::chrono_literals;

std::filesystem::path OutputDir() {
  const char* dir = std::getenv("LUMIVEX_SCREENSHOT_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::current_path();
}

void Save(QWidget& window, const std::string& name) {
  const std::filesystem::path path = OutputDir() / name;
  ASSERT_TRUE(window.grab().save(QString::fromStdString(path.string()))) << path;
  std::printf("%s\n", path.c_str());
}

TEST_F(PanelTest, Screenshots) {
  boardsim::BoardOptions options;
  auto board = StartBoard(options);
  CMainDialog& panel = OpenPanel("[dialog]\ndlg3=true\ndlg4=true\n");
  Pump(100ms);
  Save(panel, "panel-not-connected.png");
  ConnectElsewhere();
  panel.RefreshStatusLine();
  Pump(300ms);
  Save(panel, "panel-connected.png");

  panel.OpenTrafficWindow();
  board::ReadTemperatures();
  worker_.Run("Busy.ReadTemperatures", [] {
    protocol::SetFlip(1, 0);
    uint16_t r = 0, g = 0, b = 0;
    protocol::ReadLedCurrents(r, g, b);
  });
  Pump(300ms);
  Save(*panel.TrafficWindow(), "traffic-window.png");

  options.silent = true;
  board->SetOptions(options);
  QTimer::singleShot(1500, [&] { Save(panel, "panel-busy.png"); });
  board::ReadTemperatures();
}

}  // namespace
}  // namespace lumivex::ui::test
