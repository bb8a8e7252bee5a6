// Windows: a console control handler (Ctrl-C, Ctrl-Break, the console window closing) that
// sets an atomic flag and signals an event that a sleeping thread waits on. The handler runs
// on a thread of its own that the system starts, so it may use any call.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/interrupt.h"

namespace lumivex::platform {

namespace {

std::atomic<bool> Requested{false};
// Made once and kept for the whole process: the handler may still run while Remove runs.
HANDLE WakeEvent = nullptr;
std::atomic<bool> Installed{false};

BOOL WINAPI OnControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      break;
    default:
      return FALSE;
  }
  // The first request is ours; a second one meets the default handling and ends the program.
  if (Requested.exchange(true)) return FALSE;
  if (WakeEvent != nullptr) ::SetEvent(WakeEvent);
  // For a closing console the system ends the process when the handler returns: give the
  // command a moment to finish its line first.
  if (type == CTRL_CLOSE_EVENT) ::Sleep(2000);
  return TRUE;
}

}  // namespace

bool InstallInterruptFlag() {
  if (WakeEvent == nullptr) {
    WakeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (WakeEvent == nullptr) return false;
  }
  ::ResetEvent(WakeEvent);
  Requested.store(false);
  if (!::SetConsoleCtrlHandler(OnControl, TRUE)) return false;
  Installed.store(true);
  return true;
}

void RemoveInterruptFlag() {
  if (!Installed.exchange(false)) return;
  ::SetConsoleCtrlHandler(OnControl, FALSE);
  Requested.store(false);
  if (WakeEvent != nullptr) ::ResetEvent(WakeEvent);
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
    const DWORD wait = static_cast<DWORD>(std::min<long long>(left.count(), 60'000));
    if (WakeEvent != nullptr) {
      ::WaitForSingleObject(WakeEvent, wait);
    } else {
      ::Sleep(std::min<DWORD>(wait, 50));
    }
  }
  return Requested.load();
}

}  // namespace lumivex::platform
