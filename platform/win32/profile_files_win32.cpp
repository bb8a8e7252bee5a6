#include <windows.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/profile_files.h"
#include "platform/win32/wide.h"

namespace lumivex::platform::files {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

bool Fail() {
  errno = win32::ErrnoFromLastError();
  return false;
}

std::int64_t Nanoseconds(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<std::int64_t>(v.QuadPart) * 100;
}

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp s;
  s.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  s.modifiedNs = Nanoseconds(info.ftLastWriteTime);
  // Windows keeps no change time; a replaced file shows as a new file index instead.
  s.changedNs = Nanoseconds(info.ftLastWriteTime);
  s.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  s.device = info.dwVolumeSerialNumber;
  return s;
}

// A regular file opened with sharing wide enough that the writer may replace it meanwhile.
HANDLE OpenForInfo(const std::wstring& path, DWORD access) {
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The file's type as the rest of the program judges it: a disk file, or something else
// (a folder, a console, a pipe, a device such as NUL or COM1).
bool IsRegular(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) {
  return ::GetFileType(handle) == FILE_TYPE_DISK &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::atomic<unsigned> TempCounter{0};

}  // namespace

InputFile::~InputFile() {
  if (handle_ != -1) ::CloseHandle(AsHandle(handle_));
}

bool InputFile::Open(const std::string& path) {
  std::optional<std::wstring> wide = win32::SystemPath(path);
  if (!wide) return Fail();
  // Opening a folder needs FILE_FLAG_BACKUP_SEMANTICS; without it the open fails, which is
  // what a folder should do here. Its attributes then tell the cause.
  HANDLE handle = OpenForInfo(*wide, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      errno = EISDIR;
    } else {
      errno = win32::ErrnoFromError(error);
    }
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info) || !IsRegular(handle, info)) {
    ::CloseHandle(handle);
    errno = EINVAL;
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  stamp_ = StampOf(info);
  attributes_.mode = info.dwFileAttributes;
  attributes_.links = info.nNumberOfLinks;
  return true;
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t size) {
  DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(AsHandle(handle_), buffer, want, &got, nullptr)) {
    Fail();
    return -1;
  }
  return static_cast<std::ptrdiff_t>(got);
}

bool StatRegular(const std::string& path, FileStamp& stamp) {
  std::optional<std::wstring> wide = win32::SystemPath(path);
  if (!wide) return false;
  // No access asked: the stamp is read even while another program holds the file open.
  HANDLE handle = OpenForInfo(*wide, 0);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = ::GetFileInformationByHandle(handle, &info) && IsRegular(handle, info);
  ::CloseHandle(handle);
  if (ok) stamp = StampOf(info);
  return ok;
}

// Links are rare on Windows and need privileges to make; the file is rewritten where its
// name stands.
std::string ResolveTarget(const std::string& path) {
  return path;
}

WritableFile::~WritableFile() {
  if (handle_ != -1) ::CloseHandle(AsHandle(handle_));
}

bool WritableFile::Open(const std::string& path, const KeptAttributes& attributes) {
  if (attributes.mode & FILE_ATTRIBUTE_READONLY) {
    errno = EACCES;
    return false;
  }
  std::optional<std::wstring> wide = win32::SystemPath(path);
  if (!wide) return Fail();
  HANDLE handle = ::CreateFileW(wide->c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail();
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  return true;
}

bool WritableFile::Rewrite(const std::string& old, const std::string& text) {
  std::size_t same = 0;
  while (same < old.size() && same < text.size() && old[same] == text[same]) ++same;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(same);
  if (!::SetFilePointerEx(AsHandle(handle_), at, nullptr, FILE_BEGIN)) return Fail();
  std::string_view rest(text.data() + same, text.size() - same);
  while (!rest.empty()) {
    DWORD chunk = rest.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest.size());
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), rest.data(), chunk, &written, nullptr)) return Fail();
    if (written == 0) {
      errno = EIO;
      return false;
    }
    rest.remove_prefix(written);
  }
  if (!::SetEndOfFile(AsHandle(handle_))) return Fail();
  return ::FlushFileBuffers(AsHandle(handle_)) ? true : Fail();
}

ReplacementFile::~ReplacementFile() {
  if (placed_ || temp_.empty()) return;
  // Whoever failed has set errno already; cleaning up must not change it.
  const int err = errno;
  if (handle_ != -1) ::CloseHandle(AsHandle(handle_));
  if (std::optional<std::wstring> wide = win32::SystemPath(temp_)) ::DeleteFileW(wide->c_str());
  errno = err;
}

bool ReplacementFile::Create(const std::string& target, const KeptAttributes* existing) {
  target_ = target;
  if (existing != nullptr) {
    // Replacing a file by name succeeds even where the file itself may not be written (the
    // read-only attribute, a file another program holds for writing, an access list that
    // denies writing): the write must fail as writing the file would.
    if (existing->mode & FILE_ATTRIBUTE_READONLY) {
      errno = EACCES;
      return false;
    }
    std::optional<std::wstring> wide = win32::SystemPath(target);
    if (!wide) return Fail();
    HANDLE probe = ::CreateFileW(wide->c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return Fail();
    ::CloseHandle(probe);
  }
  const std::size_t separator = target.find_last_of("\\/");
  const std::string folder = separator == std::string::npos ? "" : target.substr(0, separator + 1);
  const std::string base = separator == std::string::npos ? target : target.substr(separator + 1);
  // Hidden attributes carry over; archive marks the file as changed for backups.
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (existing != nullptr) {
    attributes = existing->mode & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    attributes |= FILE_ATTRIBUTE_ARCHIVE;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned n = TempCounter.fetch_add(1) + ::GetTickCount() * 7919u;
    const std::string temp = folder + "." + base + "." + std::to_string(::GetCurrentProcessId()) +
                             "-" + std::to_string(n % 1000000u);
    std::optional<std::wstring> wide = win32::SystemPath(temp);
    if (!wide) return Fail();
    HANDLE handle =
        ::CreateFileW(wide->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(handle);
      temp_ = temp;
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return Fail();
    }
  }
  errno = EEXIST;
  return false;
}

bool ReplacementFile::Write(std::string_view data) {
  while (!data.empty()) {
    DWORD chunk = data.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(data.size());
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), data.data(), chunk, &written, nullptr)) return Fail();
    if (written == 0) {
      errno = EIO;
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

bool ReplacementFile::Sync() {
  return ::FlushFileBuffers(AsHandle(handle_)) ? true : Fail();
}

bool ReplacementFile::Close() {
  const bool closed = ::CloseHandle(AsHandle(handle_));
  handle_ = -1;
  return closed ? true : Fail();
}

bool ReplacementFile::Replace() {
  std::optional<std::wstring> from = win32::SystemPath(temp_);
  std::optional<std::wstring> to = win32::SystemPath(target_);
  if (!from || !to) return Fail();
  // One rename that replaces the old file, written through before the call returns. While
  // a reader (the language lookup on another thread, an editor) has the old file open, the
  // system refuses to replace it; readers hold it for a moment only, so try again for a while.
  // Writing the file itself was checked to be allowed, so a lasting refusal is rare.
  constexpr int kAttempts = 500;
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(from->c_str(), to->c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      placed_ = true;
      return true;
    }
    const DWORD error = ::GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
        attempt == kAttempts) {
      errno = win32::ErrnoFromError(error);
      return false;
    }
    ::Sleep(attempt < 10 ? 0 : 1);
  }
}

}  // namespace lumivex::platform::files
