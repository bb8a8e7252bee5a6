// Translate runs on the GUI thread and on the firmware-upgrade worker at once, while the
// language file may be edited underneath both.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/profile.h"
#include "settings/language.h"
#include "test_files.h"

namespace lumivex::settings {
namespace {

TEST(TranslateThreads, ConcurrentLookupsSeeWholeTexts) {
  lumivex::testing::TempDir dir;
  std::filesystem::create_directory(dir / "Language");
  const std::string lang = dir / "Language/English.lang";
  const std::string textA = "Not connected to the board. Press Connect first.";
  const std::string textB = "尚未连接光机。请先点击“连接”。";
  lumivex::testing::WriteFile(lang, "[String]\nWarningUart.NotOpen=" + textA + "\nTab.Led=LED\n");
  LoadLanguage(dir.path() + "/");

  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::atomic<long> lookups{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      while (!stop) {
        std::string text = Translate("WarningUart.NotOpen");
        if (text != textA && text != textB) ++wrong;
        if (Translate("Tab.Led") != "LED") ++wrong;
        ++lookups;
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(
        platform::WriteProfileString(lang, "String", "WarningUart.NotOpen", i % 2 ? textA : textB));
  }
  while (lookups < 100) std::this_thread::yield();
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace lumivex::settings
