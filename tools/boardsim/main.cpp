// lumivex-boardsim: a simulated light engine that answers until SIGINT or SIGTERM.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <ctime>

#include "tools/boardsim/board.h"
#include "tools/boardsim/command_line.h"

int main(int argc, char** argv) {
  using namespace lumivex::boardsim;
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), line, error)) {
    std::fprintf(stderr, "lumivex-boardsim: %s\n\n%s", error.c_str(), Usage().c_str());
    return 2;
  }
  if (line.help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }

  // Blocked before the board's thread starts, so that only sigtimedwait below takes them. A
  // shell starts background jobs with SIGINT ignored, which would make the board unstoppable
  // by it: the defaults are restored first.
  for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  SimulatedBoard board(line.options);
  if (!board.Start(line.comNumber)) {
    std::fprintf(stderr, "lumivex-boardsim: %s\n", board.error().c_str());
    return 1;
  }
  std::printf("lumivex-boardsim: COM%d -> %s at %u baud\n", board.comNumber(),
              board.slavePath().c_str(), line.options.baud);
  std::fflush(stdout);

  const timespec tick{0, 200'000'000};
  for (;;) {
    if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) break;
    if (board.hungUp()) {
      std::fprintf(stderr, "lumivex-boardsim: hung up after %llu frames\n",
                   static_cast<unsigned long long>(board.counters().frames));
      break;
    }
  }
  board.Stop();
  return 0;
}
