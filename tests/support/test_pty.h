// A pseudo-terminal for tests: the test plays the board on the master side, the code under test
// opens the slave as its serial device.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivex::testing {

class TestPty {
 public:
  TestPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      char name[128] = {};
      if (ptsname_r(master_, name, sizeof name) == 0) {
        slave_ = name;
      }
    }
  }
  ~TestPty() { CloseMaster(); }
  TestPty(const TestPty&) = delete;
  TestPty& operator=(const TestPty&) = delete;

  bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  int Master() const { return master_; }
  const std::string& Slave() const { return slave_; }

  void CloseMaster() {
    if (master_ >= 0) {
      close(master_);
      master_ = -1;
    }
  }

  bool Send(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
      } else {
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 100);
      }
    }
    return true;
  }

  // Reads until count bytes have come or timeout passes.
  std::vector<uint8_t> Receive(size_t count, std::chrono::milliseconds timeout) const {
    std::vector<uint8_t> got;
    auto end = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
      uint8_t buffer[4096];
      ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) {
        got.insert(got.end(), buffer, buffer + n);
        continue;
      }
      pollfd p{master_, POLLIN, 0};
      poll(&p, 1, 10);
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// Polls condition every 100 microseconds until it holds or timeout passes.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) {
      return false;
    }
    usleep(100);
  }
  return true;
}

}  // namespace lumivex::testing
