#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/profile_files.h"

namespace lumivex::platform::files {
namespace {

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  s.changedNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  s.inode = static_cast<std::uint64_t>(st.st_ino);
  s.device = static_cast<std::uint64_t>(st.st_dev);
  return s;
}

int Descriptor(std::intptr_t handle) {
  return static_cast<int>(handle);
}

// The process's file-creation mask. umask() cannot be asked without changing it, which would
// race with other threads, so read it from the kernel's status page.
mode_t CurrentUmask() {
  int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 022;
  std::string status;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    status.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  std::size_t at = status.find("\nUmask:");
  if (at == std::string::npos) return 022;
  return static_cast<mode_t>(std::strtoul(status.c_str() + at + 7, nullptr, 8));
}

}  // namespace

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(Descriptor(handle_));
}

bool InputFile::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  if (err != 0) {
    ::close(fd);
    errno = err;
    return false;
  }
  handle_ = fd;
  stamp_ = StampOf(st);
  attributes_.mode = st.st_mode & 07777;
  attributes_.owner = st.st_uid;
  attributes_.group = st.st_gid;
  attributes_.links = static_cast<std::uint32_t>(st.st_nlink);
  return true;
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::read(Descriptor(handle_), buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool StatRegular(const std::string& path, FileStamp& stamp) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  stamp = StampOf(st);
  return true;
}

std::string ResolveTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string resolved(real);
      std::free(real);
      return resolved;
    }
  }
  return path;
}

WritableFile::~WritableFile() {
  if (handle_ >= 0) ::close(Descriptor(handle_));
}

bool WritableFile::Open(const std::string& path, const KeptAttributes& attributes) {
  if ((attributes.mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    errno = EACCES;
    return false;
  }
  // Otherwise the kernel judges: mode, access lists, a read-only mount, an immutable file.
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool WritableFile::Rewrite(const std::string& old, const std::string& text) {
  const int fd = Descriptor(handle_);
  std::size_t same = 0;
  while (same < old.size() && same < text.size() && old[same] == text[same]) ++same;
  std::string_view rest(text.data() + same, text.size() - same);
  off_t at = static_cast<off_t>(same);
  while (!rest.empty()) {
    ssize_t n = ::pwrite(fd, rest.data(), rest.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    rest.remove_prefix(static_cast<std::size_t>(n));
    at += n;
  }
  if (text.size() < old.size() && ::ftruncate(fd, static_cast<off_t>(text.size())) != 0) {
    return false;
  }
  return ::fsync(fd) == 0;
}

ReplacementFile::~ReplacementFile() {
  if (placed_ || temp_.empty()) return;
  // Whoever failed has set errno already; cleaning up must not change it.
  const int err = errno;
  if (handle_ >= 0) ::close(Descriptor(handle_));
  ::unlink(temp_.c_str());
  errno = err;
}

bool ReplacementFile::Create(const std::string& target, const KeptAttributes* existing) {
  target_ = target;
  std::size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = folder + (folder.back() == '/' ? "" : "/") + "." + base + ".XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;  // nothing was created, so nothing to remove
  handle_ = fd;
  temp_ = temp;
  if (existing != nullptr) {
    struct stat made {};
    const bool sameOwner =
        ::fstat(fd, &made) == 0 && made.st_uid == existing->owner && made.st_gid == existing->group;
    if (!sameOwner && ::fchown(fd, existing->owner, existing->group) != 0) {
      keepsOwner_ = false;
      return true;
    }
    // After the chown, which drops set-id bits.
    ::fchmod(fd, existing->mode);
  } else {
    ::fchmod(fd, 0666 & ~CurrentUmask());
  }
  return true;
}

bool ReplacementFile::Write(std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(Descriptor(handle_), data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ReplacementFile::Sync() {
  return ::fsync(Descriptor(handle_)) == 0;
}

bool ReplacementFile::Close() {
  int closed = ::close(Descriptor(handle_));
  handle_ = -1;
  return closed == 0;
}

bool ReplacementFile::Replace() {
  if (::rename(temp_.c_str(), target_.c_str()) != 0) return false;
  placed_ = true;
  // Make the rename itself durable; the file is already complete either way.
  std::size_t slash = target_.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
  int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace lumivex::platform::files
