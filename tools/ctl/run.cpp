#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <thread>

#include "connection/connection.h"
#include "platform/console.h"
#include "platform/port_map.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tools/ctl/ctl.h"
#include "transport/link.h"
#include "transport/ports.h"

namespace lumivex::ctl {

namespace {

using Clock = std::chrono::steady_clock;

// The panel's light switch: up to four attempts, a pause after every unacknowledged one.
constexpr int kLedAttempts = 4;
constexpr auto kLedPause = std::chrono::milliseconds(50);
// The System page's wait for the board's upgrade outcome.
constexpr int kUpgradeCycles = 500;
constexpr auto kUpgradePause = std::chrono::milliseconds(20);

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
    result = request.portNumber || request.baudRate ? connection::Connect(page, request)
                                                    : connection::ToggleConnection(page);
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

int Verdict(bool acknowledged, std::ostream& out) {
  out << (acknowledged ? "ok" : "refused") << '\n';
  return acknowledged ? kExitDone : kExitRefused;
}

int NoAnswer(std::ostream& err) {
  err << "lumivexctl: the board did not answer\n";
  return kExitRefused;
}

std::string TemperatureText(int16_t value) {
  return value == protocol::kTemperatureNotAvailable ? "----" : std::to_string(value);
}

int SwitchLed(bool on, std::ostream& out) {
  bool acknowledged = false;
  for (int attempt = 0; attempt < kLedAttempts && !acknowledged; ++attempt) {
    acknowledged = protocol::SetLedPower(on ? 1 : 0);
    if (!acknowledged) std::this_thread::sleep_for(kLedPause);
  }
  return Verdict(acknowledged, out);
}

int ReadCurrents(std::ostream& out, std::ostream& err) {
  uint16_t red = 0, green = 0, blue = 0;
  // A failed read reports zeros, which are no currents: print nothing rather than a lie.
  if (!protocol::ReadLedCurrents(red, green, blue)) return NoAnswer(err);
  out << "red=" << red << " green=" << green << " blue=" << blue << '\n';
  return kExitDone;
}

int SetOneCurrent(Channel channel, uint16_t value, std::ostream& out, std::ostream& err) {
  std::array<uint16_t, 3> currents{};
  // The write carries all three channels: without the board's two other values it would
  // overwrite them with zeros, so nothing is written.
  if (!protocol::ReadLedCurrents(currents[0], currents[1], currents[2])) {
    ShowBox(err, key::kReadFail, key::kWarningUartTitle);
    return kExitRefused;
  }
  currents[static_cast<std::size_t>(channel)] = value;
  return Verdict(protocol::WriteLedCurrents(currents[0], currents[1], currents[2]), out);
}

int ReadTemperatures(std::ostream& out, std::ostream& err) {
  int16_t red = 0, green = 0, blue = 0, board = 0;
  const bool answered = protocol::ReadTemperatures(red, green, blue, board);
  out << "red=" << TemperatureText(red) << " green=" << TemperatureText(green)
      << " blue=" << TemperatureText(blue) << " board=" << TemperatureText(board) << '\n';
  return answered ? kExitDone : NoAnswer(err);
}

struct Outcome {
  uint8_t status;
  const char* word;
  const char* key;
};
constexpr Outcome kOutcomes[] = {
    {protocol::kUpgradeSuccess, "success", key::kUpgradeSuccess},
    {protocol::kUpgradeNoDisk, "no-disk", key::kNotFindDisk},
    {protocol::kUpgradeNoFile, "no-file", key::kNotFindFile},
    {protocol::kUpgradeInvalidFirmware, "invalid-firmware", key::kInvalidFirmware},
    {protocol::kUpgradeFailed, "failed", key::kUpgradeFail},
};

int AwaitUpgradeOutcome(std::ostream& out, std::ostream& err) {
  for (int cycle = 0; cycle < kUpgradeCycles; ++cycle) {
    uint8_t status = 0xFF;
    if (protocol::ReceiveChecked(&status, 1) == 1) {
      for (const Outcome& outcome : kOutcomes) {
        if (outcome.status != status) continue;
        ShowBox(err, outcome.key, key::kWarningSystemTitle);
        out << "outcome " << outcome.word << '\n';
        return status == protocol::kUpgradeSuccess ? kExitDone : kExitRefused;
      }
    }
    // Bytes that are no outcome are not the end of the upgrade; keep listening.
    std::this_thread::sleep_for(kUpgradePause);
  }
  ShowBox(err, key::kUpgradeTimeOut, key::kWarningSystemTitle);
  out << "outcome timeout\n";
  return kExitRefused;
}

int Upgrade(const Invocation& inv, std::ostream& out, std::ostream& err) {
  // The board reads the name as text: it travels with its terminating zero byte.
  std::vector<uint8_t> name(inv.firmwareName.begin(), inv.firmwareName.end());
  name.push_back(0);
  const int32_t started =
      protocol::StartFirmwareUpgrade(name.data(), static_cast<uint8_t>(name.size()));
  if (started == 0) {
    // The board takes the short frame without answering; there is no outcome to wait for.
    out << "fallback-sent\n";
    return kExitDone;
  }
  out << (started == 1 ? "acknowledged" : "refused") << '\n';
  // Like the panel, a start the board did not acknowledge may still end with an outcome.
  if (inv.wait) return AwaitUpgradeOutcome(out, err);
  return started == 1 ? kExitDone : kExitRefused;
}

int ListPorts(std::ostream& out) {
  for (const platform::PortMapEntry& entry : platform::ReadPortMap()) {
    out << PortName(entry.number) << ' ' << entry.device << '\n';
  }
  return kExitDone;
}

int Execute(const Invocation& inv, std::ostream& out, std::ostream& err) {
  switch (inv.command) {
    case Command::kPorts:
    case Command::kConnect:
      return kExitDone;
    case Command::kLed:
      return SwitchLed(inv.ledOn, out);
    case Command::kCurrentRead:
      return ReadCurrents(out, err);
    case Command::kCurrentSet:
      return SetOneCurrent(inv.channel, inv.current, out, err);
    case Command::kCurrentWrite:
      return Verdict(protocol::WriteLedCurrents(inv.currents[0], inv.currents[1], inv.currents[2]),
                     out);
    case Command::kColour:
      return Verdict(protocol::SetLightColour(inv.colours), out);
    case Command::kInput:
      return Verdict(protocol::SetInputSource(inv.source), out);
    case Command::kTemp:
      return ReadTemperatures(out, err);
    case Command::kFlip:
      return Verdict(protocol::SetFlip(inv.flipX, inv.flipY), out);
    case Command::kUpgrade:
      return Upgrade(inv, out, err);
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
    err << "lumivexctl: " << parsed.error << '\n' << Usage();
    return kExitUsage;
  }
  const Invocation& inv = parsed.invocation;
  if (inv.command == Command::kPorts) return ListPorts(out);

  TraceScope trace(inv.trace, err, start);
  SessionScope session(err);
  if (int status = ConnectBoard(inv, err); status != kExitDone) return status;
  const int status = Execute(inv, out, err);
  out.flush();
  return status;
}

}  // namespace lumivex::ctl
