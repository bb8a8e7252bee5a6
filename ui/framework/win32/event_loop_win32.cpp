#include "ui/framework/event_loop.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <unordered_map>

#include "ui/framework/gui_thread.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {

namespace win32 {
namespace {

// Messages of the message window. kRunCall carries a heap std::function in lParam, which the
// window procedure owns from then on. kWake only makes GetMessageW return, so that a loop looks
// at its quit flag again; ProcessPendingEvents marks where it started with one.
constexpr UINT kRunCall = WM_APP + 0x0100;
constexpr UINT kWake = WM_APP + 0x0101;

std::atomic<HWND> g_messageWindow{nullptr};
std::atomic<DWORD> g_guiThread{0};

struct TimerCore {
  std::function<void()> handler;
  UINT_PTR id = 0;  // 0 while stopped
  bool singleShot = false;
  // A handler that turns a nested loop (a message box) would otherwise be entered again by its
  // own timer meanwhile; like Qt's timers, a timer whose handler still runs is skipped.
  bool running = false;
};

// The running timers by their SetTimer id. GUI thread only.
std::unordered_map<UINT_PTR, std::shared_ptr<TimerCore>>& Timers() {
  static std::unordered_map<UINT_PTR, std::shared_ptr<TimerCore>> timers;
  return timers;
}

void StopTimer(TimerCore& core) {
  if (core.id == 0) return;
  // KillTimer leaves a WM_TIMER that was already taken from the queue; an id is never used
  // twice, so such a late message finds no timer and does nothing.
  KillTimer(g_messageWindow.load(), core.id);
  Timers().erase(core.id);
  core.id = 0;
}

void OnTimer(HWND window, UINT_PTR id) {
  auto found = Timers().find(id);
  if (found == Timers().end()) {
    KillTimer(window, id);
    return;
  }
  // Holding the core keeps it alive when the handler destroys its CTimer.
  std::shared_ptr<TimerCore> core = found->second;
  if (core->running) return;
  if (core->singleShot) StopTimer(*core);
  // A copy: the handler may replace itself (SetHandler) while it runs.
  std::function<void()> handler = core->handler;
  if (!handler) return;
  core->running = true;
  handler();
  core->running = false;
}

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kRunCall: {
      std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lParam));
      if (fn && *fn) (*fn)();
      return 0;
    }
    case kWake:
      return 0;
    case WM_TIMER:
      OnTimer(window, static_cast<UINT_PTR>(wParam));
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

HWND MessageWindow() {
  if (HWND window = g_messageWindow.load()) return window;
  static constexpr wchar_t kClassName[] = L"LumivexMessageWindow";
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = MessageWindowProc;
  windowClass.hInstance = Instance();
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);
  HWND window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                Instance(), nullptr);
  g_guiThread.store(GetCurrentThreadId());
  g_messageWindow.store(window);
  return window;
}

bool PostCall(std::function<void()> fn) {
  HWND window = g_messageWindow.load();
  if (!window) return false;
  auto* heap = new std::function<void()>(std::move(fn));
  if (PostMessageW(window, kRunCall, 0, reinterpret_cast<LPARAM>(heap))) return true;
  delete heap;
  return false;
}

void DeliverMessage(MSG& msg) {
  if (PreTranslateInput(msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

}  // namespace win32

bool IsGuiThread() {
  const DWORD gui = win32::g_guiThread.load();
  return gui != 0 && gui == GetCurrentThreadId();
}

// ----- EventLoop

struct EventLoop::Impl {
  // Shared with a running Run, which must not read a loop that a handler has destroyed.
  std::shared_ptr<bool> quit = std::make_shared<bool>(false);
};

EventLoop::EventLoop() : m_impl(std::make_unique<Impl>()) {}

EventLoop::~EventLoop() {
  Quit();
}

void EventLoop::Run() {
  const std::shared_ptr<bool> quit = m_impl->quit;
  win32::MessageWindow();
  MSG msg;
  while (!*quit) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The program is ending: every loop around this one must see WM_QUIT as well.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (got == -1) return;
    win32::DeliverMessage(msg);
  }
}

void EventLoop::Quit() {
  if (*m_impl->quit) return;
  *m_impl->quit = true;
  // GetMessageW may be waiting with nothing to do; a message makes it look at the flag.
  if (HWND window = win32::g_messageWindow.load()) PostMessageW(window, win32::kWake, 0, 0);
}

void ProcessPendingEvents() {
  HWND window = win32::MessageWindow();
  // Posted messages come out before input and painting; a marker posted now shows where those
  // that were already waiting end, so that calls posted meanwhile wait for the next turn and a
  // call that posts itself again cannot keep this turn going.
  static WPARAM lastMarker = 0;
  const WPARAM marker = ++lastMarker;
  const bool marked = PostMessageW(window, win32::kWake, marker, 0) != FALSE;
  MSG msg;
  while (marked && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (msg.hwnd == window && msg.message == win32::kWake && msg.wParam == marker) break;
    win32::DeliverMessage(msg);
  }
  // Then input, painting and messages sent from other threads, which are finite unless a window
  // never validates itself: the bound keeps such a window from holding the caller here.
  constexpr UINT kInputAndPaint = PM_QS_INPUT | PM_QS_PAINT | PM_QS_SENDMESSAGE;
  for (int count = 0;
       count < 10000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | kInputAndPaint); ++count) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    win32::DeliverMessage(msg);
  }
  // Timers that are due: one WM_TIMER each.
  for (int count = 0; count < 1000 && PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE);
       ++count) {
    win32::DeliverMessage(msg);
  }
}

void CallSoon(std::function<void()> fn) {
  win32::MessageWindow();
  win32::PostCall(std::move(fn));
}

// ----- CTimer

struct CTimer::Impl {
  std::shared_ptr<win32::TimerCore> core = std::make_shared<win32::TimerCore>();
};

CTimer::CTimer(std::function<void()> onTimeout) : m_impl(std::make_unique<Impl>()) {
  m_impl->core->handler = std::move(onTimeout);
}

CTimer::~CTimer() {
  Stop();
}

void CTimer::SetHandler(std::function<void()> onTimeout) {
  m_impl->core->handler = std::move(onTimeout);
}

void CTimer::Start(std::chrono::milliseconds interval, bool singleShot) {
  Stop();
  static UINT_PTR lastId = 0;
  HWND window = win32::MessageWindow();
  win32::TimerCore& core = *m_impl->core;
  const UINT_PTR id = ++lastId;
  const auto ms = std::clamp<long long>(interval.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  if (!SetTimer(window, id, static_cast<UINT>(ms), nullptr)) return;
  core.id = id;
  core.singleShot = singleShot;
  win32::Timers()[id] = m_impl->core;
}

void CTimer::Stop() {
  win32::StopTimer(*m_impl->core);
}

bool CTimer::IsActive() const {
  return m_impl->core->id != 0;
}

}  // namespace lumivex::ui
