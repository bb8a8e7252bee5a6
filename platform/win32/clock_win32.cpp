#include <windows.h>
// windows.h first: timeapi.h needs its types.
#include <timeapi.h>

#include <mutex>

#include "platform/clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace lumivex::platform {
namespace {

std::once_flag PeriodRaised;

void RaiseTimerPeriod() {
  std::call_once(PeriodRaised, [] {
    // The period stays raised until the process ends, which lowers it again.
    ::timeBeginPeriod(1);
  });
}

// One timer per thread, so that waits on different threads never share a due time.
class ThreadTimer {
 public:
  ThreadTimer() {
    handle_ = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                       TIMER_ALL_ACCESS);
    if (handle_ == nullptr) {
      // Before Windows 10 1803 (and on Wine versions without it) the flag is refused: an
      // ordinary timer then follows the system's timer period, which 1 ms makes fine enough.
      RaiseTimerPeriod();
      handle_ = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
  }
  ~ThreadTimer() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;

  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace

void SleepUntil(std::chrono::steady_clock::time_point at) {
  thread_local ThreadTimer timer;
  for (;;) {
    const auto left = at - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    // Due times count in 100 ns units; negative means relative, so a change of the wall clock
    // never moves it. Round up, so the wait never ends before at.
    const auto units =
        (std::chrono::duration_cast<std::chrono::nanoseconds>(left).count() + 99) / 100;
    if (timer.handle() == nullptr) {
      RaiseTimerPeriod();
      ::Sleep(static_cast<DWORD>((units + 9999) / 10000));
      continue;
    }
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(units);
    if (!::SetWaitableTimer(timer.handle(), &due, 0, nullptr, nullptr, FALSE)) {
      ::Sleep(0);
      continue;
    }
    ::WaitForSingleObject(timer.handle(), INFINITE);
  }
}

void EnablePreciseTimers() {
  RaiseTimerPeriod();
}

}  // namespace lumivex::platform
