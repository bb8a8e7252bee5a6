// A seam for tests of the serial device; production code does not include this header.
#pragma once

#include <functional>

namespace lumivex::platform {

// The driver's line and modem counters, as a serial driver keeps them (TIOCGICOUNT).
struct DriverCounters {
  int cts = 0, dsr = 0, rng = 0, dcd = 0, frame = 0, overrun = 0, parity = 0, brk = 0,
      bufOverrun = 0;
};

// Stands in for the driver's counters of every device opened from now on: source fills them
// for the device's descriptor and returns true, or returns false for a driver that keeps none.
// Pseudo-terminals keep none, so this is how a test gives the device a line on which breaks
// and line errors are counted. Empty (the driver's own counters) by default. Install it before
// the device opens and remove it after the device has closed.
void SetDriverCountersForTesting(std::function<bool(int fd, DriverCounters&)> source);

}  // namespace lumivex::platform
