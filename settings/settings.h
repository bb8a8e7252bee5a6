// The settings file "Lumivex.ini" in the current working directory, and the program directory.
// Used on the GUI thread (and the CLI's main thread) only.
#pragma once

#include <array>
#include <string>

namespace lumivex::settings {

namespace section {
constexpr char kDialog[] = "dialog";
constexpr char kLed[] = "led";
constexpr char kSystem[] = "system";
}  // namespace section
constexpr char kFirmwareNameKey[] = "FirmWareName";
constexpr char kSettingsFileName[] = "Lumivex.ini";

struct SettingEntry {
  std::string key;
  std::string value;
};
using SettingTable = std::array<SettingEntry, 255>;

// Working directory + "/Lumivex.ini", built anew at every call.
std::string SettingsFilePath();

// The key's value (at most 259 characters); "" when the file, section or key is missing.
std::string ReadSetting(const std::string& section, const std::string& key);
// Creates file and section when missing. Silent on failure; never leaves a damaged file.
void WriteSetting(const std::string& section, const std::string& key, const std::string& value);
// The section's lines in file order, names and values as written; a line without "=" gives an
// empty key and the whole line as value. Returns the count filled (0 when missing or empty).
int ReadSettingSection(const std::string& section, SettingTable& entries);

// Folder of the running executable, ending in "/"; computed once.
std::string GetProgramDirectory();

}  // namespace lumivex::settings
