// The Qt backend of the event loop and timers.
#include "ui/framework/event_loop.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

namespace lumivex::ui {

struct EventLoop::Impl {
  QEventLoop loop;
  bool quit = false;
};

EventLoop::EventLoop() : m_impl(std::make_unique<Impl>()) {}

EventLoop::~EventLoop() {
  m_impl->loop.quit();
}

void EventLoop::Run() {
  if (m_impl->quit) return;
  m_impl->loop.exec();
}

void EventLoop::Quit() {
  m_impl->quit = true;
  m_impl->loop.quit();
}

void ProcessPendingEvents() {
  QApplication::processEvents();
}

void CallSoon(std::function<void()> fn) {
  QTimer::singleShot(0, QCoreApplication::instance(), std::move(fn));
}

struct CTimer::Impl {
  QTimer timer;
  std::function<void()> onTimeout;
};

CTimer::CTimer(std::function<void()> onTimeout) : m_impl(std::make_unique<Impl>()) {
  m_impl->onTimeout = std::move(onTimeout);
  QObject::connect(&m_impl->timer, &QTimer::timeout, [impl = m_impl.get()] {
    if (impl->onTimeout) impl->onTimeout();
  });
}

CTimer::~CTimer() {
  m_impl->timer.stop();
}

void CTimer::SetHandler(std::function<void()> onTimeout) {
  m_impl->onTimeout = std::move(onTimeout);
}

void CTimer::Start(std::chrono::milliseconds interval, bool singleShot) {
  m_impl->timer.setSingleShot(singleShot);
  m_impl->timer.start(interval);
}

void CTimer::Stop() {
  m_impl->timer.stop();
}

bool CTimer::IsActive() const {
  return m_impl->timer.isActive();
}

}  // namespace lumivex::ui
