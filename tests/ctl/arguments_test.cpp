// Command lines of lumivexctl: what is accepted, with which values, and what is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/ctl/ctl.h"

namespace lumivex::ctl {
namespace {

using Args = std::vector<std::string>;

Invocation Accept(const Args& args) {
  ParseResult result = ParseArguments(args);
  EXPECT_EQ(result.error, "") << "refused: " << ::testing::PrintToString(args);
  return result.invocation;
}

TEST(Arguments, GlobalOptions) {
  Invocation inv = Accept({"--port", "COM5", "--baud", "9600", "--trace", "connect"});
  EXPECT_EQ(inv.portNumber, 5);
  EXPECT_EQ(inv.devicePath, "");
  EXPECT_EQ(inv.baudRate, 9600u);
  EXPECT_TRUE(inv.trace);
  EXPECT_EQ(inv.command, Command::kConnect);

  inv = Accept({"--port=/dev/ttyUSB0", "--baud=115200", "temp"});
  EXPECT_FALSE(inv.portNumber.has_value());
  EXPECT_EQ(inv.devicePath, "/dev/ttyUSB0");
  EXPECT_EQ(inv.baudRate, 115200u);
  EXPECT_FALSE(inv.trace);

  inv = Accept({"--port", "COM254", "ports"});
  EXPECT_EQ(inv.portNumber, 254);
  inv = Accept({"connect"});
  EXPECT_FALSE(inv.portNumber.has_value());
  EXPECT_FALSE(inv.baudRate.has_value());
  EXPECT_EQ(inv.devicePath, "");
}

TEST(Arguments, CommandValues) {
  EXPECT_TRUE(Accept({"led", "on"}).ledOn);
  EXPECT_FALSE(Accept({"led", "off"}).ledOn);

  EXPECT_EQ(Accept({"current"}).command, Command::kCurrentRead);
  Invocation inv = Accept({"current", "set", "blue", "255"});
  EXPECT_EQ(inv.command, Command::kCurrentSet);
  EXPECT_EQ(inv.channel, Channel::kBlue);
  EXPECT_EQ(inv.current, 255);
  EXPECT_EQ(Accept({"current", "set", "red", "0"}).channel, Channel::kRed);

  inv = Accept({"current", "write", "0", "300", "65535"});
  EXPECT_EQ(inv.command, Command::kCurrentWrite);
  EXPECT_EQ(inv.currents, (std::array<uint16_t, 3>{0, 300, 65535}));

  const std::pair<const char*, uint8_t> colours[] = {
      {"red", 1}, {"green", 2}, {"blue", 4}, {"white", 7}};
  for (const auto& [name, bits] : colours)
    EXPECT_EQ(Accept({"colour", name}).colours, bits) << name;

  EXPECT_EQ(Accept({"input", "hdmi"}).source, 0);
  EXPECT_EQ(Accept({"input", "vga"}).source, 1);

  inv = Accept({"flip", "1", "0"});
  EXPECT_EQ(inv.flipX, 1);
  EXPECT_EQ(inv.flipY, 0);
  EXPECT_EQ(Accept({"flip", "0", "1"}).flipY, 1);
}

TEST(Arguments, Upgrade) {
  Invocation inv = Accept({"upgrade"});
  EXPECT_EQ(inv.command, Command::kUpgrade);
  EXPECT_EQ(inv.firmwareName, "KVB03.bin");
  EXPECT_FALSE(inv.wait);

  inv = Accept({"upgrade", "--wait", "fw.v2.bin"});
  EXPECT_EQ(inv.firmwareName, "fw.v2.bin");
  EXPECT_TRUE(inv.wait);
  EXPECT_TRUE(Accept({"upgrade", "fw.bin", "--wait"}).wait);

  const std::string longest(kMaxFirmwareName, 'n');
  EXPECT_EQ(Accept({"upgrade", longest}).firmwareName, longest);
}

TEST(Arguments, HelpWinsWherever) {
  for (const Args& args :
       {Args{"--help"}, Args{"-h"}, Args{"led", "--help"}, Args{"--baud", "1", "--help"}}) {
    EXPECT_TRUE(ParseArguments(args).invocation.help) << ::testing::PrintToString(args);
  }
}

TEST(Arguments, Refused) {
  const Args refused[] = {
      {},
      {"--trace"},
      {"frobnicate"},
      {"--verbose", "connect"},
      {"--port"},
      {"--port", "", "connect"},
      {"--port", "COM0", "connect"},
      {"--port", "COM255", "connect"},
      {"--port", "COM5x", "connect"},
      {"--baud", "57600", "connect"},
      {"--baud", "9600"},
      {"ports", "extra"},
      {"connect", "now"},
      {"led"},
      {"led", "ON"},
      {"led", "on", "off"},
      {"current", "read"},
      {"current", "set", "red"},
      {"current", "set", "white", "5"},
      {"current", "set", "red", "256"},
      {"current", "set", "red", "-1"},
      {"current", "set", "red", "+5"},
      {"current", "set", "red", "0x10"},
      {"current", "set", "red", "12 "},
      {"current", "write", "1", "2"},
      {"current", "write", "1", "2", "65536"},
      {"current", "write", "1", "2", "99999999999"},
      {"current", "write", "1", "2", "3", "4"},
      {"colour", "purple"},
      {"colour"},
      {"input", "dvi"},
      {"temp", "now"},
      {"flip", "1"},
      {"flip", "2", "0"},
      {"flip", "1", "yes"},
      {"upgrade", "a.bin", "b.bin"},
      {"upgrade", ""},
      {"upgrade", std::string(kMaxFirmwareName + 1, 'n')},
  };
  for (const Args& args : refused) {
    ParseResult result = ParseArguments(args);
    EXPECT_NE(result.error, "") << "accepted: " << ::testing::PrintToString(args);
    EXPECT_FALSE(result.invocation.help);
  }
}

}  // namespace
}  // namespace lumivex::ctl
