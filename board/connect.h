// The connection action of every page's connect button and of lumivexctl, with its search and
// handshake running on CurrentExecutor.
//
// Thread safety: the front end's main thread. The page's message boxes and its caption change
// come after the exchanges, in the order the connection action made them, once Run returned.
#pragma once

#include <cstdint>

#include "connection/connection.h"

namespace lumivex::board {

// connection::ToggleConnection for page; same result. Runs as "Busy.Connecting", or as
// "Busy.Disconnecting" while connected.
uint8_t ToggleConnection(connection::ConnectionPage& page);

// connection::Connect (one port and/or one speed) for page; same result.
uint8_t Connect(connection::ConnectionPage& page, const connection::ConnectionRequest& request);

}  // namespace lumivex::board
