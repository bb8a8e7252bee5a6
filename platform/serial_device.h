// A serial device on termios: the stand-in of the Win32 COM calls that the serial port makes.
//
// Thread safety: one thread opens, sets up and closes the device (the GUI thread, through
// OpenPort and ClosePort). While it is open, the port's monitor thread calls WaitEvent,
// ClearErrors, Read, ClearBreak and FinishPendingOutput, and any one other thread calls Write;
// SetEventMask(0) may be called from any thread to end a pending WaitEvent. Close must not run
// while another thread is still inside a call (the port stops its monitor thread first, or
// Releases the device to it).
#pragma once

#include <termios.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace lumivex::platform {

// Event bits, with the values of the Win32 communication events that the port waits for.
inline constexpr uint32_t kEvRxChar = 0x0001;   // bytes are waiting
inline constexpr uint32_t kEvTxEmpty = 0x0004;  // the last byte of a write has left
inline constexpr uint32_t kEvCts = 0x0008;
inline constexpr uint32_t kEvDsr = 0x0010;
inline constexpr uint32_t kEvRlsd = 0x0020;
inline constexpr uint32_t kEvBreak = 0x0040;
inline constexpr uint32_t kEvErr = 0x0080;  // framing, overrun or parity error
inline constexpr uint32_t kEvRing = 0x0100;
// Not a Win32 event: the device hung up (adapter pulled, pseudo-terminal master closed).
// Reported once; afterwards the device stays quiet until it is closed.
inline constexpr uint32_t kEvHangUp = 0x10000;

// Purge flags, with the values of PurgeComm.
inline constexpr uint32_t kPurgeTxAbort = 0x1;
inline constexpr uint32_t kPurgeRxAbort = 0x2;
inline constexpr uint32_t kPurgeTxClear = 0x4;
inline constexpr uint32_t kPurgeRxClear = 0x8;
inline constexpr uint32_t kPurgeAll = 0xF;

// Error bits that ClearErrors reports, with the values of ClearCommError.
inline constexpr uint32_t kErrRxOver = 0x1;  // the driver's input buffer overflowed
inline constexpr uint32_t kErrOverrun = 0x2;
inline constexpr uint32_t kErrParity = 0x4;
inline constexpr uint32_t kErrFrame = 0x8;
inline constexpr uint32_t kErrBreak = 0x10;

// The line settings that the port reads and writes at open (the Win32 DCB's role). Only the
// five named members are ever changed; `native` carries everything else the driver reported
// (flow control, control characters) unchanged back to it.
struct LineSettings {
  uint32_t baudRate = 0;
  uint8_t byteSize = 0;  // 5 to 8
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even
  uint8_t stopBits = 0;  // 0 one, 2 two
  bool parityCheck = false;
  termios native{};
};

// Time-outs in milliseconds, as COMMTIMEOUTS.
struct Timeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
};

class SerialDevice {
 public:
  SerialDevice();
  ~SerialDevice();
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  // Opens path for reading and writing, exclusively (another open, in this process or another,
  // fails with EWOULDBLOCK or EBUSY), and puts it in raw mode. On failure the device stays closed
  // and LastError gives the errno.
  bool Open(const std::string& path);
  // Empties both queues and closes. Nothing is left pending.
  void Close();
  // Closes the device for everyone but keeps the descriptor number valid (it then refers to
  // /dev/null) until this object is destroyed, so that a thread that still holds the object never
  // acts on a descriptor that a later open has reused.
  void Release();
  bool IsOpen() const { return fd_.load() >= 0; }
  bool HungUp() const { return hungUp_.load(); }
  // The errno of the last failed call (0 until one fails).
  int LastError() const { return lastError_.load(); }
  const std::string& Path() const { return path_; }

  bool GetLineSettings(LineSettings& settings);
  // Fails with EINVAL for a speed that termios has no constant for.
  bool SetLineSettings(const LineSettings& settings);
  // Accepted and checked for an open device; the tty layer sizes its own queues.
  bool SetupQueues(uint32_t inputBytes, uint32_t outputBytes);
  bool GetTimeouts(Timeouts& timeouts);
  bool SetTimeouts(const Timeouts& timeouts);
  bool Purge(uint32_t flags);
  // Reports and clears the line errors counted since the last call, and the bytes waiting in
  // the input queue. Fails on a closed or hung-up device.
  bool ClearErrors(uint32_t* errors, uint32_t* inputQueue);
  bool ClearBreak();

  // Sets the events that WaitEvent reports. 0 also ends a pending WaitEvent (or the next one) at
  // once with an empty mask, and a Read that waits for bytes: this is how a closing thread wakes
  // the monitor thread.
  bool SetEventMask(uint32_t mask);
  // Blocks until one of the masked events occurs, then gives it in mask (0 when the wait was ended
  // by SetEventMask(0)). Never polls while the line is quiet; while a write is leaving, it checks
  // the output queue every millisecond. After a hang-up it blocks until SetEventMask(0).
  bool WaitEvent(uint32_t& mask);

  // Reads up to count bytes. Bytes already waiting are returned at once; with none waiting, it
  // waits for the first ones up to the read time-outs (ended early by SetEventMask(0)). Returns
  // the number read, or -1 on failure.
  int32_t Read(uint8_t* buffer, uint32_t count);
  // Starts a write and returns without waiting for it: bytes that the driver does not take at
  // once are copied and sent by the monitor thread's WaitEvent as the line drains. Returns the
  // bytes taken at once, or -1 on failure (a write still pending from before is abandoned).
  int32_t Write(const uint8_t* bytes, uint32_t count);

 private:
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
