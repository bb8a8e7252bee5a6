// lumivex-history-bench: the temperature history window holding 24 hours of readings at 2 s
// (43,200), drawn at the window's own size for each time range, on Qt's offscreen platform;
// and the memory those readings take.
//   lumivex-history-bench [repetitions]   (default 200)
#include <time.h>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "board/temperature_history.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/temperature_history_window.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// CPU time of this thread: on a machine shared with other work, wall time measures the others.
double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Resident memory of the process in bytes, from /proc/self/statm.
long long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

lumivex::board::TemperatureReading Reading(std::size_t i) {
  // A warm-up curve with slow wander; every 500th reading the board is silent.
  lumivex::board::TemperatureReading r;
  if (i % 500 == 499) return r;
  const double t = static_cast<double>(i);
  const double warm = 1 - std::exp(-t / 900);
  r.red = static_cast<int16_t>(25 + 45 * warm + 3 * std::sin(t / 300));
  r.green = static_cast<int16_t>(25 + 35 * warm + 2 * std::sin(t / 250));
  r.blue = static_cast<int16_t>(25 + 30 * warm + 2 * std::cos(t / 400));
  r.board = static_cast<int16_t>(30 + 10 * warm);
  r.answered = true;
  return r;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setFont(lumivex::ui::DialogFont());
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  using namespace lumivex;

  // Memory: a bare history filled with a day of readings.
  const long long before = ResidentBytes();
  auto bare = std::make_unique<board::TemperatureHistory>();
  const board::SteadyTime t0 = Clock::now();
  const board::WallTime wall0 = std::chrono::system_clock::now();
  for (std::size_t i = 0; i < board::kDayOfReadings; ++i) {
    bare->Add(t0 + i * 2s, wall0 + i * 2s, Reading(i));
  }
  const long long after = ResidentBytes();
  {
    // The reduction alone: four channels of the whole day to the columns of a plot.
    std::vector<board::PlotColumn> columns(524);
    std::vector<double> ms;
    for (int k = 0; k < repetitions; ++k) {
      const auto start = Clock::now();
      for (std::size_t c = 0; c < board::kTemperatureChannels; ++c) {
        bare->Decimate(static_cast<board::TemperatureChannel>(c), bare->at(0).steady,
                       bare->back().steady, columns);
      }
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("reduction of 24 h, 4 channels to 524 columns: median %.3f ms\n",
                ms[ms.size() / 2]);
  }
  std::printf("readings kept: %zu (24 h at 2 s)\n", bare->size());
  std::printf("memory: %zu bytes a reading, %.2f MB resident growth for 24 h\n",
              sizeof(board::TemperatureHistory::Sample),
              static_cast<double>(after - before) / (1024.0 * 1024.0));
  bare.reset();

  ui::CTemperatureHistoryWindow window;
  window.Open(nullptr);
  window.OnCancel();  // fed here, not by the board
  window.show();
  for (std::size_t i = 0; i < board::kDayOfReadings; ++i) {
    window.RecordReading(Reading(i), t0 + i * 2s, wall0 + i * 2s);
  }
  window.SetLimit(65);
  QWidget* plot = window.Plot()->GetSafeWnd();
  const ui::Rect area = window.Plot()->PlotArea();
  QImage image(plot->size(), QImage::Format_ARGB32_Premultiplied);
  std::printf("plot: %dx%d pixels (plot area %dx%d), %d repetitions\n", plot->width(),
              plot->height(), area.width, area.height, repetitions);
  std::printf("%-16s %12s %12s %12s %12s\n", "range", "wall median", "wall p95", "CPU median",
              "CPU p95");

  const struct {
    const char* name;
    ui::history::Range range;
  } ranges[] = {{"last 10 minutes", ui::history::Range::kLast10Minutes},
                {"last hour", ui::history::Range::kLastHour},
                {"whole session", ui::history::Range::kSession}};
  for (const auto& r : ranges) {
    window.SetRange(r.range);
    std::vector<double> ms, cpu;
    for (int k = 0; k < repetitions; ++k) {
      const auto start = Clock::now();
      const double cpuStart = ThreadCpuMs();
      plot->render(&image);
      cpu.push_back(ThreadCpuMs() - cpuStart);
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    const std::size_t p95 = std::min(ms.size() - 1, ms.size() * 95 / 100);
    std::printf("%-16s %12.3f %12.3f %12.3f %12.3f\n", r.name, ms[ms.size() / 2], ms[p95],
                cpu[cpu.size() / 2], cpu[p95]);
  }
  window.close();
  return 0;
}
