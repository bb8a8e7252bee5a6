#include "ui/framework/command_worker.h"

#include <charconv>
#include <exception>

#include "settings/language.h"

namespace lumivex::ui {

struct CommandWorker::Job {
  std::function<void()> work;
  std::string key;
  bool done = false;  // under m_mutex
  std::exception_ptr error;
  EventLoop* loop = nullptr;  // GUI thread only
};

CommandWorker::CommandWorker() : m_refresh([this] { RefreshActivity(); }) {
  m_thread = std::thread(&CommandWorker::WorkerLoop, this);
  m_threadId = m_thread.get_id();
}

CommandWorker::~CommandWorker() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
  m_gate.Close();
}

void CommandWorker::WorkerLoop() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock lock(m_mutex);
      m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
      if (m_queue.empty()) return;
      job = std::move(m_queue.front());
      m_queue.pop_front();
      m_currentKey = job->key;
    }
    try {
      job->work();
    } catch (...) {
      job->error = std::current_exception();
    }
    {
      std::lock_guard lock(m_mutex);
      job->done = true;
      m_currentKey.clear();
    }
    m_changed.notify_all();
    // The GUI thread may be turning its event loop for this job; wake it.
    m_gate.Post([this, job] { OnJobDone(job); });
  }
}

void CommandWorker::Enqueue(const std::shared_ptr<Job>& job) {
  {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(job);
  }
  m_changed.notify_all();
}

void CommandWorker::OnJobDone(const std::shared_ptr<Job>& job) {
  if (job->loop != nullptr) job->loop->Quit();
}

void CommandWorker::Run(std::string_view activityKey, const std::function<void()>& work) {
  // Work that runs further work is already where it must be.
  if (std::this_thread::get_id() == m_threadId) {
    work();
    return;
  }
  auto job = std::make_shared<Job>();
  job->work = work;
  job->key = std::string(activityKey);
  ++m_runs;
  if (IsGuiThread()) {
    const bool outermost = m_guiDepth++ == 0;
    if (outermost) BeginBusy();
    Enqueue(job);
    bool done = false;
    {
      std::lock_guard lock(m_mutex);
      done = job->done;
    }
    if (!done) {
      EventLoop loop;
      job->loop = &loop;
      // Quits when OnJobDone runs for this job; a Run nested inside returns first.
      loop.Run();
      job->loop = nullptr;
    }
    --m_guiDepth;
    if (outermost) EndBusy();
  } else {
    Enqueue(job);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return job->done; });
  }
  --m_runs;
  if (job->error) std::rethrow_exception(job->error);
}

void CommandWorker::BeginBusy() {
  m_inputBlock.emplace();
  m_waitCursor.emplace();
  m_busySince = std::chrono::steady_clock::now();
  m_refresh.Start(kActivityRefresh);
}

void CommandWorker::EndBusy() {
  m_refresh.Stop();
  m_waitCursor.reset();
  m_inputBlock.reset();
  m_activityName.clear();
  if (!m_activityText.empty()) {
    m_activityText.clear();
    if (m_activityObserver) m_activityObserver(m_activityText);
  }
  if (m_idleObserver) m_idleObserver();
}

void CommandWorker::RefreshActivity() {
  const auto waited = std::chrono::steady_clock::now() - m_busySince;
  if (waited < kActivityDelay) return;
  std::string key;
  {
    std::lock_guard lock(m_mutex);
    key = m_currentKey;
  }
  // Between two pieces of work of one command the last name stays.
  if (!key.empty()) m_activityName = settings::Translate(key);
  if (m_activityName.empty()) return;
  const double seconds = std::chrono::duration<double>(waited).count();
  // Written the same whatever the desktop's number format, as the rest of the line is.
  char figure[32];
  const auto end =
      std::to_chars(figure, figure + sizeof figure, seconds, std::chars_format::fixed, 1);
  const std::string text = m_activityName + " " + std::string(figure, end.ptr) + " s";
  if (text == m_activityText) return;
  m_activityText = text;
  if (m_activityObserver) m_activityObserver(m_activityText);
}

void CommandWorker::SetActivityObserver(std::function<void(const std::string&)> observer) {
  m_activityObserver = std::move(observer);
}

void CommandWorker::SetIdleObserver(std::function<void()> observer) {
  m_idleObserver = std::move(observer);
}

}  // namespace lumivex::ui
