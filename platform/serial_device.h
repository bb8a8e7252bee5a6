// A serial device: on Windows the Win32 communication calls that the serial port makes, on Linux
// their stand-in over termios. Each OS keeps its own state in Impl (platform/posix/,
// platform/win32/), so nothing of either shows here.
//
// Thread safety: one thread opens, sets up and closes the device (the GUI thread, through
// OpenPort and ClosePort). While it is open, the port's monitor thread calls WaitEvent,
// ClearErrors, Read, ClearBreak and FinishPendingOutput, and any one other thread calls Write;
// SetEventMask(0) may be called from any thread to end a pending WaitEvent. Close must not run
// while another thread is still inside a call (the port stops its monitor thread first, or
// Releases the device to it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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

// The line settings that the port reads and writes at open (the Win32 DCB's role). Only these
// five members are ever changed: SetLineSettings applies them to the settings the driver holds
// at that moment, so everything else (flow control, control characters) stays as it reported.
struct LineSettings {
  uint32_t baudRate = 0;
  uint8_t byteSize = 0;  // 5 to 8
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even
  uint8_t stopBits = 0;  // 0 one, 2 two
  bool parityCheck = false;
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
  // fails: EWOULDBLOCK or EBUSY on Linux, ERROR_ACCESS_DENIED on Windows), and puts it in raw
  // mode. On failure the device stays closed and LastError gives the reason.
  bool Open(const std::string& path);
  // Empties both queues and closes. Nothing is left pending.
  void Close();
  // Closes the device for everyone but keeps the descriptor number valid (Linux: it then refers
  // to /dev/null) until this object is destroyed, so that a thread that still holds the object
  // never acts on a descriptor that a later open has reused. On Windows a thread still inside a
  // call has its wait ended and closes the handle as it leaves; later calls fail.
  void Release();
  bool IsOpen() const;
  bool HungUp() const;
  // The errno (Linux) or GetLastError code (Windows) of the last failed call (0 until one fails).
  int LastError() const;
  const std::string& Path() const;

  bool GetLineSettings(LineSettings& settings);
  // Fails (EINVAL, ERROR_INVALID_PARAMETER) for framing outside the ranges above, and on Linux
  // for a speed that termios has no constant for.
  bool SetLineSettings(const LineSettings& settings);
  // The driver's queue sizes (Linux: accepted and checked; the tty layer sizes its own).
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
  // by SetEventMask(0)). Never polls while the line is quiet (but on a driver whose event wait
  // ends at once without an event, as Wine's does: it then looks at the input queue each
  // millisecond); while a write is leaving, it checks the output queue every millisecond. After a
  // hang-up it blocks until SetEventMask(0).
  bool WaitEvent(uint32_t& mask);

  // Reads up to count bytes. Bytes already waiting are returned at once; with none waiting, it
  // waits for the first ones up to the read time-outs (ended early by SetEventMask(0)). Returns
  // the number read, or -1 on failure.
  int32_t Read(uint8_t* buffer, uint32_t count);
  // Starts a write and returns without waiting for it: bytes that the driver does not take at
  // once are copied (Linux: sent by the monitor thread's WaitEvent as the line drains; Windows:
  // kept for the overlapped write). Returns the bytes taken at once, or -1 on failure (a write
  // still pending from before is abandoned).
  int32_t Write(const uint8_t* bytes, uint32_t count);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumivex::platform
