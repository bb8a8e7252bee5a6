// Profile (INI) files: the settings file, "Config.ini" and the language files.
//
// Format: "[section]" lines and "key=value" lines. Blanks (spaces and tabs) around names and
// values are trimmed; section and key names match without regard to ASCII case; lines whose
// first non-blank character is ';' or '#' are comments; a UTF-8 byte-order mark and CRLF line
// ends are accepted; the first of duplicate keys wins. A section headed twice is one section.
//
// Reads never fail loudly: a missing, unreadable or odd file (a folder, binary bytes, very
// long lines) reads as an empty one. Files are streamed line by line, so a huge file costs
// time, not memory. Only the first kMaxProfileLineBytes bytes of a line are looked at.
//
// Writes replace the file atomically (a temporary file in the same folder, fsync, rename): a
// reader, or a crash at any moment, sees the old file or the new one, never half of one. A
// write never gets through where writing the file itself would fail, and never changes the
// file's owner, group or mode: where a replacement could not keep owner and group (a shared
// file that someone else owns), or the file has other hard links, the file is rewritten in
// place, which a crash at the wrong moment can leave mixed from the changed line on.
//
// Thread safety: every function may be called from any thread. Nothing is cached here; two
// writers of the same file at once each publish a whole file, and the last rename wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivex::platform {

// Bytes of a line that a read takes into account; the rest of a longer line is ignored.
inline constexpr std::size_t kMaxProfileLineBytes = 64 * 1024;

// A section or key name as lookups compare it: blanks (spaces, tabs, a stray carriage return)
// around it dropped and ASCII letters folded to lower case. Callers that keep names of their own
// (a cache of a section) fold them with this, so they match exactly the lines a read matches.
std::string FoldProfileName(std::string_view name);

// text cut to at most maxBytes. A cut never splits a UTF-8 character; in bytes that are not
// UTF-8 it backs off no further than a character's length, so at most three bytes go.
std::string CutProfileText(std::string_view text, std::size_t maxBytes);

// One key/value line of a section, names and values as written (blanks around them trimmed).
// A line without '=' has an empty key and the whole line as value.
struct ProfileEntry {
  std::string key;
  std::string value;
};

// What identifies one version of a file: a cached copy of its contents is good while the
// stamp is unchanged. Replacing the file (rename) changes the inode; writing it changes
// size, modification time or change time.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;
  std::uint64_t inode = 0;
  std::uint64_t device = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of a regular file; nullopt when the path is missing or is no regular file.
std::optional<FileStamp> StatProfile(const std::string& path);

// A value as a key read gives it: one pair of matching quotes (" or ') around the whole value
// dropped, as the Windows profile reader drops them, so `Solution="SimplifiedChinese"` names
// SimplifiedChinese. Whole-section reads keep values as written, quotes included, as Windows does.
std::string_view UnquoteProfileValue(std::string_view value);

// The value of key in section, unquoted; nullopt when the file, the section or the key is
// missing, or when key is empty (lines without '=' are no keys).
std::optional<std::string> ReadProfileString(const std::string& path, std::string_view section,
                                             std::string_view key);

// The key/value lines of section in file order (comments and blank lines left out), at most
// maxEntries of them. Empty when the file or the section is missing.
std::vector<ProfileEntry> ReadProfileSection(const std::string& path, std::string_view section,
                                             std::size_t maxEntries);

// Calls visit for each key/value line of section in file order until it returns false.
// Returns false when the file cannot be read (missing, a folder, unreadable); stamp, when
// given, then receives the stamp of the very file that was read.
bool VisitProfileSection(const std::string& path, std::string_view section,
                         const std::function<bool(const ProfileEntry&)>& visit,
                         FileStamp* stamp = nullptr);

// Sets key in section to value, creating the file and the section when missing. Every other
// line stays byte for byte (comments, other sections, order, line ends); a new line takes the
// file's line end. Blanks around value are dropped, as a read would drop them; a value in
// matching quotes is stored inside one more pair, so that a key read gives it back as given
// (on Windows too). Keeps the old
// file's owner, group and mode. Returns false, with the old file untouched, when the file
// cannot be read or written (no write permission for us, or for anyone even when we are
// root), or when a name or the value would not read back as written (a line break
// or NUL anywhere, '=' in the key, ']' in the section, an empty or blank-edged name, a key
// starting with '[', ';' or '#'). errno then holds the cause.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace lumivex::platform
