// lumivexctl: every board command from the shell, on the same layers as the panel.
// Main thread only; one run at a time (the connection and the link are process-wide).
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "board/commands.h"
#include "board/upgrade.h"
#include "tools/ctl/watch.h"

namespace lumivex::ctl {

enum ExitCode : int {
  kExitDone = 0,
  kExitRefused = 1,  // the board refused or did not answer, or its port went away
  kExitUsage = 2,    // bad command line
  kExitNoBoard = 3,  // no board found, or the port cannot be opened
};

enum class Command {
  kPorts,
  kConnect,
  kLed,
  kCurrentRead,
  kCurrentSet,
  kCurrentWrite,
  kColour,
  kInput,
  kTemp,
  kFlip,
  kUpgrade,
  kWatch,
};

using Channel = board::Channel;

// A command line, checked: every value is in range once parsing succeeded.
struct Invocation {
  bool help = false;
  // "COM<n>" gives portNumber; anything else is a device path. Both empty: search as the panel.
  std::optional<uint8_t> portNumber;
  std::string devicePath;
  std::optional<uint32_t> baudRate;
  bool trace = false;
  bool json = false;  // results as one JSON object a line

  Command command = Command::kConnect;
  bool ledOn = false;                  // led
  Channel channel = Channel::kRed;     // current set
  uint16_t current = 0;                // current set
  std::array<uint16_t, 3> currents{};  // current write: red, green, blue
  uint8_t colours = 7;                 // colour: bit set 1 red, 2 green, 4 blue
  uint8_t source = 0;                  // input: 0 HDMI, 1 VGA
  uint8_t flipX = 0;
  uint8_t flipY = 0;
  std::string firmwareName = board::kDefaultFirmwareName;  // upgrade
  bool wait = false;                                       // upgrade --wait
  WatchOptions watch;
};

// Limits of the current commands: "set" follows the panel's 0..255 edit box, "write" takes the
// full 16-bit value that travels on the wire.
constexpr uint32_t kMaxCurrentSet = board::kMaxChannelCurrent;
constexpr uint32_t kMaxCurrentWrite = 65535;
constexpr std::size_t kMaxFirmwareName = board::kMaxFirmwareNameLength;
// COM number under which a device path given with --port is opened when the map has none.
constexpr uint8_t kUnmappedDevicePort = 254;

struct ParseResult {
  Invocation invocation;
  std::string error;  // empty when the command line was accepted
};

// args without the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The whole help text (--help), and what a usage error prints after its reason: the first line
// of the help and where to find the rest.
std::string Usage();
std::string UsageLine();
constexpr char kTryHelp[] = "try 'lumivexctl --help' for the commands and options\n";

// Parses args, connects when the command needs the board, runs it, closes the port. Results go
// to out; messages the panel would show in a box, connection details, the trace and errors go
// to err. Returns an ExitCode.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace lumivex::ctl
