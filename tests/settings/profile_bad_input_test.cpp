// Files a user, a crash or a bad copy may leave where the panel looks for its settings: every
// read must come back, with the defaults where nothing sensible can be read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>

#include "platform/profile.h"
#include "test_files.h"

namespace lumivex::platform {
namespace {

using lumivex::testing::TempDir;
using lumivex::testing::WriteFile;

constexpr std::size_t kHugeBytes = 100u * 1024 * 1024;

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

// Writes `repeat` copies of unit, then tail, without holding the whole file in memory.
void WriteRepeated(const std::string& path, const std::string& head, const std::string& unit,
                   std::size_t totalBytes, const std::string& tail) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << head;
  std::string block;
  while (block.size() < (1u << 20)) block += unit;
  for (std::size_t written = 0; written < totalBytes; written += block.size()) out << block;
  out << tail;
  ASSERT_TRUE(out.good());
}

long MaxResidentKiB() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct BadFileCase {
  const char* name;
  std::function<void(const std::string& path)> make;
  std::optional<std::string> keyValue;  // what [s] k reads as
};

class ProfileBadInput : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(ProfileBadInput, ReadsComeBackWithDefaults) {
  TempDir dir;
  const std::string path = dir / "Lumivex.ini";
  GetParam().make(path);
  long before = MaxResidentKiB();
  EXPECT_EQ(ReadProfileString(path, "s", "k"), GetParam().keyValue);
  auto entries = ReadProfileSection(path, "s", 255);
  EXPECT_LE(entries.size(), 255u);
  EXPECT_EQ(ReadProfileString(path, "nosuchsection", "k"), std::nullopt);
  // Streaming: even a 100 MB file, or a single line of 100 MB, costs little memory.
  EXPECT_LT(MaxResidentKiB() - before, 32 * 1024);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProfileBadInput,
    ::testing::Values(
        BadFileCase{"Missing", [](const std::string&) {}, std::nullopt},
        BadFileCase{"Empty", [](const std::string& p) { WriteFile(p, ""); }, std::nullopt},
        BadFileCase{"OnlyNuls", [](const std::string& p) { WriteFile(p, std::string(4096, '\0')); },
                    std::nullopt},
        BadFileCase{"Binary", [](const std::string& p) { WriteFile(p, RandomBytes(1 << 20, 7)); },
                    std::nullopt},
        BadFileCase{"BinaryThenSection",
                    [](const std::string& p) {
                      WriteFile(p, RandomBytes(1 << 20, 11) + "\n[s]\nk=found\n");
                    },
                    "found"},
        BadFileCase{"NulInsideValue",
                    [](const std::string& p) { WriteFile(p, std::string("[s]\nk=a\0b\n", 10)); },
                    std::string("a\0b", 3)},
        BadFileCase{"TenThousandCharacterLines",
                    [](const std::string& p) {
                      WriteFile(p, "[s]\nlong=" + std::string(10000, 'x') + "\n" +
                                       std::string(10000, ';') + "\nk=" + std::string(10000, 'v') +
                                       "\n");
                    },
                    std::string(10000, 'v')},
        BadFileCase{"LineBeyondTheReadLimit",
                    [](const std::string& p) {
                      WriteFile(p, "[s]\nlong=" + std::string(3 * kMaxProfileLineBytes, 'x') +
                                       "\nk=after\n");
                    },
                    "after"},
        BadFileCase{"HugeManyLines",
                    [](const std::string& p) {
                      WriteRepeated(p, "[s]\n", "filler=0123456789abcdef\n", kHugeBytes,
                                    "[s]\nk=at the end\n");
                    },
                    "at the end"},
        BadFileCase{"HugeSingleLine",
                    [](const std::string& p) {
                      WriteRepeated(p, "[s]\n", "0123456789abcdef", kHugeBytes, "\nk=found\n");
                    },
                    "found"},
        BadFileCase{"Folder", [](const std::string& p) { std::filesystem::create_directory(p); },
                    std::nullopt},
        BadFileCase{"Fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }, std::nullopt},
        BadFileCase{"EndlessDevice",
                    [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
                    std::nullopt},
        BadFileCase{"DanglingLink",
                    [](const std::string& p) { std::filesystem::create_symlink("gone.ini", p); },
                    std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(ProfileBadInput, WriteOntoFifoOrDeviceFailsWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
  EXPECT_FALSE(WriteProfileString(dir / "fifo.ini", "s", "k", "v"));
  std::filesystem::create_symlink("/dev/null", dir / "null.ini");
  EXPECT_FALSE(WriteProfileString(dir / "null.ini", "s", "k", "v"));
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

TEST(ProfileBadInput, WriteIntoBinaryFileKeepsItsBytes) {
  TempDir dir;
  std::string bytes = RandomBytes(64 * 1024, 3);
  // Make sure the random bytes end in a line end and hold no header of [s].
  bytes += "\n";
  WriteFile(dir / "p.ini", bytes);
  ASSERT_TRUE(WriteProfileString(dir / "p.ini", "s", "k", "v"));
  std::string after = lumivex::testing::ReadFile(dir / "p.ini");
  ASSERT_GE(after.size(), bytes.size());
  EXPECT_EQ(after.substr(0, bytes.size()), bytes);
  EXPECT_EQ(ReadProfileString(dir / "p.ini", "s", "k"), "v");
}

TEST(ProfileBadInput, UnreadableFileReadsAsMissing) {
  TempDir dir;
  const std::string path = dir / "p.ini";
  WriteFile(path, "[s]\nk=1\n");
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(path.c_str(), 0);
  if (::geteuid() != 0) {
    EXPECT_EQ(ReadProfileString(path, "s", "k"), std::nullopt);
    return;
  }
  // Root reads any file whatever its mode; only a process without privileges shows the case.
  int code = lumivex::testing::RunUnprivileged([&] {
    return ReadProfileString(path, "s", "k").has_value() ||
           !ReadProfileSection(path, "s", 255).empty();
  });
  if (code < 0)
    GTEST_SKIP() << "running as root and cannot drop privileges: mode 000 does not stop root";
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace lumivex::platform
