// The temperature history window: it reads through the board layer while open and connected
// and stops when closed; what it keeps is saved as the log's CSV and drawn with its gaps and
// its limit line.
#include <QApplication>
#include <QFile>
#include <QImage>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/executor.h"
#include "connection/connection.h"
#include "protocol/commands.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tests/ui_pages/page_test_support.h"
#include "ui/temperature_history_window.h"

namespace lumivex::ui::test {
namespace {

using namespace std::chrono_literals;
using board::TemperatureReading;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// An executor that says it is busy, as the panel's worker does while a command runs.
class BusyExecutor final : public board::Executor {
 public:
  void Run(std::string_view, const std::function<void()>& work) override { work(); }
  bool Busy() const override { return busy; }
  bool busy = true;
};

class HistoryWindowTest : public PageTest {};

TEST_F(HistoryWindowTest, ReadsWhileOpenAndConnectedWaitsForIdleAndStopsWhenClosed) {
  boardsim::BoardOptions options;
  options.fixedTemperatures = boardsim::Temperatures{25, -100, 27, 40};
  auto board = StartBoard(options);
  ConnectElsewhere();
  const auto reads = [&] {
    return FramesWithCommand(*board, protocol::command::kReadTemperatures).size();
  };

  CTemperatureHistoryWindow window;
  // Another command is under way: the window waits, it does not queue behind it.
  BusyExecutor busy;
  board::SetExecutor(&busy);
  window.Open(nullptr);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isModal());
  Pump(600ms);
  EXPECT_EQ(reads(), 0u);
  EXPECT_TRUE(window.History().empty());
  busy.busy = false;
  ASSERT_TRUE(PumpUntil([&] { return window.History().size() == 1; }, 5s));
  board::SetExecutor(nullptr);

  window.SetInterval(0);  // 2 s
  ASSERT_TRUE(PumpUntil([&] { return window.History().size() == 2; }, 6s));
  const auto& history = window.History();
  const auto step = history.at(1).steady - history.at(0).steady;
  EXPECT_GE(step, 1900ms);
  EXPECT_LE(step, 3000ms);
  const TemperatureReading last = history.back().Reading();
  EXPECT_EQ(last.red, 25);
  EXPECT_FALSE(last.green);
  EXPECT_EQ(last.blue, 27);
  EXPECT_EQ(last.board, 40);
  const std::vector<PlotLine>& legend = window.Plot()->Lines();
  ASSERT_EQ(legend.size(), 4u);
  EXPECT_EQ(legend[0].latest, "25 °C");
  EXPECT_EQ(legend[1].latest, "----");

  window.close();
  EXPECT_FALSE(window.IsReading());
  const std::size_t closedAt = reads();
  Pump(2500ms);
  EXPECT_EQ(reads(), closedAt) << "the window read on after it was closed";

  // Reopened, it goes on with the same history; the pause is a gap in the line.
  window.Open(nullptr);
  ASSERT_TRUE(PumpUntil([&] { return window.History().size() == 3; }, 5s));
  EXPECT_FALSE(window.History().back().continues);
  window.close();
}

TEST_F(HistoryWindowTest, WithoutAConnectionItSaysSoAndReadsNothing) {
  auto board = StartBoard();
  CTemperatureHistoryWindow window;
  window.Open(nullptr);
  Pump(300ms);
  EXPECT_TRUE(window.History().empty());
  EXPECT_EQ(window.StatusText(), settings::Translate(key::kHistoryNotConnected));
  EXPECT_TRUE(FramesWithCommand(*board, protocol::command::kReadTemperatures).empty());
  window.close();
}

// A ten-minute history at 5 s: red climbs from 40 to 75, the board goes silent from minute 4 to
// minute 5, and a limit of 65 degrees is set.
void FeedTenMinutes(CTemperatureHistoryWindow& window, board::SteadyTime t0) {
  const board::WallTime wall0 = std::chrono::system_clock::now();
  for (int i = 0; i <= 120; ++i) {
    const auto at = t0 + i * 5s;
    const double minute = i * 5 / 60.0;
    TemperatureReading reading;
    if (minute < 4.0 || minute > 5.0) {
      reading.red = static_cast<int16_t>(40 + 35 * i / 120);
      reading.green = static_cast<int16_t>(35 + 20 * i / 120);
      reading.blue = static_cast<int16_t>(33 + 10 * i / 120);
      reading.board = 38;
      reading.answered = true;
    }
    window.RecordReading(reading, at, wall0 + (at - t0));
  }
}

int CountColour(const QImage& image, QRect area, QRgb colour) {
  int count = 0;
  area = area.intersected(image.rect());
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++count;
    }
  }
  return count;
}

TEST_F(HistoryWindowTest, SavedCsvGapsAndTheLimitLine) {
  CTemperatureHistoryWindow window;
  window.Open(nullptr);
  window.OnCancel();  // fed by hand: no reading of its own
  window.show();
  FeedTenMinutes(window, board::SteadyTime{} + 1h);
  window.SetLimit(65);
  QApplication::processEvents();

  // The status line names the LED values over the limit; the board's own value is no LED.
  const std::string overLimit = settings::Translate(key::kHistoryOverLimit) +
                                " (65 °C): " + settings::Translate(key::kHistoryRed) + " 75 °C";
  EXPECT_EQ(window.StatusText(), overLimit);
  window.SetLimit(80);
  EXPECT_EQ(window.StatusText(), settings::Translate(key::kHistoryReadings) + ": 121");
  window.SetLimit(65);

  const std::string path = workDir_ + "/history.csv";
  ASSERT_TRUE(window.SaveCsv(path));
  const std::string csv = ReadFile(path);
  EXPECT_EQ(csv, window.History().Csv());
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "time,elapsed_s,red,green,blue,board");
  int empty = 0, rows = 0;
  while (std::getline(lines, line)) {
    ++rows;
    if (line.ends_with(",,,,")) ++empty;
  }
  EXPECT_EQ(rows, 121);
  EXPECT_EQ(empty, 13) << "the readings of minute 4 to 5";
  EXPECT_FALSE(window.SaveCsv(workDir_ + "/no-such-folder/history.csv"));
  EXPECT_EQ(window.StatusText(), overLimit) << "a failed save hid the limit";

  CPlotCtrl* plot = window.Plot();
  const QImage image = plot->GetSafeWnd()->grab().toImage();
  const Rect plotArea = plot->PlotArea();
  const QRect area(plotArea.x, plotArea.y, plotArea.width, plotArea.height);
  const auto column = [&](double fromMinute, double toMinute) {
    const int left = plot->XToPixel(fromMinute);
    const int right = plot->XToPixel(toMinute);
    return QRect(left, area.top() + 1, right - left + 1, area.height() - 2);
  };
  const QRgb red = history::kRedLine;
  // Within the silence: no line at all; on either side: the line.
  EXPECT_EQ(CountColour(image, column(4.1, 4.9), red), 0);
  EXPECT_GT(CountColour(image, column(3.0, 3.9), red), 0);
  EXPECT_GT(CountColour(image, column(5.1, 6.0), red), 0);
  // The limit: a dashed line across the plot at 65 degrees.
  const int limitRow = plot->YToPixel(65);
  const int dashes = CountColour(image, QRect(area.left(), limitRow, area.width(), 1), 0xE00080);
  EXPECT_GT(dashes, area.width() / 3);
  EXPECT_EQ(CountColour(image, QRect(area.left(), limitRow + 3, area.width(), 1), 0xE00080), 0);

  const QString shot = QStringLiteral(LUMIVEX_SHOT_DIR "/history-10min.png");
  EXPECT_TRUE(window.grab().save(shot)) << shot.toStdString();

  window.Clear();
  EXPECT_TRUE(window.History().empty());
  EXPECT_EQ(window.Plot()->Lines()[0].latest, "----");
  window.close();
}

}  // namespace
}  // namespace lumivex::ui::test
