// Turning the GUI thread's loop in a test, with a bound that reports instead of hanging.
#pragma once

#include <chrono>
#include <functional>

#include "ui/framework/event_loop.h"

namespace lumivex::ui::test {

// Runs an event loop until done() holds (looked at every 5 ms) or limit has passed; returns
// done().
inline bool RunUntil(const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  if (done()) return true;
  EventLoop loop;
  CTimer poll([&] {
    if (done()) loop.Quit();
  });
  CTimer guard([&] { loop.Quit(); });
  poll.Start(std::chrono::milliseconds(5));
  guard.Start(limit, true);
  loop.Run();
  return done();
}

// Runs an event loop for about duration.
inline void RunFor(std::chrono::milliseconds duration) {
  EventLoop loop;
  CTimer stop([&] { loop.Quit(); });
  stop.Start(duration, true);
  loop.Run();
}

}  // namespace lumivex::ui::test
