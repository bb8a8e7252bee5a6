// Seams for tests and benchmarks of the connection; production code never includes this header.
#pragma once

#include <vector>

#include "connection/connection.h"
#include "platform/port_map.h"

namespace lumivex::connection {

// Where EnumerateSerialPorts reads the machine's ports: platform::ReadPortMap by default. A test
// puts a map of its own in its place (nullptr restores the default).
using PortMapReader = std::vector<platform::PortMapEntry> (*)();
void SetPortMapReader(PortMapReader reader);

}  // namespace lumivex::connection
