#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/serial_device.h"
#include "platform/serial_device_testing.h"
#include "tests/support/test_pty.h"

namespace lumivex::platform {
namespace {

using lumivex::testing::TestPty;
using lumivex::testing::WaitFor;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr Timeouts kPortTimeouts{100, 0, 500, 1, 10000};

class SerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(device.Open(pty.Slave())) << device.LastError();
    ASSERT_TRUE(device.SetTimeouts(kPortTimeouts));
  }

  uint32_t Waiting() {
    uint32_t waiting = 0;
    return device.ClearErrors(nullptr, &waiting) ? waiting : 0;
  }

  TestPty pty;
  SerialDevice device;
};

TEST(SerialDeviceOpen, RefusalsCarryTheirErrno) {
  char folder[] = "/tmp/lumivex-device-test.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string file = std::string(folder) + "/not-a-tty";
  std::ofstream(file) << "x";
  struct Case {
    std::string path;
    int error;
  };
  for (const Case& c :
       {Case{std::string(folder) + "/missing", ENOENT}, Case{file, ENOTTY}, Case{folder, EISDIR}}) {
    SCOPED_TRACE(c.path);
    SerialDevice device;
    EXPECT_FALSE(device.Open(c.path));
    EXPECT_EQ(device.LastError(), c.error);
    EXPECT_FALSE(device.IsOpen());
    uint8_t byte = 0;
    EXPECT_EQ(device.Write(&byte, 1), -1);
    EXPECT_EQ(device.LastError(), EBADF);
  }
  std::filesystem::remove_all(folder);
}

TEST_F(SerialDeviceTest, SpeedsWithoutATermiosConstantAreRefused) {
  LineSettings settings;
  ASSERT_TRUE(device.GetLineSettings(settings));
  for (uint32_t speed : {0u, 12345u, 115201u}) {
    settings.baudRate = speed;
    EXPECT_FALSE(device.SetLineSettings(settings)) << speed;
    EXPECT_EQ(device.LastError(), EINVAL);
  }
  settings.baudRate = 57600;
  settings.byteSize = 9;
  EXPECT_FALSE(device.SetLineSettings(settings));
  settings.byteSize = 8;
  ASSERT_TRUE(device.SetLineSettings(settings));
  LineSettings back;
  ASSERT_TRUE(device.GetLineSettings(back));
  EXPECT_EQ(back.baudRate, 57600u);
  EXPECT_EQ(back.byteSize, 8);
}

TEST_F(SerialDeviceTest, ReadGivesWaitingBytesAtOnceAndWaitsOnlyWhenEmpty) {
  ASSERT_TRUE(pty.Send({1, 2, 3}));
  ASSERT_TRUE(WaitFor([&] { return Waiting() == 3; }, 2s));
  uint8_t buffer[100] = {};
  auto start = Clock::now();
  EXPECT_EQ(device.Read(buffer, 100), 3);
  EXPECT_LT(Clock::now() - start, 50ms);  // not held for the 100 ms gap
  EXPECT_EQ(buffer[2], 3);

  // Nothing waiting: the read waits up to its total time-out and comes back empty.
  start = Clock::now();
  EXPECT_EQ(device.Read(buffer, 100), 0);
  auto waited = Clock::now() - start;
  EXPECT_GE(waited, 450ms);
  EXPECT_LT(waited, 3s);

  // Bytes that come during the wait end it.
  std::thread board([&] {
    std::this_thread::sleep_for(50ms);
    pty.Send({9});
  });
  start = Clock::now();
  EXPECT_EQ(device.Read(buffer, 100), 1);
  EXPECT_LT(Clock::now() - start, 400ms);
  board.join();
}

TEST_F(SerialDeviceTest, WaitReportsBytesAndEndsOnAnEmptyMask) {
  ASSERT_TRUE(device.SetEventMask(kEvRxChar | kEvTxEmpty));
  std::thread board([&] {
    std::this_thread::sleep_for(30ms);
    pty.Send({7, 7});
  });
  uint32_t mask = 0;
  ASSERT_TRUE(device.WaitEvent(mask));
  EXPECT_EQ(mask, kEvRxChar);
  board.join();
  ASSERT_TRUE(device.Purge(kPurgeAll));
  EXPECT_EQ(Waiting(), 0u);

  std::atomic<bool> ended{false};
  std::thread monitor([&] {
    uint32_t got = 1;
    device.WaitEvent(got);
    EXPECT_EQ(got, 0u);
    ended = true;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(ended.load());  // blocked: the line is quiet
  device.SetEventMask(0);
  EXPECT_TRUE(WaitFor([&] { return ended.load(); }, 1s));
  monitor.join();
}

// A line whose driver counts breaks, as a UART driver does; a pseudo-terminal cannot carry a
// break, so the test delivers one as the tty layer would.
class SerialDeviceBreakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDriverCountersForTesting([this](int, DriverCounters& c) {
      c.brk = breaks.load();
      return true;
    });
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(device.Open(pty.Slave())) << device.LastError();
    ASSERT_TRUE(device.SetTimeouts(kPortTimeouts));
  }
  void TearDown() override {
    device.Close();
    SetDriverCountersForTesting(nullptr);
  }

  // What the Linux tty layer does with a break under the input flags that the device set: it
  // counts it, then drops it (IGNBRK), turns it into a signal (BRKINT), or queues it as data,
  // a 0x00 (marked FF 00 first under PARMRK).
  void InjectBreak() {
    ++breaks;
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);  // a master reports its slave's settings
    if ((tio.c_iflag & (IGNBRK | BRKINT)) != 0) return;
    if ((tio.c_iflag & PARMRK) != 0) {
      ASSERT_TRUE(pty.Send({0xFF, 0x00, 0x00}));
    } else {
      ASSERT_TRUE(pty.Send({0x00}));
    }
  }

  std::atomic<int> breaks{0};
  TestPty pty;
  SerialDevice device;
};

TEST_F(SerialDeviceBreakTest, ABreakIsReportedButNeverReadAsData) {
  ASSERT_TRUE(device.SetEventMask(kEvRxChar | kEvBreak | kEvErr));
  InjectBreak();
  ASSERT_TRUE(pty.Send({'A', 'c', 'k'}));
  // The bytes wake the wait; the break counted meanwhile is reported by the same wait or the
  // next one. A watchdog ends a wait that would never come.
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (auto end = Clock::now() + 2s; !done && Clock::now() < end;)
      std::this_thread::sleep_for(5ms);
    if (!done) device.SetEventMask(0);
  });
  uint32_t seen = 0;
  for (int wait = 0; wait < 2 && (seen & kEvBreak) == 0; ++wait) {
    uint32_t mask = 0;
    if (!device.WaitEvent(mask)) break;
    seen |= mask;
  }
  done = true;
  watchdog.join();
  EXPECT_EQ(seen, kEvRxChar | kEvBreak);
  uint8_t buffer[16] = {};
  int32_t got = device.Read(buffer, sizeof buffer);
  ASSERT_GE(got, 0);
  EXPECT_EQ(std::string(buffer, buffer + got), "Ack");
  uint32_t errors = 0;
  ASSERT_TRUE(device.ClearErrors(&errors, nullptr));
  EXPECT_EQ(errors, kErrBreak);
  EXPECT_TRUE(device.ClearBreak());
  ASSERT_TRUE(device.ClearErrors(&errors, nullptr));
  EXPECT_EQ(errors, 0u);
}

TEST_F(SerialDeviceTest, WriteIsFollowedByOneEmptyOutputEvent) {
  ASSERT_TRUE(device.SetEventMask(kEvRxChar | kEvTxEmpty));
  const uint8_t frame[] = {0xE0, 0x04, 0x41, 0x01};
  EXPECT_EQ(device.Write(frame, sizeof frame), 4);
  uint32_t mask = 0;
  ASSERT_TRUE(device.WaitEvent(mask));
  EXPECT_EQ(mask, kEvTxEmpty);
  EXPECT_EQ(pty.Receive(4, 1s), std::vector<uint8_t>(frame, frame + 4));
  // Reported once: the next wait blocks until something else happens.
  std::thread stopper([&] {
    std::this_thread::sleep_for(50ms);
    device.SetEventMask(0);
  });
  ASSERT_TRUE(device.WaitEvent(mask));
  EXPECT_EQ(mask, 0u);
  stopper.join();
}

TEST_F(SerialDeviceTest, HangUpIsReportedOnceThenTheDeviceStaysQuiet) {
  ASSERT_TRUE(device.SetEventMask(kEvRxChar | kEvTxEmpty));
  pty.CloseMaster();
  uint32_t mask = 0;
  ASSERT_TRUE(device.WaitEvent(mask));
  EXPECT_EQ(mask, kEvHangUp);
  EXPECT_TRUE(device.HungUp());
  uint8_t buffer[10];
  EXPECT_EQ(device.Read(buffer, 10), -1);
  EXPECT_EQ(device.Write(buffer, 10), -1);
  EXPECT_EQ(device.LastError(), EIO);
  EXPECT_FALSE(device.ClearErrors(nullptr, nullptr));

  std::atomic<bool> ended{false};
  std::thread monitor([&] {
    uint32_t got = 1;
    device.WaitEvent(got);
    EXPECT_EQ(got, 0u);
    ended = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(ended.load());
  device.SetEventMask(0);
  EXPECT_TRUE(WaitFor([&] { return ended.load(); }, 1s));
  monitor.join();
}

TEST_F(SerialDeviceTest, ReleaseLetsTheLineGoAndKeepsTheObjectSafe) {
  SerialDevice second;
  EXPECT_FALSE(second.Open(pty.Slave()));
  EXPECT_TRUE(second.LastError() == EWOULDBLOCK || second.LastError() == EBUSY);
  device.Release();
  EXPECT_FALSE(device.IsOpen());
  EXPECT_TRUE(second.Open(pty.Slave())) << second.LastError();
  uint8_t byte = 0;
  EXPECT_EQ(device.Read(&byte, 1), -1);  // the released object refuses, on no one's descriptor
}

}  // namespace
}  // namespace lumivex::platform
