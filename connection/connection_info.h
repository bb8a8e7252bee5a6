// What the panel's status line shows of the one connection. GUI thread (or CLI main thread).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace lumivex::connection {

// "COM3"; empty while not connected.
std::string ConnectedPortName();
// The device the connected port opened ("/dev/ttyUSB0"); empty while not connected.
std::string ConnectedDevice();
// The firmware version the board reported when the connection was made, as it reported it;
// empty while not connected or when the board did not answer the version request.
std::optional<uint32_t> ConnectedFirmwareVersion();
// When the connection was made (its version request); empty while not connected.
std::optional<std::chrono::steady_clock::time_point> ConnectedSince();

}  // namespace lumivex::connection
