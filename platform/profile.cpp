#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/profile_files.h"
#include "platform/profile_testing.h"

namespace lumivex::platform {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kReadChunk = 64 * 1024;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

namespace {

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string CutProfileText(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  constexpr std::size_t kLongestCharacter = 4;
  std::size_t cut = maxBytes;
  while (cut > 0 && maxBytes - cut < kLongestCharacter - 1 &&
         (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  // Continuation bytes all the way back: not UTF-8, so no character to keep whole.
  if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) cut = maxBytes;
  return std::string(text.substr(0, cut));
}

std::string FoldProfileName(std::string_view name) {
  std::string folded(Trim(name));
  for (char& c : folded) c = FoldCase(c);
  return folded;
}

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldCase(x) == FoldCase(y);
         });
}

// One line of a profile file, seen through the format's rules.
struct ParsedLine {
  enum class Kind { kBlank, kComment, kSection, kEntry } kind = Kind::kBlank;
  std::string_view name;   // section name, or key ("" for a line without '=')
  std::string_view value;  // value of an entry line
  bool hasEquals = false;
};

ParsedLine Parse(std::string_view raw) {
  ParsedLine p;
  std::string_view line = Trim(raw);
  if (line.empty()) return p;
  if (line.front() == ';' || line.front() == '#') {
    p.kind = ParsedLine::Kind::kComment;
    return p;
  }
  if (line.front() == '[') {
    std::size_t close = line.find(']');
    if (close != std::string_view::npos) {
      p.kind = ParsedLine::Kind::kSection;
      p.name = Trim(line.substr(1, close - 1));
      return p;
    }
  }
  p.kind = ParsedLine::Kind::kEntry;
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) {
    p.value = line;
  } else {
    p.hasEquals = true;
    p.name = Trim(line.substr(0, eq));
    p.value = Trim(line.substr(eq + 1));
  }
  return p;
}

// Streams the lines of a file. A line is handed out without its '\n' and cut to
// kMaxProfileLineBytes; a read error ends the file as if it were shorter.
class LineReader {
 public:
  explicit LineReader(files::InputFile& file) : file_(file), buf_(kReadChunk) {}

  bool Next(std::string_view& line) {
    spill_.clear();
    bool spanning = false;
    for (;;) {
      if (pos_ == end_) {
        if (eof_ || !Fill()) {
          if (!spanning) return false;
          line = Finish(spill_);
          return true;
        }
      }
      const char* start = buf_.data() + pos_;
      const std::size_t avail = end_ - pos_;
      const char* nl = static_cast<const char*>(std::memchr(start, '\n', avail));
      const std::size_t len = nl ? static_cast<std::size_t>(nl - start) : avail;
      pos_ += len + (nl ? 1 : 0);
      if (nl && !spanning) {
        line = Finish(std::string_view(start, std::min(len, kMaxProfileLineBytes)));
        return true;
      }
      spanning = true;
      std::size_t room = kMaxProfileLineBytes - spill_.size();
      spill_.append(start, std::min(len, room));
      if (nl) {
        line = Finish(spill_);
        return true;
      }
    }
  }

 private:
  bool Fill() {
    for (;;) {
      std::ptrdiff_t n = file_.Read(buf_.data(), buf_.size());
      if (n <= 0) {
        eof_ = true;
        return false;
      }
      pos_ = 0;
      end_ = static_cast<std::size_t>(n);
      return true;
    }
  }

  std::string_view Finish(std::string_view line) {
    if (first_) {
      first_ = false;
      if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark) line.remove_prefix(3);
    }
    return line;
  }

  files::InputFile& file_;
  std::vector<char> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool first_ = true;
  std::string spill_;  // a line that crosses the end of the buffer
};

std::mutex HookMutex;
std::function<bool(ProfileWriteStep)> WriteHook;

// False when a test asked this step to fail; errno then reads as an I/O error.
bool StepAllowed(ProfileWriteStep step) {
  std::function<bool(ProfileWriteStep)> hook;
  {
    std::lock_guard lock(HookMutex);
    hook = WriteHook;
  }
  if (!hook || hook(step)) return true;
  errno = EIO;
  return false;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A name that a later read finds again exactly as given.
bool IsWritableName(std::string_view name) {
  return !name.empty() && Trim(name) == name && !HasLineBreakOrNul(name) && name.front() != ';' &&
         name.front() != '#';
}

bool ReadWhole(files::InputFile& file, std::string& out) {
  std::size_t used = out.size();
  for (;;) {
    if (out.size() - used < kReadChunk) out.resize(std::max(out.size() * 2, used + kReadChunk));
    std::ptrdiff_t n = file.Read(out.data() + used, out.size() - used);
    if (n <= 0) {
      out.resize(used);
      return n == 0;
    }
    used += static_cast<std::size_t>(n);
  }
}

// The text of the file after setting key in section to value. Every byte outside the one
// line touched stays as it was.
std::string Edit(const std::string& old, std::string_view section, std::string_view key,
                 std::string_view value) {
  std::size_t firstNl = old.find('\n');
  const std::string eol =
      (firstNl != std::string::npos && firstNl > 0 && old[firstNl - 1] == '\r') ? "\r\n" : "\n";

  bool inSection = false;     // under a header of the section (any of its headers)
  bool inFirstBlock = false;  // under its first header, where a new key goes
  bool seen = false;
  std::size_t insertAt = std::string::npos;

  for (std::size_t start = 0; start < old.size();) {
    std::size_t nl = old.find('\n', start);
    std::size_t end = nl == std::string::npos ? old.size() : nl;
    std::size_t next = nl == std::string::npos ? old.size() : nl + 1;
    // Judge the line by what a read sees of it: its first kMaxProfileLineBytes bytes.
    std::string_view raw(old.data() + start, std::min(end, start + kMaxProfileLineBytes) - start);
    std::size_t bodyStart = start;
    if (start == 0 && raw.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      raw.remove_prefix(kByteOrderMark.size());
      bodyStart = kByteOrderMark.size();
    }
    ParsedLine p = Parse(raw);

    if (p.kind == ParsedLine::Kind::kSection) {
      inSection = SameName(p.name, section);
      inFirstBlock = inSection && !seen;
      if (inFirstBlock) {
        seen = true;
        insertAt = next;
      }
    } else if (p.kind == ParsedLine::Kind::kEntry && inSection) {
      if (p.hasEquals && SameName(p.name, key)) {
        // Keep the line's indentation, the key as spelt and the blanks around '='; replace
        // only the value and whatever trailed it, up to the line end ("\r" stays).
        std::size_t eq = old.find('=', bodyStart);
        std::size_t valueStart = eq + 1;
        while (valueStart < end && (old[valueStart] == ' ' || old[valueStart] == '\t'))
          ++valueStart;
        std::size_t valueEnd = (end > start && old[end - 1] == '\r') ? end - 1 : end;
        valueStart = std::min(valueStart, valueEnd);
        std::string out;
        out.reserve(old.size() + value.size());
        out.append(old, 0, valueStart);
        out.append(value);
        out.append(old, valueEnd, std::string::npos);
        return out;
      }
      if (inFirstBlock) insertAt = next;
    }
    start = next;
  }

  const bool needsBreak = !old.empty() && old.back() != '\n';
  std::string line = std::string(key) + "=" + std::string(value) + eol;
  std::string out;
  out.reserve(old.size() + line.size() + section.size() + 8);
  if (seen) {
    out.append(old, 0, insertAt);
    if (insertAt == old.size() && needsBreak) out += eol;
    out += line;
    out.append(old, insertAt, std::string::npos);
  } else {
    out = old;
    if (needsBreak) out += eol;
    out += "[" + std::string(section) + "]" + eol + line;
  }
  return out;
}

}  // namespace

std::optional<FileStamp> StatProfile(const std::string& path) {
  FileStamp stamp;
  if (!files::StatRegular(path, stamp)) return std::nullopt;
  return stamp;
}

bool VisitProfileSection(const std::string& path, std::string_view section,
                         const std::function<bool(const ProfileEntry&)>& visit, FileStamp* stamp) {
  files::InputFile file;
  if (!file.Open(path)) return false;
  if (stamp) *stamp = file.Stamp();

  section = Trim(section);
  LineReader reader(file);
  std::string_view raw;
  bool inSection = false;
  ProfileEntry entry;
  while (reader.Next(raw)) {
    ParsedLine p = Parse(raw);
    if (p.kind == ParsedLine::Kind::kSection) {
      inSection = SameName(p.name, section);
    } else if (p.kind == ParsedLine::Kind::kEntry && inSection) {
      entry.key.assign(p.name);
      entry.value.assign(p.value);
      if (!visit(entry)) break;
    }
  }
  return true;
}

std::string_view UnquoteProfileValue(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::optional<std::string> ReadProfileString(const std::string& path, std::string_view section,
                                             std::string_view key) {
  key = Trim(key);
  if (key.empty()) return std::nullopt;
  std::optional<std::string> found;
  // Lines without '=' carry an empty key, which no lookup asks for.
  VisitProfileSection(path, section, [&](const ProfileEntry& e) {
    if (e.key.empty() || !SameName(e.key, key)) return true;
    found = std::string(UnquoteProfileValue(e.value));
    return false;
  });
  return found;
}

std::vector<ProfileEntry> ReadProfileSection(const std::string& path, std::string_view section,
                                             std::size_t maxEntries) {
  std::vector<ProfileEntry> entries;
  if (maxEntries == 0) return entries;
  VisitProfileSection(path, section, [&](const ProfileEntry& e) {
    entries.push_back(e);
    return entries.size() < maxEntries;
  });
  return entries;
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  value = Trim(value);
  if (!IsWritableName(section) || section.find(']') != std::string_view::npos ||
      !IsWritableName(key) || key.find('=') != std::string_view::npos || key.front() == '[' ||
      HasLineBreakOrNul(value)) {
    errno = EINVAL;
    return false;
  }

  std::string quoted;
  if (UnquoteProfileValue(value).size() != value.size()) {
    quoted = value.front() + std::string(value) + value.front();
    value = quoted;
  }

  const std::string target = files::ResolveTarget(path);
  std::string old;
  files::KeptAttributes kept;
  bool existed = false;
  {
    files::InputFile file;
    if (!file.Open(target)) {
      // Only a file that is not there may be created; one we cannot read must not be
      // replaced by a file holding just the new key.
      if (errno != ENOENT) return false;
    } else {
      existed = true;
      kept = file.Attributes();
      if (!ReadWhole(file, old)) return false;
    }
  }

  const std::string text = Edit(old, section, key, value);
  if (existed) {
    // A write must never get through where writing the file itself would not.
    files::WritableFile writable;
    if (!writable.Open(target, kept)) return false;
    if (text == old) return true;
    // A rename would leave the file's other names with the old text.
    if (kept.links > 1) return writable.Rewrite(old, text);
  }

  // A failed step leaves the old file as it was; the replacement removes itself.
  files::ReplacementFile temp;
  if (!StepAllowed(ProfileWriteStep::kCreateTemp)) return false;
  if (!temp.Create(target, existed ? &kept : nullptr)) return false;
  if (!temp.KeepsOwner()) {
    // A replacement would change who owns the file: write the file itself instead.
    files::WritableFile writable;
    return writable.Open(target, kept) && writable.Rewrite(old, text);
  }
  if (!StepAllowed(ProfileWriteStep::kWriteTemp) || !temp.Write(text)) return false;
  if (!StepAllowed(ProfileWriteStep::kSyncTemp) || !temp.Sync()) return false;
  if (!StepAllowed(ProfileWriteStep::kCloseTemp) || !temp.Close()) return false;
  if (!StepAllowed(ProfileWriteStep::kRename) || !temp.Replace()) return false;
  return true;
}

void SetProfileWriteHook(std::function<bool(ProfileWriteStep)> hook) {
  std::lock_guard lock(HookMutex);
  WriteHook = std::move(hook);
}

}  // namespace lumivex::platform
