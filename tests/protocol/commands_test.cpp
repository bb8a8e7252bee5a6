#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <thread>

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/outcome.h"
#include "tests/support/fake_port.h"
#include "transport/link_testing.h"
#include "transport/receive_ring.h"

namespace lumivex::protocol {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using testing::Answer;
using testing::Bytes;
using testing::ClassDAnswer;
using testing::FakePort;
using testing::Reply;
using testing::ScopedLinkPort;
using testing::Silence;
using testing::Text;

const Bytes kAckBytes(kAck.begin(), kAck.end());

uint16_t CodeOf(const Bytes& frame) {
  return frame.size() >= 4 ? static_cast<uint16_t>(frame[2] << 8 | frame[3]) : 0;
}

Bytes Framed(Bytes head, Bytes payload) {
  head.insert(head.end(), payload.begin(), payload.end());
  if (head[2] == kClassD) {
    uint8_t sum = 0;
    for (uint8_t b : head) sum = static_cast<uint8_t>(sum + b);
    head.push_back(static_cast<uint8_t>(-sum));
  }
  return head;
}

// A board that answers every command rightly unless a test overrides one.
class Board {
 public:
  using Handler = std::function<Reply(const Bytes& frame)>;

  Bytes temperatures = {0x19, 0x00, 0x1A, 0x00, 0x1B, 0x00, 0x28, 0x00};
  Bytes currents = {0x34, 0x12, 0xFF, 0x00, 0x00, 0x01};
  Bytes version = {0x0B, 0x00, 0x01, 0x00};
  std::map<uint16_t, Handler> overrides;

  Reply operator()(const Bytes& frame) const {
    const uint16_t code = CodeOf(frame);
    if (auto it = overrides.find(code); it != overrides.end()) return it->second(frame);
    switch (code) {
      case command::kHandshakeD:
        return Answer(ClassDAnswer(Text(kHandshakeGreetingD)));
      case command::kHandshakeA:
        return Answer(Text(kHandshakeGreetingA));
      case command::kReadTemperatures:
        return frame.size() == 6
                   ? Answer(ClassDAnswer(temperatures))
                   : Answer(ClassDAnswer(Bytes(temperatures.begin(), temperatures.begin() + 6)));
      case command::kReadLedCurrents:
        return Answer(currents);
      case command::kSetLedPower:
      case command::kWriteLedCurrents:
        return Answer(kAckBytes);
      case command::kSetFlip:
      case command::kSetInputSource:
      case command::kStartFirmwareUpgrade:
      case command::kSetLightColour:
        return Answer(ClassDAnswer(kAckBytes));
      case command::kFirmwareVersion:
        return Answer(ClassDAnswer(version));
      default:
        return Silence();
    }
  }
};

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port.SetResponder([this](const Bytes& frame) { return board(frame); });
  }
  // For paths that only wait out silence: the same number of steps, each much shorter.
  static void ShortenSteps() { transport::SetLinkStepLength(microseconds{100}); }
  std::vector<uint16_t> CodesSent() const {
    std::vector<uint16_t> codes;
    for (const Bytes& frame : port.Frames()) codes.push_back(CodeOf(frame));
    return codes;
  }

  Board board;
  FakePort port;
  ScopedLinkPort scope{&port};
};

struct WireCase {
  const char* name;
  std::function<bool()> call;
  Bytes frame;
};

class CommandWire : public CommandTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(CommandWire, PutsItsFrameOnTheWireByteForByteAndSucceeds) {
  EXPECT_TRUE(GetParam().call());
  ASSERT_FALSE(port.Frames().empty());
  EXPECT_EQ(port.Frames().front(), GetParam().frame);
  EXPECT_EQ(port.Frames().size(), 1U);
}

int16_t t1, t2, t3, t4;
uint16_t c1, c2, c3;

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandWire,
    ::testing::Values(
        WireCase{"Handshake",
                 [] { return Handshake(); },
                 {0xE0, 0x0F, 0x44, 0x00, 0x53, 0x68, 0x61, 0x6B, 0x65, 0x48, 0x61, 0x6E, 0x64,
                  0x73, 0xF3}},
        WireCase{"ReadTemperatures",
                 [] { return ReadTemperatures(t1, t2, t3, t4); },
                 {0xE0, 0x06, 0x44, 0x05, 0x00, 0xD1}},
        WireCase{"IsFirmwareAtLeast",
                 [] { return IsFirmwareAtLeast(0x1000B); },
                 {0xE0, 0x05, 0x44, 0x17, 0xC0}},
        WireCase{"SetLedPowerOn", [] { return SetLedPower(1); }, {0xE0, 0x05, 0x41, 0x18, 0x01}},
        WireCase{"SetLedPowerOff", [] { return SetLedPower(0); }, {0xE0, 0x05, 0x41, 0x18, 0x00}},
        WireCase{"ReadLedCurrents",
                 [] { return ReadLedCurrents(c1, c2, c3); },
                 {0xE0, 0x04, 0x41, 0x01}},
        WireCase{"WriteLedCurrents",
                 [] { return WriteLedCurrents(0x0102, 0x0304, 0x0506); },
                 {0xE0, 0x0A, 0x41, 0x02, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05}},
        WireCase{"SetInputSourceVga",
                 [] { return SetInputSource(1); },
                 {0xE0, 0x06, 0x44, 0x08, 0x01, 0xCD}},
        WireCase{"SetFlip", [] { return SetFlip(1, 0); },
                 Framed({0xE0, 0x07, 0x44, 0x13}, {0x01, 0x00})},
        WireCase{"SetLightColour", [] { return SetLightColour(4); },
                 Framed({0xE0, 0x06, 0x44, 0x18}, {0x04})},
        WireCase{
            "StartFirmwareUpgrade",
            [] {
              return StartFirmwareUpgrade(reinterpret_cast<const uint8_t*>("KVB03.bin"), 10) == 1;
            },
            Framed({0xE0, 0x0F, 0x44, 0x0E}, {'K', 'V', 'B', '0', '3', '.', 'b', 'i', 'n', 0})}),
    [](const auto& row) { return std::string(row.param.name); });

struct SetterCase {
  const char* name;
  uint16_t code;
  std::function<bool()> call;
};

class Setter : public CommandTest, public ::testing::WithParamInterface<SetterCase> {
 protected:
  bool RunWith(Board::Handler handler) {
    board.overrides[GetParam().code] = std::move(handler);
    return GetParam().call();
  }
  bool classD() const { return (GetParam().code >> 8) == kClassD; }
  Bytes Wrap(const Bytes& data) const { return classD() ? ClassDAnswer(data) : data; }
};

TEST_P(Setter, SucceedsOnlyOnAck) {
  const Bytes ack = Wrap(kAckBytes);
  EXPECT_TRUE(RunWith([&](const Bytes&) { return Answer(ack); }));
  EXPECT_EQ(LastOutcome(), Outcome::kAnswered);
  const Bytes other = Wrap({0x41, 0x63, 0x6C});
  EXPECT_FALSE(RunWith([&](const Bytes&) { return Answer(other); }));
  EXPECT_EQ(LastOutcome(), Outcome::kRefused);
  const Bytes nak = Wrap({0x4E, 0x61, 0x6B});
  EXPECT_FALSE(RunWith([&](const Bytes&) { return Answer(nak); }));
  EXPECT_EQ(LastOutcome(), Outcome::kRefused);
  if (classD()) {
    Bytes badCheck = ClassDAnswer(kAckBytes);
    badCheck.back() ^= 0x01;
    EXPECT_FALSE(RunWith([&](const Bytes&) { return Answer(badCheck); }));
    EXPECT_EQ(LastOutcome(), Outcome::kBadCheck);
  }
  ShortenSteps();
  EXPECT_FALSE(RunWith([](const Bytes&) { return Silence(); }));
  EXPECT_EQ(LastOutcome(), Outcome::kNoAnswer);
}

TEST_F(CommandTest, TheOutcomeIsKeptPerThread) {
  board.overrides[command::kSetLedPower] = [](const Bytes&) { return Answer({0x4E, 0x61, 0x6B}); };
  ASSERT_FALSE(SetLedPower(1));
  std::thread other(
      [] { EXPECT_EQ(LastOutcome(), Outcome::kNoAnswer) << "seen on another thread"; });
  other.join();
  EXPECT_EQ(LastOutcome(), Outcome::kRefused);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Setter,
    ::testing::Values(
        SetterCase{"SetLedPower", command::kSetLedPower, [] { return SetLedPower(1); }},
        SetterCase{"WriteLedCurrents", command::kWriteLedCurrents,
                   [] { return WriteLedCurrents(1, 2, 3); }},
        SetterCase{"SetFlip", command::kSetFlip, [] { return SetFlip(0, 1); }},
        SetterCase{"SetInputSource", command::kSetInputSource, [] { return SetInputSource(0); }},
        SetterCase{"SetLightColour", command::kSetLightColour, [] { return SetLightColour(7); }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(CommandTest, AckWithAnExtraByteLeavesItInTheRing) {
  board.overrides[command::kSetLedPower] = [](const Bytes&) {
    return Answer({0x41, 0x63, 0x6B, 0x00});
  };
  EXPECT_TRUE(SetLedPower(1));
  port.Drain();
  EXPECT_EQ(testing::DrainRing(), Bytes{0x00});
}

TEST_F(CommandTest, SetLightColourGivesUpAfterFiveTries) {
  // Five tries of 41 steps: about 0.2 s.
  board.overrides[command::kSetLightColour] = [](const Bytes&) {
    return Answer(ClassDAnswer(kAckBytes), milliseconds{600});
  };
  EXPECT_FALSE(SetLightColour(1));
  board.overrides[command::kSetLightColour] = [](const Bytes&) {
    return Answer(ClassDAnswer(kAckBytes), milliseconds{30});
  };
  EXPECT_TRUE(SetLightColour(1));
}

TEST_F(CommandTest, TemperaturesFromTheLongForm) {
  int16_t red = 0, green = 0, blue = 0, boardTemp = 0;
  EXPECT_TRUE(ReadTemperatures(red, green, blue, boardTemp));
  EXPECT_EQ(red, 25);
  EXPECT_EQ(green, 26);
  EXPECT_EQ(blue, 27);
  EXPECT_EQ(boardTemp, 40);
  EXPECT_EQ(CodesSent().size(), 1U);
}

TEST_F(CommandTest, TemperaturesDecodeSignedValues) {
  board.temperatures = {0x9C, 0xFF, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
  int16_t red = 0, green = 0, blue = 0, boardTemp = 0;
  EXPECT_TRUE(ReadTemperatures(red, green, blue, boardTemp));
  EXPECT_EQ(red, kTemperatureNotAvailable);
  EXPECT_EQ(green, -1);
  EXPECT_EQ(blue, -32768);
  EXPECT_EQ(boardTemp, 32767);
}

TEST_F(CommandTest, TemperaturesFallBackToTheShortFormAfterSilence) {
  ShortenSteps();
  board.overrides[command::kReadTemperatures] = [](const Bytes& frame) {
    if (frame.size() == 6) return Silence();
    return Answer(ClassDAnswer({0x1E, 0x00, 0x1F, 0x00, 0x20, 0x00}));
  };
  int16_t red = 0, green = 0, blue = 0, boardTemp = 0;
  EXPECT_TRUE(ReadTemperatures(red, green, blue, boardTemp));
  EXPECT_EQ(red, 30);
  EXPECT_EQ(green, 31);
  EXPECT_EQ(blue, 32);
  EXPECT_EQ(boardTemp, kTemperatureNotAvailable);
  const std::vector<Bytes> frames = port.Frames();
  ASSERT_EQ(frames.size(), 2U);
  EXPECT_EQ(frames[1], Framed({0xE0, 0x05, 0x44, 0x05}, {}));
}

TEST_F(CommandTest, TemperatureAnswerFailingItsCheckIsNotDecoded) {
  board.overrides[command::kReadTemperatures] = [](const Bytes& frame) {
    if (frame.size() == 6) {
      Bytes bad = ClassDAnswer({0x63, 0x00, 0x63, 0x00, 0x63, 0x00, 0x63, 0x00});
      bad.back() ^= 0x80;
      return Answer(bad);
    }
    return Answer(ClassDAnswer({0x14, 0x00, 0x15, 0x00, 0x16, 0x00}));
  };
  int16_t red = 0, green = 0, blue = 0, boardTemp = 0;
  EXPECT_TRUE(ReadTemperatures(red, green, blue, boardTemp));
  EXPECT_EQ(red, 20);
  EXPECT_EQ(green, 21);
  EXPECT_EQ(blue, 22);
  EXPECT_EQ(boardTemp, kTemperatureNotAvailable);
  EXPECT_EQ(CodesSent().size(), 2U);
}

TEST_F(CommandTest, TemperaturesUnansweredAreAllNotAvailable) {
  ShortenSteps();
  board.overrides[command::kReadTemperatures] = [](const Bytes&) { return Silence(); };
  int16_t red = 1, green = 2, blue = 3, boardTemp = 4;
  EXPECT_FALSE(ReadTemperatures(red, green, blue, boardTemp));
  EXPECT_EQ(red, kTemperatureNotAvailable);
  EXPECT_EQ(green, kTemperatureNotAvailable);
  EXPECT_EQ(blue, kTemperatureNotAvailable);
  EXPECT_EQ(boardTemp, kTemperatureNotAvailable);
  EXPECT_EQ(CodesSent().size(), 2U);
}

TEST_F(CommandTest, LedCurrentsDecodeLowByteFirst) {
  uint16_t red = 0, green = 0, blue = 0;
  EXPECT_TRUE(ReadLedCurrents(red, green, blue));
  EXPECT_EQ(red, 0x1234);
  EXPECT_EQ(green, 0x00FF);
  EXPECT_EQ(blue, 0x0100);
}

TEST_F(CommandTest, LedCurrentsUnansweredAreZero) {
  ShortenSteps();
  board.overrides[command::kReadLedCurrents] = [](const Bytes&) { return Silence(); };
  uint16_t red = 5, green = 6, blue = 7;
  EXPECT_FALSE(ReadLedCurrents(red, green, blue));
  EXPECT_EQ(red, 0);
  EXPECT_EQ(green, 0);
  EXPECT_EQ(blue, 0);
}

struct HandshakeCase {
  const char* name;
  std::function<Reply()> classD;
  std::function<Reply()> classA;
  bool succeeds;
  bool triesClassA;
};

class HandshakeBoards : public CommandTest, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeBoards, ProveThemselvesByTheirEcho) {
  const HandshakeCase& c = GetParam();
  board.overrides[command::kHandshakeD] = [&](const Bytes&) { return c.classD(); };
  board.overrides[command::kHandshakeA] = [&](const Bytes&) { return c.classA(); };
  EXPECT_EQ(Handshake(), c.succeeds);
  std::vector<uint16_t> expected = {command::kHandshakeD};
  if (c.triesClassA) expected.push_back(command::kHandshakeA);
  EXPECT_EQ(CodesSent(), expected);
  if (c.triesClassA) {
    EXPECT_EQ(port.Frames()[1], Framed({0xE0, 0x14, 0x41, 0x05}, Text(kHandshakeGreetingA)));
  }
}

Reply EchoD() {
  return Answer(ClassDAnswer(Text(kHandshakeGreetingD)));
}
Reply EchoA() {
  return Answer(Text(kHandshakeGreetingA));
}
Reply BadCheckD() {
  Bytes answer = ClassDAnswer(Text(kHandshakeGreetingD));
  answer.back() ^= 0x01;
  return Answer(answer);
}
Reply WrongD() {
  return Answer(ClassDAnswer(Text("ShakeHandz")));
}
Reply ZeroInsideD() {
  Bytes text = Text(kHandshakeGreetingD);
  text[5] = 0;
  return Answer(ClassDAnswer(text));
}
Reply ZeroInsideA() {
  Bytes text = Text(kHandshakeGreetingA);
  text[5] = 0;
  return Answer(text);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, HandshakeBoards,
    ::testing::Values(HandshakeCase{"EchoInClassD", EchoD, EchoA, true, false},
                      HandshakeCase{"BadCheckInClassD", BadCheckD, EchoA, false, false},
                      HandshakeCase{"WrongTextInClassD", WrongD, EchoA, false, false},
                      HandshakeCase{"ZeroInsideClassD", ZeroInsideD, EchoA, false, false},
                      HandshakeCase{"OnlyClassA", Silence, EchoA, true, true},
                      HandshakeCase{"ClassAWithZeroInside", Silence, ZeroInsideA, false, true},
                      HandshakeCase{"Silent", Silence, Silence, false, true}),
    [](const auto& row) { return std::string(row.param.name); });

struct VersionCase {
  const char* name;
  Bytes version;
  bool atLeast;
};

class FirmwareVersions : public CommandTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(FirmwareVersions, CompareAsUnsignedLittleEndian) {
  board.version = GetParam().version;
  EXPECT_EQ(IsFirmwareAtLeast(0x1000B), GetParam().atLeast);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FirmwareVersions,
    ::testing::Values(VersionCase{"Exactly", {0x0B, 0x00, 0x01, 0x00}, true},
                      VersionCase{"NewerMajor", {0x00, 0x00, 0x02, 0x00}, true},
                      VersionCase{"OneBelow", {0x0A, 0x00, 0x01, 0x00}, false},
                      VersionCase{"LowWordOnly", {0xFF, 0xFF, 0x00, 0x00}, false},
                      VersionCase{"TopBitSet", {0x00, 0x00, 0x00, 0x80}, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(CommandTest, FirmwareUnansweredOrBadCountsAsOld) {
  board.overrides[command::kFirmwareVersion] = [](const Bytes&) { return Silence(); };
  EXPECT_FALSE(IsFirmwareAtLeast(0x1000B));
  EXPECT_FALSE(IsFirmwareAtLeast(0));
  board.overrides[command::kFirmwareVersion] = [](const Bytes&) {
    Bytes answer = ClassDAnswer({0x00, 0x00, 0x09, 0x00});
    answer.back() ^= 0x01;
    return Answer(answer);
  };
  EXPECT_FALSE(IsFirmwareAtLeast(0x1000B));
}

struct UpgradeCase {
  const char* name;
  Bytes fileName;  // passed with its own size as length
  bool acknowledged;
  int32_t result;
  bool shortFrame;
};

class FirmwareUpgrade : public CommandTest, public ::testing::WithParamInterface<UpgradeCase> {};

TEST_P(FirmwareUpgrade, AcknowledgedOrShortFrameOrNeither) {
  const UpgradeCase& c = GetParam();
  board.overrides[command::kStartFirmwareUpgrade] = [&](const Bytes&) {
    return c.acknowledged ? Answer(ClassDAnswer(kAckBytes)) : Silence();
  };
  EXPECT_EQ(StartFirmwareUpgrade(c.fileName.data(), static_cast<uint8_t>(c.fileName.size())),
            c.result);
  std::vector<Bytes> expected = {
      Framed({0xE0, static_cast<uint8_t>(c.fileName.size() + 5), 0x44, 0x0E}, c.fileName)};
  if (c.shortFrame) expected.push_back({0xE0, 0x03, 0x38});
  EXPECT_EQ(port.Frames(), expected);
}

Bytes Name(const char* text, bool terminated = true) {
  Bytes bytes = Text(text);
  if (terminated) bytes.push_back(0);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FirmwareUpgrade,
    ::testing::Values(
        UpgradeCase{"Acknowledged", Name("KVB03.bin"), true, 1, false},
        UpgradeCase{"OtherNameAcknowledged", Name("new.bin"), true, 1, false},
        UpgradeCase{"DefaultNameUnanswered", Name("KVB03.bin"), false, 0, true},
        UpgradeCase{"DefaultNameUnterminated", Name("KVB03.bin", false), false, 0, true},
        UpgradeCase{"DefaultNameThenJunk",
                    Bytes{'K', 'V', 'B', '0', '3', '.', 'b', 'i', 'n', 0, 'x', 0}, false, 0, true},
        UpgradeCase{"OtherCase", Name("kvb03.bin"), false, -1, false},
        UpgradeCase{"Longer", Name("KVB03.bin.old"), false, -1, false},
        UpgradeCase{"Prefix", Name("KVB03"), false, -1, false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(CommandTest, UpgradeRefusedByTheBoardStillSendsTheShortFrameForTheDefaultName) {
  board.overrides[command::kStartFirmwareUpgrade] = [](const Bytes&) {
    return Answer(ClassDAnswer({0x4E, 0x61, 0x6B}));
  };
  const Bytes name = Name("KVB03.bin");
  EXPECT_EQ(StartFirmwareUpgrade(name.data(), static_cast<uint8_t>(name.size())), 0);
  EXPECT_EQ(port.Frames().back(), (Bytes{0xE0, 0x03, 0x38}));
}

TEST_F(CommandTest, UpgradeWithoutANameWritesNothing) {
  EXPECT_EQ(StartFirmwareUpgrade(nullptr, 10), -1);
  EXPECT_TRUE(port.Frames().empty());
}

}  // namespace
}  // namespace lumivex::protocol
