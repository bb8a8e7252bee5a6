// Saving a file the user chose, whole or not at all.
#pragma once

#include <string>
#include <string_view>

namespace lumivex::ui {

// Writes text to path through a new file beside it that takes path's place only once every
// byte is written: a failed save leaves an existing file as it was and no partial file behind.
// False when the file could not be written.
bool WriteWholeFile(const std::string& path, std::string_view text);

}  // namespace lumivex::ui
