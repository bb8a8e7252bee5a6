#include "transport/link.h"

#include <mutex>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "transport/link_deadline.h"
#include "transport/port_table.h"
#include "transport/receive_ring.h"

namespace lumivex::transport {

namespace {

// Waking from a sleep takes some tens of microseconds (the kernel's default timer slack is 50);
// the thread sleeps to this much before the deadline and spins the remainder.
constexpr std::chrono::microseconds kSpinMargin{80};
constexpr std::chrono::microseconds kDefaultStep{1000};

// LinkSend tests writeDone once at once and then after each of these steps.
constexpr uint32_t kSendSteps = 1000;
// LinkReceive looks once at once and then after each of 8 * length steps.
constexpr uint16_t kReceiveStepsPerByte = 8;

std::atomic<LinkPortResolver> PortResolver{nullptr};
std::atomic<int64_t> StepMicroseconds{kDefaultStep.count()};

std::mutex TraceMutex;
LinkTrace Trace;
std::atomic<bool> Tracing{false};

LinkPortSide* CurrentLinkPort() {
  const LinkPortResolver resolver = PortResolver.load(std::memory_order_acquire);
  return resolver != nullptr ? resolver() : PortTableLinkPort();
}

// Only the value 1 counts as raised; whatever was there is cleared.
bool TakeWriteDone() {
  LinkPortSide* port = CurrentLinkPort();
  return port != nullptr && port->writeDone.exchange(0, std::memory_order_acq_rel) == 1;
}

// The steps of one wait. Step k ends k steps after the wait began, not one step after the
// thread last woke: waking late (timer slack, a busy machine) then never adds up over the 145
// steps of a receive or the 1001 of a send, and the wait keeps its length.
class StepSequence {
 public:
  StepSequence() : step_(StepMicroseconds.load()), next_(StepDeadline::Clock::now()) {}

  void Step() {
    next_ += step_;
    StepDeadline(next_).Wait();
  }

 private:
  std::chrono::microseconds step_;
  StepDeadline::Clock::time_point next_;
};

void Report(LinkDirection direction, const uint8_t* bytes, uint32_t count) {
  if (!Tracing.load(std::memory_order_acquire)) {
    return;
  }
  std::lock_guard lock(TraceMutex);
  if (Trace) {
    Trace(direction, bytes, count);
  }
}

}  // namespace

void StepDeadline::Wait() const {
  const Clock::time_point wake = at_ - kSpinMargin;
  if (Clock::now() < wake) {
    platform::SleepUntil(wake);
  }
  while (!Passed()) {
  }
}

void SetLinkStepLength(std::chrono::microseconds length) {
  StepMicroseconds.store(length.count() > 0 ? length.count() : kDefaultStep.count());
}

void SetLinkPortResolver(LinkPortResolver resolver) {
  PortResolver.store(resolver, std::memory_order_release);
}

void DelayMicroseconds(uint32_t microseconds) {
  if (microseconds == 0) {
    return;
  }
  StepDeadline(std::chrono::microseconds{microseconds}).Wait();
}

void DelayMilliseconds(uint16_t milliseconds) {
  DelayMicroseconds(static_cast<uint32_t>(milliseconds) * 1000U);
}

void LinkReset() {
  ReceiveRing.Reset();
}

void LinkSend(const uint8_t* bytes, uint8_t length) {
  LinkPortSide* port = CurrentLinkPort();
  if (port != nullptr) {
    // A flag left raised by an earlier write must not end this wait early.
    port->writeDone.store(0, std::memory_order_release);
    if (bytes != nullptr) {
      port->Write(bytes, length);
    }
  }
  if (bytes != nullptr) {
    Report(LinkDirection::kSent, bytes, length);
  }
  if (TakeWriteDone()) {
    return;
  }
  // The port is looked up again at every test, so a port opened meanwhile is the one waited on.
  StepSequence steps;
  for (uint32_t remaining = kSendSteps;; --remaining) {
    steps.Step();
    if (remaining == 0) {
      return;
    }
    if (TakeWriteDone()) {
      return;
    }
  }
}

bool LinkReceive(uint8_t* buffer, uint8_t length) {
  if (buffer == nullptr && length > 0) {
    return false;
  }
  uint16_t remaining = static_cast<uint16_t>(kReceiveStepsPerByte * length);
  StepSequence steps;
  for (;;) {
    const uint32_t available = ReceiveRing.HasData() ? ReceiveRing.Count() : 0;
    if (available >= length) {
      if (length == 0) {
        return true;
      }
      for (uint32_t i = 0; i < length; ++i) {
        buffer[i] = ReceiveRing.Pop();
      }
      Report(LinkDirection::kTaken, buffer, length);
      return true;
    }
    steps.Step();
    if (remaining == 0) {
      return false;
    }
    --remaining;
  }
}

void SetLinkTrace(LinkTrace trace) {
  std::lock_guard lock(TraceMutex);
  Trace = std::move(trace);
  Tracing.store(static_cast<bool>(Trace), std::memory_order_release);
}

}  // namespace lumivex::transport
