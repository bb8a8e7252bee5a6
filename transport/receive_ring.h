// The receive ring between a serial port and the protocol: ReceiveRing for the program's link,
// and one of its own in each link of a search's probe.
//
// Thread safety: single producer, single consumer, no lock. The producer is the monitor thread
// of the port that feeds the ring (OnReceive of CLinkPort delivers through Push). The consumer
// is the thread running the exchange with the board (the GUI thread's worker, the upgrade
// worker, or a probe's thread), which calls HasData, Count, Pop and Reset. Reset may run while
// the producer pushes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace lumivex::transport {

class ByteRing {
 public:
  static constexpr uint32_t kSlots = 512;  // holds at most kSlots - 1 bytes

  void Push(uint8_t byte);  // producer; drops the byte when full, never overwrites
  bool HasData() const;
  uint32_t Count() const;
  uint8_t Pop();  // consumer; only when not empty
  void Reset();   // consumer; discards every byte held

 private:
  std::atomic<uint32_t> readIndex{0};
  std::atomic<uint32_t> writeIndex{0};
  std::array<uint8_t, kSlots> data{};
};

extern ByteRing ReceiveRing;

}  // namespace lumivex::transport
