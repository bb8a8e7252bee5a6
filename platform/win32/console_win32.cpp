#include <windows.h>
// windows.h first: io.h's descriptors map onto its handles.
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/console.h"
#include "platform/win32/wide.h"

namespace lumivex::platform {

void EnableUtf8Console() {
  // Without a console (output to a file or a pipe) the bytes pass through as they are, which
  // is UTF-8 already.
  ::SetConsoleOutputCP(CP_UTF8);
}

bool IsTerminal(int stream) {
  HANDLE handle = ::GetStdHandle(stream == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

StdoutToStderr::StdoutToStderr() {
  std::cout.flush();
  std::fflush(stdout);
  saved_ = ::_dup(1);
  if (saved_ >= 0) ::_dup2(2, 1);
}

StdoutToStderr::~StdoutToStderr() {
  std::cout.flush();
  std::fflush(stdout);
  if (saved_ >= 0) {
    ::_dup2(saved_, 1);
    ::_close(saved_);
  }
}

OpenFailure ClassifyOpenError(int code) {
  switch (code) {
    case 0:
      return OpenFailure::kNone;
    // A COM port is exclusive: a second open is refused as access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return OpenFailure::kBusy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
      return OpenFailure::kMissing;
    default:
      return OpenFailure::kOther;
  }
}

std::string DescribeSystemError(int code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) return "system error " + std::to_string(code);
  return win32::Narrow(message);
}

}  // namespace lumivex::platform
