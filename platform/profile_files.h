// The file operations of profile files, one implementation per OS (posix/, win32/). Private to
// platform/: profile.cpp holds the format and the order of a write's steps; this holds the
// system calls. Failures leave errno set, in the same vocabulary on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/profile.h"

namespace lumivex::platform::files {

// What a rewrite carries over from the file it replaces: permissions and owner on Linux, the
// attributes on Windows.
struct KeptAttributes {
  std::uint32_t mode = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
};

// A regular file open for reading.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Only regular files count: a folder (EISDIR), a FIFO, whose open must not block, or a
  // device such as /dev/zero (EINVAL) is no file at all.
  bool Open(const std::string& path);
  // Up to size bytes; 0 at the end, -1 on a read error.
  std::ptrdiff_t Read(char* buffer, std::size_t size);
  const FileStamp& Stamp() const { return stamp_; }
  const KeptAttributes& Attributes() const { return attributes_; }

 private:
  std::intptr_t handle_ = -1;
  FileStamp stamp_;
  KeptAttributes attributes_;
};

// The stamp of a regular file; false when path is missing or no regular file.
bool StatRegular(const std::string& path, FileStamp& stamp);

// Where the bytes of path really go: a symbolic link stays a link to the rewritten file.
std::string ResolveTarget(const std::string& path);

// A new file beside target that takes its place on Replace, or is removed on destruction.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the new file in target's folder. existing: the attributes of the file it
  // replaces, or null for a new file. Fails where writing target itself would fail.
  bool Create(const std::string& target, const KeptAttributes* existing);
  bool Write(std::string_view data);
  // Puts the bytes on the disk.
  bool Sync();
  bool Close();
  // Atomically puts the new file in target's place, and makes that durable.
  bool Replace();

 private:
  std::intptr_t handle_ = -1;
  std::string target_;
  std::string temp_;
  bool placed_ = false;
};

}  // namespace lumivex::platform::files
