// lumivex-panel-probe: the panel as the lumivex program starts it, with a probe inside that
// notes when the first page is shown and painted, then connects through the first page's
// connect button, visits every tab as a user would, and reports on standard output:
//
//   shown_ms=<n> painted_ms=<n> connected=<0|1> tabs_visited=<n> vmhwm_kb=<n>
//
// Times count from argv[1], a steady-clock time in nanoseconds taken by whoever started the
// process just before starting it (from main() when absent). Run with QT_QPA_PLATFORM=offscreen
// against a board listed in the port map, in a folder whose Lumivex.ini enables the tabs.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "connection/connection.h"
#if __has_include("connection/connection_testing.h")
#include "connection/connection_testing.h"
#endif
#include "platform/port_map.h"
#include "ui/app.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/shell.h"
#include "ui/main_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;
using lumivex::ui::CDialog;
using lumivex::ui::CMainDialog;

Clock::time_point StartedAt;

double SinceStart(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(t - StartedAt).count();
}

long PeakRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

class Probe : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show || event->type() == QEvent::Paint) {
      CMainDialog* dialog = lumivex::ui::theApp.MainDialog();
      if (dialog != nullptr && dialog->TabCount() > 0 && watched == dialog->Pages()[0]) {
        const Clock::time_point now = Clock::now();
        if (event->type() == QEvent::Show && !shown) shown = now;
        if (event->type() == QEvent::Paint && !painted) painted = now;
      }
    }
    return QObject::eventFilter(watched, event);
  }

  // Runs inside the main window's modal loop.
  void Drive() {
    CMainDialog* dialog = lumivex::ui::theApp.MainDialog();
    QElapsedTimer waited;
    waited.start();
    while ((!shown || !painted) && waited.elapsed() < 5000) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (dialog == nullptr || dialog->TabCount() == 0) {
      Finish(dialog);
      return;
    }
    // The user presses the connect button of the first page.
    if (auto* button = qobject_cast<QAbstractButton*>(
            dialog->Pages()[0]->GetDlgItem(lumivex::connection::kConnectButtonId))) {
      button->click();
    }
    connected = lumivex::connection::IsConnected();
    QApplication::processEvents();
    // Then every tab in turn, as a click on the tab does it.
    for (int i = 0; i < dialog->TabCount(); ++i) {
      dialog->TabCtrl().SetCurSel(i);
      dialog->OnSelChangeTab();
      QElapsedTimer settle;
      settle.start();
      while (settle.elapsed() < 100) QApplication::processEvents(QEventLoop::AllEvents, 10);
      ++tabsVisited;
    }
    Finish(dialog);
  }

  void Finish(CMainDialog* dialog) {
    const long rss = PeakRssKb();
    std::printf("shown_ms=%.2f painted_ms=%.2f connected=%d tabs_visited=%d vmhwm_kb=%ld\n",
                shown ? SinceStart(*shown) : -1.0, painted ? SinceStart(*painted) : -1.0,
                connected ? 1 : 0, tabsVisited, rss);
    std::fflush(stdout);
    if (dialog != nullptr) dialog->OnCancel();
  }

  std::optional<Clock::time_point> shown;
  std::optional<Clock::time_point> painted;
  bool connected = false;
  int tabsVisited = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  StartedAt =
      argc > 1 ? Clock::time_point(std::chrono::nanoseconds(std::atoll(argv[1]))) : Clock::now();
  // The program's own start, as main.cpp makes it.
  return lumivex::ui::RunApplication(argc, argv, [] {
    // The connection's boxes are recorded: nobody is there to dismiss them.
    lumivex::ui::SetMessagePresenter(std::make_unique<lumivex::ui::MessageRecorder>());
    // Only the virtual ports: a search that missed the board must not greet the machine's own
    // serial ports (a console on ttyS0).
    lumivex::connection::SetPortMapReader([] {
      lumivex::platform::PortMapRoots roots;
      roots.portsFolder = lumivex::platform::VirtualPortsFolder();
      roots.ttyClass = "/nonexistent";
      return lumivex::platform::ReadPortMap(roots);
    });
    Probe probe;
    qApp->installEventFilter(&probe);
    QTimer::singleShot(0, &probe, [&probe] { probe.Drive(); });
    lumivex::ui::theApp.InitInstance();
  });
}
