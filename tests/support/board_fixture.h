// GoogleTest side of the board sessions: a private runtime folder per test process, a fixture
// that starts a board and opens it as COM<n> through the port map, and the upgrade worker's
// wait for the outcome.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "protocol/frame.h"
#include "tests/support/board_session.h"
#include "transport/ports.h"

namespace lumivex::integration {

// Every test process gets its own virtual ports folder before anything reads the port map.
class RuntimeDirEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<PrivateRuntimeDir>("lumivex-integration");
    ASSERT_TRUE(dir_->Ok());
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<PrivateRuntimeDir> dir_;
};

// Boards register under a high COM number. The machine's own serial ports take the lowest free
// numbers, so a board at COM1 that goes away would hand its number to one of them, and a test
// that reopens the number would write to a real port.
constexpr int kBoardCom = 201;

class BoardTestBase {
 protected:
  // Starts a board and opens its COM port through the port map at clientBaud.
  void StartBoard(const boardsim::BoardOptions& options, uint32_t clientBaud) {
    board_ = std::make_unique<boardsim::SimulatedBoard>(options);
    ASSERT_TRUE(board_->Start(kBoardCom)) << board_->error();
    com_ = static_cast<uint8_t>(board_->comNumber());
    ASSERT_TRUE(transport::OpenPort(com_, clientBaud)) << "errno " << transport::LastOpenError();
  }
  void StopAll() {
    transport::ClosePort();
    board_.reset();
  }
  void SetBoard(const std::function<void(boardsim::BoardOptions&)>& change) {
    boardsim::BoardOptions options = board_->options();
    change(options);
    board_->SetOptions(options);
  }
  // Frames the board received from position `from` of its log on.
  std::vector<Bytes> FramesFrom(std::size_t from) const {
    std::vector<Bytes> all = board_->receivedFrames();
    if (from >= all.size()) return {};
    return std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
  }
  std::size_t FrameCount() const { return board_->receivedFrames().size(); }

  std::unique_ptr<boardsim::SimulatedBoard> board_;
  uint8_t com_ = 0;
};

// The upgrade worker's loop: ReceiveChecked for the one status byte, a 20 ms pause after every
// miss, at most `cycles` rounds. Keeps the longest single wait for bounds checks.
struct OutcomeWait {
  std::optional<uint8_t> status;
  int cycles = 0;
  int checkFailures = 0;  // ReceiveChecked gave -1
  Millis longestReceive{0};
};

inline OutcomeWait AwaitUpgradeOutcome(int cycles) {
  OutcomeWait wait;
  for (int i = 0; i < cycles; ++i) {
    ++wait.cycles;
    uint8_t status = 0xFF;
    int32_t result = 0;
    wait.longestReceive = std::max(wait.longestReceive,
                                   TimeOf([&] { result = protocol::ReceiveChecked(&status, 1); }));
    if (result == -1) ++wait.checkFailures;
    if (result == 1 && status <= 4) {
      wait.status = status;
      return wait;
    }
    std::this_thread::sleep_for(20ms);
  }
  return wait;
}

}  // namespace lumivex::integration
