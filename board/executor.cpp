#include "board/executor.h"

namespace lumivex::board {

namespace {
InlineExecutor DefaultExecutor;
Executor* Installed = nullptr;
}  // namespace

void InlineExecutor::Run(std::string_view /*activityKey*/, const std::function<void()>& work) {
  const bool outer = !running_;
  running_ = true;
  work();
  if (outer) running_ = false;
}

Executor& CurrentExecutor() {
  return Installed != nullptr ? *Installed : DefaultExecutor;
}

void SetExecutor(Executor* executor) {
  Installed = executor;
}

}  // namespace lumivex::board
