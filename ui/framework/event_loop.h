// The GUI thread's event loop, turned from inside a handler while it waits (a modal run, a
// command on the worker), and timers that run on the GUI thread. Backend: QEventLoop/QTimer
// under Qt; a nested GetMessageW loop (with the pre-translate hook and IsDialogMessageW) and
// SetTimer under Win32. GUI thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace lumivex::ui {

class EventLoop {
 public:
  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;
  // Dispatches events until Quit (returns at once when Quit came first).
  void Run();
  void Quit();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Dispatches the events that are waiting, without waiting for more.
void ProcessPendingEvents();

// Runs fn on the GUI thread after the events already waiting (a "single shot" of 0 ms). The call
// is dropped when the gate of owner, if given, has been closed meanwhile.
void CallSoon(std::function<void()> fn);

class CTimer {
 public:
  explicit CTimer(std::function<void()> onTimeout = {});
  ~CTimer();  // stops
  CTimer(const CTimer&) = delete;
  CTimer& operator=(const CTimer&) = delete;
  void SetHandler(std::function<void()> onTimeout);
  // (Re)starts: fires after interval, then every interval unless singleShot.
  void Start(std::chrono::milliseconds interval, bool singleShot = false);
  void Stop();
  bool IsActive() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace lumivex::ui
