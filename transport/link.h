// The byte link that the protocol uses: reset the ring, send a frame, wait for answer bytes.
// Every wait is bounded and counted in one-millisecond steps on the steady clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace lumivex::transport {

// What the link needs of a port: start a write without waiting for it, and the write-complete
// flag that the port's transmit-empty handler raises (only the value 1 counts as raised).
class LinkPortSide {
 public:
  virtual ~LinkPortSide() = default;
  virtual uint32_t Write(const uint8_t* bytes, uint32_t count) = 0;
  std::atomic<uint32_t> writeDone{0};
};

// The port that LinkSend acts on, looked up anew at every test of writeDone. By default this is
// PortTable[CurrentPortNumber]; tests may put a fake port in its place (nullptr restores it).
using LinkPortResolver = LinkPortSide* (*)();
void SetLinkPortResolver(LinkPortResolver resolver);

// Waits of fixed length: the thread sleeps to an absolute deadline and spins only the last
// fraction of the step, so a step keeps its length without occupying a core.
void DelayMicroseconds(uint32_t microseconds);
void DelayMilliseconds(uint16_t milliseconds);

void LinkReset();
// Writes and waits for writeDone: tests it 1001 times, at most 1001 one-millisecond steps.
void LinkSend(const uint8_t* bytes, uint8_t length);
// Waits until the ring holds length bytes (at most 8 * length + 1 steps); on true the length
// oldest bytes are in buffer, on false nothing was taken.
bool LinkReceive(uint8_t* buffer, uint8_t length);

// Observer of the bytes that cross the link: every frame sent, every run of bytes taken.
// For diagnostics (lumivexctl --trace); called on the thread that sends or receives.
enum class LinkDirection { kSent, kTaken };
using LinkTrace = std::function<void(LinkDirection, const uint8_t* bytes, uint32_t count)>;
void SetLinkTrace(LinkTrace trace);

}  // namespace lumivex::transport
