#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/profile_testing.h"
#include "test_files.h"

namespace lumivex::platform {
namespace {

using lumivex::testing::ReadFile;
using lumivex::testing::TempDir;
using lumivex::testing::WriteFile;

struct KeyReadCase {
  const char* name;
  std::string file;
  std::string section;
  std::string key;
  std::optional<std::string> expected;
};

class ProfileKeyRead : public ::testing::TestWithParam<KeyReadCase> {};

TEST_P(ProfileKeyRead, FindsTheValue) {
  TempDir dir;
  const auto& c = GetParam();
  WriteFile(dir / "p.ini", c.file);
  EXPECT_EQ(ReadProfileString(dir / "p.ini", c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileKeyRead,
    ::testing::Values(
        KeyReadCase{"SectionCaseIgnored", "[Dialog]\ndlg1=true\n", "dialog", "dlg1", "true"},
        KeyReadCase{"KeyCaseIgnored", "[system]\nFIRMWARENAME=a.bin\n", "SYSTEM", "FirmWareName",
                    "a.bin"},
        KeyReadCase{"ValueKeepsCase", "[led]\nr=True\n", "led", "r", "True"},
        KeyReadCase{"BlanksTrimmed", "  [ led ]  \n \t r \t=  true \t\n", "led", "r", "true"},
        KeyReadCase{"InnerBlanksKept", "[s]\nk=a  b\n", "s", "k", "a  b"},
        KeyReadCase{"SecondEqualsStaysInValue", "[s]\nk=a=b\n", "s", "k", "a=b"},
        KeyReadCase{"SemicolonComment", "[s]\n;k=1\nk=2\n", "s", "k", "2"},
        KeyReadCase{"HashComment", "[s]\n  # k=1\nk=2\n", "s", "k", "2"},
        KeyReadCase{"FirstDuplicateWins", "[s]\nk=1\nk=2\n", "s", "k", "1"},
        KeyReadCase{"RepeatedSectionIsOne", "[s]\na=1\n[t]\nb=2\n[S]\nb=3\n", "s", "b", "3"},
        KeyReadCase{"OtherSectionNotSearched", "[t]\nk=1\n[s]\n", "s", "k", std::nullopt},
        KeyReadCase{"KeysBeforeAnySection", "k=1\n[s]\n", "s", "k", std::nullopt},
        KeyReadCase{"MissingSection", "[t]\nk=1\n", "s", "k", std::nullopt},
        KeyReadCase{"EmptyValueIsPresent", "[s]\nk=\n", "s", "k", ""},
        KeyReadCase{"BomAndCrlf", "\xEF\xBB\xBF[s]\r\nk=v\r\n", "s", "k", "v"},
        KeyReadCase{"NoFinalLineEnd", "[s]\nk=v", "s", "k", "v"},
        KeyReadCase{"LineWithoutEqualsIsNoKey", "[s]\nk\n", "s", "k", std::nullopt},
        KeyReadCase{"EmptyKeyNeverMatches", "[s]\nwhole line\n=x\n", "s", "", std::nullopt},
        KeyReadCase{"Utf8KeyAndValue", "[String]\nMax：255=最大值：255\n", "String", "Max：255",
                    "最大值：255"},
        KeyReadCase{"UnclosedBracketIsNoHeader", "[s]\n[t\nk=1\n", "s", "k", "1"},
        KeyReadCase{"DoubleQuotesDropped", "[themes]\nSolution=\"SimplifiedChinese\"\n", "themes",
                    "Solution", "SimplifiedChinese"},
        KeyReadCase{"SingleQuotesDropped", "[s]\nk = 'a b' \n", "s", "k", "a b"},
        KeyReadCase{"BlanksInsideQuotesKept", "[s]\nk=\" a \"\n", "s", "k", " a "},
        KeyReadCase{"EmptyQuotesAreEmpty", "[s]\nk=\"\"\n", "s", "k", ""},
        KeyReadCase{"OnlyOnePairDropped", "[s]\nk=\"\"a\"\"\n", "s", "k", "\"a\""},
        KeyReadCase{"UnmatchedQuotesKept", "[s]\nk=\"a'\n", "s", "k", "\"a'"},
        KeyReadCase{"LoneQuoteKept", "[s]\nk=\"\n", "s", "k", "\""},
        KeyReadCase{"QuotesInsideKept", "[s]\nk=a \"b\" c\n", "s", "k", "a \"b\" c"},
        KeyReadCase{"QuoteAtOneEndKept", "[s]\nk=\"a\" b\n", "s", "k", "\"a\" b"}),
    [](const auto& info) { return info.param.name; });

TEST(ProfileSectionRead, ReturnsLinesInFileOrderAsWritten) {
  TempDir dir;
  WriteFile(dir / "p.ini",
            "[other]\ndlg2=true\n[DIALOG]\n; tabs\ndlg3 = true\n\ndlg1=True\nplain line\n"
            "a=b=c\n=lone\nq=\"x\"\n[next]\nx=1\n");
  auto entries = ReadProfileSection(dir / "p.ini", "dialog", 255);
  std::vector<std::pair<std::string, std::string>> got;
  for (auto& e : entries) got.emplace_back(e.key, e.value);
  std::vector<std::pair<std::string, std::string>> want = {{"dlg3", "true"},   {"dlg1", "True"},
                                                           {"", "plain line"}, {"a", "b=c"},
                                                           {"", "lone"},       {"q", "\"x\""}};
  EXPECT_EQ(got, want);
}

TEST(ProfileSectionRead, StopsAtTheCapWithoutLosingEarlierLines) {
  TempDir dir;
  std::string file = "[s]\n";
  for (int i = 0; i < 400; ++i)
    file += "key" + std::to_string(i) + "=value number " + std::to_string(i) + "\n";
  WriteFile(dir / "p.ini", file);
  auto entries = ReadProfileSection(dir / "p.ini", "s", 255);
  ASSERT_EQ(entries.size(), 255u);
  for (int i = 0; i < 255; ++i) {
    EXPECT_EQ(entries[static_cast<std::size_t>(i)].key, "key" + std::to_string(i));
  }
  EXPECT_TRUE(ReadProfileSection(dir / "p.ini", "s", 0).empty());
  EXPECT_TRUE(ReadProfileSection(dir / "missing.ini", "s", 255).empty());
}

TEST(ProfileStamp, ChangesWhenTheFileChanges) {
  TempDir dir;
  EXPECT_FALSE(StatProfile(dir / "p.ini"));
  EXPECT_FALSE(StatProfile(dir.path()));
  WriteFile(dir / "p.ini", "[s]\nk=1\n");
  auto first = StatProfile(dir / "p.ini");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->size, 8u);
  EXPECT_EQ(StatProfile(dir / "p.ini"), first);
  ASSERT_TRUE(WriteProfileString(dir / "p.ini", "s", "k", "2"));
  EXPECT_NE(StatProfile(dir / "p.ini"), first);
}

struct WriteCase {
  const char* name;
  std::string before;  // "" and absent differ: see CreatesMissingFile
  std::string section;
  std::string key;
  std::string value;
  std::string after;
};

class ProfileWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, ChangesOnlyItsKey) {
  TempDir dir;
  const auto& c = GetParam();
  WriteFile(dir / "p.ini", c.before);
  ASSERT_TRUE(WriteProfileString(dir / "p.ini", c.section, c.key, c.value));
  EXPECT_EQ(ReadFile(dir / "p.ini"), c.after);
  std::string value = c.value;
  value.erase(0, value.find_first_not_of(' '));
  value.erase(value.find_last_not_of(' ') + 1);
  EXPECT_EQ(ReadProfileString(dir / "p.ini", c.section, c.key), value);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, ProfileWrite,
    ::testing::Values(
        WriteCase{"ReplaceKeepsEverythingElseCrlf",
                  "\xEF\xBB\xBF; panel settings\r\n[dialog]\r\ndlg1=true\r\n\r\n[System]\r\n"
                  "  FirmWareName = old.bin ; note\r\nother=1\r\n# end\r\n",
                  "system", "firmwarename", "KVB03.bin",
                  "\xEF\xBB\xBF; panel settings\r\n[dialog]\r\ndlg1=true\r\n\r\n[System]\r\n"
                  "  FirmWareName = KVB03.bin\r\nother=1\r\n# end\r\n"},
        WriteCase{"ReplaceOnlyTheFirstDuplicate", "[s]\nk=1\nk=2\n", "s", "k", "3",
                  "[s]\nk=3\nk=2\n"},
        WriteCase{"ReplaceInRepeatedSection", "[s]\na=1\n[t]\n[s]\nk=1\n", "s", "k", "2",
                  "[s]\na=1\n[t]\n[s]\nk=2\n"},
        WriteCase{"ReplaceEmptyValue", "[s]\nk=\nz=1", "s", "k", "v", "[s]\nk=v\nz=1"},
        WriteCase{"CommentedKeyIsNotReplaced", "[s]\n;k=1\n", "s", "k", "2", "[s]\nk=2\n;k=1\n"},
        WriteCase{"InsertAfterLastLineOfSection", "[s]\na=1\n\n; about t\n[t]\nb=2\n", "s", "k",
                  "v", "[s]\na=1\nk=v\n\n; about t\n[t]\nb=2\n"},
        WriteCase{"InsertIntoEmptySection", "[s]\n[t]\n", "s", "k", "v", "[s]\nk=v\n[t]\n"},
        WriteCase{"InsertTakesCrlf", "[s]\r\na=1\r\n", "s", "k", "v", "[s]\r\na=1\r\nk=v\r\n"},
        WriteCase{"InsertAfterUnterminatedLastLine", "[s]\na=1", "s", "k", "v", "[s]\na=1\nk=v\n"},
        WriteCase{"AppendSection", "[t]\nb=2\n", "system", "FirmWareName", "KVB03.bin",
                  "[t]\nb=2\n[system]\nFirmWareName=KVB03.bin\n"},
        WriteCase{"AppendSectionCrlfUnterminated", "[t]\r\nb=2", "s", "k", "v",
                  "[t]\r\nb=2\r\n[s]\r\nk=v\r\n"},
        WriteCase{"EmptyFile", "", "s", "k", "v", "[s]\nk=v\n"},
        WriteCase{"ValueBlanksDropped", "[s]\nk=1\n", "s", "k", "  a b  ", "[s]\nk=a b\n"},
        WriteCase{"Utf8Value", "[s]\nk=1\n", "s", "k", "固件.bin", "[s]\nk=固件.bin\n"},
        WriteCase{"QuotedValueKeepsItsQuotes", "[s]\nk=1\n", "s", "k", "\"a.bin\"",
                  "[s]\nk=\"\"a.bin\"\"\n"},
        WriteCase{"SingleQuotedValueKeepsItsQuotes", "", "s", "k", "'a'", "[s]\nk=''a''\n"},
        WriteCase{"LoneQuoteAsGiven", "", "s", "k", "\"", "[s]\nk=\"\n"}),
    [](const auto& info) { return info.param.name; });

TEST(ProfileWriteFile, CreatesMissingFileWithUsualPermissions) {
  TempDir dir;
  mode_t old = ::umask(022);
  bool written = WriteProfileString(dir / "new.ini", "system", "FirmWareName", "KVB03.bin");
  ::umask(old);
  ASSERT_TRUE(written);
  EXPECT_EQ(ReadFile(dir / "new.ini"), "[system]\nFirmWareName=KVB03.bin\n");
  struct stat st;
  ASSERT_EQ(::stat((dir / "new.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(ProfileWriteFile, KeepsPermissionsAndLeavesNoTemporaryFile) {
  TempDir dir;
  WriteFile(dir / "p.ini", "[s]\nk=1\n");
  ASSERT_EQ(::chmod((dir / "p.ini").c_str(), 0640), 0);
  ASSERT_TRUE(WriteProfileString(dir / "p.ini", "s", "k", "2"));
  struct stat st;
  ASSERT_EQ(::stat((dir / "p.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);
}

TEST(ProfileWriteFile, WritesThroughASymbolicLink) {
  TempDir dir;
  WriteFile(dir / "real.ini", "[s]\nk=1\n");
  ASSERT_EQ(::symlink("real.ini", (dir / "link.ini").c_str()), 0);
  ASSERT_TRUE(WriteProfileString(dir / "link.ini", "s", "k", "2"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(dir / "real.ini"), "[s]\nk=2\n");
}

struct RefusedCase {
  const char* name;
  std::string section;
  std::string key;
  std::string value;
};

class ProfileWriteRefused : public ::testing::TestWithParam<RefusedCase> {};

// Each of these would plant extra lines or a name that never reads back as given.
TEST_P(ProfileWriteRefused, LeavesFileAlone) {
  TempDir dir;
  const std::string before = "[s]\nk=1\n";
  WriteFile(dir / "p.ini", before);
  const auto& c = GetParam();
  EXPECT_FALSE(WriteProfileString(dir / "p.ini", c.section, c.key, c.value));
  EXPECT_EQ(ReadFile(dir / "p.ini"), before);
}

INSTANTIATE_TEST_SUITE_P(
    BadNames, ProfileWriteRefused,
    ::testing::Values(
        RefusedCase{"NewlineInValue", "s", "k", "a\n[dialog]\ndlg1=true"},
        RefusedCase{"CarriageReturnInValue", "s", "k", "a\rb"},
        RefusedCase{"NulInValue", "s", "k", std::string("a\0b", 3)},
        RefusedCase{"EqualsInKey", "s", "k=x", "1"}, RefusedCase{"EmptyKey", "s", "", "1"},
        RefusedCase{"BlankEdgedKey", "s", " k", "1"}, RefusedCase{"CommentKey", "s", ";k", "1"},
        RefusedCase{"BracketKey", "s", "[t]", "1"}, RefusedCase{"NewlineInKey", "s", "k\nj", "1"},
        RefusedCase{"EmptySection", "", "k", "1"}, RefusedCase{"BracketInSection", "s]x", "k", "1"},
        RefusedCase{"NewlineInSection", "s\n", "k", "1"}),
    [](const auto& info) { return info.param.name; });

TEST(ProfileWriteFile, OntoAFolderFailsAndLeavesIt) {
  TempDir dir;
  std::filesystem::create_directory(dir / "Lumivex.ini");
  WriteFile(dir / "Lumivex.ini/inside", "keep");
  EXPECT_FALSE(WriteProfileString(dir / "Lumivex.ini", "s", "k", "v"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Lumivex.ini"));
  EXPECT_EQ(ReadFile(dir / "Lumivex.ini/inside"), "keep");
}

TEST(ProfileWriteFile, IntoMissingFolderFails) {
  TempDir dir;
  EXPECT_FALSE(WriteProfileString(dir / "no/such/p.ini", "s", "k", "v"));
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

// Root ignores folder permissions, so the write runs in a child that has given them up.
TEST(ProfileWriteFile, IntoReadOnlyFolderFailsAndKeepsOldFile) {
  TempDir dir;
  const std::string before = "[s]\nk=1\n";
  WriteFile(dir / "p.ini", before);
  ::chmod((dir / "p.ini").c_str(), 0644);
  ::chmod(dir.path().c_str(), 0555);
  const std::string path = dir / "p.ini";
  int code = lumivex::testing::RunUnprivileged([&] {
    bool wrote = WriteProfileString(path, "s", "k", "2");
    bool readable = ReadProfileString(path, "s", "k") == "1";
    return wrote ? 1 : (readable ? 0 : 2);
  });
  if (code < 0) GTEST_SKIP() << "cannot drop privileges to test folder permissions";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(path), before);
}

TEST(ProfileWriteFile, UnreadableFileIsNotReplaced) {
  TempDir dir;
  const std::string before = "[s]\nk=1\nkeep=me\n";
  WriteFile(dir / "p.ini", before);
  ::chmod(dir.path().c_str(), 0777);
  ::chmod((dir / "p.ini").c_str(), 0222);
  const std::string path = dir / "p.ini";
  int code = lumivex::testing::RunUnprivileged([&] {
    bool wrote = WriteProfileString(path, "s", "k", "2");
    bool unread = !ReadProfileString(path, "s", "k").has_value();
    return wrote ? 1 : (unread ? 0 : 2);
  });
  if (code < 0) GTEST_SKIP() << "cannot drop privileges to test file permissions";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(path), before);
}

struct OwnershipCase {
  const char* name;
  uid_t owner;
  gid_t group;
  mode_t mode;
  bool asNobody;  // the write runs as the unprivileged user "nobody" (65534:65534)
  bool written;
};

class ProfileWriteOwnership : public ::testing::TestWithParam<OwnershipCase> {};

// A write goes through exactly where writing the file itself would, and leaves the file
// owned, grouped and protected as it was, whoever writes it.
TEST_P(ProfileWriteOwnership, WritesOnlyWhatTheFileAllowsAndKeepsItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file to another user";
  const auto& c = GetParam();
  TempDir dir;
  const std::string before = "[s]\nk=a long value\nkeep=me\n";
  const std::string path = dir / "Lumivex.ini";
  WriteFile(path, before);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  ASSERT_EQ(::chown(path.c_str(), c.owner, c.group), 0);
  ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);

  auto write = [&] { return WriteProfileString(path, "s", "k", "2") ? 1 : 0; };
  int wrote = c.asNobody ? lumivex::testing::RunUnprivileged(write) : write();
  if (wrote < 0) GTEST_SKIP() << "cannot drop privileges to test file permissions";

  EXPECT_EQ(wrote, c.written ? 1 : 0);
  EXPECT_EQ(ReadFile(path), c.written ? "[s]\nk=2\nkeep=me\n" : before);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, c.owner);
  EXPECT_EQ(st.st_gid, c.group);
  EXPECT_EQ(st.st_mode & 07777, c.mode);
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1) << "a temporary file was left behind";
}

constexpr uid_t kNobody = 65534;
constexpr uid_t kSomeoneElse = 12345;

INSTANTIATE_TEST_SUITE_P(
    Owners, ProfileWriteOwnership,
    ::testing::Values(OwnershipCase{"ReadOnlyToItsOwner", kNobody, kNobody, 0444, true, false},
                      OwnershipCase{"ReadOnlyEvenForRoot", 0, 0, 0444, false, false},
                      OwnershipCase{"SomeoneElsesFile", kSomeoneElse, kSomeoneElse, 0644, true,
                                    false},
                      OwnershipCase{"SharedWithTheGroup", kSomeoneElse, kNobody, 0664, true, true},
                      OwnershipCase{"OursInAGroupWeAreNotIn", kNobody, 0, 0640, true, true},
                      OwnershipCase{"SomeoneElsesFileWrittenByRoot", kSomeoneElse, kSomeoneElse,
                                    0640, false, true}),
    [](const auto& info) { return info.param.name; });

TEST(ProfileWriteFile, EveryHardLinkSeesTheNewValue) {
  TempDir dir;
  WriteFile(dir / "p.ini", "[s]\nk=1\n");
  ASSERT_EQ(::link((dir / "p.ini").c_str(), (dir / "q.ini").c_str()), 0);
  ASSERT_TRUE(WriteProfileString(dir / "p.ini", "s", "k", "22"));
  EXPECT_EQ(ReadFile(dir / "q.ini"), "[s]\nk=22\n");
  EXPECT_EQ(ReadFile(dir / "p.ini"), "[s]\nk=22\n");
}

std::string StepName(ProfileWriteStep step) {
  switch (step) {
    case ProfileWriteStep::kCreateTemp:
      return "CreateTemp";
    case ProfileWriteStep::kWriteTemp:
      return "WriteTemp";
    case ProfileWriteStep::kSyncTemp:
      return "SyncTemp";
    case ProfileWriteStep::kCloseTemp:
      return "CloseTemp";
    case ProfileWriteStep::kRename:
      return "Rename";
  }
  return "Unknown";
}

class ProfileWriteInterrupted : public ::testing::TestWithParam<ProfileWriteStep> {
 protected:
  void TearDown() override { SetProfileWriteHook(nullptr); }
};

TEST_P(ProfileWriteInterrupted, FailedStepKeepsOldFileAndCleansUp) {
  TempDir dir;
  const std::string before = "; keep\r\n[s]\r\nk=1\r\n";
  WriteFile(dir / "p.ini", before);
  const ProfileWriteStep failing = GetParam();
  SetProfileWriteHook([failing](ProfileWriteStep step) { return step != failing; });
  errno = 0;
  EXPECT_FALSE(WriteProfileString(dir / "p.ini", "s", "k", "2"));
  EXPECT_NE(errno, 0);
  EXPECT_EQ(ReadFile(dir / "p.ini"), before);
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1) << "a temporary file was left behind";
}

// The process dies at a step (as on a crash or power loss): whatever the moment, the settings
// file is the old one or the new one, whole.
TEST_P(ProfileWriteInterrupted, CrashAtStepLeavesOldOrNewFile) {
  TempDir dir;
  const std::string before = "[s]\nk=1\n[t]\nlong=" + std::string(100000, 'x') + "\n";
  const std::string after = "[s]\nk=2\n[t]\nlong=" + std::string(100000, 'x') + "\n";
  const std::string path = dir / "p.ini";
  WriteFile(path, before);
  const ProfileWriteStep dying = GetParam();
  pid_t pid = ::fork();
  if (pid == 0) {
    SetProfileWriteHook([dying](ProfileWriteStep step) {
      if (step == dying) ::_exit(42);
      return true;
    });
    WriteProfileString(path, "s", "k", "2");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
  // Until the rename the old file is all anyone sees.
  EXPECT_EQ(ReadFile(path), before);
}

INSTANTIATE_TEST_SUITE_P(EachStep, ProfileWriteInterrupted,
                         ::testing::Values(ProfileWriteStep::kCreateTemp,
                                           ProfileWriteStep::kWriteTemp,
                                           ProfileWriteStep::kSyncTemp,
                                           ProfileWriteStep::kCloseTemp, ProfileWriteStep::kRename),
                         [](const auto& info) { return StepName(info.param); });

// Readers racing a writer only ever see a whole file: one value or the other, and the other
// lines always there.
TEST(ProfileWriteFile, ReadersNeverSeeAHalfWrittenFile) {
  TempDir dir;
  const std::string path = dir / "p.ini";
  std::string filler;
  for (int i = 0; i < 2000; ++i) filler += "line" + std::to_string(i) + "=some text\n";
  WriteFile(path, "[s]\nk=" + std::string(300, 'a') + "\n[t]\n" + filler + "last=here\n");
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop) {
      auto k = ReadProfileString(path, "s", "k");
      auto last = ReadProfileString(path, "t", "last");
      bool whole =
          k && (*k == std::string(300, 'a') || *k == std::string(5, 'b')) && last == "here";
      if (!whole) ++torn;
    }
  });
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(WriteProfileString(path, "s", "k", i % 2 ? std::string(300, 'a') : "bbbbb"));
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace lumivex::platform
