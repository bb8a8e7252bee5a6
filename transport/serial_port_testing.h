// Seams for tests of the serial port; production code never includes this header.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "transport/serial_port.h"

namespace lumivex::transport {

// Reads the fields that only a port and its derived classes use. Never instantiated.
class SerialPortFields : private CSerialPort {
 public:
  static int PortNumber(const CSerialPort& port) { return port.*(&SerialPortFields::portNumber); }
  static const std::string& DeviceName(const CSerialPort& port) {
    return port.*(&SerialPortFields::deviceName);
  }
  static std::shared_ptr<platform::SerialDevice> Device(const CSerialPort& port) {
    return (port.*(&SerialPortFields::deviceHandle)).load();
  }
  static std::thread& MonitorThread(CSerialPort& port) {
    return port.*(&SerialPortFields::monitorThread);
  }
};

}  // namespace lumivex::transport
