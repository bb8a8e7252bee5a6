#include "settings/language.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/profile.h"
#include "test_files.h"

namespace lumivex::settings {
namespace {

using lumivex::testing::TempDir;
using lumivex::testing::WriteFile;

// A program directory of its own: Config.ini and a Language folder.
class ProgramFolder {
 public:
  ProgramFolder() { std::filesystem::create_directory(dir_ / "Language"); }
  std::string path() const { return dir_.path() + "/"; }
  void Config(const std::string& text) { WriteFile(dir_ / "Config.ini", text); }
  std::string Language(const std::string& name) const {
    return dir_ / ("Language/" + name + ".lang");
  }

 private:
  TempDir dir_;
};

// Sets a file's modification time to `age` ago, so that it counts as long settled.
void Age(const std::string& path, std::chrono::seconds age) {
  auto when = std::chrono::system_clock::now() - age;
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ns % 1'000'000'000);
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Rewrites the file in place (same inode), as an editor saving over it does.
void Overwrite(const std::string& path, const std::string& text) {
  WriteFile(path, text);
}

struct ConfigCase {
  const char* name;
  std::optional<std::string> config;  // nullopt: no Config.ini
  std::string language;
};

class LoadLanguageChoice : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(LoadLanguageChoice, PicksTheLanguageFile) {
  ProgramFolder folder;
  if (GetParam().config) folder.Config(*GetParam().config);
  LoadLanguage(folder.path());
  EXPECT_EQ(LanguageFilePath, folder.path() + "Language/" + GetParam().language + ".lang");
}

INSTANTIATE_TEST_SUITE_P(
    Configs, LoadLanguageChoice,
    ::testing::Values(
        ConfigCase{"NoConfig", std::nullopt, "English"}, ConfigCase{"EmptyConfig", "", "English"},
        ConfigCase{"NoSolution", "[themes]\nother=x\n", "English"},
        ConfigCase{"EmptySolution", "[themes]\nSolution=\n", "English"},
        ConfigCase{"BlankSolution", "[themes]\nSolution=   \n", "English"},
        ConfigCase{"Chosen", "[Themes]\r\nsolution = SimplifiedChinese\r\n", "SimplifiedChinese"},
        ConfigCase{"QuotedChoice", "[themes]\nSolution=\"SimplifiedChinese\"\n",
                   "SimplifiedChinese"},
        ConfigCase{"EmptyQuotedChoice", "[themes]\nSolution=''\n", "English"},
        ConfigCase{"NameCutTo63", "[themes]\nSolution=" + std::string(100, 'L') + "\n",
                   std::string(63, 'L')}),
    [](const auto& info) { return info.param.name; });

struct FallbackCase {
  std::string key;
  std::string expected;
};

class TranslateFallback : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(TranslateFallback, WithoutLanguage) {
  LanguageFilePath.clear();
  EXPECT_EQ(Translate(GetParam().key), GetParam().expected);
}

TEST_P(TranslateFallback, WithMissingLanguageFile) {
  ProgramFolder folder;
  folder.Config("[themes]\nSolution=Klingon\n");
  LoadLanguage(folder.path());
  EXPECT_EQ(Translate(GetParam().key), GetParam().expected);
}

TEST_P(TranslateFallback, WithKeyAbsentOrEmptyInFile) {
  ProgramFolder folder;
  std::string file = "[String]\nOther.Key=text\n";
  if (!GetParam().key.empty()) file += GetParam().key + "=\n";
  WriteFile(folder.Language("English"), file);
  LoadLanguage(folder.path());
  EXPECT_EQ(Translate(GetParam().key), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TranslateFallback,
    ::testing::Values(FallbackCase{"Tab.Led", "Led"}, FallbackCase{"Uart.Open", "Open"},
                      FallbackCase{"WarningSystem.UpgrateTimeOut", "UpgrateTimeOut"},
                      FallbackCase{"FLIP.x", "x"}, FallbackCase{"Board:", "Board:"},
                      FallbackCase{"Max：255", "Max：255"},
                      FallbackCase{"Lumivex v2.4.1.1-QELTOR", "4.1.1-QELTOR"},
                      FallbackCase{"Ends.", ""}, FallbackCase{".", ""},
                      FallbackCase{"温度.读取", "读取"}, FallbackCase{"", ""}),
    [](const auto& info) {
      // Test names allow letters and digits only.
      std::string name = "Key" + std::to_string(info.index) + "_";
      for (char c : info.param.key) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) name += c;
      }
      return name;
    });

struct LookupCase {
  const char* name;
  std::string key;
  std::string expected;
};

class TranslateLookup : public ::testing::TestWithParam<LookupCase> {
 protected:
  static void SetUpTestSuite() {
    folder_ = new ProgramFolder;
    WriteFile(
        folder_->Language("English"),
        "\xEF\xBB\xBF; texts\r\n[Other]\r\nTab.System=wrong section\r\n[String]\r\n"
        "Tab.Led=LED\r\nTab.Led=second\r\n;Tab.Flip=commented\r\n  Uart.Open = Connect  \r\n"
        "a line without equals\r\nBoard:=Mainboard:\r\nMsg=one = two\r\n"
        "Long.Text=" +
            std::string(400, 'x') +
            "\r\n"
            "Long.NotUtf8=" +
            std::string(400, '\x80') +
            "\r\n"
            "Long.Utf8=" +
            [] {
              std::string s;
              for (int i = 0; i < 150; ++i) s += "温";  // 450 bytes
              return s;
            }() +
            "\r\n");
    LoadLanguage(folder_->path());
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  static ProgramFolder* folder_;
};

ProgramFolder* TranslateLookup::folder_ = nullptr;

TEST_P(TranslateLookup, FindsText) {
  EXPECT_EQ(Translate(GetParam().key), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TranslateLookup,
    ::testing::Values(LookupCase{"Found", "Tab.Led", "LED"},
                      LookupCase{"KeyCaseIgnored", "TAB.LED", "LED"},
                      LookupCase{"BlanksTrimmed", "Uart.Open", "Connect"},
                      LookupCase{"CommentIgnored", "Tab.Flip", "Flip"},
                      LookupCase{"OtherSectionIgnored", "Tab.System", "System"},
                      LookupCase{"CaptionKey", "Board:", "Mainboard:"},
                      LookupCase{"SecondEquals", "Msg", "one = two"},
                      LookupCase{"EmptyKeyStaysEmpty", "", ""},
                      // A key with a stray carriage return matches as the file reader matches it.
                      LookupCase{"KeyWithCarriageReturn", "Tab.Led\r", "LED"},
                      LookupCase{"CutTo299", "Long.Text", std::string(299, 'x')},
                      // Bytes that are not UTF-8 are cut where the limit falls, not emptied.
                      LookupCase{"CutNotUtf8", "Long.NotUtf8", std::string(299, '\x80')},
                      LookupCase{"CutKeepsWholeCharacters", "Long.Utf8",
                                 [] {
                                   std::string s;
                                   for (int i = 0; i < 99; ++i) s += "温";  // 297 bytes
                                   return s;
                                 }()}),
    [](const auto& info) { return info.param.name; });

TEST(TranslateText, DropsOnePairOfQuotesAsAKeyReadDoes) {
  ProgramFolder folder;
  WriteFile(folder.Language("English"),
            "[String]\nUart.Open=\"Connect\"\nUart.Close=' Close '\nLed.On=\"On\" now\n");
  LoadLanguage(folder.path());
  EXPECT_EQ(Translate("Uart.Open"), "Connect");
  EXPECT_EQ(Translate("Uart.Close"), " Close ");
  EXPECT_EQ(Translate("Led.On"), "\"On\" now");
}

TEST(TranslateEdits, ShowAtTheNextLookup) {
  ProgramFolder folder;
  const std::string lang = folder.Language("English");
  LoadLanguage(folder.path());

  Overwrite(lang, "[String]\nUart.Open=Connect\n");
  Age(lang, std::chrono::hours(2));
  EXPECT_EQ(Translate("Uart.Open"), "Connect");
  EXPECT_EQ(Translate("Uart.Open"), "Connect");

  // Same size, modification time moved on.
  Overwrite(lang, "[String]\nUart.Open=Verbind\n");
  Age(lang, std::chrono::hours(1));
  EXPECT_EQ(Translate("Uart.Open"), "Verbind");

  // Same size, and the modification time put back to what it was: the edit still shows.
  struct stat before;
  ASSERT_EQ(::stat(lang.c_str(), &before), 0);
  Overwrite(lang, "[String]\nUart.Open=Koppeln\n");
  struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, lang.c_str(), times, 0), 0);
  EXPECT_EQ(Translate("Uart.Open"), "Koppeln");

  // Same size, written right now, twice in quick succession.
  Overwrite(lang, "[String]\nUart.Open=Conecta\n");
  EXPECT_EQ(Translate("Uart.Open"), "Conecta");
  Overwrite(lang, "[String]\nUart.Open=Collega\n");
  EXPECT_EQ(Translate("Uart.Open"), "Collega");

  // Replaced by a new file.
  ASSERT_TRUE(platform::WriteProfileString(lang, "String", "Uart.Open", "Connect now"));
  EXPECT_EQ(Translate("Uart.Open"), "Connect now");

  // Key removed, then the whole file.
  Overwrite(lang, "[String]\nUart.Close=Disconnect\n");
  Age(lang, std::chrono::hours(1));
  EXPECT_EQ(Translate("Uart.Open"), "Open");
  EXPECT_EQ(Translate("Uart.Close"), "Disconnect");
  std::filesystem::remove(lang);
  EXPECT_EQ(Translate("Uart.Close"), "Close");
  Overwrite(lang, "[String]\nUart.Close=Back again\n");
  EXPECT_EQ(Translate("Uart.Close"), "Back again");
}

// Once a file has been still for a while its texts are served from memory; an edit that keeps
// the size and even puts the modification time back must still show.
TEST(TranslateEdits, SettledFileEditedInPlaceShows) {
  ProgramFolder folder;
  const std::string lang = folder.Language("English");
  Overwrite(lang, "[String]\nUart.Open=Connect\n");
  LoadLanguage(folder.path());
  // Wait until the file's change time is older than any timestamp step, so the cached copy is
  // trusted; bounded, and measured on the clock the file system stamps with.
  struct stat st;
  ASSERT_EQ(::stat(lang.c_str(), &st), 0);
  const auto changed = std::chrono::seconds(st.st_ctim.tv_sec + 1);
  while (std::chrono::system_clock::now().time_since_epoch() < changed + std::chrono::seconds(2)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(Translate("Uart.Open"), "Connect");
  EXPECT_EQ(Translate("Uart.Open"), "Connect");

  Overwrite(lang, "[String]\nUart.Open=Verbind\n");
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, lang.c_str(), times, 0), 0);
  EXPECT_EQ(Translate("Uart.Open"), "Verbind");
}

// A file far beyond a language file's size is not kept in memory but still answers.
TEST(TranslateEdits, OversizedLanguageFileStillTranslates) {
  ProgramFolder folder;
  const std::string lang = folder.Language("English");
  std::string file = "[String]\nFirst.Key=first\n";
  for (int i = 0; i < 20000; ++i)
    file += "Filler.K" + std::to_string(i) + "=" + std::string(80, 'f') + "\n";
  file += "Last.Key=last\n";
  WriteFile(lang, file);
  Age(lang, std::chrono::hours(1));
  LoadLanguage(folder.path());
  EXPECT_EQ(Translate("First.Key"), "first");
  EXPECT_EQ(Translate("Last.Key"), "last");
  EXPECT_EQ(Translate("Filler.K19999"), std::string(80, 'f'));
  EXPECT_EQ(Translate("Missing.Key"), "Key");
  ASSERT_TRUE(platform::WriteProfileString(lang, "String", "Last.Key", "changed"));
  EXPECT_EQ(Translate("Last.Key"), "changed");
}

}  // namespace
}  // namespace lumivex::settings
