#include "platform/port_map.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace lumivex::platform {

namespace fs = std::filesystem;

namespace {

constexpr int kFirstNumber = 1;
constexpr int kLastNumber = 254;

// "COM12" gives 12; anything else (COM0, COM255, COM07, COM1x) gives 0.
int LinkNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0') {
    return 0;
  }
  int number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) {
      return 0;
    }
    number = number * 10 + (name[i] - '0');
  }
  return number >= kFirstNumber && number <= kLastNumber ? number : 0;
}

// ttyUSB2 before ttyUSB10: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (digitA && digitB) {
      size_t endA = a.find_first_not_of("0123456789", i);
      size_t endB = b.find_first_not_of("0123456789", j);
      endA = endA == std::string::npos ? a.size() : endA;
      endB = endB == std::string::npos ? b.size() : endB;
      std::string runA = a.substr(i, endA - i);
      std::string runB = b.substr(j, endB - j);
      runA.erase(0, std::min(runA.find_first_not_of('0'), runA.size() - 1));
      runB.erase(0, std::min(runB.find_first_not_of('0'), runB.size() - 1));
      if (runA.size() != runB.size()) {
        return runA.size() < runB.size();
      }
      if (runA != runB) {
        return runA < runB;
      }
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) {
        return a[i] < b[j];
      }
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

bool HasPrefix(const std::string& name, const char* prefix) {
  return name.rfind(prefix, 0) == 0;
}

std::string LinkBaseName(const fs::path& link) {
  std::error_code error;
  fs::path target = fs::read_symlink(link, error);
  return error ? std::string() : target.filename().string();
}

// The built-in 8250 driver registers a number of ports whether or not a UART is behind them;
// those show type 0 (no UART) or hang off the serial8250 placeholder device.
bool IsRealUart(const fs::path& entry) {
  std::ifstream typeFile(entry / "type");
  int type = 0;
  if (!(typeFile >> type) || type == 0) {
    return false;
  }
  return LinkBaseName(entry / "device") != "serial8250" &&
         LinkBaseName(entry / "device" / "driver") != "serial8250";
}

bool IsSerialPort(const fs::path& entry, const std::string& name) {
  std::error_code error;
  bool hasDevice = fs::exists(entry / "device", error);
  if (HasPrefix(name, "ttyUSB") || HasPrefix(name, "ttyACM") || HasPrefix(name, "ttyAMA")) {
    return hasDevice;
  }
  if (HasPrefix(name, "rfcomm")) {
    // A bound but unconnected Bluetooth port has no parent device yet; it still opens.
    return true;
  }
  if (HasPrefix(name, "ttyS")) {
    return hasDevice && IsRealUart(entry);
  }
  return false;
}

std::string Canonical(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::canonical(path, error);
  return error ? std::string() : resolved.string();
}

}  // namespace

std::string VirtualPortsFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') {
    return std::string(runtime) + "/lumivex/ports";
  }
  return "/tmp/lumivex-" + std::to_string(getuid()) + "/ports";
}

bool VirtualPortsFolderTrusted(std::string* reason) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') {
    return true;
  }
  const std::string ports = VirtualPortsFolder();
  const std::string own = ports.substr(0, ports.rfind('/'));
  auto refuse = [&](const std::string& why) {
    if (reason != nullptr) {
      *reason = why;
    }
    return false;
  };
  for (const std::string& folder : {own, ports}) {
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) {
      if (errno == ENOENT) {
        return true;
      }
      return refuse(folder + ": " + std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode)) {
      return refuse(folder + " is a symbolic link");
    }
    if (!S_ISDIR(st.st_mode)) {
      return refuse(folder + " is not a folder");
    }
    if (st.st_uid != getuid()) {
      return refuse(folder + " belongs to user " + std::to_string(st.st_uid));
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      return refuse(folder + " may be written by other users");
    }
  }
  return true;
}

std::vector<PortMapEntry> ReadPortMap(const PortMapRoots& roots) {
  std::array<bool, kLastNumber + 1> taken{};
  std::vector<PortMapEntry> map;
  std::set<std::string> namedDevices;

  std::error_code error;
  for (fs::directory_iterator it(roots.portsFolder, error), end; !error && it != end;
       it.increment(error)) {
    int number = LinkNumber(it->path().filename().string());
    if (number == 0 || !it->is_symlink(error)) {
      continue;
    }
    std::string target = Canonical(it->path());
    if (target.empty()) {
      continue;  // the target is gone: a simulated board that ended, an adapter pulled
    }
    taken[static_cast<size_t>(number)] = true;
    namedDevices.insert(target);
    map.push_back({static_cast<uint8_t>(number), target});
  }

  std::vector<std::string> names;
  error.clear();
  for (fs::directory_iterator it(roots.ttyClass, error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().filename().string();
    if (IsSerialPort(it->path(), name)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end(), NaturalLess);

  int next = kFirstNumber;
  for (const std::string& name : names) {
    fs::path device = fs::path(roots.devFolder) / name;
    std::string resolved = Canonical(device);
    if (namedDevices.count(resolved.empty() ? device.string() : resolved) != 0) {
      continue;
    }
    while (next <= kLastNumber && taken[static_cast<size_t>(next)]) {
      ++next;
    }
    if (next > kLastNumber) {
      break;
    }
    taken[static_cast<size_t>(next)] = true;
    map.push_back({static_cast<uint8_t>(next), device.string()});
  }

  std::sort(map.begin(), map.end(),
            [](const PortMapEntry& a, const PortMapEntry& b) { return a.number < b.number; });
  return map;
}

std::vector<PortMapEntry> ReadPortMap() {
  PortMapRoots roots;
  std::string why;
  if (VirtualPortsFolderTrusted(&why)) {
    roots.portsFolder = VirtualPortsFolder();
  } else {
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
      std::fprintf(stderr, "lumivex: virtual ports ignored: %s\n", why.c_str());
    }
  }
  return ReadPortMap(roots);
}

std::optional<std::string> DeviceForPort(uint8_t number) {
  for (const PortMapEntry& entry : ReadPortMap()) {
    if (entry.number == number) {
      return entry.device;
    }
  }
  return std::nullopt;
}

}  // namespace lumivex::platform
