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

bool Failed(int error) {
  ReportOpenOutcome(error);
  return false;
}

// Opens the table's port object for number at baudRate; devicePath empty asks the port map.
// 0 on success, else the errno of the failure. Prints nothing.
int OpenTableEntry(uint8_t number, std::optional<std::string> devicePath, uint32_t baudRate) {
  if (number >= kTableSize) {
    return ENOENT;
  }
  CLinkPort& port = PortTable[number];
  // The same port open from before is closed first; other ports are left as they are.
  port.Close(CSerialPort::kStopTimeoutMs);
  if (!devicePath) {
    if (number == 0) {
      return ENOENT;
    }
    devicePath = platform::DeviceForPort(number);
    if (!devicePath) {
      return ENOENT;
    }
  }
  if (!port.OpenOn(number, *devicePath, baudRate)) {
    return port.LastError() != 0 ? port.LastError() : EIO;
  }
  return 0;
}

// OpenPort and OpenPortOnDevice: the number is recorded first, whatever follows.
bool OpenNumbered(uint8_t number, std::optional<std::string> devicePath, uint32_t baudRate) {
  CurrentPortNumber.store(number);
  if (int error = OpenTableEntry(number, std::move(devicePath), baudRate); error != 0) {
    return Failed(error);
  }
  LastOpenErrorCode.store(0);
  return true;
}

// Stands for COM 255, which has no entry: a probe of it never opens anything.
CLinkPort& ProbedPort(uint8_t number) {
  static CLinkPort none;
  return number < kTableSize ? PortTable[number] : none;
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

void ReportOpenOutcome(int error) {
  LastOpenErrorCode.store(error);
  if (error != 0) {
    std::cout << "COM not open , error : " << error << std::endl;
  }
}

PortProbe::PortProbe(uint8_t number, std::string devicePath)
    : number_(number),
      devicePath_(std::move(devicePath)),
      link_(std::make_shared<Link>(&ProbedPort(number))) {}

PortProbe::~PortProbe() {
  if (!adopted_) {
    Close();
  }
}

bool PortProbe::Open(uint32_t baudRate) {
  // From the first byte on, what the port reads belongs to this probe's greeting.
  ProbedPort(number_).FeedLink(link_);
  std::optional<std::string> device;
  if (!devicePath_.empty()) {
    device = devicePath_;
  }
  openError_ = OpenTableEntry(number_, std::move(device), baudRate);
  return openError_ == 0;
}

void PortProbe::Close() {
  CLinkPort& port = ProbedPort(number_);
  port.Close(CSerialPort::kStopTimeoutMs);
  port.FeedLink(nullptr);
}

void PortProbe::Adopt() {
  ProbedPort(number_).FeedLink(nullptr);
  CurrentPortNumber.store(number_);
  adopted_ = true;
}

}  // namespace lumivex::transport
