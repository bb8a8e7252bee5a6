#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "pre_translate_recorder.h"
#include "run_loop.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/wait_cursor.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {
namespace {

using namespace std::chrono_literals;
using test::RunFor;
using test::RunUntil;

// Runs loop with a guard that ends it after limit; returns whether the guard had to.
bool RunGuarded(EventLoop& loop, std::chrono::milliseconds limit = 20s) {
  bool guardFired = false;
  CTimer guard([&] {
    guardFired = true;
    loop.Quit();
  });
  guard.Start(limit, true);
  loop.Run();
  return guardFired;
}

TEST(EventLoop, QuitBeforeRunReturnsAtOnce) {
  EventLoop loop;
  loop.Quit();
  EXPECT_FALSE(RunGuarded(loop, 5s));
}

TEST(EventLoop, AnOuterLoopQuitFromAnInnerOneEndsOnceTheInnerHas) {
  std::vector<std::string> log;
  EventLoop outer;
  CallSoon([&] {
    EventLoop inner;
    CallSoon([&] {
      outer.Quit();
      log.push_back("outer asked to quit");
      CallSoon([&] {
        log.push_back("inner asked to quit");
        inner.Quit();
      });
    });
    inner.Run();
    log.push_back("inner returned");
  });
  EXPECT_FALSE(RunGuarded(outer));
  log.push_back("outer returned");
  EXPECT_EQ(log, (std::vector<std::string>{"outer asked to quit", "inner asked to quit",
                                           "inner returned", "outer returned"}));
}

TEST(EventLoop, QuitMessageEndsEveryLoopAndIsLeftForTheProgramsOwn) {
  bool innerReturned = false;
  EventLoop outer;
  CallSoon([&] {
    EventLoop inner;
    CallSoon([] { PostQuitMessage(7); });
    inner.Run();
    innerReturned = true;
  });
  EXPECT_FALSE(RunGuarded(outer));
  EXPECT_TRUE(innerReturned);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST(EventLoop, CallSoonRunsInOrder) {
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) CallSoon([&order, i] { order.push_back(i); });
  ProcessPendingEvents();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(EventLoop, ProcessPendingEventsEndsWhenACallKeepsPostingItself) {
  struct State {
    int runs = 0;
    bool stop = false;
    std::function<void()> again;
  };
  auto state = std::make_shared<State>();
  std::weak_ptr<State> weak = state;
  state->again = [weak] {
    auto s = weak.lock();
    if (!s || s->stop) return;
    ++s->runs;
    CallSoon(s->again);
  };
  CallSoon(state->again);
  ProcessPendingEvents();
  EXPECT_EQ(state->runs, 1);
  ProcessPendingEvents();
  EXPECT_EQ(state->runs, 2);
  state->stop = true;
  ProcessPendingEvents();
}

// A message-only window that records the wParam of every kProbe it is handed.
constexpr UINT kProbe = WM_APP + 0x30;
std::vector<WPARAM> g_dispatched;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kProbe) {
    g_dispatched.push_back(wParam);
    return 0;
  }
  if (message == WM_SETCURSOR) {
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND ProbeWindow() {
  static HWND window = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ProbeProc;
    windowClass.hInstance = win32::Instance();
    windowClass.lpszClassName = L"LumivexLoopProbe";
    RegisterClassExW(&windowClass);
    return CreateWindowExW(0, L"LumivexLoopProbe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           win32::Instance(), nullptr);
  }();
  return window;
}

TEST(EventLoop, ThePreTranslateHookSeesEachMessageFirstAndMayConsumeIt) {
  HWND probe = ProbeWindow();
  ASSERT_NE(probe, nullptr);
  auto& recorder = win32::test::Recorder();
  recorder.seen.clear();
  recorder.consume = [probe](const MSG& msg) {
    return msg.hwnd == probe && msg.message == kProbe && msg.wParam % 2 == 1;
  };
  g_dispatched.clear();

  PostMessageW(probe, kProbe, 1, 0);
  PostMessageW(probe, kProbe, 2, 0);
  ProcessPendingEvents();
  PostMessageW(probe, kProbe, 3, 0);
  PostMessageW(probe, kProbe, 4, 0);
  EventLoop loop;
  CallSoon([&] { loop.Quit(); });
  EXPECT_FALSE(RunGuarded(loop));

  std::vector<WPARAM> seen;
  for (const MSG& msg : recorder.seen) {
    if (msg.hwnd == probe && msg.message == kProbe) seen.push_back(msg.wParam);
  }
  recorder.consume = nullptr;
  EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2, 3, 4}));
  EXPECT_EQ(g_dispatched, (std::vector<WPARAM>{2, 4}));
}

TEST(CTimer, ASingleShotFiresOnceAndIsInactiveInItsHandler) {
  int fired = 0;
  bool activeInHandler = true;
  CTimer timer;
  timer.SetHandler([&] {
    ++fired;
    activeInHandler = timer.IsActive();
  });
  timer.Start(10ms, true);
  EXPECT_TRUE(timer.IsActive());
  EXPECT_TRUE(RunUntil([&] { return fired >= 1; }));
  RunFor(150ms);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(activeInHandler);
  EXPECT_FALSE(timer.IsActive());
}

TEST(CTimer, ARepeatingTimerStoppedFromItsHandlerFiresNoMore) {
  int fired = 0;
  CTimer timer;
  timer.SetHandler([&] {
    if (++fired == 3) timer.Stop();
  });
  timer.Start(10ms);
  EXPECT_TRUE(RunUntil([&] { return fired >= 3; }));
  RunFor(150ms);
  EXPECT_EQ(fired, 3);
  EXPECT_FALSE(timer.IsActive());
}

TEST(CTimer, StoppedOrRestartedBeforeItsTimeTheOldIntervalIsGone) {
  int fired = 0;
  CTimer stopped([&] { ++fired; });
  stopped.Start(10ms);
  stopped.Stop();
  CTimer restarted([&] { ++fired; });
  restarted.Start(10ms, true);
  restarted.Start(5000ms, true);
  RunFor(200ms);
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(restarted.IsActive());
}

TEST(CTimer, ATimerDestroyedByItsOwnHandlerFinishesThatHandler) {
  auto timer = std::make_unique<CTimer>();
  auto payload = std::make_shared<std::string>("still here");
  std::string readAfter;
  timer->SetHandler([&timer, &readAfter, payload] {
    timer.reset();
    // The handler's own captures must outlive its timer until it returns.
    readAfter = *payload;
  });
  std::weak_ptr<std::string> watch = payload;
  payload.reset();
  timer->Start(10ms);
  EXPECT_TRUE(RunUntil([&] { return timer == nullptr; }));
  EXPECT_EQ(readAfter, "still here");
  RunFor(50ms);
  EXPECT_TRUE(watch.expired());
}

TEST(CTimer, AHandlerThatTurnsANestedLoopIsNotEnteredAgainMeanwhile) {
  int fired = 0;
  int depth = 0;
  int deepest = 0;
  bool otherTimerFiredInside = false;
  CTimer timer;
  timer.SetHandler([&] {
    ++fired;
    ++depth;
    deepest = std::max(deepest, depth);
    if (fired == 1) {
      // A message box from a timer: other timers still run, this one waits.
      int other = 0;
      CTimer otherTimer([&] { ++other; });
      otherTimer.Start(10ms);
      RunFor(150ms);
      otherTimerFiredInside = other > 0;
    }
    if (fired == 3) timer.Stop();
    --depth;
  });
  timer.Start(10ms);
  EXPECT_TRUE(RunUntil([&] { return fired >= 3; }));
  EXPECT_EQ(deepest, 1);
  EXPECT_TRUE(otherTimerFiredInside);
}

TEST(CWaitCursor, ShowsTheWaitCursorOverTheProgramsWindowsWhileOneLives) {
  HWND probe = ProbeWindow();
  const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  const auto askCursor = [probe] {
    SendMessageW(probe, WM_SETCURSOR, reinterpret_cast<WPARAM>(probe),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor();
  };
  EXPECT_NE(askCursor(), wait);
  {
    CWaitCursor outer;
    EXPECT_EQ(GetCursor(), wait);
    EXPECT_EQ(askCursor(), wait);
    {
      CWaitCursor inner;
      EXPECT_EQ(askCursor(), wait);
    }
    EXPECT_TRUE(win32::IsWaitCursorShown());
    EXPECT_EQ(askCursor(), wait);
  }
  EXPECT_FALSE(win32::IsWaitCursorShown());
  EXPECT_NE(GetCursor(), wait);
  EXPECT_NE(askCursor(), wait);
}

}  // namespace
}  // namespace lumivex::ui
