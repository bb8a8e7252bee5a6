#include "connection/connection.h"

#include <algorithm>

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

// Tries positions 1..count of PortList at each of speeds, in that order, and keeps the first
// port whose board answers the greeting. devicePath, when set, is what every position opens.
uint8_t Search(ConnectionPage& page, uint8_t count, const std::vector<uint32_t>& speeds,
               const std::string& devicePath) {
  Attempts.clear();
  for (uint8_t position = 1; position <= count; ++position) {
    const uint8_t number = PortList[position];
    for (uint32_t baud : speeds) {
      ConnectionAttempt attempt{position, number, baud, false, 0, false};
      attempt.opened = devicePath.empty() ? transport::OpenPort(number, baud)
                                          : transport::OpenPortOnDevice(number, devicePath, baud);
      if (!attempt.opened) {
        attempt.openError = transport::LastOpenError();
        Attempts.push_back(attempt);
        continue;
      }
      attempt.answered = protocol::Handshake();
      Attempts.push_back(attempt);
      if (!attempt.answered) {
        transport::ClosePort();
        continue;
      }
      ConnectedIndex = position;
      ConnectedBaud = baud;
      // The box is modal in the panel: the caption follows only once the user has seen it.
      Show(page, key::kConnectSuccess);
      page.SetConnectCaption(settings::Translate(key::kUartClose));
      // An unanswered version request counts as old firmware; the connection stays usable.
      FirmwareCurrent = protocol::IsFirmwareAtLeast(MinimumFirmwareVersion);
      if (!FirmwareCurrent) Show(page, key::kFirmwareOld);
      return kToggled;
    }
  }
  Show(page, key::kConnectFail);
  return kNoPortAnswered;
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
