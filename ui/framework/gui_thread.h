// How a worker thread reaches the GUI: it never touches a widget, it hands a call to the GUI
// thread through a gate owned by the window the call works on.
#pragma once

#include <functional>
#include <memory>

class QObject;

namespace lumivex::ui {

class GuiCallGate {
 public:
  // Construct on the GUI thread; calls run in the thread of context, which must outlive the
  // gate (a window owning its gate as a member does).
  explicit GuiCallGate(QObject* context);
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

 private:
  friend class GuiCallGateReceiver;
  struct State;
  std::shared_ptr<void> Enqueue(std::function<void()> fn);

  QObject* m_context;
  std::shared_ptr<State> m_state;
  QObject* m_receiver;  // child of m_context, in the GUI thread
};

}  // namespace lumivex::ui
