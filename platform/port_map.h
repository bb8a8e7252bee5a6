// The machine's serial ports, numbered as COM ports (1 to 254).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumivex::platform {

struct PortMapEntry {
  uint8_t number;      // the COM number
  std::string device;  // the device path that the number opens
};

#if !defined(_WIN32)
// The folder of virtual ports: $XDG_RUNTIME_DIR/lumivex/ports, or /tmp/lumivex-<uid>/ports
// when XDG_RUNTIME_DIR is unset. Each symbolic link "COM<n>" in it gives COM n to its target.
std::string VirtualPortsFolder();
#endif

// In ascending COM number. Linux: virtual ports first (links whose target is gone are skipped),
// then hardware ports found in sysfs on the lowest free numbers. Windows: the ports that the
// registry lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (data that is not a port name "COM<n>"
// is skipped; no key gives an empty map), each as "\\.\COM<n>".
std::vector<PortMapEntry> ReadPortMap();

// The device that the map gives COM n, if any.
std::optional<std::string> DeviceForPort(uint8_t number);

#if !defined(_WIN32)
// Where ReadPortMap looks; the defaults are the machine's own folders, tests point them at a
// made-up tree.
struct PortMapRoots {
  std::string portsFolder;                  // the virtual ports folder
  std::string ttyClass = "/sys/class/tty";  // sysfs entries of the terminals
  std::string devFolder = "/dev";           // where the terminals' device files are
};

// ReadPortMap over the given folders. A hardware port that a virtual link already names (a
// number pinned to /dev/serial/by-id/...) is listed once, under the link's number.
std::vector<PortMapEntry> ReadPortMap(const PortMapRoots& roots);
#endif

}  // namespace lumivex::platform
