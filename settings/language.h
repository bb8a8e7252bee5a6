// Language keys and their display texts.
#pragma once

#include <string>

namespace lumivex::settings {

// Full path of the language file; empty until LoadLanguage, never changed afterwards.
extern std::string LanguageFilePath;

// Reads "Config.ini" beside the program ([themes] Solution, default "English") and sets
// LanguageFilePath to programDirectory + "Language/" + name + ".lang". Call once, before any
// window or thread exists.
void LoadLanguage(const std::string& programDirectory);

// The display text of key from section "String" of the language file; when there is none, the
// text after the key's first "." (the key itself when it has none). Safe from any thread.
std::string Translate(const std::string& key);

}  // namespace lumivex::settings
