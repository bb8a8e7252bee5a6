#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_pty.h"
#include "transport/link.h"
#include "transport/link_testing.h"
#include "transport/port_table.h"
#include "transport/ports.h"
#include "transport/receive_ring.h"
#include "transport/serial_port.h"
#include "transport/serial_port_testing.h"

namespace lumivex::transport {
namespace {

using lumivex::testing::TestPty;
using lumivex::testing::WaitFor;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> Pattern(size_t count, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<uint8_t>(seed + i * 7);
  }
  return bytes;
}

std::vector<uint8_t> TakeRing() {
  std::vector<uint8_t> bytes;
  while (ReceiveRing.HasData()) {
    bytes.push_back(ReceiveRing.Pop());
  }
  return bytes;
}

double ThreadCpuMs(std::thread& thread) {
  clockid_t clock{};
  if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0) {
    return -1;
  }
  timespec spent{};
  clock_gettime(clock, &spent);
  return static_cast<double>(spent.tv_sec) * 1e3 + static_cast<double>(spent.tv_nsec) / 1e6;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    // Each test gets its own virtual ports folder, so parallel runs never see each other's ports.
    char folder[] = "/tmp/lumivex-serialport-test.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    runtimeDir = folder;
    setenv("XDG_RUNTIME_DIR", folder, 1);
    std::filesystem::create_directories(runtimeDir / "lumivex" / "ports");
    LinkReset();
  }

  void TearDown() override {
    for (auto& port : PortTable) {
      port.Close(CSerialPort::kStopTimeoutMs);
    }
    std::filesystem::remove_all(runtimeDir);
  }

  void LinkAsCom(int number, const std::string& target) {
    std::filesystem::create_symlink(
        target, runtimeDir / "lumivex" / "ports" / ("COM" + std::to_string(number)));
  }

  TestPty pty;
  std::filesystem::path runtimeDir;
};

TEST_F(SerialPortTest, LineSettingsReadBackAsAskedWithFlowControlKept) {
  struct Case {
    uint32_t baud;
    speed_t code;
    tcflag_t flowControl;
  };
  for (const Case& c :
       {Case{9600, B9600, 0}, Case{115200, B115200, CRTSCTS}, Case{19200, B19200, CRTSCTS}}) {
    SCOPED_TRACE(c.baud);
    TestPty board;
    ASSERT_TRUE(board.Ok());
    // Leave framing the port must correct and flow control it must keep.
    termios before{};
    ASSERT_EQ(tcgetattr(board.Master(), &before), 0);
    before.c_cflag = (before.c_cflag & ~static_cast<tcflag_t>(CSIZE | CRTSCTS)) | CS7 | PARENB |
                     CSTOPB | c.flowControl;
    before.c_iflag |= IXON | IXOFF | INPCK;
    ASSERT_EQ(tcsetattr(board.Master(), TCSANOW, &before), 0);

    ASSERT_TRUE(OpenPortOnDevice(3, board.Slave(), c.baud));
    // The master reads the slave's settings: what a board on the line would be driven with.
    termios after{};
    ASSERT_EQ(tcgetattr(board.Master(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), c.code);
    EXPECT_EQ(cfgetispeed(&after), c.code);
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & PARENB, 0u);
    EXPECT_EQ(after.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(after.c_iflag & INPCK, 0u);
    EXPECT_EQ(after.c_cflag & CRTSCTS, c.flowControl);
    // XON/XOFF would eat 0x11 and 0x13 out of binary frames.
    EXPECT_EQ(after.c_iflag & (IXON | IXOFF), 0u);
    // Raw: the protocol's bytes pass untouched.
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);
    ClosePort();
  }
}

TEST_F(SerialPortTest, NumbersWithoutPortFailWithTheLineAndKeepTheNumber) {
  LinkAsCom(4, pty.Slave());
  struct Case {
    uint8_t number;
    int error;
  };
  for (const Case& c : {Case{0, ENOENT}, Case{255, ENOENT}, Case{7, ENOENT}}) {
    SCOPED_TRACE(static_cast<int>(c.number));
    ASSERT_TRUE(OpenPort(4, 9600));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(OpenPort(c.number, 9600));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "COM not open , error : " + std::to_string(c.error) + "\n");
    EXPECT_EQ(CurrentPortNumber.load(), c.number);
    EXPECT_EQ(LastOpenError(), c.error);
    // ClosePort now acts on the number tried, which is closed: COM 4 stays open.
    ClosePort();
    EXPECT_TRUE(PortTable[4].IsOpen());
    // A send on the failed number writes nothing to COM 4.
    SetLinkPortResolver(nullptr);
    ASSERT_EQ(PortTableLinkPort()->Write(Pattern(3).data(), 3), 0u);
    EXPECT_TRUE(pty.Receive(1, 30ms).empty());
    PortTable[4].Close(CSerialPort::kStopTimeoutMs);
  }
}

TEST_F(SerialPortTest, OpenPortFindsVirtualPortAndReopensAnOpenPort) {
  LinkAsCom(5, pty.Slave());
  ASSERT_TRUE(OpenPort(5, 115200));
  EXPECT_EQ(CurrentPortNumber.load(), 5);
  EXPECT_EQ(LastOpenError(), 0);
  ASSERT_TRUE(PortTable[5].IsOpen());

  // Opening the same number again closes it first: one monitor thread, the device not held
  // against itself.
  ASSERT_TRUE(OpenPort(5, 9600));
  ASSERT_TRUE(PortTable[5].IsOpen());
  termios settings{};
  ASSERT_EQ(tcgetattr(pty.Master(), &settings), 0);
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B9600));

  ASSERT_TRUE(pty.Send(Pattern(20)));
  ASSERT_TRUE(WaitFor([] { return ReceiveRing.Count() >= 20; }, 2s));
  EXPECT_EQ(TakeRing(), Pattern(20));  // each byte once: no second reader
}

TEST_F(SerialPortTest, HeldPortIsRefused) {
  ASSERT_TRUE(OpenPortOnDevice(3, pty.Slave(), 9600));

  // Another open in this process, through another port object.
  CLinkPort other;
  EXPECT_FALSE(other.OpenOn(9, pty.Slave(), 9600));
  EXPECT_TRUE(other.LastError() == EWOULDBLOCK || other.LastError() == EBUSY) << other.LastError();
  EXPECT_FALSE(other.IsOpen());
  EXPECT_TRUE(PortTable[3].IsOpen());
  ClosePort();

  // Another process holding it.
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(release[1]);  // so that the parent's close is the end of the pipe
    int fd = open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
    (void)!write(ready[1], &ok, 1);
    char dummy;
    (void)!read(release[0], &dummy, 1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, '1');
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(OpenPortOnDevice(3, pty.Slave(), 9600));
  std::string line = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(LastOpenError() == EWOULDBLOCK || LastOpenError() == EBUSY) << LastOpenError();
  EXPECT_EQ(line, "COM not open , error : " + std::to_string(LastOpenError()) + "\n");
  EXPECT_FALSE(PortTable[3].IsOpen());
  close(release[1]);
  int status = 0;
  waitpid(child, &status, 0);
  close(ready[0]);
  close(ready[1]);
  close(release[0]);

  // Once let go, it opens.
  EXPECT_TRUE(OpenPortOnDevice(3, pty.Slave(), 9600));
}

TEST_F(SerialPortTest, ClosePortTwiceAndClosedPortsAreHarmless) {
  ClosePort();  // nothing open at all
  ASSERT_TRUE(OpenPortOnDevice(2, pty.Slave(), 9600));
  ClosePort();
  EXPECT_FALSE(PortTable[2].IsOpen());
  EXPECT_FALSE(PortTable[2].HasMonitorThread());
  ClosePort();
  EXPECT_FALSE(PortTable[2].IsOpen());
  // Number and name stay for a later look.
  EXPECT_EQ(SerialPortFields::PortNumber(PortTable[2]), 2);
  EXPECT_EQ(SerialPortFields::DeviceName(PortTable[2]), pty.Slave());
  // And the device is free again.
  EXPECT_TRUE(OpenPortOnDevice(2, pty.Slave(), 9600));
}

// Records how many bytes each receive handler call moved into the ring. The first call holds
// until the whole burst waits in the driver, so that the split does not depend on how the
// kernel hands the burst over.
class BurstPort : public CLinkPort {
 public:
  void OnReceive() override {
    if (chunks.empty()) {
      WaitFor(
          [this] {
            uint32_t waiting = 0;
            auto device = deviceHandle.load();
            return device != nullptr && device->ClearErrors(nullptr, &waiting) && waiting >= burst;
          },
          2s);
    }
    uint32_t before = ReceiveRing.Count();
    CLinkPort::OnReceive();
    chunks.push_back(ReceiveRing.Count() - before);
    received += chunks.back();
  }
  uint32_t burst = 0;
  std::vector<uint32_t> chunks;  // monitor thread only until it is stopped
  std::atomic<uint32_t> received{0};
};

TEST_F(SerialPortTest, EveryByteValuePassesUntouched) {
  ASSERT_TRUE(OpenPortOnDevice(3, pty.Slave(), 9600));
  std::vector<uint8_t> all(256);
  for (size_t i = 0; i < all.size(); ++i) {
    all[i] = static_cast<uint8_t>(255 - i);  // XON, XOFF, CR, LF, ^C, ^Z, 0xFF among them
  }
  ASSERT_TRUE(pty.Send(all));
  ASSERT_TRUE(WaitFor([] { return ReceiveRing.Count() >= 256; }, 2s)) << ReceiveRing.Count();
  EXPECT_EQ(TakeRing(), all);
  PortTable[3].writeDone = 0;
  PortTable[3].Write(all.data(), static_cast<uint32_t>(all.size()));
  EXPECT_EQ(pty.Receive(all.size(), 2s), all);
}

TEST_F(SerialPortTest, BurstIsReadAtMostAHundredAtATime) {
  BurstPort port;
  port.burst = 150;
  ASSERT_TRUE(port.OpenOn(1, pty.Slave(), 115200));
  ASSERT_TRUE(pty.Send(Pattern(150, 3)));
  ASSERT_TRUE(WaitFor([&] { return port.received.load() >= 150; }, 3s));
  port.Close(CSerialPort::kStopTimeoutMs);
  EXPECT_EQ(port.chunks, (std::vector<uint32_t>{100, 50}));
  EXPECT_EQ(TakeRing(), Pattern(150, 3));
}

TEST_F(SerialPortTest, CloseWhileTheMonitorWaitsEndsItPromptly) {
  ASSERT_TRUE(OpenPortOnDevice(6, pty.Slave(), 9600));
  ASSERT_TRUE(PortTable[6].HasMonitorThread());
  std::this_thread::sleep_for(30ms);  // the monitor is blocked in its wait by now
  auto start = Clock::now();
  EXPECT_TRUE(PortTable[6].StopThreads(CSerialPort::kStopTimeoutMs));
  auto stopped = Clock::now() - start;
  EXPECT_LT(stopped, 250ms);
  EXPECT_FALSE(PortTable[6].HasMonitorThread());
  EXPECT_FALSE(PortTable[6].StopThreads(CSerialPort::kStopTimeoutMs));  // none left to stop

  // The same through ClosePort on a freshly opened port.
  ASSERT_TRUE(OpenPortOnDevice(6, pty.Slave(), 9600));
  std::this_thread::sleep_for(30ms);
  start = Clock::now();
  ClosePort();
  EXPECT_LT(Clock::now() - start, 250ms);
  EXPECT_FALSE(PortTable[6].IsOpen());
}

TEST_F(SerialPortTest, CloseWhileAReadWaitsForBytesEndsPromptly) {
  // A read with nothing waiting would run to its 500 ms total; a close must not wait for it.
  class WaitingReader : public CLinkPort {
   public:
    void OnCts() override {
      inRead = true;
      uint8_t buffer[10];
      Read(buffer, sizeof buffer);
    }
    std::atomic<bool> inRead{false};
  } port;
  ASSERT_TRUE(port.OpenOn(1, pty.Slave(), 9600));
  ASSERT_TRUE(port.StopThreads(CSerialPort::kStopTimeoutMs));
  std::thread reader([&] { port.OnCommEvent(platform::kEvCts); });
  ASSERT_TRUE(WaitFor([&] { return port.inRead.load(); }, 1s));
  std::this_thread::sleep_for(20ms);
  auto start = Clock::now();
  SerialPortFields::Device(port)->SetEventMask(0);
  reader.join();
  EXPECT_LT(Clock::now() - start, 250ms);
}

TEST_F(SerialPortTest, WriteReachesTheLineAndRaisesWriteDone) {
  ASSERT_TRUE(OpenPortOnDevice(8, pty.Slave(), 115200));
  CLinkPort& port = PortTable[8];
  for (int round = 0; round < 5; ++round) {
    port.writeDone = 0;
    std::vector<uint8_t> frame = Pattern(9, static_cast<uint8_t>(round));
    port.Write(frame.data(), static_cast<uint32_t>(frame.size()));
    EXPECT_TRUE(WaitFor([&] { return port.writeDone.load() == 1; }, 1s)) << round;
    EXPECT_EQ(pty.Receive(frame.size(), 1s), frame);
  }
}

TEST_F(SerialPortTest, WriteKeepsItsOwnCopyOfWhatTheDriverCouldNotTakeYet) {
  ASSERT_TRUE(OpenPortOnDevice(8, pty.Slave(), 115200));
  CLinkPort& port = PortTable[8];
  // More than a pseudo-terminal buffers while nobody reads the master.
  std::vector<uint8_t> frame = Pattern(200000, 11);
  const std::vector<uint8_t> sent = frame;
  port.writeDone = 0;
  uint32_t taken = port.Write(frame.data(), static_cast<uint32_t>(frame.size()));
  EXPECT_LT(taken, frame.size());
  std::fill(frame.begin(), frame.end(), 0);  // the caller's buffer is gone
  frame.clear();
  frame.shrink_to_fit();
  EXPECT_EQ(port.writeDone.load(), 0u);  // not all has left
  EXPECT_EQ(pty.Receive(sent.size(), 10s), sent);
  EXPECT_TRUE(WaitFor([&] { return port.writeDone.load() == 1; }, 2s));
}

TEST_F(SerialPortTest, ReceivedBytesReachTheRingWithoutTheIntervalDelay) {
  ASSERT_TRUE(OpenPortOnDevice(3, pty.Slave(), 115200));
  std::vector<double> delaysMs;
  for (int round = 0; round < 15; ++round) {
    LinkReset();
    std::this_thread::sleep_for(5ms);
    auto start = Clock::now();
    ASSERT_TRUE(pty.Send(Pattern(5, static_cast<uint8_t>(round))));
    ASSERT_TRUE(WaitFor([] { return ReceiveRing.Count() >= 5; }, 2s));
    delaysMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    EXPECT_EQ(TakeRing(), Pattern(5, static_cast<uint8_t>(round)));
  }
  std::sort(delaysMs.begin(), delaysMs.end());
  // A read that waited for the 100 ms gap would put every delay above 100 ms.
  EXPECT_LT(delaysMs[delaysMs.size() / 2], 50.0);
  EXPECT_LT(delaysMs.back(), 400.0);
}

class HangUpPort : public CLinkPort {
 public:
  void OnHangUp() override { ++hangUps; }
  std::atomic<int> hangUps{0};
};

TEST_F(SerialPortTest, HangUpNeitherSpinsNorBreaksALaterOpen) {
  HangUpPort port;
  ASSERT_TRUE(port.OpenOn(4, pty.Slave(), 9600));
  std::this_thread::sleep_for(20ms);
  double cpuBefore = ThreadCpuMs(SerialPortFields::MonitorThread(port));
  pty.CloseMaster();  // the board's side goes away, as a pulled adapter
  ASSERT_TRUE(WaitFor([&] { return port.hangUps.load() > 0; }, 2s));
  std::this_thread::sleep_for(300ms);
  double cpuSpent = ThreadCpuMs(SerialPortFields::MonitorThread(port)) - cpuBefore;
  EXPECT_GE(cpuBefore, 0.0);
  EXPECT_LT(cpuSpent, 50.0);  // a spinning thread spends nearly all of the 300 ms
  EXPECT_EQ(port.hangUps.load(), 1);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_TRUE(port.IsHungUp());

  // Exchanges fail like silence: nothing is written and writeDone stays down.
  port.writeDone = 0;
  EXPECT_EQ(port.Write(Pattern(4).data(), 4), 0u);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(port.writeDone.load(), 0u);
  EXPECT_FALSE(ReceiveRing.HasData());

  auto start = Clock::now();
  port.Close(CSerialPort::kStopTimeoutMs);
  EXPECT_LT(Clock::now() - start, 250ms);
  EXPECT_FALSE(port.IsOpen());

  // Through the table too: hang-up, ClosePort, and a new OpenPort on a new board.
  TestPty first;
  ASSERT_TRUE(OpenPortOnDevice(4, first.Slave(), 9600));
  first.CloseMaster();
  ASSERT_TRUE(WaitFor([] { return PortTable[4].IsHungUp(); }, 2s));
  ClosePort();
  TestPty second;
  ASSERT_TRUE(OpenPortOnDevice(4, second.Slave(), 9600));
  ASSERT_TRUE(second.Send(Pattern(12, 9)));
  ASSERT_TRUE(WaitFor([] { return ReceiveRing.Count() >= 12; }, 2s));
  EXPECT_EQ(TakeRing(), Pattern(12, 9));
}

TEST_F(SerialPortTest, BytesNoHandlerReadsDoNotSpinTheMonitor) {
  CSerialPort port;  // its receive handler reads nothing
  ASSERT_TRUE(port.OpenOn(1, pty.Slave(), 9600));
  ASSERT_TRUE(pty.Send(Pattern(10)));
  std::this_thread::sleep_for(20ms);
  double cpuBefore = ThreadCpuMs(SerialPortFields::MonitorThread(port));
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(ThreadCpuMs(SerialPortFields::MonitorThread(port)) - cpuBefore, 100.0);
  port.Close(CSerialPort::kStopTimeoutMs);
  EXPECT_FALSE(ReceiveRing.HasData());
}

TEST_F(SerialPortTest, OneMaskWithBytesAndEmptyOutputPushesBeforeRaising) {
  class OrderPort : public CLinkPort {
   public:
    void OnTxEmpty() override {
      ringAtTxEmpty = ReceiveRing.Count();
      CLinkPort::OnTxEmpty();
    }
    uint32_t ringAtTxEmpty = 0;
  } port;
  ASSERT_TRUE(port.OpenOn(1, pty.Slave(), 9600));
  ASSERT_TRUE(port.StopThreads(CSerialPort::kStopTimeoutMs));
  ASSERT_TRUE(pty.Send(Pattern(6)));
  ASSERT_TRUE(WaitFor(
      [&] {
        uint32_t waiting = 0;
        return SerialPortFields::Device(port)->ClearErrors(nullptr, &waiting) && waiting >= 6;
      },
      2s));
  port.OnCommEvent(platform::kEvRxChar | platform::kEvTxEmpty);
  EXPECT_EQ(port.ringAtTxEmpty, 6u);
  EXPECT_EQ(port.writeDone.load(), 1u);
  // With the queue empty, a bytes event makes no read (which would wait out its time-out).
  auto start = Clock::now();
  port.OnCommEvent(platform::kEvRxChar);
  EXPECT_LT(Clock::now() - start, 250ms);
  EXPECT_EQ(TakeRing(), Pattern(6));
}

}  // namespace
}  // namespace lumivex::transport
