#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "tests/support/fake_port.h"
#include "transport/link.h"
#include "transport/link_testing.h"
#include "transport/receive_ring.h"

namespace lumivex::transport {
namespace {

using lumivex::testing::Answer;
using lumivex::testing::Bytes;
using lumivex::testing::DrainRing;
using lumivex::testing::FakePort;
using lumivex::testing::Piece;
using lumivex::testing::PushToRing;
using lumivex::testing::Reply;
using lumivex::testing::ScopedLinkPort;
using lumivex::testing::Silence;
using lumivex::testing::TimeOf;
using std::chrono::milliseconds;

Bytes Sequence(uint32_t count, uint8_t first = 1) {
  Bytes bytes(count);
  for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

class LinkTest : public ::testing::Test {
 protected:
  FakePort port;
  ScopedLinkPort scope{&port};
};

struct ReceiveCase {
  const char* name;
  uint32_t held;
  uint8_t wanted;
};

class LinkReceiveAtOnce : public LinkTest, public ::testing::WithParamInterface<ReceiveCase> {};

// Whenever the ring already holds enough, the oldest bytes come out at once and the rest stays.
TEST_P(LinkReceiveAtOnce, TakesTheOldestAndLeavesTheRest) {
  const ReceiveCase& c = GetParam();
  const Bytes held = Sequence(c.held);
  PushToRing(held);
  Bytes buffer(256, 0xEE);
  bool received = false;
  const auto elapsed = TimeOf([&] { received = LinkReceive(buffer.data(), c.wanted); });
  EXPECT_TRUE(received);
  EXPECT_LT(elapsed, milliseconds{50});
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.wanted),
            Bytes(held.begin(), held.begin() + c.wanted));
  EXPECT_EQ(buffer[c.wanted], 0xEE);
  EXPECT_EQ(DrainRing(), Bytes(held.begin() + c.wanted, held.end()));
}

INSTANTIATE_TEST_SUITE_P(Held, LinkReceiveAtOnce,
                         ::testing::Values(ReceiveCase{"NothingWanted", 0, 0},
                                           ReceiveCase{"NothingWantedSomeHeld", 4, 0},
                                           ReceiveCase{"FiveOfSeven", 7, 5},
                                           ReceiveCase{"Exactly", 5, 5},
                                           ReceiveCase{"FiveOf300", 300, 5},
                                           ReceiveCase{"FullRing", 511, 255}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(LinkTest, ReceiveTakesInTurns) {
  PushToRing(Sequence(7));
  uint8_t first[5] = {};
  uint8_t second[2] = {};
  ASSERT_TRUE(LinkReceive(first, 5));
  ASSERT_TRUE(LinkReceive(second, 2));
  EXPECT_EQ(Bytes(first, first + 5), Sequence(5));
  EXPECT_EQ(Bytes(second, second + 2), Sequence(2, 6));
  EXPECT_EQ(ReceiveRing.Count(), 0U);
}

TEST_F(LinkTest, ReceiveOnAnEmptyRingGivesUpAfterItsSteps) {
  uint8_t buffer[5] = {9, 9, 9, 9, 9};
  bool received = true;
  // 8 * 5 + 1 one-millisecond steps.
  const auto elapsed = TimeOf([&] { received = LinkReceive(buffer, 5); });
  EXPECT_FALSE(received);
  EXPECT_GE(elapsed, milliseconds{35});
  EXPECT_LE(elapsed, milliseconds{400});
  EXPECT_EQ(Bytes(buffer, buffer + 5), Bytes(5, 9));
}

TEST_F(LinkTest, ReceiveOfTooFewTakesNothingAndTheRestCompletesItLater) {
  PushToRing(Sequence(3));
  uint8_t buffer[5] = {};
  EXPECT_FALSE(LinkReceive(buffer, 5));
  EXPECT_EQ(ReceiveRing.Count(), 3U);
  PushToRing(Sequence(2, 4));
  ASSERT_TRUE(LinkReceive(buffer, 5));
  EXPECT_EQ(Bytes(buffer, buffer + 5), Sequence(5));
}

TEST_F(LinkTest, ReceiveWaitsForPiecesThatArriveWithinItsSteps) {
  // 18 bytes: 145 steps. The board delivers them in three pieces well inside that.
  port.SendUnasked(Sequence(4));
  port.SendUnasked(Sequence(10, 5), milliseconds{15});
  port.SendUnasked(Sequence(4, 15), milliseconds{15});
  uint8_t buffer[18] = {};
  ASSERT_TRUE(LinkReceive(buffer, 18));
  EXPECT_EQ(Bytes(buffer, buffer + 18), Sequence(18));
}

TEST_F(LinkTest, ResetEmptiesTheRingWhateverItHeld) {
  PushToRing(Sequence(200));
  LinkReset();
  EXPECT_EQ(ReceiveRing.Count(), 0U);
  uint8_t byte = 0;
  PushToRing({0x5A});
  ASSERT_TRUE(LinkReceive(&byte, 1));
  EXPECT_EQ(byte, 0x5A);
}

TEST_F(LinkTest, SendWritesTheFrameAndReturnsWhenTheWriteCompletes) {
  Reply reply;
  reply.writeTime = milliseconds{20};
  port.SetResponder([&](const Bytes&) { return reply; });
  const Bytes frame = {0xE0, 0x05, 0x41, 0x18, 0x01};
  const auto elapsed = TimeOf([&] { LinkSend(frame.data(), 5); });
  EXPECT_GE(elapsed, milliseconds{15});
  EXPECT_LT(elapsed, milliseconds{600});
  EXPECT_EQ(port.Frames(), std::vector<Bytes>{frame});
  EXPECT_EQ(port.writeDone.load(), 0U) << "the flag is cleared when taken";
}

TEST_F(LinkTest, SendWithoutWriteCompleteGivesUpAfterAboutASecond) {
  port.SetResponder([](const Bytes&) {
    Reply reply = Silence();
    reply.completeWrite = false;
    return reply;
  });
  const Bytes frame = {0xE0, 0x04, 0x41, 0x01};
  const auto elapsed = TimeOf([&] { LinkSend(frame.data(), 4); });
  EXPECT_GE(elapsed, milliseconds{900});
  EXPECT_LE(elapsed, milliseconds{5000});
  EXPECT_EQ(port.Frames().size(), 1U);
}

TEST_F(LinkTest, AStaleWriteCompleteDoesNotEndTheNextSendEarly) {
  port.SetResponder([](const Bytes&) {
    Reply reply = Silence();
    reply.completeWrite = false;
    return reply;
  });
  port.writeDone.store(1);
  const Bytes frame = {0xE0, 0x04, 0x41, 0x01};
  const auto elapsed = TimeOf([&] { LinkSend(frame.data(), 4); });
  EXPECT_GE(elapsed, milliseconds{900});
  EXPECT_LE(elapsed, milliseconds{5000});
}

TEST_F(LinkTest, OnlyTheValueOneCountsAsWriteComplete) {
  port.SetResponder([](const Bytes&) {
    Reply reply = Silence();
    reply.completeWrite = false;
    return reply;
  });
  const Bytes frame = {0xE0, 0x04, 0x41, 0x01};
  std::thread raiser([&] {
    std::this_thread::sleep_for(milliseconds{50});
    port.writeDone.store(2);
  });
  const auto elapsed = TimeOf([&] { LinkSend(frame.data(), 4); });
  raiser.join();
  EXPECT_GE(elapsed, milliseconds{900});
}

FakePort* SecondPort = nullptr;
std::atomic<bool> UseSecondPort{false};
FakePort* FirstPort = nullptr;
LinkPortSide* SwitchingResolver() {
  return UseSecondPort.load() ? SecondPort : FirstPort;
}

TEST_F(LinkTest, SendFollowsThePortThatIsCurrentAtEachTest) {
  // The first port never completes; after a while another port becomes current, and its raised
  // flag ends the wait.
  port.SetResponder([](const Bytes&) {
    Reply reply = Silence();
    reply.completeWrite = false;
    return reply;
  });
  FakePort other;
  FirstPort = &port;
  SecondPort = &other;
  UseSecondPort = false;
  SetLinkPortResolver(&SwitchingResolver);
  std::thread opener([&] {
    std::this_thread::sleep_for(milliseconds{100});
    UseSecondPort = true;
    other.RaiseWriteDone();
  });
  const Bytes frame = {0xE0, 0x04, 0x41, 0x01};
  const auto elapsed = TimeOf([&] { LinkSend(frame.data(), 4); });
  opener.join();
  EXPECT_GE(elapsed, milliseconds{90});
  EXPECT_LT(elapsed, milliseconds{800});
  EXPECT_EQ(port.Frames().size(), 1U);
  EXPECT_TRUE(other.Frames().empty());
}

LinkPortSide* NoPort() {
  return nullptr;
}

TEST_F(LinkTest, SendWithNoPortWaitsOutItsBoundAndWritesNothing) {
  SetLinkPortResolver(&NoPort);
  const Bytes frame = {0xE0, 0x04, 0x41, 0x01};
  const auto elapsed = TimeOf([&] { LinkSend(frame.data(), 4); });
  EXPECT_GE(elapsed, milliseconds{900});
  EXPECT_LE(elapsed, milliseconds{5000});
  EXPECT_TRUE(port.Frames().empty());
}

TEST_F(LinkTest, TraceRecordsFramesSentAndBytesTaken) {
  std::vector<std::pair<LinkDirection, Bytes>> seen;
  SetLinkTrace([&](LinkDirection direction, const uint8_t* bytes, uint32_t count) {
    seen.emplace_back(direction, Bytes(bytes, bytes + count));
  });
  port.SetResponder([](const Bytes&) { return Answer({0x41, 0x63, 0x6B, 0x00}); });
  const Bytes frame = {0xE0, 0x05, 0x41, 0x18, 0x01};
  LinkSend(frame.data(), 5);
  uint8_t answer[3] = {};
  ASSERT_TRUE(LinkReceive(answer, 3));
  uint8_t missing[8] = {};
  EXPECT_FALSE(LinkReceive(missing, 8));  // a failed wait takes nothing, so shows nothing
  SetLinkTrace(nullptr);
  LinkSend(frame.data(), 5);
  ASSERT_EQ(seen.size(), 2U);
  EXPECT_EQ(seen[0], std::make_pair(LinkDirection::kSent, frame));
  EXPECT_EQ(seen[1], std::make_pair(LinkDirection::kTaken, Bytes{0x41, 0x63, 0x6B}));
}

TEST(LinkDelay, AStepNeverEndsEarly) {
  using std::chrono::microseconds;
  using std::chrono::steady_clock;
  for (int i = 0; i < 200; ++i) {
    const auto start = steady_clock::now();
    DelayMilliseconds(1);
    ASSERT_GE(steady_clock::now() - start, microseconds{1000}) << i;
  }
  const auto start = steady_clock::now();
  DelayMicroseconds(30);
  EXPECT_GE(steady_clock::now() - start, microseconds{30});
  const auto elapsed = TimeOf([] { DelayMilliseconds(25); });
  EXPECT_GE(elapsed, milliseconds{25});
  EXPECT_LT(elapsed, milliseconds{300});
}

// A port whose device can go away while a wait is under way.
class VanishingPort : public FakePort {
 public:
  using FakePort::FakePort;
  bool LinkHungUp() const override { return gone_.load(); }
  void HangUp() {
    gone_.store(true);
    WakeLink();
  }

 private:
  std::atomic<bool> gone_{false};
};

// The waits sleep, so whatever ends them must wake them: arriving bytes, a hang-up, a cancel.
TEST(LinkWake, BytesArrivingLongBeforeTheBoundEndTheWaitAtOnce) {
  FakePort port;
  ScopedLinkPort scope{&port};
  std::thread producer([&] {
    std::this_thread::sleep_for(milliseconds{30});
    const Bytes bytes = Sequence(200);
    port.Deliver(bytes.data(), static_cast<uint32_t>(bytes.size()));
  });
  Bytes buffer(200);
  bool received = false;
  // The bound is 1601 steps; woken by the delivery, the wait ends some 30 ms in.
  const auto elapsed = TimeOf([&] { received = LinkReceive(buffer.data(), 200); });
  producer.join();
  EXPECT_TRUE(received);
  EXPECT_EQ(buffer, Sequence(200));
  EXPECT_LT(elapsed, milliseconds{800});
}

TEST(LinkWake, AHangUpEndsEveryWaitAtOnceButKeepsWhatArrivedBefore) {
  VanishingPort port([](const Bytes&) {
    Reply reply = Silence();
    reply.completeWrite = false;
    return reply;
  });
  ScopedLinkPort scope{&port};
  std::thread unplug([&] {
    std::this_thread::sleep_for(milliseconds{30});
    port.HangUp();
  });
  uint8_t buffer[100] = {};
  bool received = true;
  const auto receiving = TimeOf([&] { received = LinkReceive(buffer, 100); });  // bound 801 ms
  unplug.join();
  EXPECT_FALSE(received);
  EXPECT_LT(receiving, milliseconds{500});

  // Nothing more can arrive, and no write will ever be reported done.
  const Bytes frame = {0xE0, 0x04, 0x41, 0x01};
  EXPECT_LT(TimeOf([&] { LinkSend(frame.data(), 4); }), milliseconds{500});
  EXPECT_LT(TimeOf([&] { EXPECT_FALSE(LinkReceive(buffer, 100)); }), milliseconds{500});
  // Bytes that came before the hang-up are still handed out.
  PushToRing(Sequence(5));
  EXPECT_TRUE(LinkReceive(buffer, 5));
  EXPECT_EQ(Bytes(buffer, buffer + 5), Sequence(5));
}

TEST(LinkWake, AProbeLinkHasItsOwnRingAndPortAndACancelEndsItsWaits) {
  FakePort programPort([](const Bytes&) { return Answer({0x41, 0x63, 0x6B}); });
  ScopedLinkPort scope{&programPort};
  FakePort probePort([](const Bytes&) { return Answer({0x01, 0x02}); });
  auto probe = std::make_shared<Link>(&probePort);
  probePort.FeedLink(probe);
  PushToRing(Sequence(4));  // the program's ring holds bytes of its own

  std::thread prober([&] {
    BindLink bind(*probe);
    LinkReset();
    const Bytes frame = {0xE0, 0x04, 0x41, 0x05};
    LinkSend(frame.data(), 4);
    uint8_t answer[2] = {};
    EXPECT_TRUE(LinkReceive(answer, 2));
    EXPECT_EQ(Bytes(answer, answer + 2), (Bytes{0x01, 0x02}));
  });
  // Meanwhile the program's link exchanges with its own port on this thread.
  const Bytes frame = {0xE0, 0x05, 0x41, 0x18, 0x01};
  LinkReset();
  LinkSend(frame.data(), 5);
  uint8_t ack[3] = {};
  EXPECT_TRUE(LinkReceive(ack, 3));
  prober.join();
  EXPECT_EQ(programPort.Frames(), (std::vector<Bytes>{frame}));
  EXPECT_EQ(probePort.Frames().size(), 1U);

  // A search that has found its port stops the probe: its waits end at once and it writes no
  // more, nor shows a frame in the trace.
  std::vector<Bytes> traced;
  SetLinkTrace([&](LinkDirection direction, const uint8_t* bytes, uint32_t count) {
    if (direction == LinkDirection::kSent) traced.emplace_back(bytes, bytes + count);
  });
  std::thread canceller([&] {
    std::this_thread::sleep_for(milliseconds{30});
    probe->Cancel();
  });
  bool received = true;
  const auto waited = TimeOf([&] {
    BindLink bind(*probe);
    uint8_t buffer[100] = {};
    received = LinkReceive(buffer, 100);  // bound 801 ms
    LinkSend(frame.data(), 5);
  });
  canceller.join();
  EXPECT_FALSE(received);
  EXPECT_LT(waited, milliseconds{500});
  EXPECT_EQ(probePort.Frames().size(), 1U);
  EXPECT_TRUE(traced.empty());
  SetLinkTrace(nullptr);
  probePort.FeedLink(nullptr);
}

}  // namespace
}  // namespace lumivex::transport
