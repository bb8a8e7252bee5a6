// The serial device on the Win32 communication calls, against simulated boards on COM ports.
// The harness (run_under_wine.sh) maps the pseudo-terminals of Linux simulated boards into the
// Wine prefix and names them here:
//   LUMIVEX_TEST_BOARD_PORT   a board at 115200 baud
//   LUMIVEX_TEST_HANGUP_PORT  a board that closes its line after its first frame
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_device.h"

namespace lumivex::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr Timeouts kPortTimeouts{100, 0, 500, 1, 10000};
constexpr uint32_t kPortEvents = 0x1FD;

int PortFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : 0;
}

std::string DevicePath(int number) {
  return "\\\\.\\COM" + std::to_string(number);
}

// The class-D greeting the board echoes: E0, length, 44 00, "ShakeHands", check byte.
std::vector<uint8_t> GreetingFrame() {
  std::vector<uint8_t> frame = {0xE0, 15, 0x44, 0x00};
  for (char c : std::string("ShakeHands")) frame.push_back(static_cast<uint8_t>(c));
  uint8_t sum = 0;
  for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
  frame.push_back(static_cast<uint8_t>(-sum));
  return frame;
}

std::vector<uint8_t> GreetingAnswer() {
  std::vector<uint8_t> answer = {0xE0};
  for (char c : std::string("ShakeHands")) answer.push_back(static_cast<uint8_t>(c));
  answer.push_back(0x46);
  return answer;
}

// Processor time of the whole process (every thread), in milliseconds.
double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  auto ms = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
           10000.0;
  };
  return ms(kernel) + ms(user);
}

class BoardPort : public ::testing::Test {
 protected:
  void SetUp() override {
    port = PortFromEnvironment("LUMIVEX_TEST_BOARD_PORT");
    if (port == 0) GTEST_SKIP() << "no board: run through run_under_wine.sh";
  }

  // Opens the board's port the way the serial port does: settings, queues, time-outs, purge.
  void OpenAt(SerialDevice& device, uint32_t baud) {
    ASSERT_TRUE(device.Open(DevicePath(port))) << device.LastError();
    LineSettings settings;
    ASSERT_TRUE(device.GetLineSettings(settings)) << device.LastError();
    settings.baudRate = baud;
    settings.byteSize = 8;
    settings.parity = 0;
    settings.stopBits = 0;
    settings.parityCheck = false;
    ASSERT_TRUE(device.SetLineSettings(settings)) << device.LastError();
    ASSERT_TRUE(device.SetupQueues(4096, 4096)) << device.LastError();
    ASSERT_TRUE(device.SetTimeouts(kPortTimeouts)) << device.LastError();
    ASSERT_TRUE(device.Purge(kPurgeAll)) << device.LastError();
  }

  // Waits for events until want bytes have been read or the bound passes; gives the bytes and
  // every event mask seen.
  std::vector<uint8_t> Collect(SerialDevice& device, size_t want, std::chrono::milliseconds bound,
                               uint32_t* seen = nullptr) {
    std::vector<uint8_t> got;
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
      auto end = Clock::now() + bound;
      while (!done.load() && Clock::now() < end) std::this_thread::sleep_for(5ms);
      if (!done.load()) device.SetEventMask(0);
    });
    uint32_t all = 0;
    while (got.size() < want) {
      uint32_t mask = 0;
      if (!device.WaitEvent(mask)) {
        ADD_FAILURE() << "wait failed: " << device.LastError();
        break;
      }
      if (mask == 0) break;
      all |= mask;
      if ((mask & kEvRxChar) != 0) {
        uint8_t buffer[100];
        int32_t n = device.Read(buffer, sizeof buffer);
        if (n < 0) break;
        got.insert(got.end(), buffer, buffer + n);
      }
    }
    done.store(true);
    watchdog.join();
    if (seen != nullptr) *seen = all;
    return got;
  }

  int port = 0;
};

TEST_F(BoardPort, OnlyTheBoardsSpeedGetsAnAnswerAndSettingsReadBack) {
  struct Case {
    uint32_t baud;
    bool answered;
  };
  for (const Case& c : {Case{9600, false}, Case{115200, true}}) {
    SCOPED_TRACE(c.baud);
    SerialDevice device;
    OpenAt(device, c.baud);
    LineSettings back;
    ASSERT_TRUE(device.GetLineSettings(back));
    EXPECT_EQ(back.baudRate, c.baud);
    EXPECT_EQ(back.byteSize, 8);
    EXPECT_EQ(back.parity, 0);
    EXPECT_EQ(back.stopBits, 0);
    EXPECT_FALSE(back.parityCheck);
    Timeouts timeouts;
    ASSERT_TRUE(device.GetTimeouts(timeouts));
    EXPECT_EQ(timeouts.readTotalConstant, 500u);
    EXPECT_EQ(timeouts.writeTotalConstant, 10000u);

    ASSERT_TRUE(device.SetEventMask(kPortEvents));
    const std::vector<uint8_t> frame = GreetingFrame();
    ASSERT_GE(device.Write(frame.data(), static_cast<uint32_t>(frame.size())), 0);
    uint32_t seen = 0;
    std::vector<uint8_t> answer = Collect(device, GreetingAnswer().size(), 1500ms, &seen);
    if (c.answered) {
      EXPECT_EQ(answer, GreetingAnswer());
    } else {
      EXPECT_TRUE(answer.empty());
    }
    // The frame left the line either way.
    EXPECT_NE(seen & kEvTxEmpty, 0u);
  }
}

TEST_F(BoardPort, WriteEndsInOneEmptySignalBeforeTheAnswerIsRead) {
  SerialDevice device;
  OpenAt(device, 115200);
  ASSERT_TRUE(device.SetEventMask(kPortEvents));
  const std::vector<uint8_t> frame = GreetingFrame();
  auto start = Clock::now();
  int32_t taken = device.Write(frame.data(), static_cast<uint32_t>(frame.size()));
  ASSERT_GE(taken, 0) << device.LastError();
  uint32_t mask = 0;
  ASSERT_TRUE(device.WaitEvent(mask));
  EXPECT_NE(mask & kEvTxEmpty, 0u) << mask;
  EXPECT_LT(Clock::now() - start, 1s);

  // The answer follows; the empty signal is not given again without another write.
  uint32_t seen = 0;
  std::vector<uint8_t> answer = Collect(device, GreetingAnswer().size(), 1500ms, &seen);
  EXPECT_EQ(answer, GreetingAnswer());
  EXPECT_EQ(seen & kEvTxEmpty, 0u);

  // The caller's bytes may change as soon as Write returns: the device sent its own copy.
  std::vector<uint8_t> scratch = GreetingFrame();
  ASSERT_GE(device.Write(scratch.data(), static_cast<uint32_t>(scratch.size())), 0);
  std::fill(scratch.begin(), scratch.end(), uint8_t{0});
  EXPECT_EQ(Collect(device, GreetingAnswer().size(), 1500ms), GreetingAnswer());
}

TEST_F(BoardPort, ReadTakesWaitingBytesAtOnceAndWaitsOnlyWhenEmpty) {
  SerialDevice device;
  OpenAt(device, 115200);
  // Nothing waiting: the read waits up to its total time-out and comes back empty.
  uint8_t buffer[100];
  auto start = Clock::now();
  EXPECT_EQ(device.Read(buffer, sizeof buffer), 0);
  auto waited = Clock::now() - start;
  EXPECT_GE(waited, 400ms);
  EXPECT_LT(waited, 3s);

  const std::vector<uint8_t> frame = GreetingFrame();
  ASSERT_GE(device.Write(frame.data(), static_cast<uint32_t>(frame.size())), 0);
  // The answer's 12 bytes: a read for 100 returns what came, it does not wait for 100.
  std::vector<uint8_t> got;
  start = Clock::now();
  while (got.size() < GreetingAnswer().size() && Clock::now() - start < 2s) {
    int32_t n = device.Read(buffer, sizeof buffer);
    ASSERT_GE(n, 0) << device.LastError();
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_EQ(got, GreetingAnswer());
  EXPECT_LT(Clock::now() - start, 1500ms);
  uint32_t waiting = 99;
  uint32_t errors = 99;
  ASSERT_TRUE(device.ClearErrors(&errors, &waiting));
  EXPECT_EQ(waiting, 0u);
  EXPECT_EQ(errors, 0u);
}

TEST_F(BoardPort, StoppingAndClosingEndAPendingWaitPromptly) {
  for (bool release : {false, true}) {
    SCOPED_TRACE(release ? "released while waiting" : "mask cleared while waiting");
    auto device = std::make_shared<SerialDevice>();
    OpenAt(*device, 115200);
    ASSERT_TRUE(device->SetEventMask(kPortEvents));
    std::atomic<bool> returned{false};
    uint32_t mask = 0xFFFF;
    bool waited = false;
    std::thread monitor([&] {
      waited = device->WaitEvent(mask);
      returned.store(true);
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(returned.load()) << "a quiet port ended the wait: " << waited << " mask " << mask
                                  << " error " << device->LastError();
    auto start = Clock::now();
    if (release) {
      device->Release();
    } else {
      device->SetEventMask(0);
    }
    while (!returned.load() && Clock::now() - start < 5s) std::this_thread::sleep_for(1ms);
    auto took = Clock::now() - start;
    ASSERT_TRUE(returned.load());
    monitor.join();
    EXPECT_TRUE(waited) << device->LastError();
    EXPECT_EQ(mask, 0u);
    EXPECT_LT(took, 500ms);
    if (release) {
      // The line is let go: another open gets it, while the old object still lives.
      EXPECT_FALSE(device->IsOpen());
      uint32_t ignored = 0;
      EXPECT_FALSE(device->WaitEvent(ignored));
      SerialDevice next;
      EXPECT_TRUE(next.Open(DevicePath(port))) << next.LastError();
    } else {
      device->Close();
    }
  }
}

TEST_F(BoardPort, APortHeldByAnotherOpenIsRefusedUntilItIsClosed) {
  SerialDevice holder;
  ASSERT_TRUE(holder.Open(DevicePath(port))) << holder.LastError();
  SerialDevice second;
  EXPECT_FALSE(second.Open(DevicePath(port)));
  EXPECT_EQ(second.LastError(), static_cast<int>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(second.IsOpen());
  holder.Close();
  EXPECT_TRUE(second.Open(DevicePath(port))) << second.LastError();
}

TEST(SerialDeviceOpen, WhatIsNotAnOpenablePortFailsWithTheSystemsReason) {
  char folder[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
  const std::string file = std::string(folder) + "lumivex-not-a-port.txt";
  HANDLE created = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  CloseHandle(created);
  for (const std::string& path : {DevicePath(199), file, std::string("\\\\.\\COM\xff")}) {
    SCOPED_TRACE(path);
    SerialDevice device;
    EXPECT_FALSE(device.Open(path));
    EXPECT_NE(device.LastError(), 0);
    EXPECT_FALSE(device.IsOpen());
    uint8_t byte = 0;
    EXPECT_EQ(device.Write(&byte, 1), -1);
    EXPECT_EQ(device.Read(&byte, 1), -1);
    EXPECT_EQ(device.LastError(), static_cast<int>(ERROR_INVALID_HANDLE));
  }
  SerialDevice device;
  EXPECT_FALSE(device.Open(DevicePath(199)));
  EXPECT_TRUE(device.LastError() == static_cast<int>(ERROR_FILE_NOT_FOUND) ||
              device.LastError() == static_cast<int>(ERROR_PATH_NOT_FOUND))
      << device.LastError();
  DeleteFileA(file.c_str());
}

TEST(SerialDeviceHangUp, ABoardThatHangsUpIsReportedOnceWithoutSpinning) {
  const int port = PortFromEnvironment("LUMIVEX_TEST_HANGUP_PORT");
  if (port == 0) GTEST_SKIP() << "no board that hangs up: run through run_under_wine.sh";
  SerialDevice device;
  ASSERT_TRUE(device.Open(DevicePath(port))) << device.LastError();
  LineSettings settings;
  ASSERT_TRUE(device.GetLineSettings(settings));
  settings.baudRate = 115200;
  ASSERT_TRUE(device.SetLineSettings(settings));
  ASSERT_TRUE(device.SetTimeouts(kPortTimeouts));
  ASSERT_TRUE(device.SetEventMask(kPortEvents));
  // Its first frame makes this board close the line.
  const std::vector<uint8_t> frame = GreetingFrame();
  ASSERT_GE(device.Write(frame.data(), static_cast<uint32_t>(frame.size())), 0);

  int hangUps = 0;
  auto start = Clock::now();
  while (hangUps == 0 && Clock::now() - start < 10s) {
    uint32_t mask = 0;
    if (!device.WaitEvent(mask)) {
      std::this_thread::sleep_for(10ms);  // as the monitor loop does after a failed wait
      continue;
    }
    if ((mask & kEvHangUp) != 0) ++hangUps;
    if ((mask & kEvRxChar) != 0) {
      uint8_t buffer[100];
      device.Read(buffer, sizeof buffer);
    }
  }
  ASSERT_EQ(hangUps, 1);
  EXPECT_TRUE(device.HungUp());
  EXPECT_NE(device.LastError(), 0);
  std::printf("hang-up seen as system error %d\n", device.LastError());

  // Afterwards the wait sleeps until it is stopped: no second report, no spin.
  std::atomic<bool> returned{false};
  uint32_t after = 0xFFFF;
  std::thread monitor([&] {
    device.WaitEvent(after);
    returned.store(true);
  });
  const double cpuBefore = ProcessCpuMs();
  std::this_thread::sleep_for(1s);
  const double cpuMs = ProcessCpuMs() - cpuBefore;
  EXPECT_FALSE(returned.load());
  EXPECT_LT(cpuMs, 300.0) << "processor time in 1 s after the hang-up";
  RecordProperty("cpu_ms_in_1s_after_hangup", std::to_string(cpuMs));
  device.SetEventMask(0);
  monitor.join();
  EXPECT_EQ(after, 0u);

  uint8_t byte = 0;
  EXPECT_EQ(device.Write(&byte, 1), -1);
  EXPECT_EQ(device.Read(&byte, 1), -1);
  uint32_t waiting = 0;
  EXPECT_FALSE(device.ClearErrors(nullptr, &waiting));
  device.Close();
  EXPECT_FALSE(device.IsOpen());
}

// Not a bound on the driver (Wine's event wait ends at once on a pseudo-terminal, so the wait
// looks at the queue each millisecond there): a quiet port gives no event, and the processor
// time that waiting costs is recorded for the figures.
TEST_F(BoardPort, AQuietPortGivesNoEventWhileItIsWaitedOn) {
  SerialDevice device;
  OpenAt(device, 115200);
  ASSERT_TRUE(device.SetEventMask(kPortEvents));
  const char* seconds = std::getenv("LUMIVEX_TEST_QUIET_SECONDS");
  const auto quiet =
      std::chrono::milliseconds(seconds != nullptr ? std::atoi(seconds) * 1000 : 1000);
  std::atomic<bool> returned{false};
  uint32_t mask = 0xFFFF;
  bool waited = false;
  std::thread monitor([&] {
    waited = device.WaitEvent(mask);
    returned.store(true);
  });
  const double cpuBefore = ProcessCpuMs();
  std::this_thread::sleep_for(quiet);
  const double cpuMs = ProcessCpuMs() - cpuBefore;
  EXPECT_FALSE(returned.load()) << "the wait ended: " << waited << " mask " << mask << " error "
                                << device.LastError();
  device.SetEventMask(0);
  monitor.join();
  EXPECT_EQ(mask, 0u);
  RecordProperty("quiet_wait_ms", std::to_string(quiet.count()));
  RecordProperty("quiet_wait_process_cpu_ms", std::to_string(cpuMs));
  std::printf("quiet wait: %lld ms, process CPU %.1f ms\n", static_cast<long long>(quiet.count()),
              cpuMs);
}

}  // namespace
}  // namespace lumivex::platform
