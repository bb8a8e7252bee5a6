// Virtual ports for tests: a private folder of them per test process, and the port map without
// the machine's own serial ports.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/port_map.h"

namespace lumivex::testing {

// A folder of virtual ports of this process's own (XDG_RUNTIME_DIR points at it while the
// object lives), so that tests running side by side never see each other's boards. Make it
// before anything reads the port map. The previous XDG_RUNTIME_DIR comes back at the end.
class PrivateRuntimeDir {
 public:
  explicit PrivateRuntimeDir(const std::string& name = "lumivex-test") {
    std::string pattern = "/tmp/" + name + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  ~PrivateRuntimeDir() {
    if (path_.empty()) return;
    if (hadOld_) {
      ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
  PrivateRuntimeDir& operator=(const PrivateRuntimeDir&) = delete;

  bool Ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string old_;
  bool hadOld_ = false;
};

// The same for a whole test program, as a GoogleTest environment:
//   ::testing::AddGlobalTestEnvironment(new lumivex::testing::PrivateRuntimeEnvironment("x"));
class PrivateRuntimeEnvironment : public ::testing::Environment {
 public:
  explicit PrivateRuntimeEnvironment(std::string name) : name_(std::move(name)) {}
  void SetUp() override {
    dir_ = std::make_unique<PrivateRuntimeDir>(name_);
    ASSERT_TRUE(dir_->Ok()) << "cannot make a private runtime folder";
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::string name_;
  std::unique_ptr<PrivateRuntimeDir> dir_;
};

// The port map without the machine's own serial ports, which tests must neither count nor
// write to.
inline std::vector<platform::PortMapEntry> VirtualPortsOnly() {
  platform::PortMapRoots roots;
  roots.portsFolder = platform::VirtualPortsFolder();
  roots.ttyClass = roots.portsFolder + "/no-hardware";
  return platform::ReadPortMap(roots);
}

}  // namespace lumivex::testing
