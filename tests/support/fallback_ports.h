// The virtual ports folder that a user gets without XDG_RUNTIME_DIR, /tmp/lumivex-<uid>/ports,
// built by root for a made-up user with the owners and modes a test asks for.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace lumivex::testing {

class FallbackPortsFolder {
 public:
  // A user id that no account has, so that its /tmp folder is the test's alone.
  static constexpr uid_t kUser = 54321;
  static constexpr uid_t kOtherUser = 54322;

  // Test programs that ctest runs side by side take turns with the one folder.
  FallbackPortsFolder()
      : lock_(::open((Own() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (lock_ >= 0) ::flock(lock_, LOCK_EX);
    Remove();
  }
  ~FallbackPortsFolder() {
    Remove();
    if (lock_ >= 0) ::close(lock_);
  }
  FallbackPortsFolder(const FallbackPortsFolder&) = delete;
  FallbackPortsFolder& operator=(const FallbackPortsFolder&) = delete;

  std::string Own() const { return "/tmp/lumivex-" + std::to_string(kUser); }
  std::string Ports() const { return Own() + "/ports"; }

  // Makes both folders with the given owners and modes; false when root could not.
  bool Make(uid_t ownOwner, mode_t ownMode, uid_t portsOwner, mode_t portsMode) const {
    std::error_code error;
    std::filesystem::create_directories(Ports(), error);
    return !error && ::chown(Own().c_str(), ownOwner, ownOwner) == 0 &&
           ::chmod(Own().c_str(), ownMode) == 0 &&
           ::chown(Ports().c_str(), portsOwner, portsOwner) == 0 &&
           ::chmod(Ports().c_str(), portsMode) == 0;
  }

  // Makes /tmp/lumivex-<uid> a link to a proper folder of the user's elsewhere.
  bool MakeLinked() const {
    std::error_code error;
    std::filesystem::create_directories(Elsewhere() + "/ports", error);
    return !error && ::chown(Elsewhere().c_str(), kUser, kUser) == 0 &&
           ::chmod(Elsewhere().c_str(), 0700) == 0 &&
           ::chown((Elsewhere() + "/ports").c_str(), kUser, kUser) == 0 &&
           ::chmod((Elsewhere() + "/ports").c_str(), 0700) == 0 &&
           ::symlink(Elsewhere().c_str(), Own().c_str()) == 0;
  }

  // Plants "COM<number>" giving target.
  bool Plant(int number, const std::string& target) const {
    return ::symlink(target.c_str(), (Ports() + "/COM" + std::to_string(number)).c_str()) == 0;
  }

 private:
  int lock_;
  std::string Elsewhere() const { return Own() + "-elsewhere"; }
  void Remove() const {
    std::error_code error;
    std::filesystem::remove_all(Own(), error);
    std::filesystem::remove_all(Elsewhere(), error);
  }
};

}  // namespace lumivex::testing
