#include <charconv>
#include <string_view>

#include "tools/ctl/ctl.h"

namespace lumivex::ctl {

namespace {

// Plain decimal digits only: no sign, no blanks, no hex, nothing after the number.
std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  if (value > max) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<Channel> ParseChannel(std::string_view text) {
  if (text == "red") return Channel::kRed;
  if (text == "green") return Channel::kGreen;
  if (text == "blue") return Channel::kBlue;
  return std::nullopt;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParseResult Parse() {
    for (const std::string& arg : args_) {
      if (arg == "--help" || arg == "-h") {
        result_.invocation.help = true;
        return result_;
      }
    }
    std::size_t i = 0;
    for (; i < args_.size() && args_[i].starts_with("--"); ++i) {
      if (!ParseOption(i)) return result_;
    }
    if (i == args_.size()) return Fail("no command given");
    const std::string& name = args_[i];
    std::vector<std::string> rest(args_.begin() + static_cast<std::ptrdiff_t>(i) + 1, args_.end());
    ParseCommand(name, rest);
    return result_;
  }

 private:
  ParseResult& Fail(std::string reason) {
    if (result_.error.empty()) result_.error = std::move(reason);
    return result_;
  }

  // Accepts "--name value" and "--name=value".
  std::optional<std::string> OptionValue(std::size_t& i, std::string_view name) {
    const std::string& arg = args_[i];
    if (arg.size() > name.size() && arg[name.size()] == '=') return arg.substr(name.size() + 1);
    if (i + 1 >= args_.size()) {
      Fail(std::string(name) + " needs a value");
      return std::nullopt;
    }
    return args_[++i];
  }

  bool IsOption(std::string_view arg, std::string_view name) {
    return arg == name ||
           (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
  }

  bool ParseOption(std::size_t& i) {
    const std::string& arg = args_[i];
    Invocation& inv = result_.invocation;
    if (arg == "--trace") {
      inv.trace = true;
      return true;
    }
    if (IsOption(arg, "--port")) {
      std::optional<std::string> value = OptionValue(i, "--port");
      if (!value) return false;
      if (value->empty()) {
        Fail("--port needs a value");
        return false;
      }
      if (value->starts_with("COM")) {
        std::optional<uint32_t> number = ParseNumber(std::string_view(*value).substr(3), 254);
        if (!number || *number == 0) {
          Fail("--port " + *value + ": COM numbers run from COM1 to COM254");
          return false;
        }
        inv.portNumber = static_cast<uint8_t>(*number);
        inv.devicePath.clear();
      } else {
        inv.portNumber.reset();
        inv.devicePath = *value;
      }
      return true;
    }
    if (IsOption(arg, "--baud")) {
      std::optional<std::string> value = OptionValue(i, "--baud");
      if (!value) return false;
      if (*value == "9600") {
        inv.baudRate = 9600;
      } else if (*value == "115200") {
        inv.baudRate = 115200;
      } else {
        Fail("--baud " + *value + ": the board speaks 9600 or 115200 only");
        return false;
      }
      return true;
    }
    Fail("unknown option " + arg);
    return false;
  }

  void Arity(const std::string& name, const std::vector<std::string>& rest, std::size_t count) {
    if (rest.size() < count) Fail(name + ": missing argument");
    if (rest.size() > count) Fail(name + ": unexpected argument " + rest[count]);
  }

  void ParseCommand(const std::string& name, const std::vector<std::string>& rest) {
    Invocation& inv = result_.invocation;
    if (name == "ports") {
      inv.command = Command::kPorts;
      Arity(name, rest, 0);
    } else if (name == "connect") {
      inv.command = Command::kConnect;
      Arity(name, rest, 0);
    } else if (name == "led") {
      inv.command = Command::kLed;
      Arity(name, rest, 1);
      if (!rest.empty()) {
        if (rest[0] == "on" || rest[0] == "off") {
          inv.ledOn = rest[0] == "on";
        } else {
          Fail("led: expected on or off, not " + rest[0]);
        }
      }
    } else if (name == "current") {
      ParseCurrent(rest);
    } else if (name == "colour" || name == "color") {
      inv.command = Command::kColour;
      Arity(name, rest, 1);
      if (rest.empty()) return;
      if (std::optional<Channel> channel = ParseChannel(rest[0])) {
        inv.colours = static_cast<uint8_t>(1u << static_cast<unsigned>(*channel));
      } else if (rest[0] == "white") {
        inv.colours = 7;
      } else {
        Fail("colour: expected red, green, blue or white, not " + rest[0]);
      }
    } else if (name == "input") {
      inv.command = Command::kInput;
      Arity(name, rest, 1);
      if (rest.empty()) return;
      if (rest[0] == "hdmi" || rest[0] == "vga") {
        inv.source = rest[0] == "vga" ? 1 : 0;
      } else {
        Fail("input: expected hdmi or vga, not " + rest[0]);
      }
    } else if (name == "temp") {
      inv.command = Command::kTemp;
      Arity(name, rest, 0);
    } else if (name == "flip") {
      inv.command = Command::kFlip;
      Arity(name, rest, 2);
      if (rest.size() < 2) return;
      std::optional<uint32_t> x = ParseNumber(rest[0], 1);
      std::optional<uint32_t> y = ParseNumber(rest[1], 1);
      if (!x || !y) return void(Fail("flip: X and Y are each 0 or 1"));
      inv.flipX = static_cast<uint8_t>(*x);
      inv.flipY = static_cast<uint8_t>(*y);
    } else if (name == "upgrade") {
      ParseUpgrade(rest);
    } else if (name == "watch") {
      inv.command = Command::kWatch;
      if (std::string error = ParseWatchArguments(rest, inv.watch); !error.empty()) Fail(error);
    } else {
      Fail("unknown command " + name);
    }
  }

  void ParseCurrent(const std::vector<std::string>& rest) {
    Invocation& inv = result_.invocation;
    if (rest.empty()) {
      inv.command = Command::kCurrentRead;
      return;
    }
    const std::vector<std::string> values(rest.begin() + 1, rest.end());
    if (rest[0] == "set") {
      inv.command = Command::kCurrentSet;
      Arity("current set", values, 2);
      if (values.size() < 2) return;
      std::optional<Channel> channel = ParseChannel(values[0]);
      if (!channel) return void(Fail("current set: expected red, green or blue, not " + values[0]));
      std::optional<uint32_t> value = ParseNumber(values[1], kMaxCurrentSet);
      if (!value) return void(Fail("current set: the value runs from 0 to 255, not " + values[1]));
      inv.channel = *channel;
      inv.current = static_cast<uint16_t>(*value);
    } else if (rest[0] == "write") {
      inv.command = Command::kCurrentWrite;
      Arity("current write", values, 3);
      if (values.size() < 3) return;
      for (std::size_t i = 0; i < 3; ++i) {
        std::optional<uint32_t> value = ParseNumber(values[i], kMaxCurrentWrite);
        if (!value) {
          return void(Fail("current write: values run from 0 to 65535, not " + values[i]));
        }
        inv.currents[i] = static_cast<uint16_t>(*value);
      }
    } else {
      inv.command = Command::kCurrentRead;
      Fail("current: expected set or write, not " + rest[0]);
    }
  }

  void ParseUpgrade(const std::vector<std::string>& rest) {
    Invocation& inv = result_.invocation;
    inv.command = Command::kUpgrade;
    bool named = false;
    for (const std::string& arg : rest) {
      if (arg == "--wait") {
        inv.wait = true;
      } else if (named) {
        return void(Fail("upgrade: unexpected argument " + arg));
      } else {
        inv.firmwareName = arg;
        named = true;
      }
    }
    if (inv.firmwareName.empty()) return void(Fail("upgrade: the firmware name is empty"));
    // The name travels with its zero byte inside one frame whose length byte counts every byte.
    if (inv.firmwareName.size() > kMaxFirmwareName) {
      Fail("upgrade: the firmware name is longer than 248 characters");
    }
  }

  const std::vector<std::string>& args_;
  ParseResult result_;
};

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
  // --json may follow the command too ("watch --json"), so it is taken out wherever it stands.
  std::vector<std::string> rest;
  for (const std::string& arg : args) {
    if (arg != "--json") rest.push_back(arg);
  }
  ParseResult result = Parser(rest).Parse();
  result.invocation.json = rest.size() != args.size();
  return result;
}

namespace {
constexpr char kUsageLine[] =
    "usage: lumivexctl [--port COM<n>|DEVICE] [--baud 9600|115200] [--trace] [--json] COMMAND "
    "[ARGS]\n";
}  // namespace

std::string UsageLine() {
  return kUsageLine;
}

std::string Usage() {
  return kUsageLine + std::string(R"(
Without --port the ports are searched as the panel does (each listed port at 9600, then 115200);
with --port only that port (COM<n> from the port map, or a device path), at --baud or at both.

commands:
  ports                          one line per port: COM<n> <device>; ports beyond the
                                 first 11 are marked (not searched)
  connect                        connect only
  led on|off                     switch the light source (up to four attempts)
  current                        print red=<r> green=<g> blue=<b>
  current set red|green|blue V   change one channel, 0..255 as in the panel
                                 (the other two are written back as read)
  current write R G B            write all three channels, each 0..65535
  colour red|green|blue|white    choose which colours light up
  input hdmi|vga                 switch the video input
  temp                           print red=<r> green=<g> blue=<b> board=<t> (---- not available)
  flip X Y                       mirror in x and y, each 0 or 1
  upgrade [NAME] [--wait]        start a firmware upgrade from the board's USB disk
                                 (default name KVB03.bin, at most 248 characters);
                                 --wait waits for the board's outcome (about 23 s at most)
  watch [--interval S] [--count N] [--duration S]
                                 read the temperatures every S seconds (default 5, at
                                 least 0.5) and print CSV: time,elapsed_s,red,green,blue,board
                                 (empty where not available), until N readings, the duration
                                 or Ctrl-C

options:
  --port COM<n>|DEVICE   use only this port
  --baud 9600|115200     use only this speed
  --trace                log every frame sent and every answer byte taken on stderr
  --json                 print each result as one JSON object a line (anywhere on the line)
  --help                 print this text

Results go to stdout; setters print ok, or why not: refused (the board said no), no answer or
bad check. Connection details, the panel's messages and errors go to stderr.
exit status: 0 done, 1 the board refused or did not answer, or its port went away,
             2 usage error, 3 no board found or the port cannot be opened
)");
}

}  // namespace lumivex::ctl
