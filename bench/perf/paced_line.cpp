#include "bench/perf/paced_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "tools/boardsim/wire.h"

namespace lumivex::bench {

namespace {

using Clock = PacedLine::Clock;

struct Timed {
  uint8_t byte;
  Clock::time_point due;  // when its stop bit ends on the wire
};

// One direction of the wire: bytes wait here until their time on the line has passed.
struct Lane {
  std::deque<Timed> queue;
  Clock::time_point lineFreeAt{};

  void Accept(const uint8_t* bytes, size_t count, Clock::time_point now, Clock::duration byteTime) {
    for (size_t i = 0; i < count; ++i) {
      lineFreeAt = std::max(lineFreeAt, now) + byteTime;
      queue.push_back({bytes[i], lineFreeAt});
    }
  }
};

bool MakeRaw(int fd, speed_t speed) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  if (speed != 0) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
  }
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PacedLine::~PacedLine() {
  Stop();
}

bool PacedLine::Start(const std::string& boardSlavePath) {
  auto fail = [&](std::string message) {
    error_ = std::move(message);
    Stop();
    return false;
  };
  panelMaster_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (panelMaster_ < 0) return fail(ErrnoText("posix_openpt"));
  char name[128];
  if (grantpt(panelMaster_) != 0 || unlockpt(panelMaster_) != 0 ||
      ptsname_r(panelMaster_, name, sizeof name) != 0)
    return fail(ErrnoText("pseudo-terminal"));
  panelPath_ = name;
  // Raw before the panel ever opens it: an echoing slave would hand the board's answers back
  // to the board.
  panelHold_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (panelHold_ < 0 || !MakeRaw(panelHold_, B9600)) return fail(ErrnoText("panel side"));
  board_ = open(boardSlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (board_ < 0 || !MakeRaw(board_, B9600)) return fail(ErrnoText("board side"));
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) return fail(ErrnoText("eventfd"));
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void PacedLine::Stop() {
  stopping_ = true;
  if (wake_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  for (int* fd : {&panelMaster_, &panelHold_, &board_, &wake_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void PacedLine::Run() {
  // The thread sleeps to each byte's time; the default slack of 50 us would be half a byte
  // at 115200 baud.
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  Lane toBoard;
  Lane toPanel;
  speed_t boardSpeed = B9600;
  std::vector<uint8_t> buffer(4096);
  bool boardOpen = true;
  bool heardSinceDelivery = false;  // the panel has written since the last bytes handed to it

  while (!stopping_) {
    Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (const Lane* lane : {&toBoard, &toPanel})
      if (!lane->queue.empty()) next = std::min(next, lane->queue.front().due);
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (next != Clock::time_point::max()) {
      auto wait = std::max<Clock::duration>(next - now, Clock::duration::zero());
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
      timeoutPtr = &timeout;
    }
    pollfd fds[3] = {{panelMaster_, POLLIN, 0},
                     {board_, static_cast<short>(boardOpen ? POLLIN : 0), 0},
                     {wake_, POLLIN, 0}};
    int ready = ppoll(fds, 3, timeoutPtr, nullptr);
    if (ready < 0 && errno != EINTR) break;
    if (stopping_) break;
    now = Clock::now();
    // The panel's line speed as it is now, set on its side of the pseudo-terminal: it changes
    // while the line sleeps (the panel reopens at the next speed).
    termios tio{};
    const speed_t speed = tcgetattr(panelMaster_, &tio) == 0 ? cfgetospeed(&tio) : B9600;
    uint32_t baud = boardsim::SpeedToBaud(speed);
    if (baud == 0) baud = 9600;
    const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / baud);

    if ((fds[0].revents & POLLIN) != 0) {
      ssize_t got = read(panelMaster_, buffer.data(), buffer.size());
      if (got > 0) {
        // The panel's first bytes after an answer: how soon it reacted to that answer.
        if (!heardSinceDelivery) {
          requestHeardAt_.store(now.time_since_epoch().count());
          heardSinceDelivery = true;
        }
        // The board hears the panel only at the panel's speed: it checks its own side's speed.
        if (speed != boardSpeed && MakeRaw(board_, speed)) boardSpeed = speed;
        toBoard.Accept(buffer.data(), static_cast<size_t>(got), now, byteTime);
      }
    }
    if (boardOpen && (fds[1].revents & POLLIN) != 0) {
      ssize_t got = read(board_, buffer.data(), buffer.size());
      if (got > 0) toPanel.Accept(buffer.data(), static_cast<size_t>(got), now, byteTime);
    } else if (boardOpen && (fds[1].revents & (POLLHUP | POLLERR)) != 0) {
      boardOpen = false;  // the board went away; the panel hears silence from now on
    }

    now = Clock::now();
    for (Lane* lane : {&toBoard, &toPanel}) {
      size_t due = 0;
      while (due < lane->queue.size() && lane->queue[due].due <= now) ++due;
      if (due == 0) continue;
      uint8_t out[4096];
      size_t count = std::min(due, sizeof out);
      for (size_t i = 0; i < count; ++i) out[i] = lane->queue[i].byte;
      const int fd = lane == &toPanel ? panelMaster_ : board_;
      const Clock::time_point handedAt = Clock::now();
      if (lane == &toPanel) {
        // Published before the write: the panel may take the bytes, and its caller look at
        // these, before write() has even returned here.
        lastDeliveredAt_.store(handedAt.time_since_epoch().count());
        deliveredBytes_.fetch_add(count);
        heardSinceDelivery = false;
      }
      ssize_t wrote = write(fd, out, count);
      if (lane == &toPanel && static_cast<size_t>(std::max<ssize_t>(wrote, 0)) < count)
        deliveredBytes_.fetch_sub(count - static_cast<size_t>(std::max<ssize_t>(wrote, 0)));
      if (wrote <= 0) continue;  // a full queue on the other side: try again at the next pass
      const auto late = std::chrono::duration_cast<std::chrono::microseconds>(
                            handedAt - lane->queue[static_cast<size_t>(wrote) - 1].due)
                            .count();
      lane->queue.erase(lane->queue.begin(), lane->queue.begin() + wrote);
      if (lane == &toPanel) {
        int64_t worst = worstLatenessUs_.load();
        while (late > worst && !worstLatenessUs_.compare_exchange_weak(worst, late)) {
        }
      }
    }
  }
}

}  // namespace lumivex::bench
