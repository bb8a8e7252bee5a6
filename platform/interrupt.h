// Ctrl-C and a polite termination request (SIGTERM on Linux; the console's Ctrl-C and close
// events on Windows) turned into a flag that a long-running command checks between steps, so
// that it ends at a step boundary with its output complete instead of being killed mid-line.
//
// Thread safety: Install and Remove on the main thread; the other calls from any thread.
#pragma once

#include <chrono>

namespace lumivex::platform {

// Starts catching the requests. The first request raises the flag and restores the default
// handling, so a second Ctrl-C ends a program that does not stop. False when the handlers
// could not be installed (the defaults stay).
bool InstallInterruptFlag();
// Restores the default handling and lowers the flag.
void RemoveInterruptFlag();
// True once a request has arrived since InstallInterruptFlag.
bool InterruptRequested();
// Sleeps for duration, or less when a request arrives meanwhile; returns InterruptRequested().
bool SleepUnlessInterrupted(std::chrono::nanoseconds duration);

}  // namespace lumivex::platform
