#include <thread>

#include "platform/clock.h"

namespace lumivex::platform {

// Linux sleeps to within the thread's timer slack (50 us by default); there is no coarse
// tick to raise.
void SleepUntil(std::chrono::steady_clock::time_point at) {
  if (std::chrono::steady_clock::now() < at) std::this_thread::sleep_until(at);
}

void EnablePreciseTimers() {}

}  // namespace lumivex::platform
