// Every command of the board, end to end: protocol over OpenPort, the port's monitor thread and a
// real pseudo-terminal, against the simulated board at 9600 and at 115200 baud.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

#include "connection/connection.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "tests/support/board_fixture.h"
#include "transport/receive_ring.h"

namespace lumivex::integration {
namespace {

const auto* const kRuntimeDir = ::testing::AddGlobalTestEnvironment(new RuntimeDirEnvironment);

namespace cmd = protocol::command;

// The requests as they must appear on the wire.
const Bytes kWireGreetingD = FrameD(0x00, Text("ShakeHands"));
const Bytes kWireGreetingA = FrameA(0x05, Text("Mstar Connect OK"));
const Bytes kWireTemperaturesLong = FrameD(0x05, {0x00});
const Bytes kWireTemperaturesShort = FrameD(0x05, {});
const Bytes kWireLedOn = FrameA(0x18, {0x01});
const Bytes kWireReadCurrents = FrameA(0x01, {});
const Bytes kWireWriteCurrents = FrameA(0x02, {0x10, 0x00, 0x20, 0x00, 0xFF, 0x01});
const Bytes kWireFlipX = FrameD(0x13, {0x01, 0x00});
const Bytes kWireInputVga = FrameD(0x08, {0x01});
const Bytes kWireColourBlue = FrameD(0x18, {0x04});
const Bytes kWireVersion = FrameD(0x17, {});
const Bytes kWireShortUpgrade = {0xE0, 0x03, 0x38};
const Bytes kDefaultName = Join(Text("KVB03.bin"), {0x00});
const Bytes kOtherName = Join(Text("other.bin"), {0x00});

TEST(WireFrames, TheTestsOwnFrameBuildersMatchBytesWrittenOutByHand) {
  // The frame builders above are checked once against bytes written out by hand.
  EXPECT_EQ(kWireGreetingD, (Bytes{0xE0, 0x0F, 0x44, 0x00, 0x53, 0x68, 0x61, 0x6B, 0x65, 0x48, 0x61,
                                   0x6E, 0x64, 0x73, 0xF3}));
  EXPECT_EQ(kWireTemperaturesLong, (Bytes{0xE0, 0x06, 0x44, 0x05, 0x00, 0xD1}));
  EXPECT_EQ(kWireVersion, (Bytes{0xE0, 0x05, 0x44, 0x17, 0xC0}));
  EXPECT_EQ(kWireLedOn, (Bytes{0xE0, 0x05, 0x41, 0x18, 0x01}));
  EXPECT_EQ(kWireReadCurrents, (Bytes{0xE0, 0x04, 0x41, 0x01}));
}

class CommandsOverPty : public BoardTestBase, public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { baud_ = GetParam(); }
  void TearDown() override { StopAll(); }
  void Start(boardsim::BoardOptions options) {
    options.baud = baud_;
    StartBoard(options, baud_);
  }
  uint32_t baud_ = 0;
};

INSTANTIATE_TEST_SUITE_P(BothSpeeds, CommandsOverPty, ::testing::Values(9600u, 115200u),
                         [](const auto& param) { return std::to_string(param.param); });

// One command, the frames it must put on the line, and what its call must deliver.
struct CommandRow {
  const char* name;
  std::function<void()> call;  // makes its own expectations on results and decoded values
  std::vector<Bytes> frames;
};

TEST_P(CommandsOverPty, EveryCommandSendsItsExactFramesAndDecodesTheBoardsAnswer) {
  Start(KnownBoard(0));
  const CommandRow rows[] = {
      {"handshake", [] { EXPECT_TRUE(protocol::Handshake()); }, {kWireGreetingD}},
      {"temperatures",
       [] {
         int16_t r = 0, g = 0, b = 0, board = 0;
         EXPECT_TRUE(protocol::ReadTemperatures(r, g, b, board));
         EXPECT_EQ((std::array<int16_t, 4>{r, g, b, board}),
                   (std::array<int16_t, 4>{25, 26, 27, 40}));
       },
       {kWireTemperaturesLong}},
      {"led on", [] { EXPECT_TRUE(protocol::SetLedPower(1)); }, {kWireLedOn}},
      {"read currents",
       [] {
         uint16_t r = 0, g = 0, b = 0;
         EXPECT_TRUE(protocol::ReadLedCurrents(r, g, b));
         EXPECT_EQ((std::array<uint16_t, 3>{r, g, b}), (std::array<uint16_t, 3>{1, 2, 0x300}));
       },
       {kWireReadCurrents}},
      {"write currents",
       [] { EXPECT_TRUE(protocol::WriteLedCurrents(0x10, 0x20, 0x1FF)); },
       {kWireWriteCurrents}},
      {"read back",
       [] {
         uint16_t r = 0, g = 0, b = 0;
         EXPECT_TRUE(protocol::ReadLedCurrents(r, g, b));
         EXPECT_EQ((std::array<uint16_t, 3>{r, g, b}),
                   (std::array<uint16_t, 3>{0x10, 0x20, 0x1FF}));
       },
       {kWireReadCurrents}},
      {"flip", [] { EXPECT_TRUE(protocol::SetFlip(1, 0)); }, {kWireFlipX}},
      {"input source", [] { EXPECT_TRUE(protocol::SetInputSource(1)); }, {kWireInputVga}},
      {"light colour", [] { EXPECT_TRUE(protocol::SetLightColour(4)); }, {kWireColourBlue}},
      {"firmware current",
       [] { EXPECT_TRUE(protocol::IsFirmwareAtLeast(connection::MinimumFirmwareVersion)); },
       {kWireVersion}},
      {"firmware newer required",
       [] { EXPECT_FALSE(protocol::IsFirmwareAtLeast(0x1000C)); },
       {kWireVersion}},
  };
  for (const CommandRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::size_t mark = FrameCount();
    row.call();
    ASSERT_TRUE(board_->WaitForFrames(mark + row.frames.size(), 2s));
    EXPECT_EQ(FramesFrom(mark), row.frames);
  }
  const boardsim::BoardState state = board_->state();
  EXPECT_TRUE(state.ledOn);
  EXPECT_EQ(state.currents, (std::array<uint16_t, 3>{0x10, 0x20, 0x1FF}));
  EXPECT_EQ(state.flipX, 1);
  EXPECT_EQ(state.flipY, 0);
  EXPECT_EQ(state.inputSource, 1);
  EXPECT_EQ(state.lightColours, 4);
  EXPECT_EQ(board_->counters().wrongSpeed, 0u);
}

// Which commands succeed on a board with one kind of fault. The upgrade start names a file other
// than the default, so that a refusal is not followed by the short upgrade frame.
enum Command {
  kHandshake,
  kTemperatures,
  kLedPower,
  kReadCurrents,
  kWriteCurrents,
  kFlip,
  kInput,
  kColour,
  kVersion,
  kUpgrade,
  kCommandCount
};
using Outcomes = std::array<bool, kCommandCount>;

struct Decoded {
  std::array<int16_t, 4> temperatures{};
  std::array<uint16_t, 3> currents{};
};

Outcomes RunEveryCommand(Decoded& decoded) {
  Outcomes ok{};
  auto& t = decoded.temperatures;
  auto& c = decoded.currents;
  ok[kHandshake] = protocol::Handshake();
  ok[kTemperatures] = protocol::ReadTemperatures(t[0], t[1], t[2], t[3]);
  ok[kLedPower] = protocol::SetLedPower(1);
  ok[kReadCurrents] = protocol::ReadLedCurrents(c[0], c[1], c[2]);
  ok[kWriteCurrents] = protocol::WriteLedCurrents(7, 8, 9);
  ok[kFlip] = protocol::SetFlip(0, 1);
  ok[kInput] = protocol::SetInputSource(1);
  ok[kColour] = protocol::SetLightColour(2);
  ok[kVersion] = protocol::IsFirmwareAtLeast(connection::MinimumFirmwareVersion);
  ok[kUpgrade] = protocol::StartFirmwareUpgrade(kOtherName.data(),
                                                static_cast<uint8_t>(kOtherName.size())) == 1;
  return ok;
}

struct FaultRow {
  const char* name;
  std::function<void(boardsim::BoardOptions&)> fault;
  Outcomes expected;
  bool changesState;  // the setters reach the board's state
};

constexpr bool T = true;
constexpr bool F = false;

TEST_P(CommandsOverPty, FaultsThatStillAnswerFailExactlyTheCommandsTheyCorrupt) {
  const FaultRow rows[] = {
      {"healthy", [](auto&) {}, {T, T, T, T, T, T, T, T, T, T}, true},
      // Reads are never refused; every setter is, the greeting and the version request are not.
      {"refusing", [](auto& o) { o.refuse = true; }, {T, T, F, T, F, F, F, F, T, F}, false},
      // Only class-D answers carry a check byte to corrupt; class A passes untouched.
      {"bad check bytes", [](auto& o) { o.badCheck = true; }, {F, F, T, T, T, F, F, F, F, F}, true},
      {"answers in pieces",
       [](auto& o) {
         o.splitAnswers = 3;
         o.splitGapMs = 15;
       },
       {T, T, T, T, T, T, T, T, T, T},
       true},
      {"surplus bytes", [](auto& o) { o.surplusBytes = 4; }, {T, T, T, T, T, T, T, T, T, T}, true},
      {"answers within patience",
       [](auto& o) { o.answerDelayMs = 60; },
       {T, T, T, T, T, T, T, T, T, T},
       true},
  };
  for (const FaultRow& row : rows) {
    SCOPED_TRACE(row.name);
    boardsim::BoardOptions options = KnownBoard(0);
    options.upgradeOutcome = boardsim::kUpgradeOutcomeNone;
    row.fault(options);
    Start(options);
    Decoded decoded;
    const Outcomes got = RunEveryCommand(decoded);
    for (int c = 0; c < kCommandCount; ++c) EXPECT_EQ(got[c], row.expected[c]) << "command " << c;

    if (row.expected[kTemperatures]) {
      EXPECT_EQ(decoded.temperatures, (std::array<int16_t, 4>{25, 26, 27, 40}));
    } else {
      EXPECT_EQ(decoded.temperatures, (std::array<int16_t, 4>{-100, -100, -100, -100}));
    }
    EXPECT_EQ(decoded.currents, (std::array<uint16_t, 3>{1, 2, 0x300}));
    const boardsim::BoardState state = board_->state();
    EXPECT_EQ(state.currents == (std::array<uint16_t, 3>{7, 8, 9}), row.changesState);
    EXPECT_EQ(state.inputSource == 1, row.changesState);
    EXPECT_EQ(state.lightColours == 2, row.changesState);
    if (row.name == std::string("surplus bytes")) {
      // The last answer's surplus is still in the ring; the next request's reset discards it.
      ASSERT_TRUE(WaitForQuietRing());
      EXPECT_EQ(transport::ReceiveRing.Count(), 4u);
    }
    StopAll();
  }
}

TEST_P(CommandsOverPty, ABadCheckOnTheClassDGreetingFailsWithoutTheClassAGreeting) {
  boardsim::BoardOptions options = KnownBoard(0);
  options.badCheck = true;
  Start(options);
  const Millis took = TimeOf([] { EXPECT_FALSE(protocol::Handshake()); });
  EXPECT_EQ(FramesFrom(0), std::vector<Bytes>{kWireGreetingD});
  EXPECT_LT(took, 1000ms) << "an answer that fails its check ends the wait at once";
  // Both temperature forms were tried: a corrupt long answer is not decoded.
  const std::size_t mark = FrameCount();
  int16_t r = 1, g = 1, b = 1, board = 1;
  EXPECT_FALSE(protocol::ReadTemperatures(r, g, b, board));
  ASSERT_TRUE(board_->WaitForFrames(mark + 2, 2s));
  EXPECT_EQ(FramesFrom(mark), (std::vector<Bytes>{kWireTemperaturesLong, kWireTemperaturesShort}));
}

TEST_P(CommandsOverPty, AtTheWrongLineSpeedTheBoardHearsNothingUntilThePortIsReopened) {
  const uint32_t other = baud_ == 9600 ? 115200 : 9600;
  boardsim::BoardOptions options = KnownBoard(baud_);
  StartBoard(options, other);
  // The quick commands only: each waits out its five tries, about 0.2 s.
  const Millis colour = TimeOf([] { EXPECT_FALSE(protocol::SetLightColour(1)); });
  const Millis version =
      TimeOf([] { EXPECT_FALSE(protocol::IsFirmwareAtLeast(connection::MinimumFirmwareVersion)); });
  EXPECT_GE(colour, 180ms);
  EXPECT_LT(colour, 2000ms);
  EXPECT_GE(version, 220ms);
  EXPECT_LT(version, 2000ms);
  EXPECT_EQ(board_->counters().wrongSpeed, 2u);
  EXPECT_EQ(board_->lightColours(), 7) << "a frame at the wrong speed must not act";

  ASSERT_TRUE(transport::OpenPort(com_, baud_));
  EXPECT_TRUE(protocol::SetLightColour(1));
  EXPECT_EQ(board_->lightColours(), 1);
}

TEST_P(CommandsOverPty, GreetingFormsFollowWhatTheBoardKnows) {
  struct Row {
    const char* name;
    boardsim::Greeting greeting;
    std::vector<Bytes> frames;
    Millis atLeast;  // the class-D greeting's patience when it meets silence
  };
  const Row rows[] = {
      {"class D only", boardsim::Greeting::kClassD, {kWireGreetingD}, 0ms},
      {"class A only", boardsim::Greeting::kClassA, {kWireGreetingD, kWireGreetingA}, 250ms},
  };
  Start(KnownBoard(0));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetBoard([&](auto& o) { o.greeting = row.greeting; });
    const std::size_t mark = FrameCount();
    const Millis took = TimeOf([] { EXPECT_TRUE(protocol::Handshake()); });
    EXPECT_EQ(FramesFrom(mark), row.frames);
    EXPECT_GE(took, row.atLeast);
    EXPECT_LT(took, 2500ms);
  }
}

TEST_P(CommandsOverPty, FirmwareVersionsCompareAsUnsignedNumbers) {
  struct Row {
    uint32_t version;
    bool current;
  };
  const Row rows[] = {{0x1000A, false},   {0x1000B, true}, {0x20000, true},   {0xFFFF, false},
                      {0xFFFFFFFF, true}, {0, false},      {0x80000000, true}};
  Start(KnownBoard(0));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.version);
    SetBoard([&](auto& o) { o.firmwareVersion = row.version; });
    EXPECT_EQ(protocol::IsFirmwareAtLeast(connection::MinimumFirmwareVersion), row.current);
  }
}

TEST_P(CommandsOverPty, NotAvailableTemperaturesArriveAsMinus100) {
  boardsim::BoardOptions options = KnownBoard(0);
  options.fixedTemperatures = boardsim::Temperatures{-100, 31, -5, -100};
  Start(options);
  int16_t r = 0, g = 0, b = 0, board = 0;
  EXPECT_TRUE(protocol::ReadTemperatures(r, g, b, board));
  EXPECT_EQ((std::array<int16_t, 4>{r, g, b, board}), (std::array<int16_t, 4>{-100, 31, -5, -100}));
}

struct UpgradeRow {
  const char* name;
  std::function<void(boardsim::BoardOptions&)> board;
  Bytes fileName;
  int32_t started;                 // StartFirmwareUpgrade's result
  std::vector<Bytes> frames;       // what went on the line
  std::optional<uint8_t> outcome;  // what the worker's wait delivers
};

TEST_P(CommandsOverPty, UpgradeStartIsFollowedByTheBoardsOutcome) {
  const Bytes startDefault = FrameD(0x0E, kDefaultName);
  const Bytes startOther = FrameD(0x0E, kOtherName);
  const UpgradeRow rows[] = {
      {"succeeded", [](auto&) {}, kDefaultName, 1, {startDefault}, 0},
      {"file not on the disk", [](auto&) {}, kOtherName, 1, {startOther}, 2},
      {"no disk", [](auto& o) { o.usbDiskPresent = false; }, kDefaultName, 1, {startDefault}, 1},
      {"invalid firmware",
       [](auto& o) { o.upgradeOutcome = 3; },
       kDefaultName,
       1,
       {startDefault},
       3},
      {"failed", [](auto& o) { o.upgradeOutcome = 4; }, kDefaultName, 1, {startDefault}, 4},
      // A status byte outside the table is no outcome; the wait goes on to the real one.
      {"unknown status first",
       [](auto& o) { o.preliminaryStatus = 9; },
       kDefaultName,
       1,
       {startDefault},
       0},
      // A board that ignores the framed start takes the short frame for the default name...
      {"short frame",
       [](auto& o) { o.upgradeAck = false; },
       kDefaultName,
       0,
       {startDefault, kWireShortUpgrade},
       0},
      // ...and for any other name nothing more is sent and nothing comes.
      {"not acknowledged",
       [](auto& o) { o.upgradeAck = false; },
       kOtherName,
       -1,
       {startOther},
       std::nullopt},
  };
  Start(KnownBoard(0));
  for (const UpgradeRow& row : rows) {
    SCOPED_TRACE(row.name);
    boardsim::BoardOptions options = KnownBoard(baud_);
    options.upgradeDelayMs = 150;
    row.board(options);
    board_->SetOptions(options);
    const std::size_t mark = FrameCount();
    EXPECT_EQ(protocol::StartFirmwareUpgrade(row.fileName.data(),
                                             static_cast<uint8_t>(row.fileName.size())),
              row.started);
    const OutcomeWait wait = AwaitUpgradeOutcome(row.outcome ? 200 : 12);
    EXPECT_EQ(wait.status, row.outcome);
    EXPECT_EQ(wait.checkFailures, 0);
    // One wait for three bytes is 25 steps of a millisecond.
    EXPECT_LT(wait.longestReceive, 500ms);
    EXPECT_EQ(FramesFrom(mark), row.frames);
  }
}

TEST_P(CommandsOverPty, AnOutcomeWithABadCheckByteIsNeverTakenForAStatus) {
  boardsim::BoardOptions options = KnownBoard(0);
  options.upgradeDelayMs = 50;
  Start(options);
  ASSERT_EQ(protocol::StartFirmwareUpgrade(kDefaultName.data(),
                                           static_cast<uint8_t>(kDefaultName.size())),
            1);
  SetBoard([](auto& o) { o.badCheck = true; });
  const OutcomeWait wait = AwaitUpgradeOutcome(20);
  EXPECT_EQ(wait.status, std::nullopt);
  EXPECT_EQ(wait.checkFailures, 1) << "the corrupt outcome is consumed once";
}

}  // namespace
}  // namespace lumivex::integration
