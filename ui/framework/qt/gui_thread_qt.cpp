// The Qt backend of the worker gate: calls wait in our own queue, and a queued Drain carries them
// to the GUI thread.
#include "ui/framework/gui_thread.h"

#include <QCoreApplication>

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace lumivex::ui {

namespace {
struct PendingCall {
  std::function<void()> fn;
  bool ran = false;
};
}  // namespace

class GuiCallGateReceiver;

struct GuiCallGate::State {
  std::mutex mutex;
  // Lives in the GUI thread; deleted with the gate.
  GuiCallGateReceiver* receiver = nullptr;
  std::condition_variable changed;
  bool closed = false;
  // Calls travel here, under our own lock, and not inside Qt's event: a functor handed over in
  // Qt's queue would cross threads behind locks that race checkers cannot see.
  std::deque<std::shared_ptr<PendingCall>> queue;
};

// Lives in the GUI thread; a queued, argument-free Drain is all that passes through Qt.
class GuiCallGateReceiver : public QObject {
  Q_OBJECT
 public:
  explicit GuiCallGateReceiver(std::shared_ptr<GuiCallGate::State> state)
      : m_state(std::move(state)) {}

  Q_INVOKABLE void Drain() {
    for (;;) {
      std::shared_ptr<PendingCall> call;
      {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed || m_state->queue.empty()) return;
        call = std::move(m_state->queue.front());
        m_state->queue.pop_front();
      }
      call->fn();
      std::lock_guard lock(m_state->mutex);
      call->ran = true;
      m_state->changed.notify_all();
    }
  }

 private:
  std::shared_ptr<GuiCallGate::State> m_state;
};

namespace {
std::shared_ptr<PendingCall> Enqueue(GuiCallGate::State& state, std::function<void()> fn) {
  auto call = std::make_shared<PendingCall>();
  call->fn = std::move(fn);
  // Posting under the lock: once Close has returned no worker is still handing an event to
  // the receiver, which may then go away with its gate.
  std::lock_guard lock(state.mutex);
  if (state.closed) return nullptr;
  state.queue.push_back(call);
  QMetaObject::invokeMethod(state.receiver, "Drain", Qt::QueuedConnection);
  return call;
}
}  // namespace

bool IsGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

GuiCallGate::GuiCallGate() : m_state(std::make_shared<State>()) {
  m_state->receiver = new GuiCallGateReceiver(m_state);
}

GuiCallGate::~GuiCallGate() {
  Close();
  delete m_state->receiver;
}

bool GuiCallGate::Post(std::function<void()> fn) {
  return Enqueue(*m_state, std::move(fn)) != nullptr;
}

bool GuiCallGate::Call(std::function<void()> fn) {
  if (QThread::currentThread() == m_state->receiver->thread()) {
    if (IsClosed()) return false;
    fn();
    return true;
  }
  auto call = Enqueue(*m_state, std::move(fn));
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

#include "gui_thread_qt.moc"
