// The state of a serial device on termios, private to platform/posix/. The operations are those
// of SerialDevice, which forwards to them.
#pragma once

#include <termios.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace lumivex::platform {

struct SerialDevice::Impl {
  Impl();
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool Open(const std::string& path);
  void Close();
  void Release();
  bool IsOpen() const { return fd_.load() >= 0; }
  bool HungUp() const { return hungUp_.load(); }
  int LastError() const { return lastError_.load(); }
  const std::string& Path() const { return path_; }
  bool GetLineSettings(LineSettings& settings);
  bool SetLineSettings(const LineSettings& settings);
  bool SetupQueues(uint32_t inputBytes, uint32_t outputBytes);
  bool GetTimeouts(Timeouts& timeouts);
  bool SetTimeouts(const Timeouts& timeouts);
  bool Purge(uint32_t flags);
  bool ClearErrors(uint32_t* errors, uint32_t* inputQueue);
  bool ClearBreak();
  bool SetEventMask(uint32_t mask);
  bool WaitEvent(uint32_t& mask);
  int32_t Read(uint8_t* buffer, uint32_t count);
  int32_t Write(const uint8_t* bytes, uint32_t count);

  bool Fail(int error);
  bool FailFromErrno();
  void MarkHungUp();
  // Compares the driver's counters with the last reading and keeps what changed as events and
  // errors.
  void UpdateCounters();
  // Monitor side of a write: hands the driver what it will take and reports whether the output
  // has drained since; also gives the poll time-out in milliseconds (-1: no write to watch).
  bool ProgressWrite(int& pollTimeoutMs, bool& wantWritable);

  std::atomic<int> fd_{-1};
  int releasedFd_ = -1;  // a Released descriptor, now on /dev/null, closed by the destructor
  int wakeFd_ = -1;      // eventfd: SetEventMask(0) ends the wait
  int kickFd_ = -1;      // eventfd: a write started, the wait must watch it
  std::string path_;
  std::atomic<int> lastError_{0};
  std::atomic<bool> hungUp_{false};
  bool hangUpReported_ = false;  // monitor thread only
  std::atomic<uint32_t> eventMask_{0};
  Timeouts timeouts_{};

  // Error and modem counters of the driver, where it keeps them (TIOCGICOUNT).
  std::mutex countersMutex_;
  std::atomic<bool> countersSupported_{false};
  struct Counters {
    int cts = 0, dsr = 0, rng = 0, dcd = 0, frame = 0, overrun = 0, parity = 0, brk = 0,
        bufOverrun = 0;
  } counters_{};
  uint32_t pendingEvents_ = 0;  // counted changes not yet reported by WaitEvent
  uint32_t pendingErrors_ = 0;  // counted errors not yet handed out by ClearErrors
  std::atomic<bool> outQueueSupported_{true};

  // The write in progress: bytes not yet taken by the driver, and whether the output queue is
  // still being watched for the empty signal.
  std::mutex writeMutex_;
  std::vector<uint8_t> pendingBytes_;
  bool drainWatched_ = false;
  int64_t writeDeadlineMs_ = 0;
};

}  // namespace lumivex::platform
