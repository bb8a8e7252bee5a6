#include "tools/boardsim/command_line.h"

#include <charconv>
#include <functional>
#include <map>

namespace lumivex::boardsim {

namespace {

template <typename T>
bool ParseNumber(std::string_view text, T& out, int base = 10) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
  return ec == std::errc() && ptr == end;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

}  // namespace

std::string Usage() {
  return R"(usage: lumivex-boardsim [options]
A simulated light engine on a pseudo-terminal, registered as a virtual COM port.

  --baud N                line speed of the board: 9600 or 115200 (default 115200)
  --com N                 register as COM N (1..254); default: the lowest free number
  --greeting d|a|both     greeting forms the board echoes (default both)
  --firmware HEX          firmware version, e.g. 1000B (default 1000B)
  --temps R,G,B,BOARD     fixed temperatures in degrees Celsius (-100: not available);
                          default: LED temperatures follow the LED power
  --short-temps           know only the short temperature request (no board value)
  --currents R,G,B        initial LED currents (default 100,100,100)
  --refuse                answer setters with "Nak" instead of "Ack"
  --silent                answer nothing
  --bad-check             send class-D answers with a wrong check byte
  --delay MS              pause before each answer
  --split N               send answers in pieces of N bytes
  --split-gap MS          pause between pieces (default 20)
  --surplus N             send N extra bytes after each answer
  --every-other           lose every second answer
  --noise N               send N garbage bytes before each answer
  --upgrade-ack yes|no    acknowledge the upgrade start request (default yes)
  --upgrade-outcome N|none  status byte sent at the end of an upgrade (default: 0 when the
                          file is on the USB disk, 2 when not); none: never report
  --upgrade-delay MS      time from the upgrade start to its outcome (default 300)
  --upgrade-prelim N      send status byte N halfway through an upgrade
  --usb-files A,B         files on the board's USB disk (default KVB03.bin)
  --no-usb-disk           no USB disk plugged into the board
  --no-pace               send answers at once instead of at line speed
  --hangup-after N        close the line after N frames
  --trace                 print every frame in hex with a millisecond timestamp (stderr)
  --help                  this text
)";
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  BoardOptions& o = out.options;
  size_t i = 0;
  std::string name;
  std::string value;

  auto bad = [&](const std::string& why) {
    error = name + ": " + why;
    return false;
  };
  auto u32 = [&](uint32_t& field) {
    return ParseNumber(value, field) ? true : bad("expected a whole number, got '" + value + "'");
  };
  auto flag = [&](bool& field, bool setTo) {
    field = setTo;
    return true;
  };

  using Handler = std::function<bool()>;
  const std::map<std::string, Handler, std::less<>> withValue = {
      {"--baud",
       [&] {
         uint32_t baud = 0;
         if (!ParseNumber(value, baud) || (baud != 9600 && baud != 115200))
           return bad("expected 9600 or 115200, got '" + value + "'");
         o.baud = baud;
         return true;
       }},
      {"--com",
       [&] {
         int n = 0;
         if (!ParseNumber(value, n) || n < 1 || n > 254)
           return bad("expected a COM number 1..254, got '" + value + "'");
         out.comNumber = n;
         return true;
       }},
      {"--greeting",
       [&] {
         if (value == "d")
           o.greeting = Greeting::kClassD;
         else if (value == "a")
           o.greeting = Greeting::kClassA;
         else if (value == "both")
           o.greeting = Greeting::kBoth;
         else
           return bad("expected d, a or both, got '" + value + "'");
         return true;
       }},
      {"--firmware",
       [&] {
         std::string_view hex = value;
         if (hex.starts_with("0x") || hex.starts_with("0X")) hex.remove_prefix(2);
         uint32_t version = 0;
         if (!ParseNumber(hex, version, 16))
           return bad("expected a hexadecimal version, got '" + value + "'");
         o.firmwareVersion = version;
         return true;
       }},
      {"--temps",
       [&] {
         auto parts = SplitList(value);
         Temperatures t;
         int16_t* fields[] = {&t.red, &t.green, &t.blue, &t.board};
         if (parts.size() != 4) return bad("expected four values R,G,B,BOARD");
         for (size_t k = 0; k < 4; ++k)
           if (!ParseNumber(parts[k], *fields[k]))
             return bad("not a temperature: '" + parts[k] + "'");
         o.fixedTemperatures = t;
         return true;
       }},
      {"--currents",
       [&] {
         auto parts = SplitList(value);
         if (parts.size() != 3) return bad("expected three values R,G,B");
         for (size_t k = 0; k < 3; ++k)
           if (!ParseNumber(parts[k], o.currents[k]))
             return bad("not a current 0..65535: '" + parts[k] + "'");
         return true;
       }},
      {"--delay", [&] { return u32(o.answerDelayMs); }},
      {"--split",
       [&] {
         if (!u32(o.splitAnswers)) return false;
         return o.splitAnswers > 0 ? true : bad("pieces need at least one byte");
       }},
      {"--split-gap", [&] { return u32(o.splitGapMs); }},
      {"--surplus", [&] { return u32(o.surplusBytes); }},
      {"--noise", [&] { return u32(o.noiseBeforeAnswers); }},
      {"--upgrade-ack",
       [&] {
         if (value == "yes")
           o.upgradeAck = true;
         else if (value == "no")
           o.upgradeAck = false;
         else
           return bad("expected yes or no, got '" + value + "'");
         return true;
       }},
      {"--upgrade-outcome",
       [&] {
         uint8_t status = 0;
         if (value == "none")
           o.upgradeOutcome = kUpgradeOutcomeNone;
         else if (ParseNumber(value, status))
           o.upgradeOutcome = status;
         else
           return bad("expected a status byte 0..255 or none, got '" + value + "'");
         return true;
       }},
      {"--upgrade-delay", [&] { return u32(o.upgradeDelayMs); }},
      {"--upgrade-prelim",
       [&] {
         uint8_t status = 0;
         if (!ParseNumber(value, status)) return bad("expected a status byte 0..255");
         o.preliminaryStatus = status;
         return true;
       }},
      {"--usb-files",
       [&] {
         o.usbFiles.clear();
         if (!value.empty()) o.usbFiles = SplitList(value);
         return true;
       }},
      {"--hangup-after", [&] { return u32(o.hangUpAfterFrames); }},
  };
  const std::map<std::string, Handler, std::less<>> withoutValue = {
      {"--short-temps", [&] { return flag(o.shortTemperaturesOnly, true); }},
      {"--refuse", [&] { return flag(o.refuse, true); }},
      {"--silent", [&] { return flag(o.silent, true); }},
      {"--bad-check", [&] { return flag(o.badCheck, true); }},
      {"--every-other", [&] { return flag(o.answerEveryOther, true); }},
      {"--no-usb-disk", [&] { return flag(o.usbDiskPresent, false); }},
      {"--no-pace", [&] { return flag(o.pace, false); }},
      {"--trace", [&] { return flag(o.trace, true); }},
      {"--help", [&] { return flag(out.help, true); }},
  };

  for (i = 0; i < args.size(); ++i) {
    name = args[i];
    // --name=value is accepted as well as --name value.
    size_t equals = name.find('=');
    bool inlineValue = name.starts_with("--") && equals != std::string::npos;
    if (inlineValue) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (auto it = withoutValue.find(name); it != withoutValue.end()) {
      if (inlineValue) return bad("takes no value");
      if (!it->second()) return false;
      continue;
    }
    auto it = withValue.find(name);
    if (it == withValue.end()) {
      error = "unknown option '" + name + "'";
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) return bad("needs a value");
      value = args[++i];
    }
    if (!it->second()) return false;
  }
  return true;
}

}  // namespace lumivex::boardsim
