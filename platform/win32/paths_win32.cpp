#include <windows.h>

#include <string>

#include "platform/paths.h"
#include "platform/win32/wide.h"

namespace lumivex::platform {

std::string CurrentDirectory() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return std::string();
    // Too small: n is the size needed, terminating zero included.
    if (n >= buffer.size()) {
      buffer.resize(n);
      continue;
    }
    buffer.resize(n);
    // A directory deeper than MAX_PATH comes back in the long form; the user's name for it
    // has no prefix.
    if (buffer.rfind(L"\\\\?\\UNC\\", 0) == 0) {
      buffer = L"\\\\" + buffer.substr(8);
    } else if (buffer.rfind(L"\\\\?\\", 0) == 0) {
      buffer = buffer.substr(4);
    }
    // "C:\" keeps its separator; any other folder is handed out without one.
    if (buffer.size() > 3 && (buffer.back() == L'\\' || buffer.back() == L'/')) buffer.pop_back();
    return win32::Narrow(buffer);
  }
}

std::string ProgramPath() {
  // The path may exceed MAX_PATH; the call then fills the buffer and reports it as full.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) {
      buffer.resize(n);
      if (buffer.rfind(L"\\\\?\\", 0) == 0 && buffer.rfind(L"\\\\?\\UNC\\", 0) != 0) {
        buffer = buffer.substr(4);
      }
      return win32::Narrow(buffer);
    }
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace lumivex::platform
