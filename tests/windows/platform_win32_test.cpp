// The Win32 platform layer: profile files under names the ANSI code page cannot spell and past
// MAX_PATH, a read-only file, the program's and the working directory's paths, and the waits.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h names the system's own profile writer WriteProfileString.
#undef WriteProfileString

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "settings/settings.h"

namespace {

using lumivex::platform::ReadProfileSection;
using lumivex::platform::ReadProfileString;
using lumivex::platform::StatProfile;
using lumivex::platform::WriteProfileString;

std::wstring Wide(const std::string& utf8) {
  int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& wide) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), s.data(), n,
                        nullptr, nullptr);
  return s;
}

// The long form, so the test's own checks reach any depth.
std::wstring Long(const std::string& utf8) {
  std::wstring w = Wide(utf8);
  for (wchar_t& c : w) {
    if (c == L'/') c = L'\\';
  }
  return L"\\\\?\\" + w;
}

// A folder of its own below the temporary folder, removed with its contents.
class Folder {
 public:
  explicit Folder(const std::string& leaf) {
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    path_ = Narrow(temp) + leaf + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(::GetTickCount());
    EXPECT_TRUE(::CreateDirectoryW(Long(path_).c_str(), nullptr)) << ::GetLastError();
  }
  ~Folder() { Remove(Long(path_)); }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  const std::string& path() const { return path_; }

  // The names in the folder, so a test sees that no temporary file stayed behind.
  std::vector<std::string> Names(const std::string& sub = "") const {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    std::wstring pattern = Long(sub.empty() ? path_ : sub) + L"\\*";
    HANDLE h = ::FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(Narrow(name));
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
    return names;
  }

 private:
  static void Remove(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE h = ::FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring child = dir + L"\\" + name;
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Remove(child);
        } else {
          ::DeleteFileW(child.c_str());
        }
      } while (::FindNextFileW(h, &found));
      ::FindClose(h);
    }
    ::RemoveDirectoryW(dir.c_str());
  }

  std::string path_;
};

std::string ReadBytes(const std::string& path) {
  HANDLE h = ::CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(65536, '\0');
  DWORD got = 0;
  ::ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  ::CloseHandle(h);
  bytes.resize(got);
  return bytes;
}

// Folder and file names that the ANSI code page of a Western system cannot spell, and a user
// name in Chinese: every one must reach the disk as written and read back.
TEST(ProfileFilesWin32, NamesOutsideTheAnsiCodePageRoundTrip) {
  Folder folder("配置-用户");
  const std::string path = folder.path() + "\\设置 Lumivex.ini";
  ASSERT_TRUE(WriteProfileString(path, "system", "FirmWareName", "固件 KVB03.bin"));
  EXPECT_EQ(ReadProfileString(path, "system", "FirmWareName").value_or("<none>"), "固件 KVB03.bin");
  // The bytes on disk are UTF-8, under the name as written.
  EXPECT_EQ(ReadBytes(path), "[system]\nFirmWareName=固件 KVB03.bin\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"设置 Lumivex.ini"});
}

TEST(ProfileFilesWin32, PathsPastMaxPathAreReadAndWritten) {
  Folder folder("long");
  std::string dir = folder.path();
  while (dir.size() < 400) {
    dir += "\\" + std::string(60, 'd');
    ASSERT_TRUE(::CreateDirectoryW(Long(dir).c_str(), nullptr)) << ::GetLastError();
  }
  // Forward slashes, as the settings code joins them, work in the long form too.
  const std::string path = dir + "/Lumivex.ini";
  ASSERT_GT(path.size(), static_cast<std::size_t>(MAX_PATH));
  ASSERT_TRUE(WriteProfileString(path, "dialog", "dlg1", "true"));
  ASSERT_TRUE(WriteProfileString(path, "dialog", "dlg3", "true"));
  const auto entries = ReadProfileSection(path, "dialog", 255);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].key, "dlg3");
  EXPECT_TRUE(StatProfile(path).has_value());
  EXPECT_EQ(folder.Names(dir), std::vector<std::string>{"Lumivex.ini"});
}

TEST(ProfileFilesWin32, ReadOnlyFileIsNeitherWrittenNorReplaced) {
  Folder folder("readonly");
  const std::string path = folder.path() + "\\Lumivex.ini";
  ASSERT_TRUE(WriteProfileString(path, "system", "FirmWareName", "old.bin"));
  const std::string before = ReadBytes(path);
  ASSERT_TRUE(::SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_READONLY));

  errno = 0;
  EXPECT_FALSE(WriteProfileString(path, "system", "FirmWareName", "new.bin"));
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"Lumivex.ini"});
  EXPECT_NE(::GetFileAttributesW(Long(path).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(ProfileFilesWin32, RewriteReplacesTheFileAndLeavesNoTemporaryFile) {
  Folder folder("rewrite");
  const std::string path = folder.path() + "\\Lumivex.ini";
  ASSERT_TRUE(WriteProfileString(path, "led", "r", "true"));
  const auto first = StatProfile(path);
  ASSERT_TRUE(first.has_value());
  ASSERT_TRUE(WriteProfileString(path, "led", "r", "false"));
  const auto second = StatProfile(path);
  ASSERT_TRUE(second.has_value());
  // A cached copy of the file must see that it changed.
  EXPECT_NE(*first, *second);
  EXPECT_EQ(ReadProfileString(path, "led", "r").value_or(""), "false");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"Lumivex.ini"});
}

TEST(ProfileFilesWin32, BadPathsFailWithoutWriting) {
  Folder folder("bad");
  // Not UTF-8: converting it would name another file.
  EXPECT_FALSE(WriteProfileString(folder.path() + "\\bad\xff.ini", "s", "k", "v"));
  EXPECT_FALSE(ReadProfileString(folder.path() + "\\bad\xff.ini", "s", "k").has_value());
  // A folder in place of the file, and a folder that does not exist.
  ASSERT_TRUE(::CreateDirectoryW(Long(folder.path() + "\\dir.ini").c_str(), nullptr));
  EXPECT_FALSE(WriteProfileString(folder.path() + "\\dir.ini", "s", "k", "v"));
  EXPECT_FALSE(WriteProfileString(folder.path() + "\\none\\x.ini", "s", "k", "v"));
  EXPECT_FALSE(StatProfile(folder.path() + "\\dir.ini").has_value());
  // Devices are no profile files.
  EXPECT_FALSE(ReadProfileString("NUL", "s", "k").has_value());
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"dir.ini"});
}

TEST(PathsWin32, ProgramAndWorkingDirectoryAsTheSystemNamesThem) {
  const std::string program = lumivex::platform::ProgramPath();
  ASSERT_GE(program.size(), 4u);
  EXPECT_EQ(program.substr(program.size() - 4), ".exe");
  const std::string dir = lumivex::settings::GetProgramDirectory();
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_EQ(program.substr(0, dir.size()), dir);

  Folder folder("工作目录");
  std::wstring saved(32768, L'\0');
  saved.resize(::GetCurrentDirectoryW(static_cast<DWORD>(saved.size()), saved.data()));
  ASSERT_TRUE(::SetCurrentDirectoryW(Wide(folder.path()).c_str()));
  EXPECT_EQ(lumivex::platform::CurrentDirectory(), folder.path());
  EXPECT_EQ(lumivex::settings::SettingsFilePath(), folder.path() + "\\Lumivex.ini");
  lumivex::settings::WriteSetting("system", "FirmWareName", "KVB03.bin");
  EXPECT_EQ(lumivex::settings::ReadSetting("system", "FirmWareName"), "KVB03.bin");
  ::SetCurrentDirectoryW(saved.c_str());
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"Lumivex.ini"});
}

// A sleep may end late, never early: the link's steps spin only the last stretch and rely on
// it. Each target is an absolute point, as the link schedules its steps.
TEST(ClockWin32, SleepUntilNeverReturnsEarly) {
  using std::chrono::steady_clock;
  lumivex::platform::EnablePreciseTimers();
  steady_clock::time_point at = steady_clock::now();
  for (int i = 0; i < 50; ++i) {
    at += std::chrono::microseconds(700 + 37 * i);
    lumivex::platform::SleepUntil(at);
    ASSERT_GE(steady_clock::now(), at) << i;
  }
  // A point already passed returns at once.
  lumivex::platform::SleepUntil(steady_clock::now() - std::chrono::seconds(1));
}

}  // namespace
