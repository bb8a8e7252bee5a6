#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>

#include "board/commands.h"
#include "board/connect.h"
#include "board/connection_loss.h"
#include "board/temperatures.h"
#include "board/upgrade.h"
#include "connection/connection.h"
#include "platform/console.h"
#include "platform/port_map.h"
#include "protocol/outcome.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tools/ctl/ctl.h"
#include "tools/ctl/json_output.h"
#include "transport/link.h"
#include "transport/ports.h"

namespace lumivex::ctl {

namespace {

using Clock = std::chrono::steady_clock;

// Messages that the panel shows in a box, written as one line "title: text".
class StreamPage : public connection::ConnectionPage {
 public:
  explicit StreamPage(std::ostream& err) : err_(err) {}
  void ShowMessage(const std::string& text, const std::string& title) override {
    err_ << title << ": " << text << '\n';
  }
  // There is no button to re-caption on the command line.
  void SetConnectCaption(const std::string&) override {}

 private:
  std::ostream& err_;
};

void ShowBox(std::ostream& err, const char* textKey, const char* titleKey) {
  StreamPage(err).ShowMessage(settings::Translate(textKey), settings::Translate(titleKey));
}

// A failed open reports itself on standard output; on the command line standard output holds
// results only, so while ports are opened the report goes to standard error.
using platform::StdoutToStderr;

// The trace observer lives only as long as the run that installed it and its stream.
class TraceScope {
 public:
  TraceScope(bool enabled, std::ostream& err, Clock::time_point start) : enabled_(enabled) {
    if (!enabled_) return;
    transport::SetLinkTrace(
        [&err, start](transport::LinkDirection direction, const uint8_t* bytes, uint32_t count) {
          const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
          std::string line(32 + 3 * static_cast<std::size_t>(count), '\0');
          int used = std::snprintf(line.data(), line.size(), "%.1f %c", ms,
                                   direction == transport::LinkDirection::kSent ? '>' : '<');
          for (uint32_t i = 0; i < count && used > 0; ++i) {
            used += std::snprintf(line.data() + used, line.size() - static_cast<std::size_t>(used),
                                  " %02X", bytes[i]);
          }
          line.resize(used > 0 ? static_cast<std::size_t>(used) : 0);
          err << line << '\n';
        });
  }
  ~TraceScope() {
    if (enabled_) transport::SetLinkTrace(nullptr);
  }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  bool enabled_;
};

// The port is closed at the end of every run, however it ends.
class SessionScope {
 public:
  explicit SessionScope(std::ostream& err) : err_(err) {}
  ~SessionScope() {
    if (connection::IsConnected()) {
      StreamPage page(err_);
      connection::ToggleConnection(page);
    } else {
      transport::ClosePort();
    }
  }
  SessionScope(const SessionScope&) = delete;
  SessionScope& operator=(const SessionScope&) = delete;

 private:
  std::ostream& err_;
};

std::string PortName(uint8_t number) {
  return "COM" + std::to_string(number);
}

// The number the port map gives devicePath, so that a mapped device keeps its name; a device
// outside the map is opened under the spare number.
uint8_t NumberForDevice(const std::string& devicePath) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path wanted = fs::weakly_canonical(devicePath, error);
  for (const platform::PortMapEntry& entry : platform::ReadPortMap()) {
    if (entry.device == devicePath) return entry.number;
    std::error_code entryError;
    const fs::path mapped = fs::weakly_canonical(entry.device, entryError);
    if (!error && !entryError && mapped == wanted) return entry.number;
  }
  return kUnmappedDevicePort;
}

void ExplainFailure(const connection::ConnectionRequest& request, std::ostream& err) {
  std::set<uint8_t> reported;
  bool permission = false;
  bool anyOpened = false;
  for (const connection::ConnectionAttempt& attempt : connection::LastConnectionAttempts()) {
    if (attempt.opened) {
      anyOpened = true;
      continue;
    }
    if (!reported.insert(attempt.portNumber).second) continue;
    std::string device = request.devicePath;
    if (device.empty()) device = platform::DeviceForPort(attempt.portNumber).value_or("");
    err << "lumivexctl: cannot open " << PortName(attempt.portNumber);
    if (!device.empty()) err << " (" << device << ")";
    if (device.empty())
      err << ": no such port in the port map";
    else if (platform::ClassifyOpenError(attempt.openError) == platform::OpenFailure::kBusy)
      err << ": in use by another program";
    else if (attempt.openError != 0)
      err << ": " << platform::DescribeSystemError(attempt.openError);
    err << '\n';
    permission = permission || platform::ClassifyOpenError(attempt.openError) ==
                                   platform::OpenFailure::kPermission;
  }
  if (permission) {
    err << "lumivexctl: serial ports belong to the group dialout; add your user to it "
           "(sudo usermod -aG dialout \"$USER\") and log in again\n";
  }
  if (anyOpened) err << "lumivexctl: no board answered the handshake\n";
}

int ConnectBoard(const Invocation& inv, std::ostream& err) {
  StreamPage page(err);
  connection::ConnectionRequest request;
  request.baudRate = inv.baudRate;
  if (inv.portNumber) {
    request.portNumber = inv.portNumber;
  } else if (!inv.devicePath.empty()) {
    request.portNumber = NumberForDevice(inv.devicePath);
    request.devicePath = inv.devicePath;
  }
  uint8_t result = 0;
  {
    StdoutToStderr redirect;
    result = request.portNumber || request.baudRate ? board::Connect(page, request)
                                                    : board::ToggleConnection(page);
  }
  if (result != connection::kToggled) {
    ExplainFailure(request, err);
    return kExitNoBoard;
  }
  const uint8_t number = connection::PortList[connection::ConnectedIndex];
  std::string device = request.devicePath;
  if (device.empty()) device = platform::DeviceForPort(number).value_or("?");
  err << "connected " << PortName(number) << ' ' << device << ' ' << connection::ConnectedBaudRate()
      << '\n';
  err << (connection::ConnectedFirmwareCurrent() ? "firmware ok" : "firmware old") << '\n';
  return kExitDone;
}

// When the connected port hung up (an unplugged adapter): says so, once, closes it and returns
// true.
bool PortWentAway(std::ostream& err) {
  if (!board::HandleConnectionLoss()) return false;
  ShowBox(err, key::kPortGone, key::kWarningUartTitle);
  return true;
}

// A command that did not get its answer: the port went away, or the way the exchange ended
// ("refused" only when the board said no).
int Failed(protocol::Outcome outcome, std::ostream& out, std::ostream& err) {
  if (!PortWentAway(err)) out << protocol::OutcomeText(outcome) << '\n';
  return kExitRefused;
}

int Verdict(const board::CommandResult& result, std::ostream& out, std::ostream& err) {
  if (!result.ok) return Failed(result.outcome, out, err);
  out << "ok\n";
  return kExitDone;
}

int ReadCurrents(std::ostream& out, std::ostream& err) {
  const board::CurrentsReading reading = board::ReadCurrents();
  // A failed read reports zeros, which are no currents: print nothing rather than a lie.
  if (!reading.result.ok) return Failed(reading.result.outcome, out, err);
  out << "red=" << reading.currents[0] << " green=" << reading.currents[1]
      << " blue=" << reading.currents[2] << '\n';
  return kExitDone;
}

int SetOneCurrent(Channel channel, uint16_t value, std::ostream& out, std::ostream& err) {
  const board::ChannelWrite change = board::WriteChannel(channel, value);
  if (!change.read.result.ok) {
    if (PortWentAway(err)) return kExitRefused;
    // Nothing was written: the two other channels are unknown.
    ShowBox(err, key::kReadFail, key::kWarningUartTitle);
    out << protocol::OutcomeText(change.read.result.outcome) << '\n';
    return kExitRefused;
  }
  if (!change.write) return Failed(protocol::Outcome::kNotSent, out, err);
  return Verdict(*change.write, out, err);
}

int ReadTemperatures(std::ostream& out, std::ostream& err) {
  const board::TemperatureReading reading = board::ReadTemperatures();
  if (!reading.answered) return Failed(reading.outcome, out, err);
  out << "red=" << board::TemperatureText(reading.red)
      << " green=" << board::TemperatureText(reading.green)
      << " blue=" << board::TemperatureText(reading.blue)
      << " board=" << board::TemperatureText(reading.board) << '\n';
  return kExitDone;
}

int AwaitUpgradeOutcome(std::ostream& out, std::ostream& err) {
  // Nothing raises it: the command line ends the wait with Ctrl-C.
  const board::StopFlag never;
  const board::UpgradeOutcome outcome = board::AwaitUpgradeOutcome(never);
  if (outcome.end == board::UpgradeOutcome::End::kPortGone) {
    PortWentAway(err);
    return kExitRefused;
  }
  ShowBox(err, outcome.messageKey, key::kWarningSystemTitle);
  out << "outcome " << outcome.word << '\n';
  return outcome.end == board::UpgradeOutcome::End::kReported &&
                 outcome.status == protocol::kUpgradeSuccess
             ? kExitDone
             : kExitRefused;
}

int Upgrade(const Invocation& inv, std::ostream& out, std::ostream& err) {
  const board::UpgradeStartResult started = board::StartUpgrade(inv.firmwareName);
  switch (started.start) {
    case board::UpgradeStart::kShortFrameSent:
      // The board takes the short frame without answering; there is no outcome to wait for.
      out << "fallback-sent\n";
      return kExitDone;
    case board::UpgradeStart::kAcknowledged:
      out << "acknowledged\n";
      break;
    case board::UpgradeStart::kNotAcknowledged:
      if (!inv.wait) return Failed(started.outcome, out, err);
      if (PortWentAway(err)) return kExitRefused;
      out << protocol::OutcomeText(started.outcome) << '\n';
      break;
  }
  // Like the panel, a start the board did not acknowledge may still end with an outcome.
  if (inv.wait) return AwaitUpgradeOutcome(out, err);
  return kExitDone;
}

int ListPorts(std::ostream& out) {
  const std::vector<platform::PortMapEntry> map = platform::ReadPortMap();
  for (std::size_t i = 0; i < map.size(); ++i) {
    out << PortName(map[i].number) << ' ' << map[i].device;
    // A search, the panel's or ours, tries the first eleven ports of the map only.
    if (i >= connection::kMaxPorts) out << " (not searched)";
    out << '\n';
  }
  return kExitDone;
}

int Execute(const Invocation& inv, std::ostream& out, std::ostream& err) {
  switch (inv.command) {
    case Command::kPorts:
    case Command::kConnect:
      return kExitDone;
    case Command::kLed:
      return Verdict(board::SwitchLight(inv.ledOn), out, err);
    case Command::kCurrentRead:
      return ReadCurrents(out, err);
    case Command::kCurrentSet:
      return SetOneCurrent(inv.channel, inv.current, out, err);
    case Command::kCurrentWrite:
      return Verdict(board::WriteCurrents(inv.currents), out, err);
    case Command::kColour:
      return Verdict(board::SetLightColours(inv.colours), out, err);
    case Command::kInput:
      return Verdict(board::SetInputSource(inv.source), out, err);
    case Command::kTemp:
      return ReadTemperatures(out, err);
    case Command::kFlip:
      return Verdict(board::SetFlip(inv.flipX, inv.flipY), out, err);
    case Command::kUpgrade:
      return Upgrade(inv, out, err);
    case Command::kWatch:
      return Watch(inv.watch, inv.json, out, err);
  }
  return kExitUsage;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Clock::time_point start = Clock::now();
  const ParseResult parsed = ParseArguments(args);
  if (parsed.invocation.help) {
    out << Usage();
    return kExitDone;
  }
  if (!parsed.error.empty()) {
    err << "lumivexctl: " << parsed.error << '\n' << UsageLine() << kTryHelp;
    return kExitUsage;
  }
  const Invocation& inv = parsed.invocation;
  JsonResultStream json(out, inv.command);
  std::ostream& results = inv.json ? json.stream() : out;
  if (inv.command == Command::kPorts) return ListPorts(results);

  TraceScope trace(inv.trace, err, start);
  SessionScope session(err);
  if (int status = ConnectBoard(inv, err); status != kExitDone) return status;
  const int status = Execute(inv, results, err);
  results.flush();
  return status;
}

}  // namespace lumivex::ctl
