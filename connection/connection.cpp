#include "connection/connection.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "connection/connection_testing.h"
#include "platform/port_map.h"
#include "protocol/commands.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "transport/ports.h"

namespace lumivex::connection {

std::array<uint8_t, kMaxPorts + 1> PortList{};
uint8_t ConnectedIndex = 0;

namespace {

PortMapReader MapReader = nullptr;
std::vector<ConnectionAttempt> Attempts;
uint32_t ConnectedBaud = 0;
bool FirmwareCurrent = false;

// Texts are looked up when shown, so an edited language file shows at the next box.
void Show(ConnectionPage& page, const char* key) {
  page.ShowMessage(settings::Translate(key), settings::Translate(key::kWarningUartTitle));
}

void Disconnect(ConnectionPage* page) {
  transport::ClosePort();
  ConnectedIndex = 0;
  ConnectedBaud = 0;
  FirmwareCurrent = false;
  if (page != nullptr) page->SetConnectCaption(settings::Translate(key::kUartOpen));
}

// What the probe of one position found: its attempts in order, and the speed that answered.
struct PositionOutcome {
  std::vector<ConnectionAttempt> attempts;
  uint32_t answeredBaud = 0;
};

// Greets every listed port at once, each at speeds in order, and returns the position that a
// port-by-port search would have kept: the first in list order that answers, at the first speed
// at which it answers (0 when none does). Every listed port gets its own probe and thread; a
// number listed twice is probed once per position, in turn, by the same probe. Once a position
// answers, the probes of later positions stop at once. The winner's port is left open in
// probes; every other probe has closed its port when this returns.
uint8_t ProbeAll(uint8_t count, const std::vector<uint32_t>& speeds, const std::string& devicePath,
                 std::vector<PositionOutcome>& outcomes,
                 std::vector<std::unique_ptr<transport::PortProbe>>& probes) {
  outcomes.assign(count + 1u, {});
  std::map<uint8_t, std::vector<uint8_t>> positionsOf;  // COM number -> its positions, in order
  for (uint8_t position = 1; position <= count; ++position) {
    positionsOf[PortList[position]].push_back(position);
  }

  std::mutex mutex;
  uint8_t firstAnswered = 0;     // lowest position that answered so far; 0: none
  std::vector<uint8_t> probing;  // per probe: the position it is on
  probes.clear();
  for (const auto& [number, positions] : positionsOf) {
    probes.push_back(std::make_unique<transport::PortProbe>(number, devicePath));
    probing.push_back(positions.front());
  }
  // Whether position may still win; stops the probes that cannot, under mutex.
  auto stillWanted = [&](uint8_t position) {
    return firstAnswered == 0 || position < firstAnswered;
  };
  auto answered = [&](uint8_t position) {
    std::lock_guard lock(mutex);
    if (!stillWanted(position)) return;
    firstAnswered = position;
    for (std::size_t i = 0; i < probes.size(); ++i) {
      if (probing[i] > position) probes[i]->Cancel();
    }
  };

  auto probePort = [&](std::size_t i, uint8_t number, const std::vector<uint8_t>& positions) {
    transport::PortProbe& probe = *probes[i];
    for (uint8_t position : positions) {
      {
        std::lock_guard lock(mutex);
        probing[i] = position;
        if (!stillWanted(position)) return;
      }
      PositionOutcome& outcome = outcomes[position];
      for (uint32_t baud : speeds) {
        if (probe.link().Cancelled()) return;
        ConnectionAttempt attempt{position, number, baud, false, 0, false};
        attempt.opened = probe.Open(baud);
        if (!attempt.opened) {
          attempt.openError = probe.OpenError();
          outcome.attempts.push_back(attempt);
          continue;
        }
        {
          transport::BindLink bind(probe.link());
          attempt.answered = protocol::Handshake() && !probe.link().Cancelled();
        }
        outcome.attempts.push_back(attempt);
        if (attempt.answered) {
          outcome.answeredBaud = baud;
          answered(position);
          return;
        }
        probe.Close();
      }
    }
  };
  std::vector<std::thread> threads;
  std::size_t index = 0;
  for (const auto& [number, positions] : positionsOf) {
    try {
      threads.emplace_back(probePort, index, number, std::cref(positions));
    } catch (const std::system_error&) {
      // No thread to spare: this port is greeted here, in turn; the choice stays the same.
      probePort(index, number, positions);
    }
    ++index;
  }
  for (std::thread& thread : threads) thread.join();
  return firstAnswered;
}

// Tries positions 1..count of PortList at each of speeds and keeps the first port whose board
// answers the greeting, as a port-by-port search in list order would, but greeting all ports
// at once. devicePath, when set, is what every position opens.
uint8_t Search(ConnectionPage& page, uint8_t count, const std::vector<uint32_t>& speeds,
               const std::string& devicePath) {
  Attempts.clear();
  std::vector<PositionOutcome> outcomes;
  std::vector<std::unique_ptr<transport::PortProbe>> probes;
  const uint8_t winner = ProbeAll(count, speeds, devicePath, outcomes, probes);

  // Report what a port-by-port search would have: its attempts, its failure lines, in order.
  const uint8_t lastTried = winner != 0 ? winner : count;
  for (uint8_t position = 1; position <= lastTried; ++position) {
    for (const ConnectionAttempt& attempt : outcomes[position].attempts) {
      Attempts.push_back(attempt);
      transport::ReportOpenOutcome(attempt.opened ? 0 : attempt.openError);
    }
  }
  if (winner == 0) {
    // The last port tried is the current one, closed, as after a failed open of it.
    transport::CurrentPortNumber.store(PortList[count]);
    Show(page, key::kConnectFail);
    return kNoPortAnswered;
  }
  for (auto& probe : probes) {
    if (probe->Number() == PortList[winner]) {
      probe->Adopt();
    }
  }
  probes.clear();  // every other port is closed

  ConnectedIndex = winner;
  ConnectedBaud = outcomes[winner].answeredBaud;
  // The box is modal in the panel: the caption follows only once the user has seen it.
  Show(page, key::kConnectSuccess);
  page.SetConnectCaption(settings::Translate(key::kUartClose));
  // An unanswered version request counts as old firmware; the connection stays usable.
  FirmwareCurrent = protocol::IsFirmwareAtLeast(MinimumFirmwareVersion);
  if (!FirmwareCurrent) Show(page, key::kFirmwareOld);
  return kToggled;
}

}  // namespace

uint8_t EnumerateSerialPorts(std::array<uint8_t, kMaxPorts + 1>& list) {
  const std::vector<platform::PortMapEntry> map =
      MapReader != nullptr ? MapReader() : platform::ReadPortMap();
  // The list has room for eleven numbers; ports beyond them are not offered.
  const std::size_t count = std::min(map.size(), kMaxPorts);
  for (std::size_t i = 0; i < count; ++i) list[i + 1] = map[i].number;
  return static_cast<uint8_t>(count);
}

void SetPortMapReader(PortMapReader reader) {
  MapReader = reader;
}

uint8_t ToggleConnection(ConnectionPage& page) {
  if (IsConnected()) {
    Disconnect(&page);
    return kToggled;
  }
  const uint8_t count = EnumerateSerialPorts(PortList);
  if (count == 0) {
    Attempts.clear();
    Show(page, key::kNotFinded);
    return kNoPortListed;
  }
  return Search(page, count, {BaudRates.begin(), BaudRates.end()}, {});
}

uint8_t Connect(ConnectionPage& page, const ConnectionRequest& request) {
  if (IsConnected()) Disconnect(nullptr);
  uint8_t count = 0;
  if (request.portNumber) {
    PortList[1] = *request.portNumber;
    count = 1;
  } else {
    count = EnumerateSerialPorts(PortList);
  }
  if (count == 0) {
    Attempts.clear();
    Show(page, key::kNotFinded);
    return kNoPortListed;
  }
  std::vector<uint32_t> speeds(BaudRates.begin(), BaudRates.end());
  if (request.baudRate) speeds = {*request.baudRate};
  // A device path names one port only, never every listed one.
  const std::string device = request.portNumber ? request.devicePath : std::string();
  return Search(page, count, speeds, device);
}

void CloseConnection() {
  if (IsConnected()) Disconnect(nullptr);
}

bool IsConnected() {
  return ConnectedIndex != 0;
}

const std::vector<ConnectionAttempt>& LastConnectionAttempts() {
  return Attempts;
}

uint32_t ConnectedBaudRate() {
  return ConnectedBaud;
}

bool ConnectedFirmwareCurrent() {
  return FirmwareCurrent;
}

}  // namespace lumivex::connection
