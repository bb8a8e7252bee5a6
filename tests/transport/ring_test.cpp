#include <gtest/gtest.h>

#include <vector>

#include "transport/receive_ring.h"

namespace lumivex::transport {
namespace {

uint8_t Pattern(uint32_t i) {
  return static_cast<uint8_t>(i * 37 + 11);
}

void Fill(ByteRing& ring, uint32_t count, uint32_t first = 0) {
  for (uint32_t i = 0; i < count; ++i) ring.Push(Pattern(first + i));
}

TEST(ByteRing, StartsEmpty) {
  ByteRing ring;
  EXPECT_FALSE(ring.HasData());
  EXPECT_EQ(ring.Count(), 0U);
}

TEST(ByteRing, GivesBytesBackInPushOrder) {
  ByteRing ring;
  Fill(ring, 100);
  EXPECT_TRUE(ring.HasData());
  EXPECT_EQ(ring.Count(), 100U);
  for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(ring.Pop(), Pattern(i)) << i;
  EXPECT_FALSE(ring.HasData());
}

TEST(ByteRing, HoldsAtMost511AndDropsTheNewestWhenFull) {
  ByteRing ring;
  Fill(ring, 511);
  EXPECT_EQ(ring.Count(), 511U);
  ring.Push(0xAA);
  ring.Push(0xBB);
  EXPECT_EQ(ring.Count(), 511U);
  // The oldest bytes are kept, the late ones were dropped.
  for (uint32_t i = 0; i < 511; ++i) ASSERT_EQ(ring.Pop(), Pattern(i)) << i;
  EXPECT_EQ(ring.Count(), 0U);
  ring.Push(0xCC);
  EXPECT_EQ(ring.Pop(), 0xCC);
}

TEST(ByteRing, CountsAcrossTheWrap) {
  ByteRing ring;
  // Bring readIndex and writeIndex to 510, then push five so writeIndex wraps to 3.
  Fill(ring, 510);
  for (int i = 0; i < 510; ++i) ring.Pop();
  Fill(ring, 5, 1000);
  EXPECT_EQ(ring.Count(), 5U);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(ring.Pop(), Pattern(1000 + i));
  EXPECT_EQ(ring.Count(), 0U);
  // Full again after the wrap: still 511 and no more.
  Fill(ring, 600, 2000);
  EXPECT_EQ(ring.Count(), 511U);
  for (uint32_t i = 0; i < 511; ++i) ASSERT_EQ(ring.Pop(), Pattern(2000 + i)) << i;
}

TEST(ByteRing, ResetDiscardsWhateverItHeldAndKeepsWorking) {
  for (uint32_t held : {0U, 1U, 300U, 511U}) {
    ByteRing ring;
    Fill(ring, 200);
    for (int i = 0; i < 200; ++i) ring.Pop();  // indices away from 0
    Fill(ring, held);
    ring.Reset();
    EXPECT_EQ(ring.Count(), 0U) << held;
    EXPECT_FALSE(ring.HasData()) << held;
    Fill(ring, 511, 7);
    EXPECT_EQ(ring.Count(), 511U) << held;
    for (uint32_t i = 0; i < 511; ++i) ASSERT_EQ(ring.Pop(), Pattern(7 + i)) << held;
  }
}

TEST(ByteRing, PopOnAnEmptyRingTakesNothing) {
  ByteRing ring;
  Fill(ring, 3);
  for (int i = 0; i < 3; ++i) ring.Pop();
  EXPECT_EQ(ring.Pop(), 0);
  // Moving past writeIndex would make the ring look full of stale bytes.
  EXPECT_EQ(ring.Count(), 0U);
  ring.Push(0x42);
  EXPECT_EQ(ring.Count(), 1U);
  EXPECT_EQ(ring.Pop(), 0x42);
}

}  // namespace
}  // namespace lumivex::transport
