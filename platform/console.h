// The console and the standard streams of a command-line program, and how system errors read.
#pragma once

#include <string>

namespace lumivex::platform {

// Makes the console show UTF-8 output as text (Windows switches the console's output code
// page; elsewhere terminals take UTF-8 already). Call it before the first output.
void EnableUtf8Console();

// Whether standard output (1) or standard error (2) is a terminal rather than a file or pipe.
bool IsTerminal(int stream);

// Sends what the process writes to standard output to standard error until the returned
// object is destroyed; standard output is then restored. Used where a lower layer prints a
// diagnostic line that must not mix with a program's results.
class StdoutToStderr {
 public:
  StdoutToStderr();
  ~StdoutToStderr();
  StdoutToStderr(const StdoutToStderr&) = delete;
  StdoutToStderr& operator=(const StdoutToStderr&) = delete;

 private:
  int saved_ = -1;
};

// What a failed open of a serial device means, from the error code the device reported (an
// errno value on Linux, a system error code on Windows).
enum class OpenFailure {
  kNone,        // code 0
  kBusy,        // another program holds the port
  kPermission,  // the user may not open it
  kMissing,     // no such device (any more)
  kOther,
};
OpenFailure ClassifyOpenError(int code);

// The system's own text for an error code of the same kind, without a trailing line break.
std::string DescribeSystemError(int code);

}  // namespace lumivex::platform
