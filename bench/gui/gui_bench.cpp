// lumivex-gui-bench: the panel's GUI thread while commands run, and the traffic window's cost.
//
//   lumivex-gui-bench [--quick]
//
// Stall: a timer on the GUI thread fires every 2 ms while one command runs through the panel's
// worker (as the pages run it); the longest time between two firings, or between the start or
// end of the command and the nearest firing, is the longest the window could not paint or
// answer the desktop. Target: under 50 ms. The same command run in place on the GUI thread
// (as before the worker) is shown beside it.
//
// Trace hook: frames sent through the link to a port whose writes complete at once, so the
// figure is the link's own cost per frame: never opened, open (every frame formatted into a
// line of the window) and closed again.
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "board/executor.h"
#include "connection/connection.h"
#include "connection/connection_testing.h"
#include "platform/port_map.h"
#include "protocol/commands.h"
#include "tools/boardsim/board.h"
#include "transport/link.h"
#include "transport/link_testing.h"
#include "transport/ports.h"
#include "ui/framework/command_worker.h"
#include "ui/traffic_window.h"

namespace {

using namespace lumivex;
using Clock = std::chrono::steady_clock;

constexpr double kStallTargetMs = 50.0;

class QuietPage : public connection::ConnectionPage {
 public:
  void ShowMessage(const std::string&, const std::string&) override {}
  void SetConnectCaption(const std::string&) override {}
};

std::vector<platform::PortMapEntry> VirtualPortsOnly() {
  platform::PortMapRoots roots;
  roots.portsFolder = platform::VirtualPortsFolder();
  roots.ttyClass = roots.portsFolder + "/no-hardware";
  return platform::ReadPortMap(roots);
}

struct Command {
  const char* name;
  std::function<void()> run;
};

std::vector<Command> Commands() {
  return {
      {"ReadTemperatures",
       [] {
         int16_t r, g, b, board;
         protocol::ReadTemperatures(r, g, b, board);
       }},
      {"SetLedPower", [] { protocol::SetLedPower(1); }},
      {"ReadLedCurrents",
       [] {
         uint16_t r, g, b;
         protocol::ReadLedCurrents(r, g, b);
       }},
      {"WriteLedCurrents", [] { protocol::WriteLedCurrents(100, 110, 120); }},
      {"SetLightColour", [] { protocol::SetLightColour(7); }},
      {"SetInputSource", [] { protocol::SetInputSource(1); }},
      {"SetFlip", [] { protocol::SetFlip(1, 0); }},
      {"FirmwareVersion", [] { protocol::IsFirmwareAtLeast(0); }},
  };
}

struct Stall {
  double commandMs = 0;
  double longestMs = 0;
  int ticks = 0;
};

// Runs run on the GUI thread while a 2 ms timer counts how often the thread comes round.
Stall Measure(const std::function<void()>& run) {
  QElapsedTimer clock;
  std::vector<qint64> ticks;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(2);
  QObject::connect(&ticker, &QTimer::timeout, [&] { ticks.push_back(clock.nsecsElapsed()); });
  clock.start();
  ticker.start();
  run();
  const qint64 end = clock.nsecsElapsed();
  ticker.stop();
  qint64 last = 0;
  qint64 longest = 0;
  for (qint64 t : ticks) {
    longest = std::max(longest, t - last);
    last = t;
  }
  longest = std::max(longest, end - last);
  return {static_cast<double>(end) / 1e6, static_cast<double>(longest) / 1e6,
          static_cast<int>(ticks.size())};
}

class InstantPort : public transport::LinkPortSide {
 public:
  uint32_t Write(const uint8_t*, uint32_t count) override {
    writeDone = 1;
    return count;
  }
};
InstantPort Instant;

// Nanoseconds per frame sent through the link; the best of three runs, so that a busy
// machine's hiccups do not count.
double LinkNsPerFrame(int frames) {
  const uint8_t frame[] = {0xE0, 0x05, 0x44, 0x05, 0xD2};
  double best = 1e18;
  for (int run = 0; run < 3; ++run) {
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) transport::LinkSend(frame, sizeof frame);
    best = std::min(
        best, std::chrono::duration<double, std::nano>(Clock::now() - start).count() / frames);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A ports folder of its own: no other board is seen, and none of ours is left behind.
  char folder[] = "/tmp/lumivex-gui-bench.XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  ::setenv("XDG_RUNTIME_DIR", folder, 1);
  QApplication app(argc, argv);

  boardsim::SimulatedBoard board;
  if (!board.Start()) {
    std::fprintf(stderr, "board: %s\n", board.error().c_str());
    return 1;
  }
  connection::SetPortMapReader(VirtualPortsOnly);
  QuietPage page;
  if (connection::ToggleConnection(page) != connection::kToggled) {
    std::fprintf(stderr, "no connection to the simulated board\n");
    return 1;
  }

  ui::CommandWorker worker;
  board::InlineExecutor inPlace;
  std::printf("GUI thread stall per command (timer every 2 ms; target < %.0f ms)\n",
              kStallTargetMs);
  std::printf("%-18s %-9s %12s %12s %8s %14s  %s\n", "command", "board", "command ms", "longest ms",
              "ticks", "in place ms", "target");
  double worst = 0;
  for (const bool silent : {false, true}) {
    boardsim::BoardOptions options;
    options.silent = silent;
    board.SetOptions(options);
    for (const Command& command : Commands()) {
      if (quick && silent && std::strcmp(command.name, "ReadTemperatures") != 0) continue;
      const Stall onWorker = Measure([&] { worker.Run("Busy.Bench", command.run); });
      // The in-place figure is the whole command; against a silent board only one is run.
      const Stall inPlaceStall = (silent && std::strcmp(command.name, "ReadTemperatures") != 0)
                                     ? Stall{}
                                     : Measure([&] { inPlace.Run("Busy.Bench", command.run); });
      worst = std::max(worst, onWorker.longestMs);
      std::printf("%-18s %-9s %12.1f %12.2f %8d %14s  %s\n", command.name,
                  silent ? "silent" : "answering", onWorker.commandMs, onWorker.longestMs,
                  onWorker.ticks,
                  inPlaceStall.commandMs > 0
                      ? std::to_string(static_cast<int>(inPlaceStall.longestMs)).c_str()
                      : "-",
                  onWorker.longestMs < kStallTargetMs ? "met" : "MISSED");
    }
  }
  std::printf("longest stall overall: %.2f ms\n\n", worst);
  board.SetOptions({});
  QuietPage closing;
  connection::ToggleConnection(closing);
  board.Stop();

  // The trace hook.
  transport::SetLinkPortResolver([]() -> transport::LinkPortSide* { return &Instant; });
  const int frames = quick ? 20000 : 200000;
  LinkNsPerFrame(frames / 10);  // warm up
  const double never = LinkNsPerFrame(frames);
  double open = 0;
  double shown = 0;
  {
    ui::CTrafficWindow traffic;
    traffic.CreateAsWindow();
    // The window takes its lines a few times a second; here, every 1000 frames. The link's
    // share (formatting the line on the exchanging thread) and the window's (showing it on
    // the GUI thread) are timed apart.
    const uint8_t frame[] = {0xE0, 0x05, 0x44, 0x05, 0xD2};
    Clock::duration link{};
    Clock::duration window{};
    for (int i = 0; i < frames; ++i) {
      const auto start = Clock::now();
      transport::LinkSend(frame, sizeof frame);
      const auto sent = Clock::now();
      link += sent - start;
      if (i % 1000 == 999) {
        traffic.TakeNow();
        window += Clock::now() - sent;
      }
    }
    open = std::chrono::duration<double, std::nano>(link).count() / frames;
    shown = std::chrono::duration<double, std::nano>(window).count() / frames;
    traffic.Close();
  }
  const double closed = LinkNsPerFrame(frames);
  transport::SetLinkPortResolver(nullptr);
  std::printf("Trace hook cost per frame sent (%d frames, writes complete at once)\n", frames);
  std::printf("%-34s %10.0f ns\n", "traffic window never opened", never);
  std::printf("%-34s %10.0f ns\n", "traffic window open: on the link", open);
  std::printf("%-34s %10.0f ns\n", "traffic window open: on the GUI", shown);
  std::printf("%-34s %10.0f ns\n", "traffic window opened, then closed", closed);
  std::printf("(one frame of 5 bytes takes %.0f ns on the wire at 115200 baud)\n",
              5 * 10 * 1e9 / 115200);

  std::filesystem::remove_all(folder);
  return worst < kStallTargetMs ? 0 : 2;
}
