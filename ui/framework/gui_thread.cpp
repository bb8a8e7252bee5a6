#include "ui/framework/gui_thread.h"

#include <utility>

#include "ui/framework/gui_call_carrier.h"

namespace lumivex::ui {

namespace {

// Under state.mutex.
bool RequestDrain(GuiCallGate::State& state) {
  state.drainRequested = state.carrier->RequestDrain();
  return state.drainRequested;
}

std::shared_ptr<PendingCall> Enqueue(GuiCallGate::State& state, std::function<void()> fn) {
  auto call = std::make_shared<PendingCall>();
  call->fn = std::move(fn);
  // Requesting under the lock: once Close has returned no worker is still handing a request to
  // the GUI thread for this gate.
  std::lock_guard lock(state.mutex);
  if (state.closed) return nullptr;
  state.queue.push_back(call);
  if (!state.drainRequested && !RequestDrain(state)) {
    // The GUI thread cannot be reached: better a refusal than a call that never runs.
    state.queue.pop_back();
    return nullptr;
  }
  return call;
}

}  // namespace

void DrainGuiCalls(GuiCallGate::State& state) {
  {
    std::lock_guard lock(state.mutex);
    state.drainRequested = false;
  }
  for (;;) {
    std::shared_ptr<PendingCall> call;
    {
      std::lock_guard lock(state.mutex);
      if (state.closed || state.queue.empty()) return;
      call = std::move(state.queue.front());
      state.queue.pop_front();
      // A call may turn a nested loop (a message box); the calls behind it must still get
      // through there, as they would with a request of their own.
      if (!state.queue.empty() && !state.drainRequested) RequestDrain(state);
    }
    call->fn();
    std::lock_guard lock(state.mutex);
    call->ran = true;
    state.changed.notify_all();
  }
}

GuiCallGate::GuiCallGate() : m_state(std::make_shared<State>()) {
  m_state->carrier = MakeGuiCallCarrier(m_state);
}

GuiCallGate::~GuiCallGate() {
  Close();
}

bool GuiCallGate::Post(std::function<void()> fn) {
  return Enqueue(*m_state, std::move(fn)) != nullptr;
}

bool GuiCallGate::Call(std::function<void()> fn) {
  if (m_state->carrier->OnGuiThread()) {
    if (IsClosed()) return false;
    fn();
    return true;
  }
  std::shared_ptr<PendingCall> call = Enqueue(*m_state, std::move(fn));
  if (!call) return false;
  std::unique_lock lock(m_state->mutex);
  m_state->changed.wait(lock, [&] { return call->ran || m_state->closed; });
  return call->ran;
}

void GuiCallGate::Close() {
  std::lock_guard lock(m_state->mutex);
  m_state->closed = true;
  m_state->queue.clear();
  m_state->changed.notify_all();
}

bool GuiCallGate::IsClosed() const {
  std::lock_guard lock(m_state->mutex);
  return m_state->closed;
}

}  // namespace lumivex::ui
