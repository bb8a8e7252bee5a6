#include "transport/receive_ring.h"

namespace lumivex::transport {

ByteRing ReceiveRing;

namespace {
constexpr uint32_t Next(uint32_t index) {
  return index + 1 == ByteRing::kSlots ? 0 : index + 1;
}
}  // namespace

void ByteRing::Push(uint8_t byte) {
  const uint32_t write = writeIndex.load(std::memory_order_relaxed);
  const uint32_t next = Next(write);
  // Acquire pairs with the consumer's release of readIndex: the slot we are about to fill has
  // been read before the consumer gave it back.
  if (next == readIndex.load(std::memory_order_acquire)) {
    return;  // full: the oldest bytes are never overwritten
  }
  data[write] = byte;
  writeIndex.store(next, std::memory_order_release);
}

bool ByteRing::HasData() const {
  return readIndex.load(std::memory_order_acquire) != writeIndex.load(std::memory_order_acquire);
}

uint32_t ByteRing::Count() const {
  const uint32_t write = writeIndex.load(std::memory_order_acquire);
  const uint32_t read = readIndex.load(std::memory_order_acquire);
  return write >= read ? write - read : write + kSlots - read;
}

uint8_t ByteRing::Pop() {
  const uint32_t read = readIndex.load(std::memory_order_relaxed);
  // An empty ring has nothing to give: moving readIndex past writeIndex would make it look full
  // of stale bytes.
  if (read == writeIndex.load(std::memory_order_acquire)) {
    return 0;
  }
  const uint8_t byte = data[read];
  readIndex.store(Next(read), std::memory_order_release);
  return byte;
}

void ByteRing::Reset() {
  // The consumer empties the ring by catching up with the producer instead of zeroing both
  // indices: writeIndex stays the producer's alone, so a byte pushed while we reset is either
  // discarded whole or kept whole, and every byte pushed afterwards is kept.
  readIndex.store(writeIndex.load(std::memory_order_acquire), std::memory_order_release);
}

}  // namespace lumivex::transport
