#include "transport/ports.h"

#include <cerrno>
#include <iostream>
#include <optional>

#include "platform/port_map.h"
#include "transport/port_table.h"

namespace lumivex::transport {

std::atomic<uint8_t> CurrentPortNumber{0};

namespace {

std::atomic<int> LastOpenErrorCode{0};

// COM numbers that the table has an entry for; 255 is a valid byte but no port.
constexpr uint8_t kTableSize = 255;

bool ReportOpenFailure(int error) {
  LastOpenErrorCode.store(error);
  std::cout << "COM not open , error : " << error << std::endl;
  return false;
}

// OpenPort and OpenPortOnDevice after the number has been recorded; devicePath empty asks the
// port map.
bool OpenNumbered(uint8_t number, std::optional<std::string> devicePath, uint32_t baudRate) {
  CurrentPortNumber.store(number);
  if (number >= kTableSize) {
    return ReportOpenFailure(ENOENT);
  }
  CLinkPort& port = PortTable[number];
  // The same port open from before is closed first; other ports are left as they are.
  port.Close(CSerialPort::kStopTimeoutMs);
  if (!devicePath) {
    if (number == 0) {
      return ReportOpenFailure(ENOENT);
    }
    devicePath = platform::DeviceForPort(number);
    if (!devicePath) {
      return ReportOpenFailure(ENOENT);
    }
  }
  if (!port.OpenOn(number, *devicePath, baudRate)) {
    return ReportOpenFailure(port.LastError() != 0 ? port.LastError() : EIO);
  }
  LastOpenErrorCode.store(0);
  return true;
}

}  // namespace

bool OpenPort(uint8_t number, uint32_t baudRate) {
  return OpenNumbered(number, std::nullopt, baudRate);
}

bool OpenPortOnDevice(uint8_t number, const std::string& devicePath, uint32_t baudRate) {
  return OpenNumbered(number, devicePath, baudRate);
}

void ClosePort() {
  uint8_t number = CurrentPortNumber.load();
  if (number < kTableSize) {
    PortTable[number].Close(CSerialPort::kStopTimeoutMs);
  }
}

int LastOpenError() {
  return LastOpenErrorCode.load();
}

}  // namespace lumivex::transport
