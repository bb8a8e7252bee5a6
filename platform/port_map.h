// The machine's serial ports, numbered as COM ports (1 to 254).
//
// Every read looks at the folders afresh and never fails: a folder that is missing or cannot
// be read adds no ports, so an unreadable ports folder and no sysfs give an empty map. Nothing
// is cached and nothing is shared, so any thread may call these functions at any time.
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

// Whether the virtual ports folder may be read and registered in. Under XDG_RUNTIME_DIR it
// always may. The /tmp fallback, where any user could create another's folder first and choose
// which device that user's panel greets as COM1, counts only when /tmp/lumivex-<uid> and its
// "ports" folder are real folders (not links) of this user that no one else may write; a
// missing folder counts (whoever creates it checks again). False with reason set otherwise.
bool VirtualPortsFolderTrusted(std::string* reason = nullptr);
#endif

// In ascending COM number. Linux: virtual ports first (links whose target is gone are skipped),
// then hardware ports found in sysfs on the lowest free numbers; an untrusted virtual ports
// folder is not read, and the first time one line on standard error says why. Windows: the
// ports that the registry lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (data that is not a
// port name "COM<n>" is skipped; no key gives an empty map), each as "\\.\COM<n>".
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
