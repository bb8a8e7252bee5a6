// Linux: SIGINT and SIGTERM handlers that set an atomic flag and write one byte into a pipe,
// the only async-signal-safe ways to tell a sleeping thread.
#include "platform/interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace lumivex::platform {

namespace {

std::atomic<bool> Requested{false};
// Written by the handler, polled by SleepUnlessInterrupted. Kept for the whole process once
// made: a handler may still run on another thread while Remove restores the defaults.
int WakePipe[2] = {-1, -1};
bool Installed = false;

static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set inside a signal handler");

extern "C" void OnInterrupt(int /*signal*/) {
  const int saved = errno;
  Requested.store(true);
  if (WakePipe[1] >= 0) {
    const char byte = 1;
    // A full pipe already wakes the sleeper; nothing is lost by a failed write.
    [[maybe_unused]] const ssize_t written = ::write(WakePipe[1], &byte, 1);
  }
  errno = saved;
}

bool MakePipe() {
  if (WakePipe[0] >= 0) return true;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  WakePipe[0] = fds[0];
  WakePipe[1] = fds[1];
  return true;
}

void Drain() {
  char buffer[64];
  while (::read(WakePipe[0], buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

bool InstallInterruptFlag() {
  if (!MakePipe()) return false;
  Drain();
  Requested.store(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: a second request meets the default handling and ends the program.
  // SA_RESTART: reads and writes of the serial line do not fail with EINTR on the first one.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  if (::sigaction(SIGINT, &action, nullptr) != 0) return false;
  if (::sigaction(SIGTERM, &action, nullptr) != 0) {
    ::signal(SIGINT, SIG_DFL);
    return false;
  }
  Installed = true;
  return true;
}

void RemoveInterruptFlag() {
  if (!Installed) return;
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  Installed = false;
  Requested.store(false);
  if (WakePipe[0] >= 0) Drain();
}

bool InterruptRequested() {
  return Requested.load();
}

bool SleepUnlessInterrupted(std::chrono::nanoseconds duration) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + duration;
  while (!Requested.load()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    if (WakePipe[0] < 0) {
      // No pipe to wake on: short naps keep the answer to a request prompt.
      ::usleep(static_cast<useconds_t>(std::min<long long>(left.count(), 50) * 1000));
      continue;
    }
    pollfd fd{WakePipe[0], POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
  }
  return Requested.load();
}

}  // namespace lumivex::platform
