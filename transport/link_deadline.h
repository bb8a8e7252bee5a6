// Deadlines on the steady clock for the link's fixed-length waits. Private to the transport.
#pragma once

#include <chrono>

namespace lumivex::transport {

class StepDeadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit StepDeadline(std::chrono::microseconds length) : at_(Clock::now() + length) {}
  explicit StepDeadline(Clock::time_point at) : at_(at) {}

  bool Passed() const { return Clock::now() >= at_; }

  // Returns at the deadline, never before it. The thread sleeps to an absolute point shortly
  // before the deadline and spins only the rest, so the step keeps its length whatever the
  // scheduler's tick and a late wake-up never shortens the next step.
  void Wait() const;

 private:
  Clock::time_point at_;
};

// The step of LinkSend and LinkReceive: one millisecond. Tests that run the protocol's silent
// paths may shorten it so that a wait of fifty tries does not take seconds; the number of steps,
// which is what those tests are about, stays the same. Zero restores one millisecond.
void SetLinkStepLength(std::chrono::microseconds length);

}  // namespace lumivex::transport
