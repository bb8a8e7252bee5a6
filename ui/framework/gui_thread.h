// How a worker thread reaches the GUI: it never touches a window, it hands a call to the GUI
// thread through a gate owned by the window the call works on. The backend carries calls over:
// a queued event under Qt, a message posted to a hidden window under Win32.
#pragma once

#include <functional>
#include <memory>

namespace lumivex::ui {

class GuiCallGate {
 public:
  // Construct on the GUI thread; calls run on the GUI thread.
  GuiCallGate();
  // Closes the gate.
  ~GuiCallGate();
  GuiCallGate(const GuiCallGate&) = delete;
  GuiCallGate& operator=(const GuiCallGate&) = delete;

  // Any thread. Queues fn for the GUI thread and returns at once; false when the gate is closed.
  bool Post(std::function<void()> fn);
  // Any thread. Runs fn on the GUI thread and waits until it has returned (at once when called
  // on the GUI thread). False when the gate was closed before fn could run: the caller must then
  // assume its window is going away.
  bool Call(std::function<void()> fn);
  // GUI thread. Refuses every later call, drops the queued ones and wakes every waiting caller.
  // A window closes its gate before it waits for its workers, so they never wait on each other.
  void Close();
  bool IsClosed() const;

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

// True on the GUI thread (the thread that made the first window).
bool IsGuiThread();

}  // namespace lumivex::ui
