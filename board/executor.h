// Where board exchanges run. lumivexctl runs them in place on its main thread; the panel
// installs an executor that runs them on its one worker thread while the window keeps painting.
//
// Thread safety: SetExecutor and CurrentExecutor on the front end's main thread (the GUI thread,
// or the CLI's main thread). Run is called on that thread and returns when work has ended.
#pragma once

#include <functional>
#include <string_view>

namespace lumivex::board {

class Executor {
 public:
  virtual ~Executor() = default;
  // Runs work to its end and returns after it. activityKey is a language key that names what is
  // waited for ("Busy.ReadTemperatures"); a front end may show it while work runs. work must not
  // touch a window: whatever it reports, the caller shows after Run has returned.
  virtual void Run(std::string_view activityKey, const std::function<void()>& work) = 0;
  // True while a Run is under way. Work started by a timer (a periodic reading) waits for an
  // idle moment instead of queuing behind a command the user is waiting for.
  virtual bool Busy() const = 0;
};

// Runs work in place, on the calling thread.
class InlineExecutor final : public Executor {
 public:
  void Run(std::string_view activityKey, const std::function<void()>& work) override;
  bool Busy() const override { return running_; }

 private:
  bool running_ = false;
};

// The executor every workflow of this layer runs its exchanges on; an InlineExecutor until a
// front end installs its own. nullptr restores the in-place one. The executor must outlive its
// installation.
Executor& CurrentExecutor();
void SetExecutor(Executor* executor);

}  // namespace lumivex::board
