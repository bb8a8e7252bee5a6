#include "platform/posix/serial_device_posix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

#include "platform/serial_device_testing.h"

namespace lumivex::platform {

namespace {

struct SpeedEntry {
  uint32_t rate;
  speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(uint32_t rate, speed_t& code) {
  for (const auto& entry : kSpeeds) {
    if (entry.rate == rate) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

uint32_t SpeedRate(speed_t code) {
  for (const auto& entry : kSpeeds) {
    if (entry.code == code) {
      return entry.rate;
    }
  }
  return 0;
}

// An ioctl that the driver does not have: pseudo-terminals have none of the serial ones.
bool Unsupported(int error) {
  return error == ENOTTY || error == EINVAL;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Signal(int eventFd) {
  uint64_t one = 1;
  // A full counter already means "signalled"; nothing more to do then.
  while (write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Drain(int eventFd) {
  uint64_t value = 0;
  while (read(eventFd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

std::mutex CountersSourceMutex;
std::function<bool(int, DriverCounters&)> CountersSource;

bool ReadDriverCounters(int fd, serial_icounter_struct& count) {
  std::function<bool(int, DriverCounters&)> source;
  {
    std::lock_guard lock(CountersSourceMutex);
    source = CountersSource;
  }
  if (!source) {
    return ioctl(fd, TIOCGICOUNT, &count) == 0;
  }
  DriverCounters c;
  if (!source(fd, c)) {
    errno = ENOTTY;
    return false;
  }
  count.cts = c.cts;
  count.dsr = c.dsr;
  count.rng = c.rng;
  count.dcd = c.dcd;
  count.frame = c.frame;
  count.overrun = c.overrun;
  count.parity = c.parity;
  count.brk = c.brk;
  count.buf_overrun = c.bufOverrun;
  return true;
}

}  // namespace

void SetDriverCountersForTesting(std::function<bool(int fd, DriverCounters&)> source) {
  std::lock_guard lock(CountersSourceMutex);
  CountersSource = std::move(source);
}

SerialDevice::Impl::Impl() {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  kickFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SerialDevice::Impl::~Impl() {
  Close();
  if (releasedFd_ >= 0) {
    close(releasedFd_);
  }
  if (wakeFd_ >= 0) {
    close(wakeFd_);
  }
  if (kickFd_ >= 0) {
    close(kickFd_);
  }
}

bool SerialDevice::Impl::Fail(int error) {
  lastError_.store(error);
  return false;
}

bool SerialDevice::Impl::FailFromErrno() {
  int error = errno;
  if (error == EIO) {
    MarkHungUp();
  }
  return Fail(error);
}

void SerialDevice::Impl::MarkHungUp() {
  lastError_.store(EIO);
  hungUp_.store(true);
}

bool SerialDevice::Impl::Open(const std::string& path) {
  Close();
  if (wakeFd_ < 0 || kickFd_ < 0) {
    return Fail(EMFILE);
  }
  path_ = path;
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return Fail(errno);
  }
  auto giveUp = [&](int error) {
    close(fd);
    return Fail(error);
  };
  // flock holds against every other open, root's included; TIOCEXCL keeps out other users'
  // opens that do not take the lock.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return giveUp(errno);
  }
  if (ioctl(fd, TIOCEXCL) != 0 && !Unsupported(errno)) {
    return giveUp(errno);
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    return giveUp(errno);
  }
  // Raw bytes both ways. Hardware flow control stays as the driver has it. XON/XOFF does not:
  // the terminal default turns it on for every tty, and it would swallow the bytes 0x11 and 0x13
  // wherever they occur in a frame (a current, a temperature, a check byte).
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY);
  // A break is a line condition, not data: without IGNBRK it arrives as a 0x00 among the answer
  // bytes and shifts the next answer. Drivers still count it for the break event.
  tio.c_iflag |= IGNBRK;
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // CLOCAL: a carrier that drops must not hang the line up under us.
  tio.c_cflag |= CREAD | CLOCAL;
  // VMIN 1 with O_NONBLOCK: an empty queue reads as EAGAIN and only a hang-up reads as 0.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    return giveUp(errno);
  }
  // USB adapters hold received bytes up to 16 ms unless asked for low latency.
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
  }
  serial_icounter_struct count{};
  {
    std::lock_guard lock(countersMutex_);
    countersSupported_.store(ReadDriverCounters(fd, count));
    counters_ = {count.cts,     count.dsr,    count.rng, count.dcd,        count.frame,
                 count.overrun, count.parity, count.brk, count.buf_overrun};
    pendingEvents_ = 0;
    pendingErrors_ = 0;
  }
  outQueueSupported_.store(true);
  {
    std::lock_guard lock(writeMutex_);
    pendingBytes_.clear();
    drainWatched_ = false;
  }
  Drain(wakeFd_);
  Drain(kickFd_);
  hungUp_.store(false);
  hangUpReported_ = false;
  eventMask_.store(0);
  lastError_.store(0);
  fd_.store(fd);
  return true;
}

void SerialDevice::Impl::Close() {
  int fd = fd_.exchange(-1);
  if (fd < 0) {
    return;
  }
  {
    std::lock_guard lock(writeMutex_);
    pendingBytes_.clear();
    drainWatched_ = false;
  }
  // A pseudo-terminal keeps the exclusive flag after the last close, since its master holds the
  // line open: without this, the next open of the same port by another user fails with EBUSY.
  ioctl(fd, TIOCNXCL);
  close(fd);
}

void SerialDevice::Impl::Release() {
  int fd = fd_.exchange(-1);
  if (fd < 0) {
    return;
  }
  int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (nullFd >= 0 && dup3(nullFd, fd, O_CLOEXEC) >= 0) {
    releasedFd_ = fd;
  } else {
    // Without /dev/null the line is still let go; the left-behind thread then sees EBADF.
    close(fd);
  }
  if (nullFd >= 0) {
    close(nullFd);
  }
  Signal(wakeFd_);
}

bool SerialDevice::Impl::GetLineSettings(LineSettings& settings) {
  int fd = fd_.load();
  if (fd < 0) {
    return Fail(EBADF);
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    return FailFromErrno();
  }
  settings.baudRate = SpeedRate(cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      settings.byteSize = 5;
      break;
    case CS6:
      settings.byteSize = 6;
      break;
    case CS7:
      settings.byteSize = 7;
      break;
    default:
      settings.byteSize = 8;
      break;
  }
  settings.parity = (tio.c_cflag & PARENB) == 0 ? 0 : ((tio.c_cflag & PARODD) != 0 ? 1 : 2);
  settings.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 0;
  settings.parityCheck = (tio.c_iflag & INPCK) != 0;
  return true;
}

bool SerialDevice::Impl::SetLineSettings(const LineSettings& settings) {
  int fd = fd_.load();
  if (fd < 0) {
    return Fail(EBADF);
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    return FailFromErrno();
  }
  speed_t code{};
  if (!SpeedCode(settings.baudRate, code) || settings.byteSize < 5 || settings.byteSize > 8 ||
      settings.parity > 2 || (settings.stopBits != 0 && settings.stopBits != 2)) {
    return Fail(EINVAL);
  }
  cfsetispeed(&tio, code);
  cfsetospeed(&tio, code);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[settings.byteSize - 5];
  tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB);
  if (settings.parity != 0) {
    tio.c_cflag |= PARENB | (settings.parity == 1 ? PARODD : 0);
  }
  if (settings.stopBits == 2) {
    tio.c_cflag |= CSTOPB;
  }
  if (settings.parityCheck) {
    tio.c_iflag |= INPCK;
  } else {
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    return FailFromErrno();
  }
  return true;
}

bool SerialDevice::Impl::SetupQueues(uint32_t inputBytes, uint32_t outputBytes) {
  if (fd_.load() < 0) {
    return Fail(EBADF);
  }
  if (inputBytes == 0 || outputBytes == 0) {
    return Fail(EINVAL);
  }
  return true;
}

bool SerialDevice::Impl::GetTimeouts(Timeouts& timeouts) {
  if (fd_.load() < 0) {
    return Fail(EBADF);
  }
  timeouts = timeouts_;
  return true;
}

bool SerialDevice::Impl::SetTimeouts(const Timeouts& timeouts) {
  if (fd_.load() < 0) {
    return Fail(EBADF);
  }
  timeouts_ = timeouts;
  return true;
}

bool SerialDevice::Impl::Purge(uint32_t flags) {
  int fd = fd_.load();
  if (fd < 0) {
    return Fail(EBADF);
  }
  if ((flags & kPurgeTxAbort) != 0) {
    std::lock_guard lock(writeMutex_);
    pendingBytes_.clear();
    drainWatched_ = false;
  }
  // Reads are not left pending here: a Read returns what it has before the next one starts.
  bool input = (flags & kPurgeRxClear) != 0;
  bool output = (flags & kPurgeTxClear) != 0;
  if (!input && !output) {
    return true;
  }
  if (tcflush(fd, input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH)) != 0) {
    return FailFromErrno();
  }
  return true;
}

void SerialDevice::Impl::UpdateCounters() {
  int fd = fd_.load();
  std::lock_guard lock(countersMutex_);
  if (!countersSupported_.load() || fd < 0) {
    return;
  }
  serial_icounter_struct now{};
  if (!ReadDriverCounters(fd, now)) {
    if (Unsupported(errno)) {
      countersSupported_.store(false);
    }
    return;
  }
  Counters& was = counters_;
  if (now.cts != was.cts) pendingEvents_ |= kEvCts;
  if (now.dsr != was.dsr) pendingEvents_ |= kEvDsr;
  if (now.rng != was.rng) pendingEvents_ |= kEvRing;
  if (now.dcd != was.dcd) pendingEvents_ |= kEvRlsd;
  if (now.brk != was.brk) {
    pendingEvents_ |= kEvBreak;
    pendingErrors_ |= kErrBreak;
  }
  uint32_t errors = 0;
  if (now.frame != was.frame) errors |= kErrFrame;
  if (now.overrun != was.overrun) errors |= kErrOverrun;
  if (now.parity != was.parity) errors |= kErrParity;
  if (now.buf_overrun != was.bufOverrun) errors |= kErrRxOver;
  if (errors != 0) {
    pendingEvents_ |= kEvErr;
    pendingErrors_ |= errors;
  }
  counters_ = {now.cts,     now.dsr,    now.rng, now.dcd,        now.frame,
               now.overrun, now.parity, now.brk, now.buf_overrun};
}

bool SerialDevice::Impl::ClearErrors(uint32_t* errors, uint32_t* inputQueue) {
  int fd = fd_.load();
  if (fd < 0) {
    return Fail(EBADF);
  }
  if (hungUp_.load()) {
    return Fail(EIO);
  }
  if (inputQueue != nullptr) {
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) != 0) {
      return FailFromErrno();
    }
    *inputQueue = static_cast<uint32_t>(waiting);
  }
  UpdateCounters();
  std::lock_guard lock(countersMutex_);
  if (errors != nullptr) {
    *errors = pendingErrors_;
  }
  pendingErrors_ = 0;
  return true;
}

bool SerialDevice::Impl::ClearBreak() {
  int fd = fd_.load();
  if (fd < 0) {
    return Fail(EBADF);
  }
  if (ioctl(fd, TIOCCBRK) != 0 && !Unsupported(errno)) {
    return FailFromErrno();
  }
  return true;
}

bool SerialDevice::Impl::SetEventMask(uint32_t mask) {
  if (fd_.load() < 0 && mask != 0) {
    return Fail(EBADF);
  }
  eventMask_.store(mask);
  if (mask == 0) {
    Signal(wakeFd_);
  }
  return true;
}

bool SerialDevice::Impl::ProgressWrite(int& pollTimeoutMs, bool& wantWritable) {
  pollTimeoutMs = -1;
  wantWritable = false;
  int fd = fd_.load();
  std::lock_guard lock(writeMutex_);
  if (!drainWatched_ || fd < 0) {
    return false;
  }
  int64_t now = NowMs();
  if (!pendingBytes_.empty()) {
    ssize_t taken = write(fd, pendingBytes_.data(), pendingBytes_.size());
    if (taken > 0) {
      pendingBytes_.erase(pendingBytes_.begin(), pendingBytes_.begin() + taken);
    } else if (taken < 0 && errno != EAGAIN && errno != EINTR) {
      if (errno == EIO) {
        MarkHungUp();
      }
      lastError_.store(errno);
      pendingBytes_.clear();
      drainWatched_ = false;
      return false;
    }
  }
  if (now >= writeDeadlineMs_) {
    // The write time-out has passed: the write failed, and no empty-output signal follows.
    lastError_.store(ETIMEDOUT);
    pendingBytes_.clear();
    drainWatched_ = false;
    return false;
  }
  if (!pendingBytes_.empty()) {
    wantWritable = true;
    pollTimeoutMs =
        writeDeadlineMs_ - now > INT32_MAX ? -1 : static_cast<int>(writeDeadlineMs_ - now);
    return false;
  }
  int queued = 0;
  if (outQueueSupported_.load()) {
    if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
      if (!Unsupported(errno)) {
        lastError_.store(errno);
      }
      // Without a count, a write that the driver has taken whole counts as sent.
      outQueueSupported_.store(false);
      queued = 0;
    }
  }
  if (queued == 0) {
    drainWatched_ = false;
    return true;
  }
  // The driver reports no transition to empty, so the queue is looked at each millisecond, and
  // only while this write is leaving.
  pollTimeoutMs = 1;
  return false;
}

bool SerialDevice::Impl::WaitEvent(uint32_t& mask) {
  mask = 0;
  for (;;) {
    int fd = fd_.load();
    if (fd < 0) {
      return Fail(EBADF);
    }
    uint32_t wanted = eventMask_.load();
    if (hungUp_.load()) {
      if (!hangUpReported_) {
        hangUpReported_ = true;
        mask = kEvHangUp;
        return true;
      }
      // A gone device has nothing more to say: sleep until the port is closed.
      pollfd wake{wakeFd_, POLLIN, 0};
      while (poll(&wake, 1, -1) < 0 && errno == EINTR) {
      }
      Drain(wakeFd_);
      return true;
    }
    int timeoutMs = -1;
    bool wantWritable = false;
    if (ProgressWrite(timeoutMs, wantWritable)) {
      mask |= kEvTxEmpty;
    }
    {
      std::lock_guard lock(countersMutex_);
      mask |= pendingEvents_;
      pendingEvents_ = 0;
    }
    mask &= wanted;
    if (mask != 0) {
      return true;
    }
    short deviceEvents = 0;
    if ((wanted & kEvRxChar) != 0 || countersSupported_.load()) {
      // Line errors arrive with a byte in raw mode, so they too wake on POLLIN. An ignored break
      // brings no byte: it is reported with the next bytes.
      deviceEvents |= POLLIN;
    }
    if (wantWritable) {
      deviceEvents |= POLLOUT;
    }
    pollfd fds[3] = {{fd, deviceEvents, 0}, {wakeFd_, POLLIN, 0}, {kickFd_, POLLIN, 0}};
    int ready = poll(fds, 3, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return FailFromErrno();
    }
    if ((fds[1].revents & POLLIN) != 0) {
      Drain(wakeFd_);
      mask = 0;
      return true;
    }
    if ((fds[2].revents & POLLIN) != 0) {
      Drain(kickFd_);
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      MarkHungUp();
      continue;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      UpdateCounters();
      mask |= kEvRxChar;
    }
    mask &= wanted;
    if (mask != 0) {
      return true;
    }
  }
}

int32_t SerialDevice::Impl::Read(uint8_t* buffer, uint32_t count) {
  if (fd_.load() < 0) {
    Fail(EBADF);
    return -1;
  }
  if (hungUp_.load()) {
    Fail(EIO);
    return -1;
  }
  if (count == 0) {
    return 0;
  }
  const Timeouts limits = timeouts_;
  int64_t totalMs = static_cast<int64_t>(limits.readTotalConstant) +
                    static_cast<int64_t>(limits.readTotalMultiplier) * count;
  int64_t deadline = NowMs() + totalMs;
  for (;;) {
    int fd = fd_.load();
    if (fd < 0) {
      Fail(EBADF);
      return -1;
    }
    ssize_t got = read(fd, buffer, count);
    if (got > 0) {
      return static_cast<int32_t>(got);
    }
    if (got == 0) {
      MarkHungUp();
      return -1;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN) {
      FailFromErrno();
      return -1;
    }
    // Nothing waiting yet: wait for the first bytes up to the total time-out. Without a total
    // time-out a read waits only the interval time-out, so that it never blocks for good.
    int64_t left = deadline - NowMs();
    if (totalMs == 0) {
      left = limits.readInterval;
      totalMs = -1;
      deadline = NowMs() + left;
    }
    if (left <= 0) {
      return 0;
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int ready = poll(fds, 2, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) {
      FailFromErrno();
      return -1;
    }
    // The wake is left signalled: the monitor's next wait takes it and sees the stop.
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
      return 0;
    }
    if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
        (fds[0].revents & POLLIN) == 0) {
      MarkHungUp();
      return -1;
    }
  }
}

int32_t SerialDevice::Impl::Write(const uint8_t* bytes, uint32_t count) {
  int fd = fd_.load();
  if (fd < 0) {
    Fail(EBADF);
    return -1;
  }
  if (hungUp_.load()) {
    Fail(EIO);
    return -1;
  }
  if (count == 0) {
    return 0;
  }
  ssize_t taken = 0;
  {
    std::lock_guard lock(writeMutex_);
    // A write still leaving from before is given up, as a reused overlapped record would.
    pendingBytes_.clear();
    drainWatched_ = false;
    do {
      taken = write(fd, bytes, count);
    } while (taken < 0 && errno == EINTR);
    if (taken < 0) {
      if (errno != EAGAIN) {
        FailFromErrno();
        return -1;
      }
      taken = 0;
    }
    pendingBytes_.assign(bytes + taken, bytes + count);
    drainWatched_ = true;
    const Timeouts limits = timeouts_;
    if (limits.writeTotalConstant == 0 && limits.writeTotalMultiplier == 0) {
      writeDeadlineMs_ = INT64_MAX;  // no write time-out
    } else {
      writeDeadlineMs_ = NowMs() + static_cast<int64_t>(limits.writeTotalConstant) +
                         static_cast<int64_t>(limits.writeTotalMultiplier) * count;
    }
  }
  // The monitor's wait may be blocked with no time-out: have it watch this write.
  Signal(kickFd_);
  return static_cast<int32_t>(taken);
}

}  // namespace lumivex::platform
