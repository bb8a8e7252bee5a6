#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "run_loop.h"
#include "ui/framework/event_loop.h"
#include "ui/framework/gui_thread.h"
#include "ui/framework/win32/internal.h"

namespace lumivex::ui {
namespace {

using namespace std::chrono_literals;
using test::RunUntil;

TEST(GuiCallGate, PostsFromAWorkerRunOnTheGuiThreadInOrder) {
  GuiCallGate gate;
  const DWORD gui = GetCurrentThreadId();
  // More than a thread's message queue holds (10,000), all posted before the GUI thread looks.
  constexpr int kCalls = 25000;
  std::vector<int> order;
  int onOtherThread = 0;
  std::atomic<int> refused{0};
  std::thread worker([&] {
    for (int i = 0; i < kCalls; ++i) {
      const bool posted = gate.Post([&order, &onOtherThread, i, gui] {
        order.push_back(i);
        if (GetCurrentThreadId() != gui) ++onOtherThread;
      });
      if (!posted) ++refused;
    }
  });
  worker.join();
  EXPECT_EQ(refused.load(), 0);
  EXPECT_TRUE(RunUntil([&] { return order.size() >= kCalls; }));
  ASSERT_EQ(order.size(), static_cast<size_t>(kCalls));
  for (int i = 0; i < kCalls; ++i) ASSERT_EQ(order[i], i);
  EXPECT_EQ(onOtherThread, 0);
}

TEST(GuiCallGate, CallFromAWorkerReturnsAfterTheGuiThreadRanIt) {
  GuiCallGate gate;
  const DWORD gui = GetCurrentThreadId();
  DWORD ranOn = 0;
  int value = 0;
  std::atomic<bool> finished{false};
  bool result = false;
  int seenByWorker = -1;
  bool workerIsGui = true;
  std::thread worker([&] {
    workerIsGui = IsGuiThread();
    result = gate.Call([&] {
      ranOn = GetCurrentThreadId();
      value = 42;
    });
    seenByWorker = value;
    finished = true;
  });
  EXPECT_TRUE(RunUntil([&] { return finished.load(); }));
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(seenByWorker, 42);
  EXPECT_EQ(ranOn, gui);
  EXPECT_FALSE(workerIsGui);
  EXPECT_TRUE(IsGuiThread());
}

TEST(GuiCallGate, CallOnTheGuiThreadRunsAtOnce) {
  GuiCallGate gate;
  bool ran = false;
  EXPECT_TRUE(gate.Call([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(GuiCallGate, CloseWakesAWaitingCallerAndItsCallNeverRuns) {
  GuiCallGate gate;
  std::atomic<bool> ran{false};
  std::atomic<bool> calling{false};
  auto result = std::async(std::launch::async, [&] {
    calling = true;
    return gate.Call([&] { ran = true; });
  });
  while (!calling) std::this_thread::yield();
  // Mostly the call is queued and its caller waits by now; either way it must not run.
  std::this_thread::sleep_for(50ms);
  gate.Close();
  ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(result.get());
  ProcessPendingEvents();
  EXPECT_FALSE(ran);
}

TEST(GuiCallGate, CloseDropsQueuedCallsAndRefusesLaterOnes) {
  GuiCallGate gate;
  int ran = 0;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(gate.Post([&] { ++ran; }));
  gate.Close();
  EXPECT_TRUE(gate.IsClosed());
  EXPECT_FALSE(gate.Post([&] { ++ran; }));
  EXPECT_FALSE(gate.Call([&] { ++ran; }));
  bool refusedFromWorker = false;
  std::thread([&] { refusedFromWorker = !gate.Call([&] { ++ran; }); }).join();
  EXPECT_TRUE(refusedFromWorker);
  ProcessPendingEvents();
  EXPECT_EQ(ran, 0);
}

TEST(GuiCallGate, ADestroyedGateRunsNoneOfItsQueuedCalls) {
  int ran = 0;
  {
    GuiCallGate gate;
    gate.Post([&] { ++ran; });
  }
  ProcessPendingEvents();
  EXPECT_EQ(ran, 0);
}

TEST(GuiCallGate, CallsBehindOneThatTurnsANestedLoopRunInThatLoop) {
  GuiCallGate gate;
  std::vector<std::string> log;
  std::thread worker([&] {
    gate.Post([&] {
      log.push_back("first begins");
      // A message box in a call: the calls behind it must not wait for the box to close.
      RunUntil([&] { return log.size() >= 3; }, 20s);
      log.push_back("first ends");
    });
    gate.Post([&] { log.push_back("second"); });
    gate.Post([&] { log.push_back("third"); });
  });
  worker.join();
  EXPECT_TRUE(RunUntil([&] { return log.size() >= 4; }));
  EXPECT_EQ(log, (std::vector<std::string>{"first begins", "second", "third", "first ends"}));
}

TEST(GuiCallGate, CallSoonAndGateCallsFromTheGuiThreadKeepTheirOrder) {
  GuiCallGate gate;
  std::vector<int> order;
  gate.Post([&] { order.push_back(1); });
  CallSoon([&] { order.push_back(2); });
  ProcessPendingEvents();
  gate.Post([&] { order.push_back(3); });
  ProcessPendingEvents();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace lumivex::ui
