#include "ui/framework/gui_thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

namespace {
struct PendingCall {
  std::function<void()> fn;
  bool ran = false;
};
}  // namespace

struct GuiCallGate::State {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;
  // Calls wait here, under our own lock; only an argument-free drain request travels through
  // the message queue, and at most one per gate is on its way: a busy worker cannot fill the
  // thread's queue, which Windows limits.
  std::deque<std::shared_ptr<PendingCall>> queue;
  bool drainPosted = false;
  DWORD guiThread = 0;
};

namespace {

void Drain(const std::shared_ptr<GuiCallGate::State>& state);

// Under state->mutex.
bool PostDrain(const std::shared_ptr<GuiCallGate::State>& state) {
  state->drainPosted = win32::PostCall([state] { Drain(state); });
  return state->drainPosted;
}

void Drain(const std::shared_ptr<GuiCallGate::State>& state) {
  {
    std::lock_guard lock(state->mutex);
    state->drainPosted = false;
  }
  for (;;) {
    std::shared_ptr<PendingCall> call;
    {
      std::lock_guard lock(state->mutex);
      if (state->closed || state->queue.empty()) return;
      call = std::move(state->queue.front());
      state->queue.pop_front();
      // A call may turn a nested loop (a message box); the calls behind it must still get
      // through there, as they would with a request of their own.
      if (!state->queue.empty() && !state->drainPosted) PostDrain(state);
    }
    call->fn();
    std::lock_guard lock(state->mutex);
    call->ran = true;
    state->changed.notify_all();
  }
}

std::shared_ptr<PendingCall> Enqueue(const std::shared_ptr<GuiCallGate::State>& state,
                                     std::function<void()> fn) {
  auto call = std::make_shared<PendingCall>();
  call->fn = std::move(fn);
  // Posting under the lock: once Close has returned no worker is still handing a request to the
  // GUI thread for this gate.
  std::lock_guard lock(state->mutex);
  if (state->closed) return nullptr;
  state->queue.push_back(call);
  if (!state->drainPosted && !PostDrain(state)) {
    // The GUI thread cannot be reached: better a refusal than a call that never runs.
    state->queue.pop_back();
    return nullptr;
  }
  return call;
}

}  // namespace

GuiCallGate::GuiCallGate() : m_state(std::make_shared<State>()) {
  win32::MessageWindow();
  m_state->guiThread = GetCurrentThreadId();
}

GuiCallGate::~GuiCallGate() {
  Close();
}

bool GuiCallGate::Post(std::function<void()> fn) {
  return Enqueue(m_state, std::move(fn)) != nullptr;
}

bool GuiCallGate::Call(std::function<void()> fn) {
  if (GetCurrentThreadId() == m_state->guiThread) {
    if (IsClosed()) return false;
    fn();
    return true;
  }
  std::shared_ptr<PendingCall> call = Enqueue(m_state, std::move(fn));
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
