#include "settings/settings.h"

#include <cstddef>
#include <string_view>

#include "platform/paths.h"
#include "platform/profile.h"

namespace lumivex::settings {
namespace {

// The longest value a read hands back: what a 260-byte buffer holds with its terminating zero.
constexpr std::size_t kMaxValueBytes = 259;

}  // namespace

std::string SettingsFilePath() {
  const std::string directory = platform::CurrentDirectory();
  // The working directory is gone (removed, or out of reach): a relative name still means
  // "in the working directory", and opening it simply fails, so reads give defaults.
  if (directory.empty()) return kSettingsFileName;
  return directory + platform::kPathSeparator + kSettingsFileName;
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
    const std::string here = std::string(".") + platform::kPathSeparator;
    const std::string exe = platform::ProgramPath();
    const std::size_t separator = exe.find_last_of(platform::kPathSeparators);
    return separator == std::string::npos ? here : exe.substr(0, separator + 1);
  }();
  return directory;
}

}  // namespace lumivex::settings
