#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <random>
#include <thread>

#include "protocol/frame.h"
#include "tests/support/fake_port.h"
#include "transport/receive_ring.h"

namespace lumivex::protocol {
namespace {

using std::chrono::milliseconds;
using testing::Answer;
using testing::Bytes;
using testing::ClassDAnswer;
using testing::DrainRing;
using testing::FakePort;
using testing::Piece;
using testing::PushToRing;
using testing::Reply;
using testing::ScopedLinkPort;
using testing::Silence;
using testing::TimeOf;

uint8_t Sum(const Bytes& bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return sum;
}

class TransactTest : public ::testing::Test {
 protected:
  FakePort port;
  ScopedLinkPort scope{&port};
};

TEST_F(TransactTest, ClassDRequestsSumToZeroAndCarryTheirLength) {
  std::mt19937 random(7);
  port.SetResponder([](const Bytes&) { return Silence(); });
  for (int length : {0, 1, 2, 9, 100, 250}) {
    Bytes payload(static_cast<size_t>(length));
    for (auto& b : payload) b = static_cast<uint8_t>(random());
    const auto command = static_cast<uint16_t>(0x4400 | (random() & 0xFF));
    ASSERT_EQ(Transact(command, payload.data(), static_cast<uint8_t>(length), nullptr, 0, 1), 0);
    const Bytes frame = port.Frames().back();
    ASSERT_EQ(frame.size(), length + 5U);
    EXPECT_EQ(frame[0], 0xE0);
    EXPECT_EQ(frame[1], length + 5);
    EXPECT_EQ(frame[2], 0x44);
    EXPECT_EQ(frame[3], command & 0xFF);
    EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 4 + length), payload);
    EXPECT_EQ(Sum(frame), 0) << length;
  }
}

TEST_F(TransactTest, ClassARequestsEndWithTheirPayload) {
  const Bytes payload(251, 0x33);
  ASSERT_EQ(Transact(0x41F0, payload.data(), 251, nullptr, 0, 1), 0);
  const Bytes frame = port.Frames().back();
  ASSERT_EQ(frame.size(), 255U);
  EXPECT_EQ(frame[1], 255);
  EXPECT_EQ(frame.back(), 0x33);
}

TEST_F(TransactTest, ClassDAnswerLosesItsLeadAndCheckBytes) {
  for (uint8_t lead : {uint8_t{0xE0}, uint8_t{0x00}, uint8_t{0x7F}}) {
    port.SetResponder([lead](const Bytes&) { return Answer(ClassDAnswer({1, 2, 3, 4}, lead)); });
    std::array<uint8_t, 4> answer{};
    EXPECT_EQ(Transact(0x4417, nullptr, 0, answer.data(), 4, 5), 4);
    EXPECT_EQ(answer, (std::array<uint8_t, 4>{1, 2, 3, 4})) << int{lead};
  }
}

TEST_F(TransactTest, ClassDAnswerFailingItsCheckLeavesTheBufferAlone) {
  Bytes bad = ClassDAnswer({1, 2, 3, 4});
  bad.back() = static_cast<uint8_t>(bad.back() + 1);
  port.SetResponder([&](const Bytes&) { return Answer(bad); });
  std::array<uint8_t, 4> answer = {9, 9, 9, 9};
  EXPECT_EQ(Transact(0x4417, nullptr, 0, answer.data(), 4, 5), -1);
  EXPECT_EQ(answer, (std::array<uint8_t, 4>{9, 9, 9, 9}));
  EXPECT_EQ(transport::ReceiveRing.Count(), 0U) << "the answer bytes are consumed";
}

TEST_F(TransactTest, ClassAAnswerIsReturnedWholeWithoutCheck) {
  port.SetResponder([](const Bytes&) { return Answer({0xE0, 0x01, 0x02, 0xFF, 0x00, 0x05}); });
  std::array<uint8_t, 6> answer{};
  EXPECT_EQ(Transact(0x4101, nullptr, 0, answer.data(), 6, 5), 6);
  EXPECT_EQ(answer, (std::array<uint8_t, 6>{0xE0, 0x01, 0x02, 0xFF, 0x00, 0x05}));
}

TEST_F(TransactTest, NoAnswerWantedReturnsRightAfterTheWrite) {
  port.SetResponder([](const Bytes&) { return Answer({0x41, 0x63, 0x6B}, milliseconds{200}); });
  const uint8_t on = 1;
  int32_t result = -2;
  const auto elapsed = TimeOf([&] { result = Transact(0x4118, &on, 1, nullptr, 0, 50); });
  EXPECT_EQ(result, 0);
  EXPECT_LT(elapsed, milliseconds{150});
  EXPECT_EQ(port.Frames().size(), 1U);
}

TEST_F(TransactTest, NoTriesWritesTheFrameAndTakesNothing) {
  port.SetResponder([](const Bytes&) { return Answer({0x41, 0x63, 0x6B}); });
  std::array<uint8_t, 3> answer = {7, 7, 7};
  const uint8_t on = 1;
  EXPECT_EQ(Transact(0x4118, &on, 1, answer.data(), 3, 0), 0);
  EXPECT_EQ(port.Frames(), std::vector<Bytes>{Bytes({0xE0, 0x05, 0x41, 0x18, 0x01})});
  EXPECT_EQ(answer, (std::array<uint8_t, 3>{7, 7, 7}));
}

TEST_F(TransactTest, SilenceGivesZeroAfterEveryTry) {
  std::array<uint8_t, 3> answer = {7, 7, 7};
  const uint8_t colours = 7;
  int32_t result = -2;
  // 5 tries of 8 * 5 + 1 steps.
  const auto elapsed = TimeOf([&] { result = Transact(0x4418, &colours, 1, answer.data(), 3, 5); });
  EXPECT_EQ(result, 0);
  EXPECT_GE(elapsed, milliseconds{180});
  EXPECT_LE(elapsed, milliseconds{2000});
  EXPECT_EQ(answer, (std::array<uint8_t, 3>{7, 7, 7}));
  EXPECT_EQ(port.Frames().size(), 1U) << "tries never resend";
}

struct Refusal {
  const char* name;
  uint16_t command;
  bool payloadGiven;
  uint8_t payloadLength;
  bool answerGiven;
  uint8_t answerLength;
};

class TransactRefuses : public TransactTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(TransactRefuses, WithMinusOneWritingNothing) {
  const Refusal& r = GetParam();
  const Bytes payload(255, 0x11);
  Bytes answer(255, 0x22);
  PushToRing({5, 6, 7});
  EXPECT_EQ(Transact(r.command, r.payloadGiven ? payload.data() : nullptr, r.payloadLength,
                     r.answerGiven ? answer.data() : nullptr, r.answerLength, 3),
            -1);
  EXPECT_TRUE(port.Frames().empty());
  EXPECT_EQ(answer, Bytes(255, 0x22));
  EXPECT_EQ(DrainRing(), Bytes({5, 6, 7})) << "the ring is untouched";
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, TransactRefuses,
    ::testing::Values(Refusal{"MissingPayload", 0x4102, false, 3, true, 3},
                      Refusal{"MissingAnswer", 0x4101, true, 0, false, 6},
                      Refusal{"ClassAPayloadTooLong", 0x4102, true, 252, true, 3},
                      Refusal{"ClassDPayloadTooLong", 0x440E, true, 251, true, 3},
                      Refusal{"ClassDAnswerTooLong", 0x4417, true, 0, true, 254},
                      Refusal{"UnknownClass", 0x4201, true, 1, true, 3},
                      Refusal{"ZeroClass", 0x0005, true, 0, true, 0}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(TransactTest, LongestFramesAndAnswersThatFitAreAccepted) {
  const Bytes payload(250, 0x01);
  const Bytes data(253, 0x02);
  port.SetResponder([&](const Bytes&) { return Answer(ClassDAnswer(data)); });
  Bytes answer(253);
  EXPECT_EQ(Transact(0x440E, payload.data(), 250, answer.data(), 253, 50), 253);
  EXPECT_EQ(answer, data);
  EXPECT_EQ(port.Frames().back().size(), 255U);
}

TEST_F(TransactTest, StaleBytesNeverSatisfyANewRequest) {
  // Bytes of an earlier answer wait in the ring; the board stays silent this time.
  PushToRing({0x41, 0x63, 0x6B, 0x41, 0x63, 0x6B});
  std::array<uint8_t, 3> answer{};
  const uint8_t on = 1;
  EXPECT_EQ(Transact(0x4118, &on, 1, answer.data(), 3, 2), 0);
  EXPECT_EQ(answer, (std::array<uint8_t, 3>{}));
}

TEST_F(TransactTest, AnswerInPiecesIsTakenWithinTheLastTrysWait) {
  // Ten wire bytes wait 81 steps per try; the last piece lands in the third of four tries.
  Reply reply;
  reply.pieces = {Piece{milliseconds{5}, {0xE0, 0x19}}, Piece{milliseconds{60}, {0x00, 0x1A, 0x00}},
                  Piece{milliseconds{120}, {0x1B, 0x00, 0x28, 0x00}}};
  const Bytes whole = ClassDAnswer({0x19, 0x00, 0x1A, 0x00, 0x1B, 0x00, 0x28, 0x00});
  reply.pieces.push_back(Piece{milliseconds{0}, {whole.back()}});
  port.SetResponder([&](const Bytes&) { return reply; });
  std::array<uint8_t, 8> answer{};
  const uint8_t all = 0;
  EXPECT_EQ(Transact(0x4405, &all, 1, answer.data(), 8, 4), 8);
  EXPECT_EQ(answer, (std::array<uint8_t, 8>{0x19, 0x00, 0x1A, 0x00, 0x1B, 0x00, 0x28, 0x00}));
}

TEST_F(TransactTest, AnswerCompletedAfterTheLastTryCountsAsSilence) {
  Reply reply;
  reply.pieces = {Piece{milliseconds{0}, {0x41}}, Piece{milliseconds{600}, {0x63, 0x6B}}};
  port.SetResponder([&](const Bytes&) { return reply; });
  std::array<uint8_t, 3> answer{};
  const uint8_t on = 1;
  // Two tries of 25 steps: about 50 ms, far short of the second piece.
  EXPECT_EQ(Transact(0x4118, &on, 1, answer.data(), 3, 2), 0);
  EXPECT_EQ(answer, (std::array<uint8_t, 3>{}));
}

TEST_F(TransactTest, SurplusStaysInTheRingUntilTheNextRequest) {
  port.SetResponder([](const Bytes&) { return Answer({0x41, 0x63, 0x6B, 0x00, 0x01}); });
  std::array<uint8_t, 3> answer{};
  const uint8_t on = 1;
  ASSERT_EQ(Transact(0x4118, &on, 1, answer.data(), 3, 50), 3);
  port.Drain();
  EXPECT_EQ(transport::ReceiveRing.Count(), 2U);
  port.SetResponder([](const Bytes&) { return Answer({0x41, 0x63, 0x6B}); });
  ASSERT_EQ(Transact(0x4118, &on, 1, answer.data(), 3, 50), 3);
  port.Drain();
  EXPECT_EQ(transport::ReceiveRing.Count(), 0U);
}

TEST_F(TransactTest, ReceiveCheckedTakesAnAnswerAlreadyWaiting) {
  PushToRing({0x00, 0x05, 0xFB});
  uint8_t outcome = 0xEE;
  EXPECT_EQ(ReceiveChecked(&outcome, 1), 1);
  EXPECT_EQ(outcome, 0x05);
  EXPECT_TRUE(port.Frames().empty()) << "nothing is written";
}

TEST_F(TransactTest, ReceiveCheckedOutcomes) {
  uint8_t outcome = 0xEE;
  // Nothing arrives: one wait of 25 steps.
  const auto elapsed = TimeOf([&] { EXPECT_EQ(ReceiveChecked(&outcome, 1), 0); });
  EXPECT_GE(elapsed, milliseconds{20});
  EXPECT_LT(elapsed, milliseconds{400});
  // A bad check byte: the bytes are consumed, the outcome untouched.
  PushToRing({0x00, 0x05, 0xFA});
  EXPECT_EQ(ReceiveChecked(&outcome, 1), -1);
  EXPECT_EQ(outcome, 0xEE);
  EXPECT_EQ(transport::ReceiveRing.Count(), 0U);
  // Sent unasked by the board while the wait runs.
  port.SendUnasked(ClassDAnswer({0x02}), milliseconds{5});
  EXPECT_EQ(ReceiveChecked(&outcome, 1), 1);
  EXPECT_EQ(outcome, 0x02);
}

TEST_F(TransactTest, ReceiveCheckedRefusesWhatCannotBeCounted) {
  PushToRing({0x00, 0x05, 0xFB});
  uint8_t data[255] = {};
  EXPECT_EQ(ReceiveChecked(nullptr, 1), -1);
  // 254 data bytes and their frame do not fit the one-byte count.
  EXPECT_EQ(ReceiveChecked(data, 254), -1);
  EXPECT_EQ(ReceiveChecked(data, 255), -1);
  EXPECT_EQ(transport::ReceiveRing.Count(), 3U);
}

TEST_F(TransactTest, SendRawFrameResetsAndWritesBytesAsTheyAre) {
  PushToRing({1, 2, 3});
  const Bytes frame = {0xE0, 0x03, 0x38};
  SendRawFrame(frame.data(), 3);
  EXPECT_EQ(port.Frames(), std::vector<Bytes>{frame});
  EXPECT_EQ(transport::ReceiveRing.Count(), 0U);
}

// Two threads exchanging at once: each must get the answer to its own request. Without one
// lock around each exchange, one thread's reset or wait would take the other's bytes.
TEST_F(TransactTest, ConcurrentExchangesNeverTakeEachOthersAnswers) {
  port.SetResponder([](const Bytes& frame) {
    // The board echoes the one payload byte as a class-D answer, after a short pause.
    return Answer(ClassDAnswer({frame[4], frame[4]}), milliseconds{2});
  });
  std::atomic<int> wrong{0};
  auto exchanger = [&](uint8_t base) {
    for (uint8_t i = 0; i < 20; ++i) {
      const auto value = static_cast<uint8_t>(base + i);
      std::array<uint8_t, 2> answer{};
      if (Transact(0x4408, &value, 1, answer.data(), 2, 50) != 2 || answer[0] != value ||
          answer[1] != value) {
        ++wrong;
      }
    }
  };
  std::thread other(exchanger, uint8_t{100});
  exchanger(0);
  other.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(port.Frames().size(), 40U);
}

struct ChecksumCase {
  Bytes frame;
  uint8_t expectedCheck;
};

TEST(Checksum, SetMakesTheFrameSumToZero) {
  const std::vector<ChecksumCase> cases = {
      {{0xE0, 0x05, 0x44, 0x17, 0x00}, 0xC0},
      {{0xE0, 0x06, 0x44, 0x05, 0x00, 0x00}, 0xD1},
      {{0xE0, 0x06, 0x44, 0x08, 0x01, 0x00}, 0xCD},
      {{0xE0, 0x0F, 0x44, 0x00, 'S', 'h', 'a', 'k', 'e', 'H', 'a', 'n', 'd', 's', 0x00}, 0xF3},
  };
  for (ChecksumCase c : cases) {
    SetChecksum(c.frame.data(), 1);
    EXPECT_EQ(c.frame.back(), c.expectedCheck);
    EXPECT_TRUE(VerifyChecksum(c.frame.data(), static_cast<uint8_t>(c.frame.size())));
  }
}

TEST(Checksum, SetIgnoresWhatHasNoPlaceForACheckByte) {
  SetChecksum(nullptr, 1);
  std::array<uint8_t, 4> guarded = {0x55, 0xE0, 0x00, 0x44};
  // A length of 0 would put the check byte before the frame.
  SetChecksum(&guarded[1], 1);
  EXPECT_EQ(guarded, (std::array<uint8_t, 4>{0x55, 0xE0, 0x00, 0x44}));
}

TEST(Checksum, Verify) {
  const uint8_t good[] = {0x00, 0x05, 0xFB};
  const uint8_t bad[] = {0x00, 0x05, 0xFA};
  EXPECT_TRUE(VerifyChecksum(good, 3));
  EXPECT_FALSE(VerifyChecksum(bad, 3));
  EXPECT_TRUE(VerifyChecksum(bad, 0));
  EXPECT_FALSE(VerifyChecksum(nullptr, 0));
  EXPECT_FALSE(VerifyChecksum(nullptr, 3));
}

}  // namespace
}  // namespace lumivex::protocol
