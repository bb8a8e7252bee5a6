#include "ui/framework/gui_thread.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace lumivex::ui {

struct GuiCallGate::State {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;
};

namespace {
struct PendingCall {
  std::function<void()> fn;
  bool done = false;  // ran, or was dropped by Close
  bool ran = false;
};
}  // namespace

GuiCallGate::GuiCallGate(QObject* context)
    : m_context(context), m_state(std::make_shared<State>()) {}

GuiCallGate::~GuiCallGate() {
  Close();
}

bool GuiCallGate::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(m_state->mutex);
    if (m_state->closed) return false;
  }
  std::shared_ptr<State> state = m_state;
  return QMetaObject::invokeMethod(
      m_context,
      [state, fn = std::move(fn)] {
        {
          std::lock_guard lock(state->mutex);
          if (state->closed) return;
        }
        fn();
      },
      Qt::QueuedConnection);
}

bool GuiCallGate::Call(std::function<void()> fn) {
  if (QThread::currentThread() == m_context->thread()) {
    if (IsClosed()) return false;
    fn();
    return true;
  }
  auto call = std::make_shared<PendingCall>();
  call->fn = std::move(fn);
  std::shared_ptr<State> state = m_state;
  {
    std::lock_guard lock(state->mutex);
    if (state->closed) return false;
  }
  // The functor owns everything it touches, so a call dropped with a closing context leaves
  // nothing dangling; Close() wakes the waiter below in that case.
  const bool queued = QMetaObject::invokeMethod(
      m_context,
      [state, call] {
        {
          std::lock_guard lock(state->mutex);
          if (state->closed) return;
        }
        call->fn();
        std::lock_guard lock(state->mutex);
        call->done = call->ran = true;
        state->changed.notify_all();
      },
      Qt::QueuedConnection);
  if (!queued) return false;
  std::unique_lock lock(state->mutex);
  state->changed.wait(lock, [&] { return call->done || state->closed; });
  return call->ran;
}

void GuiCallGate::Close() {
  std::lock_guard lock(m_state->mutex);
  m_state->closed = true;
  m_state->changed.notify_all();
}

bool GuiCallGate::IsClosed() const {
  std::lock_guard lock(m_state->mutex);
  return m_state->closed;
}

}  // namespace lumivex::ui
