// Translate over arbitrary language files and keys. Input: the key, a NUL byte, then the file.
// The cached lookup must agree with a direct read of the file and with the fallback rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz_files.h"
#include "platform/profile.h"
#include "settings/language.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Fallback(const std::string& key) {
  auto dot = key.find('.');
  return dot == std::string::npos ? key : key.substr(dot + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string folder = [] {
    const std::string dir = lumivex::fuzz::ScratchFolder() + "/";
    std::filesystem::create_directories(dir + "Language");
    return dir;
  }();
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto split = bytes.find('\0');
  const std::string key(bytes.substr(0, split));
  const std::string_view file =
      split == std::string_view::npos ? std::string_view() : bytes.substr(split + 1);

  lumivex::settings::LanguageFilePath.clear();
  Check(lumivex::settings::Translate(key) == Fallback(key));

  const std::string lang = folder + "Language/English.lang";
  lumivex::fuzz::WriteBytes(lang, file);
  lumivex::settings::LoadLanguage(folder);
  Check(lumivex::settings::LanguageFilePath == lang);

  // Twice: the second lookup may come from the cache and must say the same.
  const std::string first = lumivex::settings::Translate(key);
  const std::string second = lumivex::settings::Translate(key);
  Check(first == second);

  auto direct = lumivex::platform::ReadProfileString(lang, "String", key);
  if (direct && !direct->empty()) {
    // The text, cut to 299 bytes at most, and never by more than one partial character.
    Check(first.size() <= 299 && direct->compare(0, first.size(), first) == 0);
    Check(first.size() == direct->size() || first.size() >= 296);
  } else {
    Check(first == Fallback(key));
  }
  return 0;
}
