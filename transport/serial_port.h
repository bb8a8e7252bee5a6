// A serial port with one monitor thread that turns line events into handler calls, and the port
// class that the system instantiates, CLinkPort, which feeds ReceiveRing and raises writeDone.
//
// Thread safety: OpenOn, Close, StartThreads and StopThreads run on one controlling thread (the
// GUI thread, through OpenPort and ClosePort). The monitor thread runs MonitorLoop, OnCommEvent,
// the handlers and Read. Write runs on the thread that sends (LinkSend); at most one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/serial_device.h"
#include "transport/link.h"
#include "transport/shared_slot.h"

namespace lumivex::transport {

struct MonitorContext;

class CSerialPort {
 public:
  static constexpr uint32_t OPT_MONITOR_THREAD = 0x1;
  static constexpr uint32_t OPT_OVERLAPPED = 0x2;
  // Every event the port waits for but the flag character: bytes, output empty, modem lines,
  // break and line errors.
  static constexpr uint32_t kDefaultEventMask = 0x1FD;
  static constexpr uint32_t kReadIntervalMs = 100;
  static constexpr uint32_t kReadTotalMs = 500;
  static constexpr uint32_t kQueueBytes = 4096;
  static constexpr uint32_t kStopTimeoutMs = 500;

  CSerialPort();
  virtual ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // Steps of OpenPort for this object: close it if open, open devicePath as COM number at
  // baudRate 8N1, set it up and start the monitor thread. False with LastError set on failure;
  // the port is then closed.
  bool OpenOn(int number, const std::string& devicePath, uint32_t baudRate);

  // Stops the monitor thread (waiting up to timeoutMs), then empties the queues and closes.
  virtual void Close(uint32_t timeoutMs);
  virtual bool OpenDevice();
  virtual bool Setup();

  // Handlers, called on the monitor thread.
  virtual void OnReceive() {}
  virtual void OnDsr() {}
  virtual void OnCts() {}
  virtual void OnBreak();
  virtual void OnTxEmpty() {}
  virtual void OnError();
  virtual void OnRing() {}
  virtual void OnRlsd() {}
  // The device went away. Called once per hang-up; the port stays open and quiet until closed.
  virtual void OnHangUp() {}
  virtual void OnCommEvent(uint32_t mask);
  virtual uint32_t MonitorLoop();

  bool StartThreads(uint32_t extraOptions);
  // False when no thread ran, or when it did not end in timeoutMs: it is then left running on
  // its own, holding the device, and the port counts as without a thread.
  bool StopThreads(uint32_t timeoutMs);
  uint32_t Read(uint8_t* buffer, uint32_t count);
  uint32_t Write(const uint8_t* bytes, uint32_t count);

  bool IsOpen() const;
  bool IsHungUp() const;
  bool HasMonitorThread() const { return monitorThread.joinable(); }
  // The device path of the last open; kept after close. Controlling thread only.
  const std::string& DeviceName() const { return deviceName; }
  // The errno of the last failure on this port (0 when none).
  int LastError() const { return lastError.load(); }

 protected:
  // The port's own state, for the port and the classes derived from it; tests read it through
  // serial_port_testing.h.
  uint32_t options = OPT_MONITOR_THREAD | OPT_OVERLAPPED;
  // The open device; null means closed. Shared with the monitor thread, so that a thread left
  // running after a stop time-out never sees the device destroyed under it.
  SharedSlot<platform::SerialDevice> deviceHandle;
  int portNumber = -1;
  std::string deviceName;
  platform::LineSettings dcb{};
  platform::Timeouts timeouts{};
  std::atomic<bool> running{false};
  uint32_t eventMask = kDefaultEventMask;
  std::thread monitorThread;
  std::thread::id monitorThreadId;

  void SetLastError(int error) { lastError.store(error); }

 private:
  // On the monitor thread, the device that it was started on; elsewhere the current one.
  std::shared_ptr<platform::SerialDevice> Device() const;
  void CloseDevice();

  std::atomic<int> lastError{0};
  std::shared_ptr<MonitorContext> threadState;
};

// The port class that the system uses: received bytes go into the ring of the link it feeds
// (ReceiveRing, or a search's probe link), and the end of a write raises writeDone for LinkSend.
class CLinkPort : public CSerialPort, public LinkPortSide {
 public:
  static constexpr uint32_t kReadChunk = 100;

  CLinkPort() = default;
  ~CLinkPort() override;

  uint32_t Write(const uint8_t* bytes, uint32_t count) override {
    return CSerialPort::Write(bytes, count);
  }
  bool LinkHungUp() const override { return IsHungUp(); }
  void OnReceive() override;
  void OnTxEmpty() override;
  void OnHangUp() override;
};

// Told, on the monitor thread of the port that hung up, its COM number: once per hang-up. Any
// thread may install or remove it (an empty function); it must not block.
using HangUpObserver = std::function<void(int portNumber)>;
void SetHangUpObserver(HangUpObserver observer);

}  // namespace lumivex::transport
