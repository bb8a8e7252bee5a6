// The table of port objects, one per COM number, and the port that the link acts on.
//
// Thread safety: an entry is opened and closed by one thread at a time: the thread that owns
// the connection (through OpenPort and ClosePort), or during a search the probe thread of that
// COM number; the entry's monitor thread runs its handlers. PortTableLinkPort may be called
// from any thread; it reads CurrentPortNumber, which only OpenPort and a search's end change.
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
