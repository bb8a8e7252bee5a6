#include "ui/framework/gui_thread.h"

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

struct GuiCallGate::State {
  std::mutex mutex;
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
  GuiCallGateReceiver(std::shared_ptr<GuiCallGate::State> state, QObject* parent)
      : QObject(parent), m_state(std::move(state)) {}

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

GuiCallGate::GuiCallGate(QObject* context)
    : m_context(context),
      m_state(std::make_shared<State>()),
      m_receiver(new GuiCallGateReceiver(m_state, context)) {}

GuiCallGate::~GuiCallGate() {
  Close();
}

std::shared_ptr<void> GuiCallGate::Enqueue(std::function<void()> fn) {
  auto call = std::make_shared<PendingCall>();
  call->fn = std::move(fn);
  // Posting under the lock: once Close has returned no worker is still handing an event to
  // the receiver, which may then go away with its window.
  std::lock_guard lock(m_state->mutex);
  if (m_state->closed) return nullptr;
  m_state->queue.push_back(call);
  QMetaObject::invokeMethod(m_receiver, "Drain", Qt::QueuedConnection);
  return call;
}

bool GuiCallGate::Post(std::function<void()> fn) {
  return Enqueue(std::move(fn)) != nullptr;
}

bool GuiCallGate::Call(std::function<void()> fn) {
  if (QThread::currentThread() == m_context->thread()) {
    if (IsClosed()) return false;
    fn();
    return true;
  }
  auto call = std::static_pointer_cast<PendingCall>(Enqueue(std::move(fn)));
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

#include "gui_thread.moc"
