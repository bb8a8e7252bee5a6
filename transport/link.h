// The byte link that the protocol uses: reset the ring, send a frame, wait for answer bytes.
// Every wait is bounded, its bound counted in one-millisecond steps on the steady clock from
// the start of the wait; the waiting thread sleeps and wakes the moment bytes reach the ring,
// the write completes or the port hangs up.
//
// Thread safety: a link serves one exchange at a time (ExchangeLock, taken by the protocol).
// LinkReset, LinkSend and LinkReceive act on the calling thread's current link: the program's
// link (ReceiveRing and the port that CurrentPortNumber selects), or the link that a search
// bound to its probe's thread. They block: LinkSend up to about one second, LinkReceive up to
// 8 * length + 1 ms. The port's monitor thread is the producer (Deliver, RaiseWriteDone,
// WakeLink); any thread may cancel a link.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "transport/receive_ring.h"
#include "transport/shared_slot.h"

namespace lumivex::transport {

class Link;

// What the link needs of a port: start a write without waiting for it, and the write-complete
// flag that the port's transmit-empty handler raises (only the value 1 counts as raised).
class LinkPortSide {
 public:
  LinkPortSide();
  virtual ~LinkPortSide();
  LinkPortSide(const LinkPortSide&) = delete;
  LinkPortSide& operator=(const LinkPortSide&) = delete;

  virtual uint32_t Write(const uint8_t* bytes, uint32_t count) = 0;
  // True once the device has gone: nothing more can arrive, so a wait on it ends at once.
  virtual bool LinkHungUp() const { return false; }

  // Producer side, on the thread that reads the port: pushes one read's bytes into the ring of
  // the link that this port feeds, then wakes that link's waiter once.
  void Deliver(const uint8_t* bytes, uint32_t count);
  // Raises writeDone and wakes the waiter.
  void RaiseWriteDone();
  // Wakes the waiter to look again (the port hung up).
  void WakeLink();

  // The link whose ring this port's bytes go into: the program's link unless a search gave the
  // port one of its own (nullptr gives it back to the program's link).
  void FeedLink(std::shared_ptr<Link> link);

  std::atomic<uint32_t> writeDone{0};

 private:
  std::shared_ptr<Link> FedLink() const;

  SharedSlot<Link> feeds_;
};

// One ring, one port to send through, one exchange at a time.
class Link {
 public:
  // A link with a ring of its own, sending through port (a search's probe).
  explicit Link(LinkPortSide* port);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  ByteRing& Ring() { return *ring_; }
  // Answers are matched to requests only by their order on the line: one exchange at a time.
  std::mutex& ExchangeLock() { return exchange_; }
  // The port that sends go through, looked up anew at every test of writeDone.
  LinkPortSide* Port() const;

  // Producer side: something a waiter may be waiting for happened.
  void Wake();
  // Ends every wait on this link at once, and every later one, as a failure (a search has
  // found its port: the probes of later ports stop).
  void Cancel();
  bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }

 private:
  friend Link& ProgramLink();
  friend void LinkSend(const uint8_t* bytes, uint8_t length);
  friend bool LinkReceive(uint8_t* buffer, uint8_t length);

  // Sleeps until ready() holds, the link is cancelled or `steps` steps have passed since the
  // wait began; true when ready() held.
  template <typename Ready>
  bool WaitSteps(uint32_t steps, Ready ready);

  struct ProgramTag {};
  explicit Link(ProgramTag);

  ByteRing own_;
  ByteRing* ring_;
  LinkPortSide* port_;  // nullptr: the port of the table that CurrentPortNumber selects
  std::atomic<bool> cancelled_{false};
  std::mutex exchange_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
};

// The program's link: ReceiveRing and the current port. What the rest of the program uses.
Link& ProgramLink();
// The link that LinkReset, LinkSend and LinkReceive act on for the calling thread.
Link& CurrentLink();
// The exchange lock of the calling thread's current link.
std::mutex& ExchangeLock();

// Makes link the calling thread's current link for the scope (a probe greets its own port).
class BindLink {
 public:
  explicit BindLink(Link& link);
  ~BindLink();
  BindLink(const BindLink&) = delete;
  BindLink& operator=(const BindLink&) = delete;

 private:
  Link* previous_;
};

// Waits of fixed length: the thread sleeps to an absolute deadline and spins only the last
// fraction of the step, so a step keeps its length without occupying a core.
void DelayMicroseconds(uint32_t microseconds);
void DelayMilliseconds(uint16_t milliseconds);

void LinkReset();
// Writes and waits for writeDone: at most 1001 one-millisecond steps (about one second), less
// the moment the write completes; at once on a hung-up or cancelled link.
void LinkSend(const uint8_t* bytes, uint8_t length);
// Waits until the ring holds length bytes (at most 8 * length + 1 steps); on true the length
// oldest bytes are in buffer, on false nothing was taken. A hung-up port or a cancelled link
// ends the wait at once, as a failure, unless the bytes are already there.
bool LinkReceive(uint8_t* buffer, uint8_t length);

// Observer of the bytes that cross the link: every frame sent, every run of bytes taken.
// For diagnostics (lumivexctl --trace); called on the thread that sends or receives, also on a
// search's probe threads (one call at a time).
enum class LinkDirection { kSent, kTaken };
using LinkTrace = std::function<void(LinkDirection, const uint8_t* bytes, uint32_t count)>;
void SetLinkTrace(LinkTrace trace);

}  // namespace lumivex::transport
