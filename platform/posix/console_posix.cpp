#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/console.h"

namespace lumivex::platform {

void EnableUtf8Console() {}

bool IsTerminal(int stream) {
  return ::isatty(stream) == 1;
}

StdoutToStderr::StdoutToStderr() {
  std::cout.flush();
  std::fflush(stdout);
  saved_ = ::dup(STDOUT_FILENO);
  if (saved_ >= 0) ::dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutToStderr::~StdoutToStderr() {
  std::cout.flush();
  std::fflush(stdout);
  if (saved_ >= 0) {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
}

OpenFailure ClassifyOpenError(int code) {
  switch (code) {
    case 0:
      return OpenFailure::kNone;
    case EBUSY:
      return OpenFailure::kBusy;
    case EACCES:
    case EPERM:
      return OpenFailure::kPermission;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return OpenFailure::kMissing;
    default:
      return OpenFailure::kOther;
  }
}

std::string DescribeSystemError(int code) {
  return std::strerror(code);
}

}  // namespace lumivex::platform
