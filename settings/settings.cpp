#include "settings/settings.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace lumivex::settings {
namespace {

// The longest value a read hands back: what a 260-byte buffer holds with its terminating zero.
constexpr std::size_t kMaxValueBytes = 259;

}  // namespace

std::string SettingsFilePath() {
  std::vector<char> buf(256);
  for (;;) {
    if (::getcwd(buf.data(), buf.size()) != nullptr) {
      return std::string(buf.data()) + "/" + kSettingsFileName;
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) break;
    buf.resize(buf.size() * 2);
  }
  // The working directory is gone (removed, or out of reach): a relative name still means
  // "in the working directory", and opening it simply fails, so reads give defaults.
  return kSettingsFileName;
}

std::string ReadSetting(const std::string& section, const std::string& key) {
  auto value = platform::ReadProfileString(SettingsFilePath(), section, key);
  return value ? platform::CutProfileText(*value, kMaxValueBytes) : std::string();
}

void WriteSetting(const std::string& section, const std::string& key, const std::string& value) {
  platform::WriteProfileString(SettingsFilePath(), section, key, value);
}

int ReadSettingSection(const std::string& section, SettingTable& entries) {
  // Every line of the section reaches the caller, up to the table's size; none is dropped
  // for the length of the lines before it.
  auto lines = platform::ReadProfileSection(SettingsFilePath(), section, entries.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    entries[i].key = platform::CutProfileText(lines[i].key, kMaxValueBytes);
    entries[i].value = platform::CutProfileText(lines[i].value, kMaxValueBytes);
  }
  return static_cast<int>(lines.size());
}

std::string GetProgramDirectory() {
  static const std::string directory = [] {
    std::vector<char> buf(512);
    for (;;) {
      ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
      if (n < 0) return std::string("./");
      if (static_cast<std::size_t>(n) < buf.size()) {
        std::string exe(buf.data(), static_cast<std::size_t>(n));
        std::size_t slash = exe.rfind('/');
        return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
      }
      buf.resize(buf.size() * 2);
    }
  }();
  return directory;
}

}  // namespace lumivex::settings
