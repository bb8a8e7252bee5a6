// The panel's one worker thread for exchanges with the board. Run hands the work to it and keeps
// the GUI thread turning meanwhile: the window paints and answers the desktop, acts on no click
// or key (input_gate.h), shows the wait cursor, and after a moment says on its status line what
// it waits for and for how long.
//
// Every piece of work runs on the same thread, one after the other, so exchanges never
// overlap. A Run started while another is under way (a timer or a notification that fires
// while the GUI thread waits) is queued behind it and returns once its own work has ended;
// it never refuses. Callers that would rather not wait ask Busy() first.
//
// Thread safety: construct, destroy and set observers on the GUI thread. Run may be called on
// the GUI thread (it turns the event loop until the work has ended), on the worker thread
// itself (work that runs further work: runs in place) or on any other thread (it blocks). Busy
// on any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "board/executor.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/gui_thread.h"
#include "ui/framework/input_gate.h"
#include "ui/framework/wait_cursor.h"

namespace lumivex::ui {

class CommandWorker : public board::Executor {
 public:
  // How long a command runs before the status line names it, and how often the time shown
  // moves on.
  static constexpr std::chrono::milliseconds kActivityDelay{300};
  static constexpr std::chrono::milliseconds kActivityRefresh{100};

  CommandWorker();
  // Lets queued work finish, then ends the thread. No Run may be under way.
  ~CommandWorker() override;

  void Run(std::string_view activityKey, const std::function<void()>& work) override;
  bool Busy() const override { return m_runs.load() > 0; }

  // GUI thread. What the status line shows while a command runs ("Reading temperatures… 3.4 s");
  // empty while none runs and during its first kActivityDelay.
  const std::string& ActivityText() const { return m_activityText; }
  // GUI thread. True while the GUI thread turns its event loop inside Run.
  bool GuiWaiting() const { return m_guiDepth > 0; }

  // GUI thread, whenever ActivityText changes.
  void SetActivityObserver(std::function<void(const std::string&)> observer);
  // GUI thread: the last command the GUI thread waited for has ended, and the window takes
  // input again. Runs before that Run returns to its caller.
  void SetIdleObserver(std::function<void()> observer);

 private:
  struct Job;
  void WorkerLoop();
  void Enqueue(const std::shared_ptr<Job>& job);
  void OnJobDone(const std::shared_ptr<Job>& job);
  void BeginBusy();
  void EndBusy();
  void RefreshActivity();

  std::thread m_thread;
  std::thread::id m_threadId;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::shared_ptr<Job>> m_queue;
  bool m_stop = false;
  // The key of the work running now; empty between pieces of work.
  std::string m_currentKey;
  std::atomic<int> m_runs{0};

  // GUI thread only.
  int m_guiDepth = 0;
  std::optional<ScopedInputBlock> m_inputBlock;
  std::optional<CWaitCursor> m_waitCursor;
  std::chrono::steady_clock::time_point m_busySince;
  CTimer m_refresh;
  std::string m_activityName;
  std::string m_activityText;
  std::function<void(const std::string&)> m_activityObserver;
  std::function<void()> m_idleObserver;
  GuiCallGate m_gate;
};

}  // namespace lumivex::ui
