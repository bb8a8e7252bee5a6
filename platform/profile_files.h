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
  std::uint32_t links = 1;  // names the file has (hard links)
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

// The existing file itself, open for writing: the proof that a write may go through at all,
// and the way to rewrite it where a replacement would change it (other hard links, an owner
// that cannot be kept).
class WritableFile {
 public:
  WritableFile() = default;
  ~WritableFile();
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;

  // Fails where writing the file itself would fail. A file that nobody may write is locked
  // even for an administrator, as a read-only file is on Windows.
  bool Open(const std::string& path, const KeptAttributes& attributes);
  // Rewrites the file from the first byte that differs, cuts it to the new length and puts it
  // on the disk. Not atomic: a reader at that moment, or a crash, may see the bytes before the
  // change intact and a mix of old and new after it.
  bool Rewrite(const std::string& old, const std::string& text);

 private:
  std::intptr_t handle_ = -1;
};

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
  // After Create: false when the new file could not be given the old file's owner and group
  // (a shared file rewritten by one of its group): putting it in place would change who owns
  // the file, so the caller rewrites the file itself instead.
  bool KeepsOwner() const { return keepsOwner_; }
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
  bool keepsOwner_ = true;
};

}  // namespace lumivex::platform::files
