// lumivexctl as a child process whose output is read as it comes: for commands that run until
// told to stop (watch), where a test acts between lines or signals the program.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace lumivex::ctl::test {

class CtlProcess {
 public:
  CtlProcess(const std::string& program, const std::vector<std::string>& args) {
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
      ::close(outPipe[0]);
      ::close(outPipe[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
  }
  ~CtlProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      Wait(std::chrono::seconds(5));
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  CtlProcess(const CtlProcess&) = delete;
  CtlProcess& operator=(const CtlProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void Signal(int signal) const {
    if (pid_ > 0 && !status_) ::kill(pid_, signal);
  }

  // The next complete line of standard output (without its end); empty when none came in time
  // or the program closed its output.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const std::size_t end = out.find('\n', taken_);
      if (end != std::string::npos) {
        std::string line = out.substr(taken_, end - taken_);
        taken_ = end + 1;
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Pump(left)) return std::nullopt;
    }
  }

  // Collects both streams until the program exits; its exit status (128 + signal when killed),
  // or nothing after the timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out_ >= 0 || err_ >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Pump(left)) break;
    }
    if (out_ >= 0 || err_ >= 0) return std::nullopt;
    int wstatus = 0;
    if (!status_ && ::waitpid(pid_, &wstatus, 0) == pid_) {
      status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    }
    return status_;
  }

  std::string out;
  std::string err;

 private:
  // Reads what is waiting on either stream, up to timeout; false when both are closed.
  bool Pump(std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) return false;
    if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return true;
    int* ends[2] = {&out_, &err_};
    std::string* sinks[2] = {&out, &err};
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        *ends[i] = -1;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::size_t taken_ = 0;
  std::optional<int> status_;
};

// A strict check of one JSON object whose values are strings, numbers, true, false or null
// (what lumivexctl prints): the members in order, each value as written, strings without their
// quotes. Nothing when the text is no such JSON object.
using JsonMembers = std::vector<std::pair<std::string, std::string>>;
inline std::optional<JsonMembers> ParseJsonObject(const std::string& text) {
  std::size_t i = 0;
  const auto at = [&](char c) { return i < text.size() && text[i] == c; };
  const auto digit = [&] { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  const auto blanks = [&] {
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) {
      ++i;
    }
  };
  const auto string = [&](std::string& value) {
    if (!at('"')) return false;
    const std::size_t begin = ++i;
    while (i < text.size() && text[i] != '"') {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c < 0x20) return false;
      if (c == '\\') {
        ++i;
        if (i >= text.size()) return false;
        if (text[i] == 'u') {
          for (int k = 0; k < 4; ++k) {
            ++i;
            if (i >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i]))) {
              return false;
            }
          }
        } else if (std::string_view("\"\\/bfnrt").find(text[i]) == std::string_view::npos) {
          return false;
        }
      }
      ++i;
    }
    if (!at('"')) return false;
    value = text.substr(begin, i - begin);
    ++i;
    return true;
  };
  const auto scalar = [&](std::string& value) {
    if (at('"')) return string(value);
    for (const char* word : {"true", "false", "null"}) {
      if (text.compare(i, std::strlen(word), word) == 0) {
        value = word;
        i += std::strlen(word);
        return true;
      }
    }
    const std::size_t begin = i;
    if (at('-')) ++i;
    if (at('0')) {
      ++i;
    } else if (digit()) {
      while (digit()) ++i;
    } else {
      return false;
    }
    if (at('.')) {
      ++i;
      if (!digit()) return false;
      while (digit()) ++i;
    }
    if (at('e') || at('E')) {
      ++i;
      if (at('+') || at('-')) ++i;
      if (!digit()) return false;
      while (digit()) ++i;
    }
    value = text.substr(begin, i - begin);
    return true;
  };
  JsonMembers members;
  blanks();
  if (!at('{')) return std::nullopt;
  ++i;
  blanks();
  if (at('}')) {
    ++i;
  } else {
    for (;;) {
      std::string name, value;
      blanks();
      if (!string(name)) return std::nullopt;
      blanks();
      if (!at(':')) return std::nullopt;
      ++i;
      blanks();
      if (!scalar(value)) return std::nullopt;
      members.emplace_back(name, value);
      blanks();
      if (at(',')) {
        ++i;
        continue;
      }
      if (!at('}')) return std::nullopt;
      ++i;
      break;
    }
  }
  blanks();
  if (i != text.size()) return std::nullopt;
  return members;
}

}  // namespace lumivex::ctl::test
