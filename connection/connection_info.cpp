#include "connection/connection_info.h"

#include "connection/connection.h"
#include "protocol/commands.h"
#include "transport/port_table.h"
#include "transport/ports.h"

namespace lumivex::connection {

std::string ConnectedPortName() {
  if (!IsConnected()) return {};
  return "COM" + std::to_string(transport::CurrentPortNumber.load());
}

std::string ConnectedDevice() {
  if (!IsConnected()) return {};
  return transport::PortTable[transport::CurrentPortNumber.load()].DeviceName();
}

std::optional<uint32_t> ConnectedFirmwareVersion() {
  // The search reads the version of the board it has just connected to, and nothing reads
  // another board's while the connection lasts.
  if (!IsConnected()) return std::nullopt;
  return protocol::LastFirmwareVersion();
}

std::optional<std::chrono::steady_clock::time_point> ConnectedSince() {
  // The search asks for the version as the last step of every connection it makes.
  if (!IsConnected()) return std::nullopt;
  return protocol::LastFirmwareVersionRequest();
}

}  // namespace lumivex::connection
