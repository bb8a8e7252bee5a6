// The ring under a real producer thread, as the monitor thread drives it. Meant to run under
// ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/fake_port.h"
#include "transport/link.h"
#include "transport/receive_ring.h"

#if defined(__SANITIZE_THREAD__)
#define LUMIVEX_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LUMIVEX_UNDER_TSAN 1
#endif
#endif

namespace lumivex::transport {
namespace {

#ifdef LUMIVEX_UNDER_TSAN
constexpr uint32_t kStreamBytes = 2'000'000;
#else
constexpr uint32_t kStreamBytes = 4'000'000;
#endif

// A stream whose every byte depends on its position, so that a byte lost, repeated or moved
// shows up wherever it happens.
uint8_t StreamByte(uint32_t i) {
  uint32_t x = i * 2654435761U;
  x ^= x >> 15;
  return static_cast<uint8_t>(x ^ (x >> 8));
}

class LinkStress : public ::testing::Test {
 protected:
  testing::FakePort port;
  testing::ScopedLinkPort scope{&port};
};

TEST_F(LinkStress, EveryByteArrivesOnceAndInOrder) {
  std::atomic<uint32_t> highestCount{0};
  std::atomic<uint64_t> pushes{0};
  std::thread producer([&] {
    uint32_t room = 0;
    for (uint32_t i = 0; i < kStreamBytes; ++i) {
      // The producer sees the ring only ever emptying under it, so room it has counted stays
      // room, and no push within it may be dropped.
      while (room == 0) {
        const uint32_t count = ReceiveRing.Count();
        uint32_t seen = highestCount.load(std::memory_order_relaxed);
        while (count > seen && !highestCount.compare_exchange_weak(seen, count)) {
        }
        room = ByteRing::kSlots - 1 - std::min(count, ByteRing::kSlots - 1);
        if (room == 0) std::this_thread::yield();
      }
      // The monitor thread's path: push, then wake the waiting receiver.
      const uint8_t byte = StreamByte(i);
      port.Deliver(&byte, 1);
      --room;
      pushes.fetch_add(1, std::memory_order_relaxed);
    }
  });

  std::vector<uint8_t> buffer(255);
  uint32_t taken = 0;
  uint32_t wanted = 1;
  uint32_t mismatches = 0;
  uint32_t failedWaits = 0;
  uint32_t round = 0;
  while (taken < kStreamBytes && failedWaits < 100) {
    const uint32_t count = ReceiveRing.Count();
    EXPECT_LE(count, 511U);
    uint32_t length = std::min(wanted, kStreamBytes - taken);
    // Mostly take what is there, so the stream flows; now and then ask for more than has
    // arrived, so that LinkReceive waits for the producer.
    if (++round % 32 != 0) {
      if (count == 0) {
        std::this_thread::yield();
        continue;
      }
      length = std::min(length, count);
    }
    if (!LinkReceive(buffer.data(), static_cast<uint8_t>(length))) {
      ++failedWaits;
      continue;
    }
    for (uint32_t k = 0; k < length; ++k) {
      if (buffer[k] != StreamByte(taken + k)) ++mismatches;
    }
    taken += length;
    wanted = wanted % 200 + 7;  // lengths 1..206, mostly not dividing the ring size
  }
  producer.join();
  EXPECT_EQ(taken, kStreamBytes);
  EXPECT_EQ(mismatches, 0U);
  EXPECT_EQ(pushes.load(), kStreamBytes);
  EXPECT_LE(highestCount.load(), 511U);
  EXPECT_EQ(ReceiveRing.Count(), 0U);
}

// Bytes of a run that counts modulo a prime: a reset may cut the run, but between two resets
// every byte taken follows the one before.
constexpr uint32_t kRunModulus = 251;

TEST_F(LinkStress, ResetRacingTheProducerNeverCorruptsOrLosesLaterBytes) {
  constexpr uint32_t kBody = kStreamBytes / 4;
  constexpr uint32_t kTail = 5000;
  std::atomic<bool> bodyDone{false};
  std::atomic<bool> resetsOver{false};
  std::atomic<bool> done{false};
  std::thread producer([&] {
    auto push = [this](uint32_t i) {
      while (ReceiveRing.Count() >= ByteRing::kSlots - 1) std::this_thread::yield();
      const auto byte = static_cast<uint8_t>(i % kRunModulus);
      port.Deliver(&byte, 1);
    };
    for (uint32_t i = 0; i < kBody; ++i) push(i);
    bodyDone = true;
    // The tail goes out only once the consumer has stopped resetting: all of it must arrive.
    while (!resetsOver.load()) std::this_thread::yield();
    for (uint32_t i = kBody; i < kBody + kTail; ++i) push(i);
    done = true;
  });

  uint32_t breaks = 0;
  uint32_t resets = 0;
  uint32_t tailTaken = 0;
  int previous = -1;  // no byte since the last reset
  uint8_t chunk[16];
  uint32_t round = 0;
  while (!done.load() || ReceiveRing.HasData()) {
    if (!resetsOver.load()) {
      if (bodyDone.load()) {
        resetsOver = true;
      } else if (++round % 64 == 0) {
        LinkReset();
        ++resets;
        previous = -1;
        continue;
      }
    } else {
      ++round;
    }
    const uint32_t available = ReceiveRing.Count();
    ASSERT_LE(available, 511U);
    if (available == 0) {
      std::this_thread::yield();
      continue;
    }
    // Never more than is there, so that the run is read to its very end without waiting.
    const auto take = static_cast<uint8_t>(std::min<uint32_t>(1 + round % 16, available));
    ASSERT_TRUE(LinkReceive(chunk, take));
    for (uint32_t k = 0; k < take; ++k) {
      if (previous >= 0 && chunk[k] != (previous + 1) % kRunModulus) ++breaks;
      previous = chunk[k];
    }
    if (resetsOver.load()) tailTaken += take;
  }
  producer.join();
  EXPECT_GT(resets, 0U);
  EXPECT_EQ(breaks, 0U);
  EXPECT_GE(tailTaken, kTail);
  EXPECT_EQ(previous, static_cast<int>((kBody + kTail - 1) % kRunModulus));
}

TEST_F(LinkStress, CountAfterResetIsZeroOnceNoPushIsUnderWay) {
  for (int round = 0; round < 200; ++round) {
    std::thread producer([round] {
      for (int i = 0; i < 50 + round * 3; ++i) ReceiveRing.Push(static_cast<uint8_t>(i));
    });
    LinkReset();  // may race the pushes
    producer.join();
    LinkReset();
    ASSERT_EQ(ReceiveRing.Count(), 0U) << round;
    ASSERT_FALSE(ReceiveRing.HasData()) << round;
  }
}

}  // namespace
}  // namespace lumivex::transport
