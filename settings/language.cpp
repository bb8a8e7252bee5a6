#include "settings/language.h"

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "platform/profile.h"

namespace lumivex::settings {

std::string LanguageFilePath;

namespace {

constexpr char kConfigFileName[] = "Config.ini";
constexpr char kThemesSection[] = "themes";
constexpr char kSolutionKey[] = "Solution";
constexpr char kDefaultLanguage[] = "English";
constexpr char kLanguageFolder[] = "Language/";
constexpr char kLanguageExtension[] = ".lang";
constexpr char kStringSection[] = "String";

constexpr std::size_t kMaxLanguageNameBytes = 63;
constexpr std::size_t kMaxTextBytes = 299;

// A language file is kept in memory only while it is of a language file's size; a bigger one
// is searched on disk at every lookup, as if there were no cache.
constexpr std::size_t kMaxCachedEntries = 4096;
constexpr std::size_t kMaxCachedBytes = 1 << 20;

// A file changed within this time of its last change may change again without its stamp
// showing it (timestamps advance in coarse steps; some file systems keep whole seconds), so
// such a file is read again at every lookup until it has been still for this long.
constexpr std::chrono::nanoseconds kStampSettleTime = std::chrono::seconds(2);

// The "String" section of the language file last read, with the stamp of the file it came
// from. Shared by the GUI thread and the firmware-upgrade worker.
struct LanguageCache {
  std::mutex mutex;
  std::string path;
  std::optional<platform::FileStamp> stamp;
  bool trusted = false;   // stamp settled when read: an equal stamp means equal contents
  bool complete = false;  // the whole section is in texts
  std::unordered_map<std::string, std::string> texts;  // folded key -> text; first line wins
};

LanguageCache Cache;

void Reload(LanguageCache& cache, const std::string& path) {
  cache.path = path;
  cache.texts.clear();
  cache.complete = true;
  cache.trusted = false;
  std::size_t bytes = 0;
  platform::FileStamp stamp;
  bool read = platform::VisitProfileSection(
      path, kStringSection,
      [&](const platform::ProfileEntry& e) {
        if (e.key.empty()) return true;  // a line without '=' translates nothing
        std::string text =
            platform::CutProfileText(platform::UnquoteProfileValue(e.value), kMaxTextBytes);
        bytes += e.key.size() + text.size();
        if (cache.texts.size() >= kMaxCachedEntries || bytes > kMaxCachedBytes) {
          cache.complete = false;
          return false;
        }
        cache.texts.try_emplace(platform::FoldProfileName(e.key), std::move(text));
        return true;
      },
      &stamp);
  if (!read || !cache.complete) {
    cache.texts.clear();
    cache.complete = false;
  }
  cache.stamp = read ? std::optional(stamp) : std::nullopt;
  if (read) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto lastChange = std::chrono::nanoseconds(std::max(stamp.modifiedNs, stamp.changedNs));
    cache.trusted = now - lastChange > kStampSettleTime;
  }
}

// The text of key in the language file at path; "" when there is none.
std::string LookUp(const std::string& path, const std::string& key) {
  std::lock_guard lock(Cache.mutex);
  auto stamp = platform::StatProfile(path);
  if (!stamp) {
    Cache.stamp.reset();
    Cache.texts.clear();
    return {};
  }
  if (!(Cache.trusted && Cache.path == path && Cache.stamp == stamp)) Reload(Cache, path);
  if (!Cache.complete) {
    auto text = platform::ReadProfileString(path, kStringSection, key);
    return text ? platform::CutProfileText(*text, kMaxTextBytes) : std::string();
  }
  auto it = Cache.texts.find(platform::FoldProfileName(key));
  return it == Cache.texts.end() ? std::string() : it->second;
}

}  // namespace

void LoadLanguage(const std::string& programDirectory) {
  auto name =
      platform::ReadProfileString(programDirectory + kConfigFileName, kThemesSection, kSolutionKey);
  std::string language =
      name ? platform::CutProfileText(*name, kMaxLanguageNameBytes) : std::string();
  if (language.empty()) language = kDefaultLanguage;
  LanguageFilePath = programDirectory + kLanguageFolder + language + kLanguageExtension;
}

std::string Translate(const std::string& key) {
  if (!LanguageFilePath.empty()) {
    std::string text = LookUp(LanguageFilePath, key);
    if (!text.empty()) return text;
  }
  // '.' never occurs inside a multibyte UTF-8 character, so a byte search is enough.
  std::size_t dot = key.find('.');
  return dot == std::string::npos ? key : key.substr(dot + 1);
}

}  // namespace lumivex::settings
