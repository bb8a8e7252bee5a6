// The language files shipped with the panel: complete, clean, and readable by the panel.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "settings/language.h"
#include "settings/language_keys.h"

namespace lumivex::settings {
namespace {

const std::string kResources = LUMIVEX_RESOURCES_DIR;

// Every key the panel looks up, and the template captions whose fallback would read wrong
// ("Lumivex v2.4.1.1-QELTOR" would lose its head) or that read better translated.
const std::vector<std::string>& RequiredKeys() {
  static const std::vector<std::string> keys = {key::kTabLed,
                                                key::kTabInputSource,
                                                key::kTabTemperature,
                                                key::kTabFlip,
                                                key::kTabSystem,
                                                key::kGeneralUart,
                                                key::kUartOpen,
                                                key::kUartClose,
                                                "Led.LedCtrl",
                                                key::kLedOn,
                                                key::kLedOff,
                                                "Led.SliderTitle",
                                                "Led.Write",
                                                "Led.Read",
                                                "Led.LedCurrent",
                                                "Led.Light",
                                                "Led.confirm",
                                                key::kLedRed,
                                                key::kLedGreen,
                                                key::kLedBlue,
                                                key::kLedWhite,
                                                "InputSource.ChangeTo",
                                                "InputSource.confirm",
                                                "Temperature.Read",
                                                "Temperature.Temp",
                                                "FLIP.x",
                                                "FLIP.y",
                                                "FLIP.do",
                                                "System.UpGrate",
                                                "System.UdiskFileName",
                                                "System.FirmWareUpGrate",
                                                key::kWarningUartTitle,
                                                key::kWarningSystemTitle,
                                                key::kNotFinded,
                                                key::kConnectFail,
                                                key::kConnectSuccess,
                                                key::kFirmwareOld,
                                                key::kNotOpen,
                                                key::kReadFail,
                                                key::kInvalidFirmware,
                                                key::kInvalidFileName,
                                                key::kNotFindFile,
                                                key::kNotFindDisk,
                                                key::kUpgradeFail,
                                                key::kUpgradeSuccess,
                                                key::kUpgradeTimeOut,
                                                key::kStatusNotConnected,
                                                key::kStatusBaud,
                                                key::kStatusFirmware,
                                                key::kMenuSerialTraffic,
                                                key::kTrafficTitle,
                                                key::kTrafficCopy,
                                                key::kTrafficSave,
                                                key::kTrafficClear,
                                                key::kTrafficPause,
                                                key::kTrafficSaveFailed,
                                                key::kPortGone,
                                                "Lumivex v2.4.1.1-QELTOR",
                                                "Max：255",
                                                "R:",
                                                "G:",
                                                "B:",
                                                "Board:",
                                                key::kHistoryMenu,
                                                key::kHistoryTitle,
                                                "History.Interval",
                                                key::kHistorySeconds,
                                                "History.Range",
                                                key::kHistoryLast10Minutes,
                                                key::kHistoryLastHour,
                                                key::kHistorySession,
                                                "History.Limit",
                                                "History.SaveCsv",
                                                "History.Clear",
                                                key::kHistoryRed,
                                                key::kHistoryGreen,
                                                key::kHistoryBlue,
                                                key::kHistoryBoard,
                                                key::kHistoryMinutes,
                                                key::kHistoryNoReadings,
                                                key::kHistoryNotConnected,
                                                key::kHistoryReadings,
                                                key::kHistoryNoAnswer,
                                                key::kHistoryOverLimit,
                                                key::kHistorySaveTitle,
                                                key::kHistorySaved,
                                                key::kHistorySaveFailed};
  return keys;
}

// The keys above and those of the board layer (what the panel waits for, a port gone).
std::vector<std::string> AllKeys() {
  std::vector<std::string> keys = RequiredKeys();
  keys.insert(keys.end(), std::begin(key::kBoardKeys), std::end(key::kBoardKeys));
  return keys;
}

// Captions that show well as they are; a file may still translate them.
const std::set<std::string> kOptionalKeys = {"R", "G", "B", "W", "-100", "℃"};

bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

class ShippedLanguage : public ::testing::TestWithParam<const char*> {
 protected:
  std::string path() const { return kResources + "Language/" + GetParam() + ".lang"; }
};

TEST_P(ShippedLanguage, HasATextForEveryKey) {
  for (const auto& k : AllKeys()) {
    auto text = platform::ReadProfileString(path(), "String", k);
    ASSERT_TRUE(text.has_value()) << GetParam() << " lacks " << k;
    EXPECT_FALSE(text->empty()) << GetParam() << " has an empty text for " << k;
  }
}

TEST_P(ShippedLanguage, HoldsOnlyKnownKeysOnceWithCleanTexts) {
  auto entries = platform::ReadProfileSection(path(), "String", 1000);
  ASSERT_FALSE(entries.empty());
  const std::vector<std::string> all = AllKeys();
  std::set<std::string> known(all.begin(), all.end());
  std::set<std::string> seen;
  for (const auto& e : entries) {
    EXPECT_FALSE(e.key.empty()) << "line without '=': " << e.value;
    EXPECT_TRUE(known.count(e.key) || kOptionalKeys.count(e.key)) << "unknown key " << e.key;
    EXPECT_TRUE(seen.insert(e.key).second) << "duplicate key " << e.key;
    EXPECT_NE(e.key, "Slider1");
    EXPECT_TRUE(IsValidUtf8(e.value)) << e.key;
    EXPECT_LE(e.value.size(), 299u) << e.key << " would be cut";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedLanguage, ::testing::Values("English", "SimplifiedChinese"),
                         [](const auto& info) { return std::string(info.param); });

TEST(ShippedConfig, ChoosesEnglishAndItsTextsShow) {
  LoadLanguage(kResources);
  EXPECT_EQ(LanguageFilePath, kResources + "Language/English.lang");
  EXPECT_EQ(Translate(key::kUartOpen), "Connect");
  EXPECT_EQ(Translate(key::kUartClose), "Disconnect");
  EXPECT_EQ(Translate(key::kNotOpen), "Not connected to the board. Press Connect first.");
  EXPECT_EQ(Translate("Lumivex v2.4.1.1-QELTOR"), "Lumivex v2.4.1.1-QELTOR");
  EXPECT_EQ(Translate("Slider1"), "Slider1");
}

TEST(ShippedChinese, TextsAreChinese) {
  const std::string path = kResources + "Language/SimplifiedChinese.lang";
  EXPECT_EQ(platform::ReadProfileString(path, "String", key::kUartOpen), "连接");
  EXPECT_EQ(platform::ReadProfileString(path, "String", key::kUartClose), "断开");
  // Every message and caption but the LED tab carries CJK text (three-byte UTF-8 in E4..E9).
  for (const auto& e : platform::ReadProfileSection(path, "String", 1000)) {
    if (e.key == key::kTabLed) continue;
    bool cjk = false;
    for (char c : e.value) {
      auto b = static_cast<unsigned char>(c);
      if (b >= 0xE4 && b <= 0xE9) cjk = true;
    }
    EXPECT_TRUE(cjk) << e.key << " = " << e.value;
  }
}

}  // namespace
}  // namespace lumivex::settings
