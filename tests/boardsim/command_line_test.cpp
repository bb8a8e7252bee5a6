#include "tools/boardsim/command_line.h"

#include <gtest/gtest.h>

namespace lumivex::boardsim {
namespace {

TEST(CommandLineTest, EveryOptionReachesTheBoard) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--baud",
                                "9600",
                                "--com",
                                "7",
                                "--greeting",
                                "a",
                                "--firmware",
                                "0x1000A",
                                "--temps",
                                "25,-100,27,40",
                                "--short-temps",
                                "--currents",
                                "1,2,65535",
                                "--refuse",
                                "--silent",
                                "--bad-check",
                                "--delay",
                                "30",
                                "--split",
                                "2",
                                "--split-gap=5",
                                "--surplus",
                                "3",
                                "--every-other",
                                "--noise",
                                "4",
                                "--upgrade-ack",
                                "no",
                                "--upgrade-outcome",
                                "9",
                                "--upgrade-delay",
                                "700",
                                "--upgrade-prelim",
                                "7",
                                "--usb-files",
                                "a.bin,b.bin",
                                "--no-usb-disk",
                                "--no-pace",
                                "--hangup-after",
                                "5",
                                "--trace"},
                               line, error))
      << error;
  const BoardOptions& o = line.options;
  EXPECT_EQ(o.baud, 9600u);
  EXPECT_EQ(line.comNumber, 7);
  EXPECT_EQ(o.greeting, Greeting::kClassA);
  EXPECT_EQ(o.firmwareVersion, 0x1000Au);
  ASSERT_TRUE(o.fixedTemperatures.has_value());
  EXPECT_EQ(o.fixedTemperatures->green, -100);
  EXPECT_EQ(o.fixedTemperatures->board, 40);
  EXPECT_TRUE(o.shortTemperaturesOnly);
  EXPECT_EQ(o.currents, (std::array<uint16_t, 3>{1, 2, 65535}));
  EXPECT_TRUE(o.refuse && o.silent && o.badCheck && o.answerEveryOther && o.trace);
  EXPECT_EQ(o.answerDelayMs, 30u);
  EXPECT_EQ(o.splitAnswers, 2u);
  EXPECT_EQ(o.splitGapMs, 5u);
  EXPECT_EQ(o.surplusBytes, 3u);
  EXPECT_EQ(o.noiseBeforeAnswers, 4u);
  EXPECT_FALSE(o.upgradeAck);
  EXPECT_EQ(o.upgradeOutcome, 9);
  EXPECT_EQ(o.upgradeDelayMs, 700u);
  EXPECT_EQ(o.preliminaryStatus, std::optional<uint8_t>(7));
  EXPECT_EQ(o.usbFiles, (std::vector<std::string>{"a.bin", "b.bin"}));
  EXPECT_FALSE(o.usbDiskPresent);
  EXPECT_FALSE(o.pace);
  EXPECT_EQ(o.hangUpAfterFrames, 5u);
}

TEST(CommandLineTest, NoOptionsGiveAHealthyBoard) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({}, line, error));
  EXPECT_EQ(line.options.baud, 115200u);
  EXPECT_EQ(line.comNumber, SimulatedBoard::kFirstFreeCom);
  EXPECT_EQ(line.options.upgradeOutcome, kUpgradeOutcomeFromDisk);
  EXPECT_TRUE(line.options.pace);
  ASSERT_TRUE(ParseCommandLine({"--upgrade-outcome", "none"}, line, error));
  EXPECT_EQ(line.options.upgradeOutcome, kUpgradeOutcomeNone);
}

TEST(CommandLineTest, RejectsBadOptionsWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--baud", "19200"},
      {"--baud"},
      {"--com", "0"},
      {"--com", "255"},
      {"--com", "3x"},
      {"--greeting", "b"},
      {"--firmware", "xyz"},
      {"--temps", "1,2,3"},
      {"--temps", "1,2,3,40000"},
      {"--currents", "1,2,-3"},
      {"--delay", "-1"},
      {"--split", "0"},
      {"--upgrade-ack", "maybe"},
      {"--upgrade-outcome", "256"},
      {"--hangup-after", ""},
      {"--bogus"},
      {"--trace=yes"},
      {"extra"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    CommandLine line;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(args, line, error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace lumivex::boardsim
