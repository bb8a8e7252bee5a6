// The serial port, the link and the protocol on the Win32 serial device, unchanged from Linux,
// against the simulated boards of run_under_wine.sh (COM5 answers at 115200, COM7 hangs up).
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/serial_device.h"
#include "protocol/commands.h"
#include "transport/ports.h"
#include "transport/serial_port.h"

namespace lumivex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

uint8_t PortFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return static_cast<uint8_t>(value != nullptr ? std::atoi(value) : 0);
}

class BoardStack : public ::testing::Test {
 protected:
  void SetUp() override {
    port = PortFromEnvironment("LUMIVEX_TEST_BOARD_PORT");
    if (port == 0) GTEST_SKIP() << "no board: run through run_under_wine.sh";
  }
  void TearDown() override { transport::ClosePort(); }

  uint8_t port = 0;
};

// Sets XON/XOFF on the port, as a program that used it before may have left it.
void LeaveSoftwareFlowControlOn(uint8_t port) {
  const std::wstring name = L"\\\\.\\COM" + std::to_wstring(port);
  HANDLE raw = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
  ASSERT_NE(raw, INVALID_HANDLE_VALUE) << GetLastError();
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(raw, &dcb));
  dcb.fOutX = TRUE;
  dcb.fInX = TRUE;
  ASSERT_TRUE(SetCommState(raw, &dcb));
  CloseHandle(raw);
}

TEST_F(BoardStack, TheBoardAnswersOnlyAtItsSpeedAndEveryWriteEndsWithoutTheFullWait) {
  LeaveSoftwareFlowControlOn(port);
  ASSERT_TRUE(transport::OpenPort(port, 9600));
  EXPECT_FALSE(protocol::Handshake());
  transport::ClosePort();

  ASSERT_TRUE(transport::OpenPort(port, 115200));
  // Each frame waits for the write's empty signal, up to a second when it never comes.
  auto start = Clock::now();
  ASSERT_TRUE(protocol::Handshake());
  EXPECT_LT(Clock::now() - start, 900ms);

  uint16_t red = 0, green = 0, blue = 0;
  ASSERT_TRUE(protocol::WriteLedCurrents(17, 0x11, 0x13));
  ASSERT_TRUE(protocol::ReadLedCurrents(red, green, blue));
  // 0x11 and 0x13 pass: no software flow control on the line.
  EXPECT_EQ(red, 17);
  EXPECT_EQ(green, 0x11);
  EXPECT_EQ(blue, 0x13);
}

TEST_F(BoardStack, APortHeldElsewhereIsNotOpenedAndSaysWhy) {
  platform::SerialDevice holder;
  ASSERT_TRUE(holder.Open("\\\\.\\COM" + std::to_string(port)));
  EXPECT_FALSE(transport::OpenPort(port, 115200));
  EXPECT_EQ(transport::LastOpenError(), static_cast<int>(ERROR_ACCESS_DENIED));
  holder.Close();
  EXPECT_TRUE(transport::OpenPort(port, 115200));
}

TEST(BoardStackHangUp, ABoardThatHangsUpIsToldOnceAndTheCloseIsPrompt) {
  const uint8_t port = PortFromEnvironment("LUMIVEX_TEST_STACK_HANGUP_PORT");
  if (port == 0) GTEST_SKIP() << "no board that hangs up: run through run_under_wine.sh";
  std::atomic<int> told{0};
  transport::SetHangUpObserver([&](int number) {
    if (number == port) ++told;
  });
  ASSERT_TRUE(transport::OpenPort(port, 115200));
  protocol::Handshake();  // its first frame makes this board close the line
  auto start = Clock::now();
  while (told.load() == 0 && Clock::now() - start < 10s) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(told.load(), 1);
  start = Clock::now();
  transport::ClosePort();
  EXPECT_LT(Clock::now() - start, 1s);
  transport::SetHangUpObserver({});
}

}  // namespace
}  // namespace lumivex
