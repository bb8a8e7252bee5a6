#include "transport/link.h"

#include <thread>
#include <utility>

#include "platform/clock.h"
#include "transport/link_deadline.h"
#include "transport/link_testing.h"
#include "transport/port_table.h"
#include "transport/receive_ring.h"

namespace lumivex::transport {

namespace {

// Waking from a sleep takes some tens of microseconds (the kernel's default timer slack is 50);
// the thread sleeps to this much before the deadline and spins the remainder.
constexpr std::chrono::microseconds kSpinMargin{80};
constexpr std::chrono::microseconds kDefaultStep{1000};

// LinkSend tests writeDone once at once and then after each of these steps; the wait ends one
// step after the last test.
constexpr uint32_t kSendSteps = 1000;
// LinkReceive looks once at once and then after each of 8 * length steps; the wait ends one
// step after the last look.
constexpr uint32_t kReceiveStepsPerByte = 8;

std::atomic<LinkPortResolver> PortResolver{nullptr};
std::atomic<int64_t> StepMicroseconds{kDefaultStep.count()};

thread_local Link* BoundLink = nullptr;

std::mutex TraceMutex;
LinkTrace Trace;
std::atomic<bool> Tracing{false};

LinkPortSide* ProgramPort() {
  const LinkPortResolver resolver = PortResolver.load(std::memory_order_acquire);
  return resolver != nullptr ? resolver() : PortTableLinkPort();
}

// Only the value 1 counts as raised; whatever was there is cleared.
bool TakeWriteDone(LinkPortSide* port) {
  return port != nullptr && port->writeDone.exchange(0, std::memory_order_acq_rel) == 1;
}

bool HungUp(LinkPortSide* port) {
  return port != nullptr && port->LinkHungUp();
}

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

StepDeadline StepDeadline::AfterSteps(uint32_t steps) {
  return StepDeadline(std::chrono::microseconds{StepMicroseconds.load() * int64_t{steps}});
}

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

LinkPortSide::LinkPortSide() = default;
LinkPortSide::~LinkPortSide() = default;

std::shared_ptr<Link> LinkPortSide::FedLink() const {
  // The program's link lives as long as the program; the pointer does not own it.
  static const std::shared_ptr<Link> program(&ProgramLink(), [](Link*) {});
  std::shared_ptr<Link> link = feeds_.load();
  return link != nullptr ? link : program;
}

void LinkPortSide::FeedLink(std::shared_ptr<Link> link) {
  // The last hold on a probe's link may be this one: it goes here, outside the slot's lock.
  const std::shared_ptr<Link> previous = feeds_.exchange(std::move(link));
}

void LinkPortSide::Deliver(const uint8_t* bytes, uint32_t count) {
  if (count == 0) {
    return;
  }
  // The link is held for the whole delivery, so a search that lets go of it meanwhile never
  // leaves this thread pushing into a ring that is gone.
  const std::shared_ptr<Link> link = FedLink();
  ByteRing& ring = link->Ring();
  for (uint32_t i = 0; i < count; ++i) {
    ring.Push(bytes[i]);
  }
  link->Wake();
}

void LinkPortSide::RaiseWriteDone() {
  writeDone.store(1, std::memory_order_release);
  WakeLink();
}

void LinkPortSide::WakeLink() {
  FedLink()->Wake();
}

Link::Link(LinkPortSide* port) : ring_(&own_), port_(port) {}

Link::Link(ProgramTag) : ring_(&ReceiveRing), port_(nullptr) {}

LinkPortSide* Link::Port() const {
  return port_ != nullptr ? port_ : ProgramPort();
}

void Link::Wake() {
  // Taking the mutex orders this wake-up after a waiter's test or before it: never between
  // the test and its sleep.
  { std::lock_guard lock(wakeMutex_); }
  wake_.notify_all();
}

void Link::Cancel() {
  cancelled_.store(true, std::memory_order_release);
  Wake();
}

template <typename Ready>
bool Link::WaitSteps(uint32_t steps, Ready ready) {
  bool met = false;
  StepDeadline::AfterSteps(steps).WaitUntil(wakeMutex_, wake_, [&] {
    met = ready();
    return met || Cancelled();
  });
  return met;
}

Link& ProgramLink() {
  static Link link{Link::ProgramTag{}};
  return link;
}

Link& CurrentLink() {
  return BoundLink != nullptr ? *BoundLink : ProgramLink();
}

std::mutex& ExchangeLock() {
  return CurrentLink().ExchangeLock();
}

BindLink::BindLink(Link& link) : previous_(BoundLink) {
  BoundLink = &link;
}

BindLink::~BindLink() {
  BoundLink = previous_;
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
  CurrentLink().Ring().Reset();
}

void LinkSend(const uint8_t* bytes, uint8_t length) {
  Link& link = CurrentLink();
  LinkPortSide* port = link.Port();
  // A cancelled probe writes nothing more, and so shows nothing in the trace.
  const bool sending = bytes != nullptr && !link.Cancelled();
  if (port != nullptr) {
    // A flag left raised by an earlier write must not end this wait early.
    port->writeDone.store(0, std::memory_order_release);
    if (sending) {
      port->Write(bytes, length);
    }
  }
  if (sending) {
    Report(LinkDirection::kSent, bytes, length);
  }
  // The port is looked up again at every test, so a port made current meanwhile is the one
  // waited on. A port that has hung up will never report its write done.
  link.WaitSteps(kSendSteps + 1, [&link] {
    LinkPortSide* current = link.Port();
    return TakeWriteDone(current) || HungUp(current);
  });
}

bool LinkReceive(uint8_t* buffer, uint8_t length) {
  if (buffer == nullptr && length > 0) {
    return false;
  }
  Link& link = CurrentLink();
  ByteRing& ring = link.Ring();
  auto enough = [&ring, length] { return (ring.HasData() ? ring.Count() : 0) >= length; };
  if (!enough()) {
    // Bytes that arrived before a hang-up still count; after it nothing more can come.
    bool gone = false;
    const bool arrived = link.WaitSteps(kReceiveStepsPerByte * length + 1, [&] {
      if (enough()) {
        return true;
      }
      gone = HungUp(link.Port());
      return gone;
    });
    if (!arrived || gone || !enough()) {
      return false;
    }
  }
  if (length == 0) {
    return true;
  }
  for (uint32_t i = 0; i < length; ++i) {
    buffer[i] = ring.Pop();
  }
  Report(LinkDirection::kTaken, buffer, length);
  return true;
}

void SetLinkTrace(LinkTrace trace) {
  std::lock_guard lock(TraceMutex);
  Trace = std::move(trace);
  Tracing.store(static_cast<bool>(Trace), std::memory_order_release);
}

}  // namespace lumivex::transport
