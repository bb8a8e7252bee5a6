// Inside the GUI call gate: the queue is the gate's own and the same on every backend; a backend
// only carries a request to drain it over to the GUI thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "ui/framework/gui_thread.h"

namespace lumivex::ui {

struct PendingCall {
  std::function<void()> fn;
  bool ran = false;
};

// The backend's half, made on the GUI thread with the gate.
class GuiCallCarrier {
 public:
  virtual ~GuiCallCarrier() = default;
  virtual bool OnGuiThread() const = 0;
  // Under the gate's lock: have the GUI thread call DrainGuiCalls on the gate's state soon,
  // through the toolkit's own queue and with no argument crossing threads in it. False when the
  // GUI thread cannot be reached.
  virtual bool RequestDrain() = 0;
};

struct GuiCallGate::State {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;
  // Calls wait here, under our own lock: a functor handed over in the toolkit's queue would
  // cross threads behind locks that race checkers cannot see. At most one drain request per
  // gate is on its way, so a busy worker cannot fill the toolkit's queue (Windows limits it).
  std::deque<std::shared_ptr<PendingCall>> queue;
  bool drainRequested = false;
  std::unique_ptr<GuiCallCarrier> carrier;
};

// Made by the backend. The carrier keeps only a weak hold on the state, which owns it.
std::unique_ptr<GuiCallCarrier> MakeGuiCallCarrier(std::weak_ptr<GuiCallGate::State> state);

// GUI thread: runs the queued calls in order.
void DrainGuiCalls(GuiCallGate::State& state);

}  // namespace lumivex::ui
