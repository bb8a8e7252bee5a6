// Temporary folders and files for the settings tests.
#pragma once

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

#ifndef _WIN32
#include "tests/support/users.h"
#endif

namespace lumivex::testing {

// A private folder, removed with everything in it (whatever its permissions) at the end.
class TempDir {
 public:
#ifdef _WIN32
  TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path dir =
          std::filesystem::temp_directory_path() / ("lumivex-settings." + std::to_string(random()));
      if (std::filesystem::create_directory(dir)) path_ = dir.generic_string();
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
#else
  TempDir() {
    std::string base = std::filesystem::temp_directory_path() / "lumivex-settings.XXXXXX";
    if (::mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = base;
  }
  ~TempDir() {
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec)) {
      if (e.is_directory(ec)) ::chmod(e.path().c_str(), 0700);
    }
    ::chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ec);
  }
#endif
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const {
    return path_;
  }
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#ifndef _WIN32
// Runs body in a child process as the unprivileged user "nobody", so permission checks bite
// even when the tests run as root (a user other than root runs it as itself). Returns body's
// exit code, or -1 when the child could not drop its privileges.
inline int RunUnprivileged(const std::function<int()>& body) {
  constexpr uid_t kNobody = 65534;
  return ::geteuid() == 0 ? RunAsUser(kNobody, kNobody, body)
                          : RunAsUser(::geteuid(), ::getegid(), body);
}
#endif

}  // namespace lumivex::testing
