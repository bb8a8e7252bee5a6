// Where the program and its working directory are, as the system reports them. Paths are UTF-8
// on every system.
#pragma once

#include <string>
#include <string_view>

namespace lumivex::platform {

#ifdef _WIN32
// The separator the system writes; '/' is accepted as well.
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparators = "/";
#endif

// The process's working directory, without a trailing separator unless it is a root; empty
// when the directory is gone or out of reach.
std::string CurrentDirectory();

// The full path of the running program; empty when the system cannot tell.
std::string ProgramPath();

}  // namespace lumivex::platform
