// Another process holding a serial port the way another program would: open, locked and
// exclusive, until released.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace lumivex::integration {

class PortHolder {
 public:
  PortHolder() = default;
  ~PortHolder() { Release(); }
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;

  // True once the child holds the port.
  bool Hold(const std::string& path) {
    int ready[2];
    int release[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return false;
    if (pipe2(release, O_CLOEXEC) != 0) {
      close(ready[0]);
      close(ready[1]);
      return false;
    }
    pid_ = fork();
    if (pid_ == 0) {
      // The child of a threaded process: async-signal-safe calls only.
      close(ready[0]);
      close(release[1]);
      const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      const bool held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
      if (held) ioctl(fd, TIOCEXCL);
      const char answer = held ? '1' : '0';
      if (write(ready[1], &answer, 1) != 1) _exit(2);
      char ignored;
      while (read(release[0], &ignored, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    releaseFd_ = release[1];
    if (pid_ < 0) {
      close(ready[0]);
      Release();
      return false;
    }
    pollfd p{ready[0], POLLIN, 0};
    char answer = '0';
    const bool held = poll(&p, 1, 5000) == 1 && read(ready[0], &answer, 1) == 1 && answer == '1';
    close(ready[0]);
    return held;
  }

  // Lets the child close the port and end; waits for it.
  void Release() {
    if (releaseFd_ >= 0) close(releaseFd_);
    releaseFd_ = -1;
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int releaseFd_ = -1;
};

}  // namespace lumivex::integration
