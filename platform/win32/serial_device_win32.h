// The state of a serial device on the Win32 communication calls, private to platform/win32/.
// The operations are those of SerialDevice, which forwards to them.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
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
  bool IsOpen() const { return open_.load(); }
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

  // The handle for the length of one call. Close and Release do not close it under a thread that
  // is inside a call: the last such thread closes it as it leaves, so the handle value is never
  // reused by a later open while anything here may still act on it.
  class Use {
   public:
    explicit Use(Impl& impl);
    ~Use();
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

   private:
    Impl& impl_;
    HANDLE handle_;
  };

  // The overlapped records, each with its own manual-reset event: the monitor thread's event
  // wait, its read, and a write started on another thread never share one. Kept apart so that,
  // should the driver never complete a cancelled operation, they can be left to it instead of
  // freed under it.
  struct Records {
    OVERLAPPED wait{};
    OVERLAPPED read{};
    OVERLAPPED write{};
    DWORD commMask = 0;  // filled in by the pending WaitCommEvent
  };

  void Shutdown();
  void CloseNow(HANDLE handle);
  bool Fail(DWORD error);
  // A failed call: a device that has gone (adapter pulled) becomes a hang-up.
  bool FailOnDevice(HANDLE handle, DWORD error, bool abortedByUs);
  void MarkHungUp(DWORD error);
  // ClearCommError: the queues, with the line errors it reports kept for ClearErrors.
  bool QueryQueues(HANDLE handle, COMSTAT& status, uint32_t* newErrors);
  // Waits for an overlapped operation up to limitMs, and for the stop event; cancels it when
  // either ends the wait. False with lastError_ set when it failed.
  bool Finish(HANDLE handle, OVERLAPPED& record, DWORD limitMs, DWORD& transferred,
              bool& cancelled);
  bool ReadSome(HANDLE handle, uint8_t* buffer, DWORD count, DWORD limitMs, DWORD& got);
  // Cancels the record's operation and waits until the driver has let go of the record.
  void Abandon(HANDLE handle, OVERLAPPED& record);
  // Monitor side of a write: whether the write has completed and the output queue is empty
  // since; also what the wait must watch (the write's event) and how long it may block.
  bool ProgressWrite(HANDLE handle, DWORD& limitMs, bool& watchWrite);
  // The mask for SetCommMask: our event bits that the driver knows and will watch.
  DWORD CommMask(uint32_t mask) const;

  std::mutex handleMutex_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::atomic<HANDLE> holder_{nullptr};  // the named marker that this open holds
  int users_ = 0;
  bool closing_ = false;
  std::atomic<bool> open_{false};

  HANDLE stopEvent_ = nullptr;  // SetEventMask(0) and closing end the waits
  HANDLE kickEvent_ = nullptr;  // a write started: the wait must watch it
  std::unique_ptr<Records> records_;
  std::atomic<bool> recordsLost_{
      false};                 // a record the driver never gave back: leave it to the driver
  bool waitPending_ = false;  // monitor thread only: the WaitCommEvent is still out
  // Monitor thread only: whether the driver's event waits end at once without an event, and how
  // many did so in a row.
  bool waitsEndAtOnce_ = false;
  int emptyWaits_ = 0;
  uint32_t waitMaskChanges_ = 0;          // maskChanges_ when the pending wait began
  std::atomic<uint32_t> maskChanges_{0};  // SetEventMask calls so far
  DWORD createError_ = 0;

  std::string path_;
  std::atomic<int> lastError_{0};
  std::atomic<bool> hungUp_{false};
  std::atomic<DWORD> hangUpError_{0};
  bool hangUpReported_ = false;  // monitor thread only
  std::atomic<uint32_t> eventMask_{0};
  std::atomic<bool> modemEventsRefused_{false};  // the driver cannot wait for modem lines
  Timeouts timeouts_{};
  std::atomic<uint32_t> rxAborts_{0};  // PurgeComm(PURGE_RXABORT) calls so far

  std::mutex errorsMutex_;
  uint32_t pendingErrors_ = 0;  // line errors not yet handed out by ClearErrors

  // The write in progress: its own copy of the bytes for as long as the driver may read them.
  std::mutex writeMutex_;
  std::vector<uint8_t> writeBuffer_;
  bool writePending_ = false;  // the overlapped write has not completed
  bool drainWatched_ = false;  // the empty signal is still due
  DWORD writeCount_ = 0;
  std::chrono::steady_clock::time_point writeDeadline_{};
};

}  // namespace lumivex::platform
