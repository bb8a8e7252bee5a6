#include "tools/boardsim/wire.h"

#include <gtest/gtest.h>

#include <random>

namespace lumivex::boardsim {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> ParseAll(FrameParser& parser, const Bytes& input) {
  parser.Feed(input.data(), input.size());
  std::vector<Bytes> frames;
  while (auto frame = parser.Next()) frames.push_back(*frame);
  return frames;
}

struct ParseRow {
  const char* name;
  Bytes input;
  std::vector<Bytes> frames;
  size_t pending;
};

TEST(FrameParserTest, SplitsTheStreamIntoFrames) {
  const Bytes version = {0xE0, 0x05, 0x44, 0x17, 0xC0};
  const Bytes led = {0xE0, 0x05, 0x41, 0x18, 0x01};
  const ParseRow rows[] = {
      {"one class-D frame", version, {version}, 0},
      {"two frames back to back",
       {0xE0, 0x05, 0x44, 0x17, 0xC0, 0xE0, 0x05, 0x41, 0x18, 0x01},
       {version, led},
       0},
      {"short upgrade frame", {0xE0, 0x03, 0x38}, {{0xE0, 0x03, 0x38}}, 0},
      {"garbage before a frame", {0x01, 0x02, 0xE0, 0x05, 0x44, 0x17, 0xC0}, {version}, 0},
      {"header without a known class",
       {0xE0, 0x05, 0x42, 0xE0, 0x05, 0x44, 0x17, 0xC0},
       {version},
       0},
      {"length too small for class D",
       {0xE0, 0x04, 0x44, 0x17, 0xE0, 0x05, 0x44, 0x17, 0xC0},
       {version},
       0},
      {"length 3 that is not the upgrade byte", {0xE0, 0x03, 0x41, 0x01}, {}, 0},
      {"a stray E0 right before the frame", {0xE0, 0xE0, 0x05, 0x44, 0x17, 0xC0}, {version}, 0},
      {"incomplete frame waits", {0xE0, 0x05, 0x44, 0x17}, {}, 4},
      {"lone header waits", {0xE0}, {}, 1},
      {"minimal class-A frame", {0xE0, 0x04, 0x41, 0x01}, {{0xE0, 0x04, 0x41, 0x01}}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FrameParser parser;
    EXPECT_EQ(ParseAll(parser, row.input), row.frames);
    EXPECT_EQ(parser.pending(), row.pending);
  }
}

TEST(FrameParserTest, AssemblesAFrameFedOneByteAtATime) {
  const Bytes frame = {0xE0, 0x06, 0x44, 0x05, 0x00, 0xD1};
  FrameParser parser;
  for (size_t i = 0; i + 1 < frame.size(); ++i) {
    parser.Feed(&frame[i], 1);
    EXPECT_FALSE(parser.Next().has_value());
  }
  parser.Feed(&frame.back(), 1);
  EXPECT_EQ(parser.Next(), frame);
}

TEST(FrameParserTest, AStalledFrameGivesWayToTheFrameInsideIt) {
  // A false header announcing 40 bytes swallowed a real frame; giving up on it finds the frame.
  FrameParser parser;
  Bytes input = {0xE0, 0x28, 0x41, 0xE0, 0x04, 0x41, 0x01};
  EXPECT_TRUE(ParseAll(parser, input).empty());
  parser.DropStalledFrame();
  EXPECT_EQ(ParseAll(parser, {}), (std::vector<Bytes>{{0xE0, 0x04, 0x41, 0x01}}));
  EXPECT_EQ(parser.discarded(), 3u);
}

TEST(FrameParserTest, RandomNoiseNeverBreaksTheParser) {
  std::mt19937 random(12345);
  FrameParser parser;
  size_t bytesInFrames = 0;
  for (int round = 0; round < 2000; ++round) {
    Bytes chunk(random() % 64);
    for (auto& b : chunk) b = static_cast<uint8_t>(random() % 4 == 0 ? 0xE0 : random());
    for (const auto& frame : ParseAll(parser, chunk)) {
      ASSERT_GE(frame.size(), 3u);
      ASSERT_EQ(frame[0], 0xE0);
      ASSERT_TRUE(frame.size() == 3 || frame.size() == frame[1]);
      bytesInFrames += frame.size();
    }
    if (round % 50 == 0) parser.DropStalledFrame();
    ASSERT_LE(parser.pending(), 255u) << "never holds more than one frame's worth";
  }
  // Still in step: a real frame after all that noise is found once the stall is dropped.
  while (parser.pending() > 0) {
    parser.DropStalledFrame();
    ParseAll(parser, {});
  }
  EXPECT_EQ(ParseAll(parser, {0xE0, 0x05, 0x44, 0x17, 0xC0}),
            (std::vector<Bytes>{{0xE0, 0x05, 0x44, 0x17, 0xC0}}));
  EXPECT_GT(bytesInFrames, 0u);
}

TEST(WireTest, ClassDAnswersSumToZeroUnlessCorrupt) {
  const uint8_t data[] = {0x0B, 0x00, 0x01, 0x00};
  EXPECT_EQ(ClassDAnswer(0xE0, data, 4, false), (Bytes{0xE0, 0x0B, 0x00, 0x01, 0x00, 0x14}));
  Bytes bad = ClassDAnswer(0xE0, data, 4, true);
  EXPECT_FALSE(ChecksumOk(bad.data(), bad.size()));
  Bytes otherLead = ClassDAnswer(0x00, data, 4, false);
  EXPECT_TRUE(ChecksumOk(otherLead.data(), otherLead.size()));
  const uint8_t handshake[] = {0xE0, 0x0F, 0x44, 0x00, 'S', 'h', 'a', 'k',
                               'e',  'H',  'a',  'n',  'd', 's', 0xF3};
  EXPECT_TRUE(ChecksumOk(handshake, sizeof handshake));
}

TEST(WireTest, SpeedsMapBothWays) {
  EXPECT_EQ(BaudToSpeed(9600), static_cast<speed_t>(B9600));
  EXPECT_EQ(BaudToSpeed(115200), static_cast<speed_t>(B115200));
  EXPECT_EQ(BaudToSpeed(12345), 0u);
  EXPECT_EQ(SpeedToBaud(B115200), 115200u);
  EXPECT_EQ(SpeedToBaud(B38400), 38400u);
}

}  // namespace
}  // namespace lumivex::boardsim
