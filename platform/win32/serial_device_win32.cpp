#include "platform/win32/serial_device_win32.h"

#include <algorithm>
#include <cwctype>
#include <limits>

#include "platform/win32/wide.h"

namespace lumivex::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The events that SetCommMask knows; kEvHangUp is ours alone.
constexpr DWORD kCommEvents =
    EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
// The line errors that ClearErrors hands out (the CE_ values of the same meaning).
constexpr DWORD kLineErrors = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK;
// Modem-line events: they have no effect in this system, and drivers of virtual ports (Wine's
// on a pseudo-terminal among them) refuse a wait that asks for them.
constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
// Event waits in a row that end empty without a cause before the wait looks at the queue instead.
constexpr int kEmptyWaitsToPoll = 3;
// How long a cancelled operation may take to give its record back.
constexpr DWORD kCancelBoundMs = 2000;

// Errors with which the driver tells that the device is gone: a USB adapter pulled, the other end
// of a virtual port closed.
bool GoneError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_IO_DEVICE:
    case ERROR_BROKEN_PIPE:
      return true;
    default:
      return false;
  }
}

DWORD MillisecondsUntil(Clock::time_point deadline, Clock::time_point now) {
  if (deadline <= now) {
    return 0;
  }
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(left);
}

// The name of the marker that an open of this device holds: one per device whatever the case
// or spelling of its path's letters (backslashes are not allowed in object names).
std::wstring HolderName(const std::wstring& device) {
  std::wstring name = L"Global\\Lumivex.SerialPort.";
  for (wchar_t c : device) {
    name.push_back(c == L'\\' ? L'_' : static_cast<wchar_t>(std::towupper(c)));
  }
  return name;
}

bool Signalled(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

SerialDevice::Impl::Use::Use(Impl& impl) : impl_(impl), handle_(INVALID_HANDLE_VALUE) {
  std::lock_guard lock(impl_.handleMutex_);
  if (impl_.handle_ != INVALID_HANDLE_VALUE && !impl_.closing_) {
    ++impl_.users_;
    handle_ = impl_.handle_;
  }
}

SerialDevice::Impl::Use::~Use() {
  if (handle_ == INVALID_HANDLE_VALUE) {
    return;
  }
  HANDLE last = INVALID_HANDLE_VALUE;
  {
    std::lock_guard lock(impl_.handleMutex_);
    if (--impl_.users_ == 0 && impl_.closing_) {
      last = impl_.handle_;
      impl_.handle_ = INVALID_HANDLE_VALUE;
      impl_.closing_ = false;
    }
  }
  if (last != INVALID_HANDLE_VALUE) {
    impl_.CloseNow(last);
  }
}

SerialDevice::Impl::Impl() : records_(std::make_unique<Records>()) {
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  kickEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  records_->wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  records_->read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  records_->write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stopEvent_ == nullptr || kickEvent_ == nullptr || records_->wait.hEvent == nullptr ||
      records_->read.hEvent == nullptr || records_->write.hEvent == nullptr) {
    createError_ = GetLastError();
  }
}

SerialDevice::Impl::~Impl() {
  Close();
  for (HANDLE event : {stopEvent_, kickEvent_}) {
    if (event != nullptr) {
      CloseHandle(event);
    }
  }
  if (recordsLost_) {
    // The driver may still complete into these records and signal their events.
    records_.release();
    return;
  }
  for (OVERLAPPED* record : {&records_->wait, &records_->read, &records_->write}) {
    if (record->hEvent != nullptr) {
      CloseHandle(record->hEvent);
    }
  }
}

bool SerialDevice::Impl::Fail(DWORD error) {
  lastError_.store(static_cast<int>(error));
  return false;
}

void SerialDevice::Impl::MarkHungUp(DWORD error) {
  hangUpError_.store(error);
  lastError_.store(static_cast<int>(error));
  hungUp_.store(true);
}

bool SerialDevice::Impl::FailOnDevice(HANDLE handle, DWORD error, bool abortedByUs) {
  if (GoneError(error)) {
    bool gone = true;
    if (error == ERROR_OPERATION_ABORTED) {
      // An abort that we asked for, or one from a driver that aborts on line errors until they
      // are cleared: the device still answers then.
      COMSTAT status{};
      gone = !abortedByUs && open_.load() && !QueryQueues(handle, status, nullptr);
    }
    if (gone) {
      MarkHungUp(error);
    }
  }
  return Fail(error);
}

bool SerialDevice::Impl::Open(const std::string& path) {
  Close();
  if (createError_ != 0) {
    return Fail(createError_);
  }
  path_ = path;
  std::optional<std::wstring> name = win32::Widen(path);
  if (!name) {
    return Fail(ERROR_INVALID_NAME);
  }
  // Exclusive by nature: a COM port opened by another program fails with ERROR_ACCESS_DENIED.
  HANDLE handle = CreateFileW(name->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return Fail(GetLastError());
  }
  HANDLE holder = nullptr;
  auto giveUp = [&](DWORD error) {
    if (holder != nullptr) {
      CloseHandle(holder);
    }
    CloseHandle(handle);
    return Fail(error);
  };
  // Windows' own COM drivers refuse a second open; drivers of virtual ports may not (Wine's on a
  // pseudo-terminal does not). A named marker held while the port is open keeps two opens apart
  // on those too. Where no such marker can be made, the driver's word stands alone.
  SetLastError(ERROR_SUCCESS);
  holder = CreateEventW(nullptr, TRUE, FALSE, HolderName(*name).c_str());
  if (holder != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    return giveUp(ERROR_ACCESS_DENIED);
  }
  // A file or pipe named by mistake has no line settings.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) {
    return giveUp(GetLastError());
  }
  // Raw bytes both ways. XON/XOFF and the dropping of NUL bytes persist from whichever program
  // used the port last; either would swallow bytes of a frame (0x00, 0x11, 0x13 stand in
  // currents, temperatures and check bytes). Hardware flow control stays as the driver has it.
  if (dcb.fOutX || dcb.fInX || dcb.fNull) {
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    if (!SetCommState(handle, &dcb)) {
      return giveUp(GetLastError());
    }
  }
  if (recordsLost_) {
    // The old records stay with the driver; this open gets fresh ones.
    auto fresh = std::make_unique<Records>();
    fresh->wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fresh->read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fresh->write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (fresh->wait.hEvent == nullptr || fresh->read.hEvent == nullptr ||
        fresh->write.hEvent == nullptr) {
      return giveUp(GetLastError());
    }
    records_.release();
    records_ = std::move(fresh);
    recordsLost_ = false;
  }
  ResetEvent(stopEvent_);
  ResetEvent(kickEvent_);
  waitPending_ = false;
  {
    std::lock_guard lock(writeMutex_);
    writeBuffer_.clear();
    writePending_ = false;
    drainWatched_ = false;
  }
  {
    std::lock_guard lock(errorsMutex_);
    pendingErrors_ = 0;
  }
  hungUp_.store(false);
  hangUpError_.store(0);
  hangUpReported_ = false;
  waitsEndAtOnce_ = false;
  emptyWaits_ = 0;
  eventMask_.store(0);
  lastError_.store(0);
  {
    std::lock_guard lock(handleMutex_);
    handle_ = handle;
    holder_ = holder;
    users_ = 0;
    closing_ = false;
  }
  open_.store(true);
  return true;
}

void SerialDevice::Impl::Close() {
  Shutdown();
}

void SerialDevice::Impl::Release() {
  Shutdown();
}

void SerialDevice::Impl::Shutdown() {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool inUse = false;
  {
    std::lock_guard lock(handleMutex_);
    if (handle_ == INVALID_HANDLE_VALUE || closing_) {
      return;
    }
    handle = handle_;
    inUse = users_ > 0;
    if (inUse) {
      closing_ = true;
    } else {
      handle_ = INVALID_HANDLE_VALUE;
    }
  }
  open_.store(false);
  SetEvent(stopEvent_);
  if (!inUse) {
    CloseNow(handle);
    return;
  }
  // A thread is still inside a call: end whatever it waits for; it closes the handle as it
  // leaves.
  PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT);
  SetCommMask(handle, 0);
  CancelIoEx(handle, nullptr);
}

void SerialDevice::Impl::CloseNow(HANDLE handle) {
  PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  // Changing the mask completes a pending WaitCommEvent with an empty mask.
  SetCommMask(handle, 0);
  if (waitPending_) {
    Abandon(handle, records_->wait);
    waitPending_ = false;
  }
  {
    std::lock_guard lock(writeMutex_);
    if (writePending_) {
      Abandon(handle, records_->write);
      writePending_ = false;
    }
    drainWatched_ = false;
    writeBuffer_.clear();
  }
  CloseHandle(handle);
  HANDLE holder = holder_.exchange(nullptr);
  if (holder != nullptr) {
    CloseHandle(holder);
  }
}

void SerialDevice::Impl::Abandon(HANDLE handle, OVERLAPPED& record) {
  CancelIoEx(handle, &record);
  if (WaitForSingleObject(record.hEvent, kCancelBoundMs) != WAIT_OBJECT_0) {
    recordsLost_ = true;
    return;
  }
  DWORD ignored = 0;
  GetOverlappedResult(handle, &record, &ignored, FALSE);
}

bool SerialDevice::Impl::GetLineSettings(LineSettings& settings) {
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(use.get(), &dcb)) {
    return FailOnDevice(use.get(), GetLastError(), false);
  }
  settings.baudRate = dcb.BaudRate;
  settings.byteSize = dcb.ByteSize;
  settings.parity = dcb.Parity;
  settings.stopBits = dcb.StopBits;
  settings.parityCheck = dcb.fParity != 0;
  return true;
}

bool SerialDevice::Impl::SetLineSettings(const LineSettings& settings) {
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (settings.baudRate == 0 || settings.byteSize < 5 || settings.byteSize > 8 ||
      settings.parity > NOPARITY + 2 || (settings.stopBits != 0 && settings.stopBits != 2)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // Read afresh: every member but these five keeps what the driver holds now.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(use.get(), &dcb)) {
    return FailOnDevice(use.get(), GetLastError(), false);
  }
  dcb.BaudRate = settings.baudRate;
  dcb.ByteSize = settings.byteSize;
  dcb.Parity = settings.parity;
  dcb.StopBits = settings.stopBits;
  dcb.fParity = settings.parityCheck ? TRUE : FALSE;
  if (!SetCommState(use.get(), &dcb)) {
    return FailOnDevice(use.get(), GetLastError(), false);
  }
  return true;
}

bool SerialDevice::Impl::SetupQueues(uint32_t inputBytes, uint32_t outputBytes) {
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (inputBytes == 0 || outputBytes == 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!SetupComm(use.get(), inputBytes, outputBytes)) {
    return FailOnDevice(use.get(), GetLastError(), false);
  }
  return true;
}

bool SerialDevice::Impl::GetTimeouts(Timeouts& timeouts) {
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  COMMTIMEOUTS native{};
  if (!GetCommTimeouts(use.get(), &native)) {
    return FailOnDevice(use.get(), GetLastError(), false);
  }
  timeouts.readInterval = native.ReadIntervalTimeout;
  timeouts.readTotalMultiplier = native.ReadTotalTimeoutMultiplier;
  timeouts.readTotalConstant = native.ReadTotalTimeoutConstant;
  timeouts.writeTotalMultiplier = native.WriteTotalTimeoutMultiplier;
  timeouts.writeTotalConstant = native.WriteTotalTimeoutConstant;
  return true;
}

bool SerialDevice::Impl::SetTimeouts(const Timeouts& timeouts) {
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  COMMTIMEOUTS native{};
  native.ReadIntervalTimeout = timeouts.readInterval;
  native.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
  native.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
  native.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
  native.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
  if (!SetCommTimeouts(use.get(), &native)) {
    return FailOnDevice(use.get(), GetLastError(), false);
  }
  timeouts_ = timeouts;
  return true;
}

bool SerialDevice::Impl::Purge(uint32_t flags) {
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if ((flags & kPurgeRxAbort) != 0) {
    rxAborts_.fetch_add(1);
  }
  std::unique_lock writeLock(writeMutex_, std::defer_lock);
  if ((flags & kPurgeTxAbort) != 0) {
    writeLock.lock();
  }
  if (!PurgeComm(use.get(), flags & kPurgeAll)) {
    return FailOnDevice(use.get(), GetLastError(), false);
  }
  if (writeLock.owns_lock()) {
    // The aborted write gives its record back before the next write may use it; it raises no
    // empty signal.
    if (writePending_) {
      Abandon(use.get(), records_->write);
      writePending_ = false;
    }
    drainWatched_ = false;
  }
  return true;
}

bool SerialDevice::Impl::QueryQueues(HANDLE handle, COMSTAT& status, uint32_t* newErrors) {
  DWORD errors = 0;
  if (!ClearCommError(handle, &errors, &status)) {
    DWORD error = GetLastError();
    if (GoneError(error) && open_.load()) {
      MarkHungUp(error);
    }
    return Fail(error);
  }
  errors &= kLineErrors;
  if (newErrors != nullptr) {
    *newErrors = errors;
  }
  if (errors != 0) {
    std::lock_guard lock(errorsMutex_);
    pendingErrors_ |= errors;
  }
  return true;
}

bool SerialDevice::Impl::ClearErrors(uint32_t* errors, uint32_t* inputQueue) {
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (hungUp_.load()) {
    return Fail(hangUpError_.load());
  }
  COMSTAT status{};
  if (!QueryQueues(use.get(), status, nullptr)) {
    return false;
  }
  if (inputQueue != nullptr) {
    *inputQueue = status.cbInQue;
  }
  std::lock_guard lock(errorsMutex_);
  if (errors != nullptr) {
    *errors = pendingErrors_;
  }
  pendingErrors_ = 0;
  return true;
}

bool SerialDevice::Impl::ClearBreak() {
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (!ClearCommBreak(use.get())) {
    DWORD error = GetLastError();
    // A virtual port without a break of its own has nothing to clear.
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
      return true;
    }
    return FailOnDevice(use.get(), error, false);
  }
  return true;
}

bool SerialDevice::Impl::SetEventMask(uint32_t mask) {
  if (!open_.load() && mask != 0) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  eventMask_.store(mask);
  maskChanges_.fetch_add(1);
  if (mask == 0) {
    SetEvent(stopEvent_);
  }
  Use use(*this);
  if (!use) {
    return true;
  }
  // Any change of the mask also completes a pending WaitCommEvent with an empty mask.
  if (!SetCommMask(use.get(), CommMask(mask))) {
    FailOnDevice(use.get(), GetLastError(), false);
    return mask == 0;
  }
  return true;
}

DWORD SerialDevice::Impl::CommMask(uint32_t mask) const {
  DWORD events = mask & kCommEvents;
  return modemEventsRefused_.load() ? events & ~kModemEvents : events;
}

bool SerialDevice::Impl::ProgressWrite(HANDLE handle, DWORD& limitMs, bool& watchWrite) {
  limitMs = INFINITE;
  watchWrite = false;
  std::lock_guard lock(writeMutex_);
  if (!drainWatched_) {
    return false;
  }
  Clock::time_point now = Clock::now();
  if (writePending_) {
    DWORD written = 0;
    if (GetOverlappedResult(handle, &records_->write, &written, FALSE)) {
      writePending_ = false;
      if (written < writeCount_) {
        // The driver's write time-out cut it short: the write failed, no empty signal follows.
        drainWatched_ = false;
        return Fail(ERROR_TIMEOUT);
      }
    } else {
      DWORD error = GetLastError();
      if (error == ERROR_IO_INCOMPLETE) {
        if (now >= writeDeadline_) {
          Abandon(handle, records_->write);
          writePending_ = false;
          drainWatched_ = false;
          return Fail(ERROR_TIMEOUT);
        }
        watchWrite = true;
        limitMs = MillisecondsUntil(writeDeadline_, now);
        return false;
      }
      writePending_ = false;
      drainWatched_ = false;
      return FailOnDevice(handle, error, false);
    }
  }
  // Every byte is with the driver; the line is done when its output queue is empty.
  COMSTAT status{};
  if (!QueryQueues(handle, status, nullptr)) {
    drainWatched_ = false;
    return false;
  }
  if (status.cbOutQue == 0) {
    drainWatched_ = false;
    return true;
  }
  if (now >= writeDeadline_) {
    drainWatched_ = false;
    return Fail(ERROR_TIMEOUT);
  }
  // The driver signals EV_TXEMPTY where it can; the queue is looked at each millisecond as well,
  // and only while this write is leaving.
  limitMs = 1;
  return false;
}

bool SerialDevice::Impl::WaitEvent(uint32_t& mask) {
  mask = 0;
  Use use(*this);
  if (!use) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  HANDLE handle = use.get();
  Records& records = *records_;
  for (;;) {
    if (hungUp_.load()) {
      if (!hangUpReported_) {
        hangUpReported_ = true;
        mask = kEvHangUp;
        return true;
      }
      // A gone device has nothing more to say: sleep until the port is closed.
      WaitForSingleObject(stopEvent_, INFINITE);
      ResetEvent(stopEvent_);
      return true;
    }
    if (Signalled(stopEvent_)) {
      ResetEvent(stopEvent_);
      return true;
    }
    const uint32_t wanted = eventMask_.load();
    DWORD limitMs = INFINITE;
    bool watchWrite = false;
    if (ProgressWrite(handle, limitMs, watchWrite)) {
      mask |= kEvTxEmpty;
    }
    mask &= wanted;
    if (mask != 0) {
      return true;
    }
    if (hungUp_.load()) {
      continue;
    }

    // Looks at the input queue and the line errors instead of an event: false when the device
    // could not be asked.
    auto lookAtQueue = [&](bool& failed) {
      failed = false;
      COMSTAT status{};
      uint32_t newErrors = 0;
      if (!QueryQueues(handle, status, &newErrors)) {
        failed = true;
        return false;
      }
      if (status.cbInQue > 0) {
        mask |= kEvRxChar;
      }
      if ((newErrors & CE_BREAK) != 0) {
        mask |= kEvBreak;
      }
      if ((newErrors & ~static_cast<uint32_t>(CE_BREAK)) != 0) {
        mask |= kEvErr;
      }
      mask &= wanted;
      return mask != 0;
    };

    if (waitsEndAtOnce_ && !waitPending_) {
      // The driver's event wait tells nothing and costs more than asking: the queue is looked at
      // each millisecond, and at once when a write starts or the wait is stopped.
      bool failed = false;
      if (lookAtQueue(failed)) {
        return true;
      }
      if (failed) {
        if (hungUp_.load()) {
          continue;
        }
        return false;
      }
      HANDLE events[2] = {stopEvent_, kickEvent_};
      WaitForMultipleObjects(2, events, FALSE, std::min<DWORD>(limitMs, 1));
      continue;
    }

    bool completed = false;
    if (!waitPending_) {
      waitMaskChanges_ = maskChanges_.load();
      records.commMask = 0;
      ResetEvent(records.wait.hEvent);
      if (WaitCommEvent(handle, &records.commMask, &records.wait)) {
        completed = true;
      } else {
        DWORD error = GetLastError();
        if ((error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER) &&
            !modemEventsRefused_.load() && (CommMask(wanted) & kModemEvents) != 0) {
          // The driver has no modem lines to watch: wait for the rest.
          modemEventsRefused_.store(true);
          if (!SetCommMask(handle, CommMask(wanted))) {
            return FailOnDevice(handle, GetLastError(), false);
          }
          continue;
        }
        if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
          // A driver without an event wait at all: its queue is looked at instead.
          waitsEndAtOnce_ = true;
          continue;
        }
        if (error == ERROR_IO_PENDING) {
          waitPending_ = true;
        } else {
          FailOnDevice(handle, error, false);
          if (hungUp_.load()) {
            continue;
          }
          // Refused while the device is still there (Wine may refuse a wait begun just as the
          // last one ended): handled as a wait that ended without an event.
          records.commMask = 0;
          completed = true;
        }
      }
    }
    if (!completed) {
      HANDLE events[4] = {records.wait.hEvent, stopEvent_, kickEvent_, records.write.hEvent};
      DWORD count = watchWrite ? 4 : 3;
      DWORD woke = WaitForMultipleObjects(count, events, FALSE, limitMs);
      if (woke == WAIT_FAILED) {
        return Fail(GetLastError());
      }
      if (woke != WAIT_OBJECT_0) {
        continue;  // stopped, a write to watch, the write done, or the output queue to look at
      }
      DWORD ignored = 0;
      waitPending_ = false;
      if (!GetOverlappedResult(handle, &records.wait, &ignored, FALSE)) {
        DWORD error = GetLastError();
        if (error != ERROR_OPERATION_ABORTED) {
          FailOnDevice(handle, error, false);
          if (hungUp_.load()) {
            continue;
          }
        }
        // Ended without an event: by a mask change, by a device that went (the queue check
        // below finds out), or by a driver that ends every wait this way (Wine's on a
        // pseudo-terminal ends it as aborted, after a few milliseconds).
        records.commMask = 0;
      }
    }

    // The output-empty signal is decided above, from the write itself: a late EV_TXEMPTY of an
    // earlier write must not end the wait for the next one.
    const DWORD events = records.commMask & kCommEvents & ~static_cast<DWORD>(EV_TXEMPTY);
    if (records.commMask == 0) {
      if (Signalled(stopEvent_)) {
        continue;
      }
      // An empty mask that no stop caused tells nothing, so the queue is looked at instead.
      bool failed = false;
      if (lookAtQueue(failed)) {
        emptyWaits_ = 0;
        return true;
      }
      if (failed) {
        if (hungUp_.load()) {
          continue;
        }
        return false;
      }
      // Without a mask change of ours, a wait ends empty only on a driver that ends every wait
      // at once (Wine's on a pseudo-terminal, after a few milliseconds, at a quarter of a core).
      if (maskChanges_.load() == waitMaskChanges_ && ++emptyWaits_ >= kEmptyWaitsToPoll) {
        waitsEndAtOnce_ = true;
      }
      // Nothing came: pause a millisecond so that such a driver is not asked in a tight loop.
      WaitForSingleObject(stopEvent_, 1);
      continue;
    }
    emptyWaits_ = 0;
    mask = events & wanted;
    if (mask != 0) {
      return true;
    }
  }
}

bool SerialDevice::Impl::Finish(HANDLE handle, OVERLAPPED& record, DWORD limitMs,
                                DWORD& transferred, bool& cancelled) {
  HANDLE events[2] = {record.hEvent, stopEvent_};
  DWORD woke = WaitForMultipleObjects(2, events, FALSE, limitMs);
  cancelled = woke != WAIT_OBJECT_0;
  if (cancelled) {
    CancelIoEx(handle, &record);
    if (WaitForSingleObject(record.hEvent, kCancelBoundMs) != WAIT_OBJECT_0) {
      recordsLost_ = true;
      transferred = 0;
      return Fail(ERROR_TIMEOUT);
    }
  }
  if (!GetOverlappedResult(handle, &record, &transferred, FALSE)) {
    return Fail(GetLastError());
  }
  return true;
}

bool SerialDevice::Impl::ReadSome(HANDLE handle, uint8_t* buffer, DWORD count, DWORD limitMs,
                                  DWORD& got) {
  got = 0;
  if (recordsLost_) {
    return Fail(ERROR_TIMEOUT);
  }
  const uint32_t abortsBefore = rxAborts_.load();
  OVERLAPPED& record = records_->read;
  record.Offset = 0;
  record.OffsetHigh = 0;
  if (!ReadFile(handle, buffer, count, nullptr, &record)) {
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      return FailOnDevice(handle, error, rxAborts_.load() != abortsBefore);
    }
  }
  bool cancelled = false;
  const int errorBefore = lastError_.load();
  if (!Finish(handle, record, limitMs, got, cancelled)) {
    DWORD error = static_cast<DWORD>(lastError_.load());
    // Ended by us (whatever came before the cancel is kept), or the time-outs passed (Windows
    // reports that as success, Wine as ERROR_TIMEOUT): a read that found nothing, not a failure.
    if (!recordsLost_.load() &&
        ((error == ERROR_OPERATION_ABORTED && (cancelled || rxAborts_.load() != abortsBefore)) ||
         error == ERROR_TIMEOUT)) {
      lastError_.store(errorBefore);
      return true;
    }
    return FailOnDevice(handle, error, false);
  }
  return true;
}

int32_t SerialDevice::Impl::Read(uint8_t* buffer, uint32_t count) {
  Use use(*this);
  if (!use) {
    Fail(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (hungUp_.load()) {
    Fail(hangUpError_.load());
    return -1;
  }
  if (count == 0) {
    return 0;
  }
  HANDLE handle = use.get();
  COMSTAT status{};
  if (!QueryQueues(handle, status, nullptr)) {
    return -1;
  }
  DWORD got = 0;
  if (status.cbInQue > 0) {
    // Exactly what is waiting: a driver may hold a larger read until its whole count has come
    // (Wine does, whatever the time-outs say), which would delay the answer.
    if (!ReadSome(handle, buffer, std::min<DWORD>(status.cbInQue, count), INFINITE, got)) {
      return -1;
    }
    return static_cast<int32_t>(got);
  }
  // Nothing waiting: wait for the first byte up to the total time-out. Without a total time-out
  // a read waits only the interval time-out, so that it never blocks for good.
  const Timeouts limits = timeouts_;
  uint64_t totalMs = static_cast<uint64_t>(limits.readTotalConstant) +
                     static_cast<uint64_t>(limits.readTotalMultiplier) * count;
  if (totalMs == 0) {
    totalMs = limits.readInterval;
  }
  DWORD limitMs = static_cast<DWORD>(std::min<uint64_t>(totalMs, INFINITE - 1));
  if (!ReadSome(handle, buffer, 1, limitMs, got)) {
    return -1;
  }
  if (got == 0 || count == 1) {
    return static_cast<int32_t>(got);
  }
  // The first byte came: take what followed it at once.
  if (!QueryQueues(handle, status, nullptr)) {
    return static_cast<int32_t>(got);
  }
  DWORD more = 0;
  if (status.cbInQue > 0 &&
      ReadSome(handle, buffer + 1, std::min<DWORD>(status.cbInQue, count - 1), INFINITE, more)) {
    got += more;
  }
  return static_cast<int32_t>(got);
}

int32_t SerialDevice::Impl::Write(const uint8_t* bytes, uint32_t count) {
  Use use(*this);
  if (!use) {
    Fail(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (hungUp_.load()) {
    Fail(hangUpError_.load());
    return -1;
  }
  if (count == 0) {
    return 0;
  }
  HANDLE handle = use.get();
  DWORD written = 0;
  {
    std::lock_guard lock(writeMutex_);
    // A write still leaving from before is given up: its record is needed for this one.
    if (writePending_) {
      Abandon(handle, records_->write);
      writePending_ = false;
    }
    drainWatched_ = false;
    if (recordsLost_) {
      Fail(ERROR_TIMEOUT);
      return -1;
    }
    // The driver reads the bytes while the write is under way, after this call has returned.
    writeBuffer_.assign(bytes, bytes + count);
    OVERLAPPED& record = records_->write;
    record.Offset = 0;
    record.OffsetHigh = 0;
    if (WriteFile(handle, writeBuffer_.data(), count, nullptr, &record)) {
      GetOverlappedResult(handle, &record, &written, FALSE);
    } else {
      DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        FailOnDevice(handle, error, false);
        return -1;
      }
      writePending_ = true;
    }
    writeCount_ = count;
    drainWatched_ = true;
    const Timeouts limits = timeouts_;
    if (limits.writeTotalConstant == 0 && limits.writeTotalMultiplier == 0) {
      writeDeadline_ = Clock::time_point::max();  // no write time-out
    } else {
      writeDeadline_ =
          Clock::now() +
          std::chrono::milliseconds(static_cast<int64_t>(limits.writeTotalConstant) +
                                    static_cast<int64_t>(limits.writeTotalMultiplier) * count);
    }
  }
  // The monitor's wait may be blocked with no time-out: have it watch this write.
  SetEvent(kickEvent_);
  return static_cast<int32_t>(written);
}

}  // namespace lumivex::platform
