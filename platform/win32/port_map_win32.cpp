#include <algorithm>
#include <array>
#include <cwctype>
#include <string>

#include "platform/port_map.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace lumivex::platform {

namespace {

constexpr int kFirstNumber = 1;
constexpr int kLastNumber = 254;

// "COM12" gives 12; anything else (COM0, COM255, COM07, COM1x, a device path) gives 0. Windows
// names devices without regard to case.
int PortNumber(std::wstring_view name) {
  if (name.size() < 4 || name.size() > 6 || std::towupper(name[0]) != L'C' ||
      std::towupper(name[1]) != L'O' || std::towupper(name[2]) != L'M' || name[3] == L'0') {
    return 0;
  }
  int number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9') {
      return 0;
    }
    number = number * 10 + (name[i] - L'0');
  }
  return number >= kFirstNumber && number <= kLastNumber ? number : 0;
}

std::string DevicePath(int number) {
  return "\\\\.\\COM" + std::to_string(number);
}

}  // namespace

std::vector<PortMapEntry> ReadPortMap() {
  std::vector<PortMapEntry> map;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return map;  // no serial port was ever registered
  }
  std::array<bool, kLastNumber + 1> listed{};
  // Value names can be long (driver object names); a port name is short, and longer data is
  // not one.
  std::wstring name(16384, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    wchar_t data[16] = {};
    DWORD dataBytes = sizeof data - sizeof(wchar_t);  // room for the terminator we add
    DWORD type = 0;
    LONG result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                reinterpret_cast<BYTE*>(data), &dataBytes);
    if (result == ERROR_MORE_DATA) {
      continue;
    }
    if (result != ERROR_SUCCESS) {
      break;  // ERROR_NO_MORE_ITEMS, or the key went away while it was read
    }
    if (type != REG_SZ) {
      continue;
    }
    std::wstring_view text(data, dataBytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') {
      text.remove_suffix(1);
    }
    int number = PortNumber(text);
    if (number == 0 || listed[static_cast<size_t>(number)]) {
      continue;
    }
    listed[static_cast<size_t>(number)] = true;
    map.push_back({static_cast<uint8_t>(number), DevicePath(number)});
  }
  RegCloseKey(key);
  std::sort(map.begin(), map.end(),
            [](const PortMapEntry& a, const PortMapEntry& b) { return a.number < b.number; });
  return map;
}

std::optional<std::string> DeviceForPort(uint8_t number) {
  // Any COM port can be opened by its name, listed or not (a port that vanished since the
  // listing then fails at the open, with the system's reason).
  if (number < kFirstNumber || number > kLastNumber) {
    return std::nullopt;
  }
  return DevicePath(number);
}

}  // namespace lumivex::platform
