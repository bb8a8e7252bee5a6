// Seams for tests and benchmarks of the link; production code never includes this header.
#pragma once

#include <chrono>

#include "transport/link.h"

namespace lumivex::transport {

// The port that the program's link sends through. By default this is
// PortTable[CurrentPortNumber]; a test may put a fake port in its place (nullptr restores it).
using LinkPortResolver = LinkPortSide* (*)();
void SetLinkPortResolver(LinkPortResolver resolver);

// The step of LinkSend and LinkReceive: one millisecond. Tests that run the protocol's silent
// paths may shorten it so that a wait of fifty tries does not take seconds; the number of steps,
// which is what those tests are about, stays the same. Zero restores one millisecond.
void SetLinkStepLength(std::chrono::microseconds length);

}  // namespace lumivex::transport
