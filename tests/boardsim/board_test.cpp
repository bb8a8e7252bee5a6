#include "tools/boardsim/board.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <memory>
#include <thread>

#include "tests/boardsim/client.h"

namespace lumivex::boardsim {
namespace {

using testing::Bytes;
using testing::Client;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Requests as the panel puts them on the wire.
const Bytes kHandshakeD = Join(Join({0xE0, 0x0F, 0x44, 0x00}, Text("ShakeHands")), {0xF3});
const Bytes kHandshakeA = Join({0xE0, 0x14, 0x41, 0x05}, Text("Mstar Connect OK"));
const Bytes kTemperaturesLong = {0xE0, 0x06, 0x44, 0x05, 0x00, 0xD1};
const Bytes kTemperaturesShort = {0xE0, 0x05, 0x44, 0x05, 0xD2};
const Bytes kLedOn = {0xE0, 0x05, 0x41, 0x18, 0x01};
const Bytes kLedOff = {0xE0, 0x05, 0x41, 0x18, 0x00};
const Bytes kReadCurrents = {0xE0, 0x04, 0x41, 0x01};
const Bytes kWriteCurrents = {0xE0, 0x0A, 0x41, 0x02, 0x10, 0x00, 0x20, 0x00, 0xFF, 0x01};
const Bytes kFlipXOnly = {0xE0, 0x07, 0x44, 0x13, 0x01, 0x00, 0xC1};
const Bytes kInputVga = {0xE0, 0x06, 0x44, 0x08, 0x01, 0xCD};
const Bytes kColourBlue = {0xE0, 0x06, 0x44, 0x18, 0x04, 0xBA};
const Bytes kFirmwareVersion = {0xE0, 0x05, 0x44, 0x17, 0xC0};
const Bytes kUpgradeDefault = {0xE0, 0x0F, 0x44, 0x0E, 0x4B, 0x56, 0x42, 0x30,
                               0x33, 0x2E, 0x62, 0x69, 0x6E, 0x00, 0x12};
const Bytes kUpgradeOther = {0xE0, 0x0F, 0x44, 0x0E, 0x6F, 0x74, 0x68, 0x65,
                             0x72, 0x2E, 0x62, 0x69, 0x6E, 0x00, 0x36};
const Bytes kShortUpgrade = {0xE0, 0x03, 0x38};

const Bytes kAckA = {0x41, 0x63, 0x6B};
const Bytes kAckD = {0xE0, 0x41, 0x63, 0x6B, 0x11};

BoardOptions Quick() {
  BoardOptions o;
  o.pace = false;
  o.fixedTemperatures = Temperatures{25, 26, 27, 40};
  o.currents = {1, 2, 0x300};
  o.upgradeDelayMs = 50;
  return o;
}

class BoardTest : public ::testing::Test {
 protected:
  // Starts a board and connects the client at the given speed.
  SimulatedBoard& Connect(BoardOptions options, speed_t speed = B115200) {
    board_ = std::make_unique<SimulatedBoard>(std::move(options));
    EXPECT_TRUE(board_->Start()) << board_->error();
    EXPECT_TRUE(client_.Open(board_->linkPath(), speed));
    return *board_;
  }
  // Sends a request and expects silence for a while.
  void ExpectSilence(const Bytes& request, std::chrono::milliseconds quiet = 200ms) {
    ASSERT_TRUE(client_.Send(request));
    EXPECT_EQ(client_.Read(1, quiet), Bytes{});
  }

  testing::PrivateRuntimeDir runtime_;
  std::unique_ptr<SimulatedBoard> board_;
  Client client_;
};

struct ExactAnswer {
  const char* name;
  Bytes request;
  Bytes answer;
};

TEST_F(BoardTest, AnswersEveryCommandWithItsExactBytes) {
  const ExactAnswer cases[] = {
      {"handshake D", kHandshakeD, Join(Join({0xE0}, Text("ShakeHands")), {0x46})},
      {"handshake A", kHandshakeA, Text("Mstar Connect OK")},
      {"temperatures long",
       kTemperaturesLong,
       {0xE0, 0x19, 0x00, 0x1A, 0x00, 0x1B, 0x00, 0x28, 0x00, 0xAA}},
      {"temperatures short", kTemperaturesShort, {0xE0, 0x19, 0x00, 0x1A, 0x00, 0x1B, 0x00, 0xD2}},
      {"led power", kLedOn, kAckA},
      {"read currents", kReadCurrents, {0x01, 0x00, 0x02, 0x00, 0x00, 0x03}},
      {"write currents", kWriteCurrents, kAckA},
      {"read currents after write", kReadCurrents, {0x10, 0x00, 0x20, 0x00, 0xFF, 0x01}},
      {"flip", kFlipXOnly, kAckD},
      {"input source", kInputVga, kAckD},
      {"light colour", kColourBlue, kAckD},
      {"firmware version", kFirmwareVersion, {0xE0, 0x0B, 0x00, 0x01, 0x00, 0x14}},
      {"upgrade start", kUpgradeDefault, kAckD},
  };
  Connect(Quick());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(client_.Exchange(c.request, c.answer.size()), c.answer);
    EXPECT_EQ(client_.Read(1, 30ms), Bytes{}) << "nothing beyond the answer";
    if (c.request == kUpgradeDefault) client_.Read(3, 1000ms);  // its outcome
  }
  // The board counts an answer once it has written it all, so the count may trail the bytes.
  EXPECT_TRUE(board_->WaitForAnswers(std::size(cases) + 1, 2s));
  EXPECT_EQ(board_->counters().answers, std::size(cases) + 1);
}

TEST_F(BoardTest, KeepsTheStateTheCommandsLeave) {
  Connect(Quick());
  EXPECT_FALSE(board_->ledOn());
  client_.Exchange(kLedOn, 3);
  client_.Exchange(kWriteCurrents, 3);
  client_.Exchange(kFlipXOnly, 5);
  client_.Exchange(kInputVga, 5);
  client_.Exchange(kColourBlue, 5);
  BoardState s = board_->state();
  EXPECT_TRUE(s.ledOn);
  EXPECT_EQ(s.currents, (std::array<uint16_t, 3>{0x10, 0x20, 0x1FF}));
  EXPECT_EQ(s.flipX, 1);
  EXPECT_EQ(s.flipY, 0);
  EXPECT_EQ(s.inputSource, 1);
  EXPECT_EQ(s.lightColours, 4);
  client_.Exchange(kLedOff, 3);
  EXPECT_FALSE(board_->ledOn());
  auto frames = board_->receivedFrames();
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(frames[1], kWriteCurrents);
}

TEST_F(BoardTest, FrameLogKeepsTheMostRecentFramesAndTheCountersKeepTheTotal) {
  BoardOptions o = Quick();
  o.silent = true;  // nothing to read back, so frames can follow each other at once
  Connect(o);
  const size_t total = SimulatedBoard::kFrameLogLimit + 5;
  // In bursts of 100 frames, each taken in before the next, so the line never fills.
  for (size_t sent = 0; sent < total;) {
    Bytes burst;
    for (size_t i = 0; i < 100 && sent < total; ++i, ++sent) {
      const Bytes& frame = sent + 1 == total ? kLedOn : kLedOff;
      burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(client_.Send(burst));
    ASSERT_TRUE(board_->WaitForFrames(sent, 5s));
  }
  auto frames = board_->receivedFrames();
  ASSERT_EQ(frames.size(), SimulatedBoard::kFrameLogLimit);
  EXPECT_EQ(frames.back(), kLedOn);
  EXPECT_EQ(board_->counters().frames, total);
}

TEST_F(BoardTest, StaysSilentAtAnotherLineSpeedAndAnswersOnceTheSpeedMatches) {
  Connect(Quick(), B9600);
  ExpectSilence(kHandshakeD);
  EXPECT_EQ(board_->counters().wrongSpeed, 1u);
  ASSERT_TRUE(client_.SetSpeed(B115200));
  EXPECT_EQ(client_.Exchange(kFirmwareVersion, 6).size(), 6u);

  // A board at 9600 is the mirror image.
  BoardOptions slow = Quick();
  slow.baud = 9600;
  board_->SetOptions(slow);
  ExpectSilence(kFirmwareVersion);
  ASSERT_TRUE(client_.SetSpeed(B9600));
  EXPECT_EQ(client_.Exchange(kFirmwareVersion, 6).size(), 6u);
  EXPECT_EQ(board_->counters().wrongSpeed, 2u);
}

TEST_F(BoardTest, IgnoresAFrameWithABadCheckByte) {
  Connect(Quick());
  Bytes bad = kFirmwareVersion;
  bad.back() ^= 0x01;
  ExpectSilence(bad);
  EXPECT_EQ(board_->counters().badCheck, 1u);
  EXPECT_EQ(board_->counters().frames, 1u);
  // The next good frame is answered: the bad one left nothing behind.
  EXPECT_EQ(client_.Exchange(kFirmwareVersion, 6).size(), 6u);
}

TEST_F(BoardTest, FindsAFrameBehindNoiseAndAcrossPieces) {
  Connect(Quick());
  // Noise with stray header bytes, then a frame written in three pieces.
  ASSERT_TRUE(client_.Send({0x00, 0xE0, 0x02, 0xE0, 0x05, 0x99, 0xFF, 0xE0}));
  ASSERT_TRUE(client_.Send({0xE0, 0x05}));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(client_.Send({0x44, 0x17}));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(client_.Send({0xC0}));
  EXPECT_EQ(client_.Read(6), (Bytes{0xE0, 0x0B, 0x00, 0x01, 0x00, 0x14}));
}

TEST_F(BoardTest, DropsAFrameThatStopsHalfwayAndAnswersTheNextOne) {
  Connect(Quick());
  // A class-A header announcing 200 bytes, then nothing: a client that died mid-frame.
  ASSERT_TRUE(client_.Send({0xE0, 0xC8, 0x41, 0x01}));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(client_.Exchange(kReadCurrents, 6), (Bytes{0x01, 0x00, 0x02, 0x00, 0x00, 0x03}));
}

TEST_F(BoardTest, RefusingBoardAnswersNakAndKeepsItsState) {
  BoardOptions o = Quick();
  o.refuse = true;
  Connect(o);
  EXPECT_EQ(client_.Exchange(kWriteCurrents, 3), Text("Nak"));
  EXPECT_EQ(client_.Exchange(kInputVga, 5), (Bytes{0xE0, 0x4E, 0x61, 0x6B, 0x06}));
  EXPECT_EQ(client_.Exchange(kUpgradeDefault, 5), (Bytes{0xE0, 0x4E, 0x61, 0x6B, 0x06}));
  EXPECT_EQ(client_.Exchange(kLedOn, 3), Text("Nak"));
  EXPECT_EQ(client_.Exchange(kFlipXOnly, 5), (Bytes{0xE0, 0x4E, 0x61, 0x6B, 0x06}));
  EXPECT_EQ(client_.Exchange(kColourBlue, 5), (Bytes{0xE0, 0x4E, 0x61, 0x6B, 0x06}));
  EXPECT_EQ(board_->currents(), (std::array<uint16_t, 3>{1, 2, 0x300}));
  EXPECT_EQ(board_->inputSource(), 0);
  EXPECT_FALSE(board_->ledOn());
  EXPECT_EQ(board_->flipX(), 0);
  EXPECT_EQ(board_->lightColours(), 7);
  EXPECT_EQ(board_->state().upgradesStarted, 0u);
  // Reading is not refused.
  EXPECT_EQ(client_.Exchange(kReadCurrents, 6).size(), 6u);
}

TEST_F(BoardTest, SilentBoardAnswersNothingButStillHearsFrames) {
  BoardOptions o = Quick();
  o.silent = true;
  Connect(o);
  ExpectSilence(kHandshakeD);
  ExpectSilence(kLedOn);
  ExpectSilence(kUpgradeDefault, 300ms);  // neither an acknowledgement nor an outcome
  EXPECT_EQ(board_->counters().frames, 3u);
  EXPECT_EQ(board_->counters().answers, 0u);
  EXPECT_TRUE(board_->ledOn());
}

TEST_F(BoardTest, BadCheckCorruptsClassDAnswersOnly) {
  BoardOptions o = Quick();
  o.badCheck = true;
  Connect(o);
  Bytes answer = client_.Exchange(kFirmwareVersion, 6);
  ASSERT_EQ(answer.size(), 6u);
  uint8_t sum = 0;
  for (uint8_t b : answer) sum = static_cast<uint8_t>(sum + b);
  EXPECT_NE(sum, 0);
  EXPECT_EQ(Bytes(answer.begin(), answer.end() - 1), (Bytes{0xE0, 0x0B, 0x00, 0x01, 0x00}));
  EXPECT_EQ(client_.Exchange(kLedOn, 3), kAckA);
}

TEST_F(BoardTest, SurplusAndNoiseSurroundTheAnswer) {
  BoardOptions o = Quick();
  o.surplusBytes = 4;
  Connect(o);
  EXPECT_EQ(client_.Exchange(kLedOn, 7), Join(kAckA, {0x5A, 0x5A, 0x5A, 0x5A}));

  o.surplusBytes = 0;
  o.noiseBeforeAnswers = 5;
  board_->SetOptions(o);
  Bytes got = client_.Exchange(kLedOn, 8);
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(Bytes(got.begin() + 5, got.end()), kAckA);
  EXPECT_EQ(client_.Read(1, 50ms), Bytes{});
}

TEST_F(BoardTest, SplitAnswersArriveInPiecesWithGaps) {
  BoardOptions o = Quick();
  o.splitAnswers = 4;
  o.splitGapMs = 60;
  Connect(o);
  ASSERT_TRUE(client_.Send(kHandshakeD));
  Bytes first = client_.Read(4);
  auto start = Clock::now();
  ASSERT_EQ(first.size(), 4u);
  EXPECT_EQ(client_.Read(1, 20ms), Bytes{}) << "nothing more before the first gap ends";
  Bytes rest = client_.Read(8, 2000ms);
  EXPECT_GE(Clock::now() - start, 100ms) << "two more gaps";
  EXPECT_EQ(Join(first, rest), Join(Join({0xE0}, Text("ShakeHands")), {0x46}));
}

TEST_F(BoardTest, DelayHoldsEveryAnswerBack) {
  BoardOptions o = Quick();
  o.answerDelayMs = 150;
  Connect(o);
  auto start = Clock::now();
  EXPECT_EQ(client_.Exchange(kLedOn, 3), kAckA);
  EXPECT_GE(Clock::now() - start, 150ms);
}

TEST_F(BoardTest, EveryOtherAnswerIsLostButEveryCommandActs) {
  BoardOptions o = Quick();
  o.answerEveryOther = true;
  Connect(o);
  EXPECT_EQ(client_.Exchange(kLedOn, 3), kAckA);
  ExpectSilence(kWriteCurrents);
  EXPECT_EQ(client_.Exchange(kReadCurrents, 6), (Bytes{0x10, 0x00, 0x20, 0x00, 0xFF, 0x01}));
  ExpectSilence(kLedOff);
  EXPECT_FALSE(board_->ledOn());
}

TEST_F(BoardTest, ShortTemperatureBoardIgnoresTheLongForm) {
  BoardOptions o = Quick();
  o.shortTemperaturesOnly = true;
  Connect(o);
  ExpectSilence(kTemperaturesLong);
  EXPECT_EQ(client_.Exchange(kTemperaturesShort, 8),
            (Bytes{0xE0, 0x19, 0x00, 0x1A, 0x00, 0x1B, 0x00, 0xD2}));
  EXPECT_EQ(board_->counters().unknown, 1u);
}

TEST_F(BoardTest, NotAvailableTemperaturesTravelAsMinus100) {
  BoardOptions o = Quick();
  o.fixedTemperatures = Temperatures{-100, 30, -5, -100};
  Connect(o);
  EXPECT_EQ(client_.Exchange(kTemperaturesLong, 10),
            (Bytes{0xE0, 0x9C, 0xFF, 0x1E, 0x00, 0xFB, 0xFF, 0x9C, 0xFF, 0xD2}));
}

TEST_F(BoardTest, GreetingFormsEchoOnlyTheFormsTheBoardKnows) {
  struct Row {
    Greeting greeting;
    bool answersD;
    bool answersA;
  };
  const Row rows[] = {
      {Greeting::kClassD, true, false},
      {Greeting::kClassA, false, true},
      {Greeting::kBoth, true, true},
  };
  Connect(Quick());
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.greeting));
    BoardOptions o = Quick();
    o.greeting = row.greeting;
    board_->SetOptions(o);
    auto patience = [](bool answers) { return answers ? 2000ms : 200ms; };
    ASSERT_TRUE(client_.Send(kHandshakeD));
    EXPECT_EQ(client_.Read(12, patience(row.answersD)).size(), row.answersD ? 12u : 0u);
    ASSERT_TRUE(client_.Send(kHandshakeA));
    EXPECT_EQ(client_.Read(16, patience(row.answersA)).size(), row.answersA ? 16u : 0u);
  }
  // A greeting with other words is no greeting.
  Bytes wrong = kHandshakeA;
  wrong[4] = 'm';
  ExpectSilence(wrong);
}

TEST_F(BoardTest, LedTemperaturesFollowTheLedPower) {
  BoardOptions o = Quick();
  o.fixedTemperatures.reset();
  o.thermalTimeConstantMs = 40;
  Connect(o);
  auto decode = [](const Bytes& a, size_t i) {
    return static_cast<int16_t>(a[1 + 2 * i] | a[2 + 2 * i] << 8);
  };
  Bytes cold = client_.Exchange(kTemperaturesLong, 10);
  ASSERT_EQ(cold.size(), 10u);
  client_.Exchange(kLedOn, 3);
  std::this_thread::sleep_for(400ms);  // ten time constants
  Bytes warm = client_.Exchange(kTemperaturesLong, 10);
  ASSERT_EQ(warm.size(), 10u);
  for (size_t i = 0; i < 3; ++i) EXPECT_GT(decode(warm, i), decode(cold, i) + 10) << i;
  client_.Exchange(kLedOff, 3);
  std::this_thread::sleep_for(400ms);
  Bytes cooled = client_.Exchange(kTemperaturesLong, 10);
  ASSERT_EQ(cooled.size(), 10u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(decode(cooled, i), decode(cold, i)) << i;
}

struct UpgradeRow {
  const char* name;
  Bytes start;
  bool usbDisk;
  int outcome;
  Bytes expected;  // outcome on the wire, empty for none
};

TEST_F(BoardTest, UpgradeIsAcknowledgedThenReportsItsOutcome) {
  const UpgradeRow rows[] = {
      {"file on the disk", kUpgradeDefault, true, kUpgradeOutcomeFromDisk, {0xE0, 0x00, 0x20}},
      {"file not on the disk", kUpgradeOther, true, kUpgradeOutcomeFromDisk, {0xE0, 0x02, 0x1E}},
      {"no disk", kUpgradeDefault, false, kUpgradeOutcomeFromDisk, {0xE0, 0x01, 0x1F}},
      {"forced invalid firmware", kUpgradeOther, true, 3, {0xE0, 0x03, 0x1D}},
      {"never reports", kUpgradeDefault, true, kUpgradeOutcomeNone, {}},
  };
  Connect(Quick());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    BoardOptions o = Quick();
    o.usbDiskPresent = row.usbDisk;
    o.upgradeOutcome = row.outcome;
    o.upgradeDelayMs = 100;
    board_->SetOptions(o);
    auto start = Clock::now();
    EXPECT_EQ(client_.Exchange(row.start, 5), kAckD);
    Bytes outcome = client_.Read(3, row.expected.empty() ? 400ms : 2000ms);
    EXPECT_EQ(outcome, row.expected);
    if (!row.expected.empty()) {
      EXPECT_GE(Clock::now() - start, 100ms);
    }
  }
  EXPECT_EQ(board_->upgradeFileName(), "KVB03.bin");
  EXPECT_EQ(board_->state().upgradesStarted, 5u);
}

TEST_F(BoardTest, UpgradeSendsAnUnknownStatusFirstWhenAsked) {
  BoardOptions o = Quick();
  o.preliminaryStatus = 9;
  o.upgradeDelayMs = 100;
  Connect(o);
  EXPECT_EQ(client_.Exchange(kUpgradeDefault, 5), kAckD);
  EXPECT_EQ(client_.Read(6), (Bytes{0xE0, 0x09, 0x17, 0xE0, 0x00, 0x20}));
}

TEST_F(BoardTest, BoardWithoutUpgradeAckStartsOnlyFromTheShortFrame) {
  BoardOptions o = Quick();
  o.upgradeAck = false;
  Connect(o);
  ExpectSilence(kUpgradeOther, 300ms);
  EXPECT_EQ(board_->state().upgradesStarted, 0u);
  ASSERT_TRUE(client_.Send(kShortUpgrade));
  EXPECT_EQ(client_.Read(3), (Bytes{0xE0, 0x00, 0x20}));
  EXPECT_EQ(board_->upgradeFileName(), "KVB03.bin");
}

TEST_F(BoardTest, UpgradeNameEndsAtItsZeroByte) {
  Connect(Quick());
  // "KVB03.bin" without its zero, then "x\0y": the board reads names as zero-terminated text.
  Bytes noZero = {0xE0, 0x0E, 0x44, 0x0E, 'K', 'V', 'B', '0', '3', '.', 'b', 'i', 'n'};
  Bytes embedded = {0xE0, 0x08, 0x44, 0x0E, 'x', 0x00, 'y'};
  for (Bytes* frame : {&noZero, &embedded}) {
    uint8_t sum = 0;
    for (uint8_t b : *frame) sum = static_cast<uint8_t>(sum + b);
    frame->push_back(static_cast<uint8_t>(0x100 - sum));
  }
  EXPECT_EQ(client_.Exchange(noZero, 5), kAckD);
  EXPECT_EQ(client_.Read(3), (Bytes{0xE0, 0x00, 0x20}));
  EXPECT_EQ(client_.Exchange(embedded, 5), kAckD);
  EXPECT_EQ(client_.Read(3), (Bytes{0xE0, 0x02, 0x1E}));
  EXPECT_EQ(board_->upgradeFileName(), "x");
}

TEST_F(BoardTest, HangsUpAfterTheGivenNumberOfFrames) {
  BoardOptions o = Quick();
  o.hangUpAfterFrames = 2;
  Connect(o);
  std::string link = board_->linkPath();
  EXPECT_EQ(client_.Exchange(kHandshakeD, 12).size(), 12u);
  EXPECT_EQ(client_.Exchange(kFirmwareVersion, 6).size(), 6u) << "the last frame is answered";
  client_.Send(kReadCurrents);
  EXPECT_EQ(client_.Read(6, 1000ms), Bytes{});
  EXPECT_TRUE(client_.hungUp());
  EXPECT_TRUE(board_->hungUp());
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "an unplugged board leaves no COM port behind";
  board_->Stop();
  EXPECT_FALSE(board_->running());
}

TEST_F(BoardTest, PushedBytesReachTheClientUnasked) {
  Connect(Quick());
  Bytes flood(3000);
  for (size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<uint8_t>(i * 7);
  board_->PushBytes(flood);
  EXPECT_EQ(client_.Read(flood.size()), flood);
  EXPECT_EQ(client_.Exchange(kLedOn, 3), kAckA) << "the board still answers after a flood";
}

TEST_F(BoardTest, PacesAnswersAtItsLineSpeed) {
  BoardOptions o = Quick();
  o.pace = true;
  o.baud = 9600;
  Connect(o, B9600);
  Bytes flood(240, 0x55);  // 250 ms of line time at 9600 baud
  auto start = Clock::now();
  board_->PushBytes(flood);
  EXPECT_EQ(client_.Read(flood.size()).size(), flood.size());
  ASSERT_TRUE(client_.Send(kLedOn));
  EXPECT_EQ(client_.Read(3), kAckA);
  EXPECT_GE(Clock::now() - start, 250ms) << "the answer waits behind the flood's line time";
}

TEST_F(BoardTest, RegistersAVirtualPortAndRemovesItAtStop) {
  SimulatedBoard board(Quick());
  ASSERT_TRUE(board.Start()) << board.error();
  std::string link = board.linkPath();
  EXPECT_EQ(link, runtime_.path() + "/lumivex/ports/COM" + std::to_string(board.comNumber()));
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), board.slavePath());
  board.Stop();
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0);
  EXPECT_EQ(board.comNumber(), 0);
  board.Stop();  // twice is harmless
}

TEST_F(BoardTest, TwoBoardsGetDifferentNumbersAndATakenNumberIsRefused) {
  SimulatedBoard first(Quick());
  SimulatedBoard second(Quick());
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  EXPECT_EQ(first.comNumber(), 1);
  EXPECT_EQ(second.comNumber(), 2);
  EXPECT_NE(first.slavePath(), second.slavePath());

  SimulatedBoard third(Quick());
  EXPECT_FALSE(third.Start(2));
  EXPECT_NE(third.error().find("COM2"), std::string::npos) << third.error();
  EXPECT_EQ(std::filesystem::read_symlink(second.linkPath()).string(), second.slavePath());
  EXPECT_TRUE(third.Start(17)) << third.error();
  EXPECT_EQ(third.comNumber(), 17);

  SimulatedBoard unregistered(Quick());
  ASSERT_TRUE(unregistered.Start(SimulatedBoard::kNoVirtualPort));
  EXPECT_EQ(unregistered.comNumber(), 0);
  EXPECT_FALSE(unregistered.slavePath().empty());
}

TEST_F(BoardTest, TakesOverTheLinkOfAKilledBoardButNotAUsersPin) {
  std::string folder = runtime_.path() + "/lumivex/ports";
  std::filesystem::create_directories(folder);
  std::filesystem::create_symlink("/dev/pts/99999", folder + "/COM1");
  std::filesystem::create_symlink("/dev/serial/by-id/usb-unplugged", folder + "/COM2");
  SimulatedBoard first(Quick());
  SimulatedBoard second(Quick());
  ASSERT_TRUE(first.Start()) << first.error();
  ASSERT_TRUE(second.Start()) << second.error();
  EXPECT_EQ(first.comNumber(), 1);
  EXPECT_EQ(second.comNumber(), 3);
  EXPECT_EQ(std::filesystem::read_symlink(folder + "/COM2").string(),
            "/dev/serial/by-id/usb-unplugged");
}

TEST_F(BoardTest, RejectsAnUnsupportedSpeedAndAnOutOfRangeNumber) {
  BoardOptions o = Quick();
  o.baud = 12345;
  SimulatedBoard odd(o);
  EXPECT_FALSE(odd.Start());
  EXPECT_FALSE(odd.error().empty());
  SimulatedBoard board(Quick());
  EXPECT_FALSE(board.Start(255));
  EXPECT_TRUE(board.Start(SimulatedBoard::kNoVirtualPort));
}

TEST_F(BoardTest, ClientCanReconnectAfterClosingAnExclusivePort) {
  Connect(Quick());
  std::string path = board_->slavePath();
  ASSERT_EQ(flock(client_.fd(), LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(ioctl(client_.fd(), TIOCEXCL), 0);
  std::this_thread::sleep_for(250ms);
  int exclusive = 0;
  ASSERT_EQ(ioctl(client_.fd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1) << "kept while the client holds the port";
  client_.Close();

  // The board clears it within its housekeeping period; observe through a fresh open (root
  // may open an exclusive port, others may not).
  Client again;
  ASSERT_TRUE(again.Open(path, B115200));
  auto deadline = Clock::now() + 2s;
  do {
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(ioctl(again.fd(), TIOCGEXCL, &exclusive), 0);
  } while (exclusive != 0 && Clock::now() < deadline);
  EXPECT_EQ(exclusive, 0);
  EXPECT_EQ(again.Exchange(kLedOn, 3), kAckA);
}

TEST_F(BoardTest, WaitForFramesTimesOutAndThenSucceeds) {
  Connect(Quick());
  auto start = Clock::now();
  EXPECT_FALSE(board_->WaitForFrames(1, 100ms));
  EXPECT_GE(Clock::now() - start, 100ms);
  client_.Send(kLedOn);
  EXPECT_TRUE(board_->WaitForFrames(1, 2s));
  EXPECT_TRUE(board_->WaitForAnswers(1, 2s));
}

}  // namespace
}  // namespace lumivex::boardsim
