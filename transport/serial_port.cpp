#include "transport/serial_port.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lumivex::transport {

// What a monitor thread needs of its own, apart from the port object: the device it was started
// on and its stop request. A thread left running after a stop time-out keeps both, so it never
// touches the device or the flag of a later open of the same port.
struct MonitorContext {
  const CSerialPort* owner = nullptr;
  std::shared_ptr<platform::SerialDevice> device;
  std::atomic<bool> stopRequested{false};
  std::mutex mutex;
  std::condition_variable endedSignal;
  bool ended = false;
};

namespace {
thread_local MonitorContext* CurrentMonitor = nullptr;

std::mutex HangUpObserverMutex;
HangUpObserver HangUpObserverFn;
}  // namespace

void SetHangUpObserver(HangUpObserver observer) {
  std::lock_guard lock(HangUpObserverMutex);
  HangUpObserverFn = std::move(observer);
}

CSerialPort::CSerialPort() = default;

CSerialPort::~CSerialPort() {
  // A derived destructor has already closed the port; this covers a bare CSerialPort. Handlers
  // are no longer virtual-dispatched to the derived class here, so the thread must be stopped
  // before a derived object goes (CLinkPort does).
  Close(kStopTimeoutMs);
}

std::shared_ptr<platform::SerialDevice> CSerialPort::Device() const {
  // On the monitor thread the device is the one it was started on; elsewhere the current one.
  if (CurrentMonitor != nullptr && CurrentMonitor->owner == this) {
    return CurrentMonitor->device;
  }
  return deviceHandle.load();
}

bool CSerialPort::IsOpen() const {
  auto device = deviceHandle.load();
  return device != nullptr && device->IsOpen();
}

bool CSerialPort::IsHungUp() const {
  auto device = deviceHandle.load();
  return device != nullptr && device->HungUp();
}

bool CSerialPort::OpenOn(int number, const std::string& devicePath, uint32_t baudRate) {
  if (deviceHandle.load() != nullptr) {
    StopThreads(kStopTimeoutMs);
    CloseDevice();
  }
  portNumber = number;
  deviceName = devicePath;

  auto fail = [this](int error) {
    SetLastError(error);
    Close(kStopTimeoutMs);
    SetLastError(error);
    return false;
  };

  if (!OpenDevice()) {
    return false;
  }
  auto device = deviceHandle.load();
  if (!device->GetLineSettings(dcb)) {
    return fail(device->LastError());
  }
  // Only speed and framing change; flow control and the rest stay as the driver reported them.
  dcb.baudRate = baudRate;
  dcb.byteSize = 8;
  dcb.parity = 0;
  dcb.stopBits = 0;
  dcb.parityCheck = false;
  if (!device->SetLineSettings(dcb)) {
    return fail(device->LastError());
  }
  if (!Setup()) {
    return fail(LastError());
  }
  if (!StartThreads(0)) {
    return fail(LastError());
  }
  SetLastError(0);
  return true;
}

bool CSerialPort::OpenDevice() {
  if (deviceHandle.load() != nullptr) {
    Close(kStopTimeoutMs);
  }
  auto device = std::make_shared<platform::SerialDevice>();
  if (!device->Open(deviceName)) {
    SetLastError(device->LastError());
    return false;
  }
  deviceHandle.store(std::move(device));
  return true;
}

bool CSerialPort::Setup() {
  auto device = deviceHandle.load();
  if (device == nullptr || !device->IsOpen()) {
    SetLastError(EBADF);
    return false;
  }
  bool ok = device->SetupQueues(kQueueBytes, kQueueBytes) && device->GetTimeouts(timeouts);
  if (ok) {
    timeouts.readInterval = kReadIntervalMs;
    timeouts.readTotalMultiplier = 0;
    timeouts.readTotalConstant = kReadTotalMs;
    timeouts.writeTotalMultiplier = 1;
    timeouts.writeTotalConstant = 10000;
    ok = device->SetTimeouts(timeouts) && device->Purge(platform::kPurgeAll);
  }
  if (!ok) {
    SetLastError(device->LastError());
  }
  return ok;
}

void CSerialPort::Close(uint32_t timeoutMs) {
  if (deviceHandle.load() == nullptr) {
    return;
  }
  if (HasMonitorThread()) {
    StopThreads(timeoutMs);
  }
  CloseDevice();
}

void CSerialPort::CloseDevice() {
  auto device = deviceHandle.exchange(nullptr);
  if (device == nullptr) {
    return;
  }
  if (device.use_count() > 1) {
    // A monitor thread that would not stop still holds the device: let the line go, but keep its
    // descriptor number valid until that thread lets go too.
    device->Release();
  } else {
    device->Purge(platform::kPurgeAll);
    device->Close();
  }
}

bool CSerialPort::StartThreads(uint32_t extraOptions) {
  if (HasMonitorThread()) {
    return false;
  }
  running.store(true);
  options |= extraOptions;
  if ((options & OPT_MONITOR_THREAD) == 0) {
    return true;
  }
  auto state = std::make_shared<MonitorContext>();
  state->owner = this;
  state->device = deviceHandle.load();
  try {
    monitorThread = std::thread([this, state] {
      CurrentMonitor = state.get();
      MonitorLoop();
      CurrentMonitor = nullptr;
      {
        std::lock_guard lock(state->mutex);
        state->ended = true;
      }
      state->endedSignal.notify_all();
    });
  } catch (const std::system_error& error) {
    running.store(false);
    SetLastError(error.code().value());
    return false;
  }
  threadState = std::move(state);
  monitorThreadId = monitorThread.get_id();
  return true;
}

bool CSerialPort::StopThreads(uint32_t timeoutMs) {
  if (!HasMonitorThread()) {
    return false;
  }
  running.store(false);
  threadState->stopRequested.store(true);
  if (threadState->device != nullptr) {
    threadState->device->SetEventMask(0);
  }
  bool ended;
  {
    std::unique_lock lock(threadState->mutex);
    ended = threadState->endedSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                              [this] { return threadState->ended; });
  }
  if (ended) {
    monitorThread.join();
  } else {
    // Killing a thread could leave a lock held or the ring half written; it is left to finish on
    // its own, with its device and context kept alive by its own references.
    monitorThread.detach();
  }
  threadState.reset();
  monitorThreadId = {};
  return ended;
}

uint32_t CSerialPort::MonitorLoop() {
  MonitorContext* context = CurrentMonitor;
  std::shared_ptr<platform::SerialDevice> device =
      context != nullptr ? context->device : deviceHandle.load();
  if (device == nullptr || !device->IsOpen() || !device->SetEventMask(eventMask)) {
    return 1;
  }
  auto keepRunning = [&] {
    return running.load() && (context == nullptr || !context->stopRequested.load()) &&
           device->IsOpen();
  };
  uint32_t leftWaiting = 0;  // bytes found waiting at the last pass that dispatched them
  while (keepRunning()) {
    uint32_t mask = 0;
    uint32_t errors = 0;
    uint32_t waiting = 0;
    if (!device->HungUp() && device->ClearErrors(&errors, &waiting) && waiting > 0) {
      // Bytes that came while no wait was pending (more than one read takes) are read now;
      // waiting for them would delay an answer. A handler that leaves them unread gets the
      // pause between passes instead, so the loop never spins on them.
      if (leftWaiting != 0 && waiting >= leftWaiting) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      leftWaiting = waiting;
      mask = platform::kEvRxChar;
    } else {
      leftWaiting = 0;
      if (!device->WaitEvent(mask)) {
        // The wait itself failed: pause so that a persistent failure never spins a core.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
    }
    if (mask != 0) {
      OnCommEvent(mask);
    }
  }
  return 0;
}

void CSerialPort::OnCommEvent(uint32_t mask) {
  if ((mask & platform::kEvRxChar) != 0) {
    auto device = Device();
    uint32_t errors = 0;
    uint32_t waiting = 0;
    bool known = device != nullptr && device->ClearErrors(&errors, &waiting);
    // A hung-up device cannot be asked; its last bytes are still read, and the read then ends.
    if (!known || waiting > 0) {
      OnReceive();
    }
  }
  if ((mask & platform::kEvTxEmpty) != 0) {
    OnTxEmpty();
  }
  if ((mask & platform::kEvCts) != 0) {
    OnCts();
  }
  if ((mask & platform::kEvDsr) != 0) {
    OnDsr();
  }
  if ((mask & platform::kEvRing) != 0) {
    OnRing();
  }
  if ((mask & platform::kEvRlsd) != 0) {
    OnRlsd();
  }
  if ((mask & platform::kEvBreak) != 0) {
    OnBreak();
  }
  if ((mask & platform::kEvErr) != 0) {
    OnError();
  }
  if ((mask & platform::kEvHangUp) != 0) {
    OnHangUp();
  }
}

void CSerialPort::OnBreak() {
  if (auto device = Device(); device != nullptr) {
    device->ClearBreak();
  }
}

void CSerialPort::OnError() {
  if (auto device = Device(); device != nullptr && device->IsOpen()) {
    uint32_t errors = 0;
    device->ClearErrors(&errors, nullptr);
  }
}

uint32_t CSerialPort::Read(uint8_t* buffer, uint32_t count) {
  auto device = Device();
  if (device == nullptr || !device->IsOpen() || count == 0) {
    return 0;
  }
  uint32_t errors = 0;
  if (device->ClearErrors(&errors, nullptr) && errors != 0) {
    device->Purge(platform::kPurgeRxAbort);
  }
  int32_t got = device->Read(buffer, count);
  if (got < 0) {
    SetLastError(device->LastError());
    return 0;
  }
  return static_cast<uint32_t>(got);
}

uint32_t CSerialPort::Write(const uint8_t* bytes, uint32_t count) {
  auto device = Device();
  if (device == nullptr || !device->IsOpen() || count == 0 || bytes == nullptr) {
    return 0;
  }
  uint32_t errors = 0;
  if (device->ClearErrors(&errors, nullptr) && errors != 0) {
    device->Purge(platform::kPurgeTxAbort);
  }
  int32_t taken = device->Write(bytes, count);
  if (taken < 0) {
    SetLastError(device->LastError());
    return 0;
  }
  return static_cast<uint32_t>(taken);
}

CLinkPort::~CLinkPort() {
  // Stop the thread while this object is still a CLinkPort: its handlers run until it ends.
  Close(kStopTimeoutMs);
}

void CLinkPort::OnReceive() {
  uint8_t buffer[256];
  uint32_t got = Read(buffer, kReadChunk);
  // One wake-up per read, not per byte: the waiter wants the whole answer, not its pieces.
  Deliver(buffer, got);
}

void CLinkPort::OnTxEmpty() {
  RaiseWriteDone();
}

void CLinkPort::OnHangUp() {
  // Nothing more can arrive: a wait for an answer ends now instead of at its bound.
  WakeLink();
  std::lock_guard lock(HangUpObserverMutex);
  if (HangUpObserverFn) {
    HangUpObserverFn(portNumber);
  }
}

}  // namespace lumivex::transport
