// The table of port objects, one per COM number, and the port that the link acts on.
#pragma once

#include "transport/serial_port.h"

namespace lumivex::transport {

// Entry n is the port object of COM n (0 to 254). All are built at program start and live until
// exit; a port object exists whether or not its COM port does.
extern CLinkPort PortTable[255];

// The port that CurrentPortNumber selects: &PortTable[CurrentPortNumber]. Read anew at every call,
// so that LinkSend follows a later OpenPort.
LinkPortSide* PortTableLinkPort();

}  // namespace lumivex::transport
