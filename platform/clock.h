// Waits on the steady clock that keep their length whatever the system's timer tick.
#pragma once

#include <chrono>

namespace lumivex::platform {

// Sleeps until at, or a little after it; returns at once when at has passed. Sleeps are as
// fine as the system allows (on Windows a high-resolution waitable timer, not the 15.6 ms
// tick), so a caller that spins the last stretch spins only tens of microseconds.
void SleepUntil(std::chrono::steady_clock::time_point at);

// Makes every timed wait of the process fine-grained, also the ones that do not pass through
// SleepUntil (condition variables, Sleep): on Windows the timer period becomes 1 ms for the
// life of the process. Nothing to do elsewhere. Call it once, early in main.
void EnablePreciseTimers();

}  // namespace lumivex::platform
