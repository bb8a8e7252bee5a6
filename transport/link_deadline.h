// Deadlines on the steady clock for the link's bounded waits. Private to the transport.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lumivex::transport {

class StepDeadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit StepDeadline(std::chrono::microseconds length) : at_(Clock::now() + length) {}
  explicit StepDeadline(Clock::time_point at) : at_(at) {}

  // The end of `steps` steps of the link's step length, counted from now.
  static StepDeadline AfterSteps(uint32_t steps);

  bool Passed() const { return Clock::now() >= at_; }

  // Returns at the deadline, never before it. The thread sleeps to an absolute point shortly
  // before the deadline and spins only the rest, so the step keeps its length whatever the
  // scheduler's tick and a late wake-up never shortens the next step.
  void Wait() const;

  // Sleeps until ready() holds or the deadline has passed, testing ready() at once, whenever
  // `wake` is notified and once more at the deadline; returns ready()'s last answer. Whoever
  // makes ready() true must then lock `mutex` before notifying `wake` (a wake-up cannot fall
  // between our test and our sleep). No spinning: a silent wait costs no processor time.
  template <typename Ready>
  bool WaitUntil(std::mutex& mutex, std::condition_variable& wake, Ready ready) const {
    std::unique_lock lock(mutex);
    return wake.wait_until(lock, at_, ready);
  }

 private:
  Clock::time_point at_;
};

}  // namespace lumivex::transport
