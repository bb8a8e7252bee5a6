// The Qt carrier of the worker gate: a drain request is a queued, argument-free call of Drain on
// a receiver that lives in the GUI thread.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include "ui/framework/gui_call_carrier.h"

namespace lumivex::ui {

class GuiCallGateReceiver : public QObject {
  Q_OBJECT
 public:
  explicit GuiCallGateReceiver(std::weak_ptr<GuiCallGate::State> state)
      : m_state(std::move(state)) {}

  Q_INVOKABLE void Drain() {
    // Held to the end: a call may close the window that owns the gate.
    if (const std::shared_ptr<GuiCallGate::State> alive = m_state.lock()) DrainGuiCalls(*alive);
  }

 private:
  std::weak_ptr<GuiCallGate::State> m_state;
};

namespace {

class QtGuiCallCarrier : public GuiCallCarrier {
 public:
  explicit QtGuiCallCarrier(std::weak_ptr<GuiCallGate::State> state)
      : m_receiver(new GuiCallGateReceiver(std::move(state))) {}
  ~QtGuiCallCarrier() override { delete m_receiver; }
  QtGuiCallCarrier(const QtGuiCallCarrier&) = delete;
  QtGuiCallCarrier& operator=(const QtGuiCallCarrier&) = delete;

  bool OnGuiThread() const override { return QThread::currentThread() == m_receiver->thread(); }

  bool RequestDrain() override {
    return QMetaObject::invokeMethod(m_receiver, "Drain", Qt::QueuedConnection);
  }

 private:
  GuiCallGateReceiver* m_receiver;
};

}  // namespace

std::unique_ptr<GuiCallCarrier> MakeGuiCallCarrier(std::weak_ptr<GuiCallGate::State> state) {
  return std::make_unique<QtGuiCallCarrier>(std::move(state));
}

bool IsGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace lumivex::ui

#include "gui_thread_qt.moc"
