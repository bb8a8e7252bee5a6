// Text at the Win32 boundary: the system takes UTF-16, Lumivex holds UTF-8. Private to
// platform/win32.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumivex::platform::win32 {

// utf8 as UTF-16; nullopt when it is not valid UTF-8 (the system would otherwise turn the bad
// bytes into U+FFFD and name another file).
std::optional<std::wstring> Widen(std::string_view utf8);

// wide as UTF-8; unpaired surrogates become U+FFFD.
std::string Narrow(std::wstring_view wide);

// A path ready for the wide file functions: UTF-16, and made absolute with the "\\?\" prefix
// when it is too long for the classic limit of MAX_PATH characters, so that deep folders work
// instead of failing half-way or being cut. nullopt (with the thread's error set) when the
// path is not UTF-8 or cannot be made absolute.
std::optional<std::wstring> SystemPath(const std::string& utf8);

// errno for the thread's last Win32 error, so that callers see one vocabulary on every system.
int ErrnoFromLastError();
int ErrnoFromError(unsigned long error);

}  // namespace lumivex::platform::win32
