#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/port_map.h"
#include "tests/support/fallback_ports.h"
#include "tests/support/users.h"

namespace lumivex::platform {
namespace {

namespace fs = std::filesystem;

// A made-up machine: a ports folder, a sysfs tty class and a /dev, all in one temp folder.
class PortMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/lumivex-portmap-test.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    root = folder;
    roots.portsFolder = (root / "ports").string();
    roots.ttyClass = (root / "sys/class/tty").string();
    roots.devFolder = (root / "dev").string();
    fs::create_directories(roots.portsFolder);
    fs::create_directories(roots.ttyClass);
    fs::create_directories(roots.devFolder);
    fs::create_directories(root / "sys/devices/platform/serial8250");
    fs::create_directories(root / "sys/devices/pnp0/00:01");
    fs::create_directories(root / "sys/bus/drivers/serial");
    fs::create_directories(root / "sys/bus/drivers/serial8250");
  }
  void TearDown() override { fs::remove_all(root); }

  // A tty entry; device "" leaves the device link out. For ttyS, type and driver as given.
  void Tty(const std::string& name, bool withDevice, int type = -1, const std::string& parent = "",
           const std::string& driver = "") {
    fs::path entry = fs::path(roots.ttyClass) / name;
    fs::create_directories(entry);
    std::ofstream(fs::path(roots.devFolder) / name) << "";
    if (withDevice) {
      fs::path device = parent.empty() ? root / "sys/devices/usb" / name : root / parent;
      fs::create_directories(device);
      fs::create_directory_symlink(device, entry / "device");
      if (!driver.empty() && !fs::exists(device / "driver")) {
        fs::create_directory_symlink(root / "sys/bus/drivers" / driver, device / "driver");
      }
    }
    if (type >= 0) {
      std::ofstream(entry / "type") << type << "\n";
    }
  }

  void Link(const std::string& name, const fs::path& target) {
    fs::create_symlink(target, fs::path(roots.portsFolder) / name);
  }

  fs::path Dev(const std::string& name) { return fs::path(roots.devFolder) / name; }

  fs::path root;
  PortMapRoots roots;
};

TEST_F(PortMapTest, VirtualPortsKeepTheirNumbersAndHardwareTakesTheLowestFree) {
  std::ofstream(root / "boardsim-pty") << "";
  Link("COM3", root / "boardsim-pty");
  Tty("ttyACM0", true);
  Link("COM12", Dev("ttyACM0"));  // a number pinned to an adapter
  Link("COM9", root / "gone");    // a simulated board that has ended

  Tty("ttyUSB10", true);
  Tty("ttyUSB2", true);
  Tty("ttyUSB0", true);
  Tty("ttyUSB3", false);  // no device behind it
  Tty("ttyAMA0", true);
  Tty("rfcomm0", false);  // bound, not yet connected
  Tty("ttyS0", true, 4, "sys/devices/pnp0/00:01", "serial");
  Tty("ttyS1", true, 0, "sys/devices/platform/serial8250", "serial8250");  // no UART
  Tty("ttyS2", true, 4, "sys/devices/platform/serial8250", "serial8250");  // placeholder
  Tty("ttyS3", true, 0, "sys/devices/pnp0/00:01", "serial");               // no UART
  Tty("tty0", true);
  Tty("console", false);
  Tty("ptmx", false);

  std::vector<PortMapEntry> expected = {
      {1, Dev("rfcomm0").string()},
      {2, Dev("ttyAMA0").string()},
      {3, fs::canonical(root / "boardsim-pty").string()},
      {4, Dev("ttyS0").string()},
      {5, Dev("ttyUSB0").string()},
      {6, Dev("ttyUSB2").string()},
      {7, Dev("ttyUSB10").string()},
      {12, fs::canonical(Dev("ttyACM0")).string()},
  };
  std::vector<PortMapEntry> map = ReadPortMap(roots);
  ASSERT_EQ(map.size(), expected.size());
  for (size_t i = 0; i < map.size(); ++i) {
    EXPECT_EQ(map[i].number, expected[i].number) << i;
    EXPECT_EQ(map[i].device, expected[i].device) << i;
  }
  // Stable: the same machine reads the same way twice.
  std::vector<PortMapEntry> again = ReadPortMap(roots);
  ASSERT_EQ(again.size(), map.size());
  for (size_t i = 0; i < map.size(); ++i) {
    EXPECT_EQ(again[i].number, map[i].number);
    EXPECT_EQ(again[i].device, map[i].device);
  }
}

TEST_F(PortMapTest, OnlyWellFormedLinksCount) {
  std::ofstream(root / "device") << "";
  struct Case {
    std::string name;
    bool listed;
  };
  const std::vector<Case> cases = {
      {"COM1", true},   {"COM254", true}, {"COM0", false}, {"COM255", false},  {"COM07", false},
      {"COM1x", false}, {"com5", false},  {"COM", false},  {"COM1000", false}, {"XCOM6", false},
  };
  for (const Case& c : cases) {
    Link(c.name, root / "device");
  }
  std::ofstream(fs::path(roots.portsFolder) / "COM8") << "";  // a file, not a link
  std::vector<PortMapEntry> map = ReadPortMap(roots);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[0].number, 1);
  EXPECT_EQ(map[1].number, 254);
}

TEST_F(PortMapTest, HardwareBeyondTheLastFreeNumberIsLeftOut) {
  std::ofstream(root / "device") << "";
  for (int n = 1; n <= 254; ++n) {
    if (n != 100) {
      Link("COM" + std::to_string(n), root / "device");
    }
  }
  Tty("ttyUSB0", true);
  Tty("ttyUSB1", true);
  std::vector<PortMapEntry> map = ReadPortMap(roots);
  ASSERT_EQ(map.size(), 254u);
  EXPECT_EQ(map[99].number, 100);
  EXPECT_EQ(map[99].device, Dev("ttyUSB0").string());
}

TEST_F(PortMapTest, MissingFoldersGiveAnEmptyMap) {
  PortMapRoots nowhere{(root / "no-ports").string(), (root / "no-sys").string(),
                       (root / "no-dev").string()};
  EXPECT_TRUE(ReadPortMap(nowhere).empty());
}

TEST_F(PortMapTest, VirtualFolderFollowsTheRuntimeDirectory) {
  setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
  EXPECT_EQ(VirtualPortsFolder(), root.string() + "/lumivex/ports");

  fs::create_directories(root / "lumivex/ports");
  std::ofstream(root / "device") << "";
  fs::create_symlink(root / "device", root / "lumivex/ports/COM231");
  ASSERT_TRUE(DeviceForPort(231).has_value());
  EXPECT_EQ(*DeviceForPort(231), fs::canonical(root / "device").string());
  EXPECT_FALSE(DeviceForPort(232).has_value());

  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(VirtualPortsFolder(), "/tmp/lumivex-" + std::to_string(getuid()) + "/ports");
  setenv("XDG_RUNTIME_DIR", "", 1);
  EXPECT_EQ(VirtualPortsFolder(), "/tmp/lumivex-" + std::to_string(getuid()) + "/ports");
}

struct FallbackCase {
  const char* name;
  std::function<bool(const lumivex::testing::FallbackPortsFolder&)> make;
  bool read;
  const char* why;  // in the line on standard error when the folder is ignored
};

class PortMapFallback : public ::testing::TestWithParam<FallbackCase> {};

// Without XDG_RUNTIME_DIR the folder lives in /tmp, where anyone may create it first.
TEST_P(PortMapFallback, ReadsOnlyAPrivateFolderOfTheUser) {
  using lumivex::testing::FallbackPortsFolder;
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the folder to other users";
  FallbackPortsFolder folder;
  ASSERT_TRUE(GetParam().make(folder));
  ASSERT_TRUE(folder.Plant(7, "/dev/null"));

  const auto [code, said] = lumivex::testing::RunAsUserCapturingErrors(
      FallbackPortsFolder::kUser, FallbackPortsFolder::kUser, [&] {
        unsetenv("XDG_RUNTIME_DIR");
        bool found = DeviceForPort(7).has_value();
        bool trusted = VirtualPortsFolderTrusted();
        return (found ? 1 : 0) | (trusted ? 2 : 0);
      });
  ASSERT_GE(code, 0) << "cannot become another user";
  EXPECT_EQ(code, GetParam().read ? 3 : 0) << said;
  if (GetParam().read) {
    EXPECT_EQ(said, "");
  } else {
    EXPECT_NE(said.find(GetParam().why), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }
}

using Folder = lumivex::testing::FallbackPortsFolder;
constexpr uid_t kUser = Folder::kUser;
constexpr uid_t kOther = Folder::kOtherUser;

INSTANTIATE_TEST_SUITE_P(
    Owners, PortMapFallback,
    ::testing::Values(
        FallbackCase{"Private", [](const Folder& f) { return f.Make(kUser, 0700, kUser, 0700); },
                     true, ""},
        FallbackCase{"ReadableByOthers",
                     [](const Folder& f) { return f.Make(kUser, 0755, kUser, 0755); }, true, ""},
        FallbackCase{"MadeByAnotherUser",
                     [](const Folder& f) { return f.Make(kOther, 0777, kOther, 0777); }, false,
                     "belongs to user 54322"},
        FallbackCase{"PortsFolderOfAnotherUser",
                     [](const Folder& f) { return f.Make(kUser, 0700, kOther, 0755); }, false,
                     "belongs to user 54322"},
        FallbackCase{"WritableByAll",
                     [](const Folder& f) { return f.Make(kUser, 0700, kUser, 0777); }, false,
                     "may be written by other users"},
        FallbackCase{"WritableByTheGroup",
                     [](const Folder& f) { return f.Make(kUser, 0770, kUser, 0700); }, false,
                     "may be written by other users"},
        FallbackCase{"ALink", [](const Folder& f) { return f.MakeLinked(); }, false,
                     "is a symbolic link"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace lumivex::platform
