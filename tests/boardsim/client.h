// A test client on the slave side of a simulated board: raw line at a chosen speed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/virtual_ports.h"

namespace lumivex::boardsim::testing {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
using lumivex::testing::PrivateRuntimeDir;

class Client {
 public:
  Client() = default;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client() { Close(); }

  bool Open(const std::string& path, speed_t speed) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    return SetSpeed(speed);
  }
  bool SetSpeed(speed_t speed) {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd_, TCSANOW, &tio) == 0;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }

  bool Send(const Bytes& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until count bytes came or the timeout passed; returns what came.
  Bytes Read(size_t count, std::chrono::milliseconds timeout = 2000ms) {
    Bytes out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      if (p.revents & (POLLHUP | POLLERR)) {
        hungUp_ = true;
        if (!(p.revents & POLLIN)) break;
      }
      uint8_t buffer[512];
      ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
      if (got <= 0) {
        if (got < 0 && errno == EAGAIN) continue;
        hungUp_ = true;
        break;
      }
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }
  // Everything that arrives until the line stays quiet for the given time.
  Bytes ReadUntilQuiet(std::chrono::milliseconds quiet = 150ms) {
    Bytes out;
    for (;;) {
      Bytes more = Read(4096, quiet);
      if (more.empty()) return out;
      out.insert(out.end(), more.begin(), more.end());
    }
  }
  // Sends a request and collects its answer of the given length.
  Bytes Exchange(const Bytes& request, size_t answerLength) {
    if (!Send(request)) return {};
    return Read(answerLength);
  }
  bool hungUp() const { return hungUp_; }

 private:
  int fd_ = -1;
  bool hungUp_ = false;
};

}  // namespace lumivex::boardsim::testing
