#include "transport/port_table.h"

#include "transport/ports.h"

namespace lumivex::transport {

CLinkPort PortTable[255];

namespace {
// Stands for COM 255, which has no entry: never open, so a send after OpenPort(255) writes
// nothing and waits out its bound, as after any failed open.
CLinkPort NoPort;
}  // namespace

LinkPortSide* PortTableLinkPort() {
  uint8_t number = CurrentPortNumber.load();
  return number < 255 ? static_cast<LinkPortSide*>(&PortTable[number]) : &NoPort;
}

}  // namespace lumivex::transport
