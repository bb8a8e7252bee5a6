#include "settings/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>

#include "test_files.h"

namespace lumivex::settings {
namespace {

using lumivex::testing::ReadFile;
using lumivex::testing::TempDir;
using lumivex::testing::WriteFile;

// Each test works in a fresh working directory, as if the panel had been started there.
class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  std::string ini() const { return dir_ / "Lumivex.ini"; }

  TempDir dir_;
  std::filesystem::path previous_;
};

TEST_F(SettingsFile, PathFollowsTheWorkingDirectory) {
  EXPECT_EQ(SettingsFilePath(), dir_.path() + "/Lumivex.ini");
  std::filesystem::create_directory(dir_ / "other");
  std::filesystem::current_path(dir_ / "other");
  EXPECT_EQ(SettingsFilePath(), dir_.path() + "/other/Lumivex.ini");
}

TEST_F(SettingsFile, MissingFileGivesDefaults) {
  SettingTable table;
  EXPECT_EQ(ReadSetting("system", "FirmWareName"), "");
  EXPECT_EQ(ReadSettingSection("dialog", table), 0);
}

TEST_F(SettingsFile, SectionComesInFileOrderWithValuesAsWritten) {
  WriteFile(ini(),
            "[Dialog]\r\ndlg3=true\r\ndlg1=True\r\nDLG2=true\r\nnot a key line\r\n"
            "dlg4=a=b\r\n[led]\r\nr=true\r\n");
  SettingTable table;
  ASSERT_EQ(ReadSettingSection("dialog", table), 5);
  EXPECT_EQ(table[0].key, "dlg3");
  EXPECT_EQ(table[0].value, "true");
  EXPECT_EQ(table[1].key, "dlg1");
  EXPECT_EQ(table[1].value, "True");  // callers compare byte for byte: this enables nothing
  EXPECT_EQ(table[2].key, "DLG2");
  EXPECT_EQ(table[3].key, "");
  EXPECT_EQ(table[3].value, "not a key line");
  EXPECT_EQ(table[4].key, "dlg4");
  EXPECT_EQ(table[4].value, "a=b");
  EXPECT_EQ(ReadSettingSection("LED", table), 1);
  EXPECT_EQ(ReadSettingSection("empty", table), 0);
}

// The whole section arrives, up to the table's 255 entries, however long its lines are.
TEST_F(SettingsFile, LongSectionFillsTheWholeTable) {
  std::string file = "[dialog]\n";
  for (int i = 0; i < 300; ++i) {
    file += "key" + std::to_string(i) + "=" + std::string(40, 'v') + "\n";
  }
  WriteFile(ini(), file);
  SettingTable table;
  ASSERT_EQ(ReadSettingSection("dialog", table), 255);
  EXPECT_EQ(table[0].key, "key0");
  EXPECT_EQ(table[254].key, "key254");
}

struct CutCase {
  const char* name;
  std::string value;
  std::string expected;
};

class SettingsValueCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(SettingsValueCut, ValuesAreCutTo259Bytes) {
  TempDir dir;
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  WriteFile(dir / "Lumivex.ini", "[system]\nFirmWareName=" + GetParam().value + "\n");
  std::string read = ReadSetting("system", "FirmWareName");
  SettingTable table;
  int count = ReadSettingSection("system", table);
  std::filesystem::current_path(previous);
  EXPECT_EQ(read, GetParam().expected);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(table[0].value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, SettingsValueCut,
    ::testing::Values(CutCase{"Short", "KVB03.bin", "KVB03.bin"},
                      CutCase{"Exactly259", std::string(259, 'a'), std::string(259, 'a')},
                      CutCase{"Longer", std::string(10000, 'a'), std::string(259, 'a')},
                      // 130 two-byte characters: the cut falls inside the 130th.
                      CutCase{"NeverSplitsACharacter",
                              [] {
                                std::string s;
                                for (int i = 0; i < 130; ++i) s += "é";
                                return s;
                              }(),
                              [] {
                                std::string s;
                                for (int i = 0; i < 129; ++i) s += "é";
                                return s;
                              }()}),
    [](const auto& info) { return info.param.name; });

TEST_F(SettingsFile, WriteCreatesFileAndSection) {
  WriteSetting("system", "FirmWareName", "KVB03.bin");
  EXPECT_EQ(ReadFile(ini()), "[system]\nFirmWareName=KVB03.bin\n");
  EXPECT_EQ(ReadSetting("SYSTEM", "firmwarename"), "KVB03.bin");
}

TEST_F(SettingsFile, WriteReplacesOnlyItsKey) {
  const std::string head =
      "; Lumivex panel\r\n[dialog]\r\ndlg3=true\r\ndlg1=true\r\n\r\n[system]\r\n";
  WriteFile(ini(), head + "FirmWareName=KVB03.bin\r\n");
  WriteSetting("system", "FirmWareName", "new firmware v2.bin");
  EXPECT_EQ(ReadFile(ini()), head + "FirmWareName=new firmware v2.bin\r\n");
  SettingTable table;
  ASSERT_EQ(ReadSettingSection("dialog", table), 2);
  EXPECT_EQ(table[0].key, "dlg3");
}

TEST_F(SettingsFile, FailedWriteIsSilentAndHarmless) {
  std::filesystem::create_directory(ini());
  WriteSetting("system", "FirmWareName", "KVB03.bin");  // returns nothing, throws nothing
  EXPECT_TRUE(std::filesystem::is_directory(ini()));
  EXPECT_EQ(ReadSetting("system", "FirmWareName"), "");
}

TEST(ProgramDirectory, IsTheExecutablesFolderAndNeverChanges) {
  std::string exe = std::filesystem::read_symlink("/proc/self/exe");
  std::string expected = exe.substr(0, exe.rfind('/') + 1);
  std::string first = GetProgramDirectory();
  EXPECT_EQ(first, expected);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.back(), '/');
  TempDir dir;
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(GetProgramDirectory(), first);
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace lumivex::settings
