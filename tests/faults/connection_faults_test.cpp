// Faults as the connection action meets them: the messages ToggleConnection shows for a board
// that hangs up, a port that another process holds, a port that vanishes after it was listed,
// and a board that changes its speed; and that pressing the button again recovers.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "connection/connection.h"
#include "connection/connection_testing.h"
#include "protocol/commands.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tests/faults/port_holder.h"
#include "tests/support/board_fixture.h"
#include "transport/port_table.h"
#include "transport/ports.h"

namespace lumivex::integration {
namespace {

const auto* const kRuntimeDir = ::testing::AddGlobalTestEnvironment(new RuntimeDirEnvironment);

using connection::ConnectedBaudRate;
using connection::IsConnected;
using connection::LastConnectionAttempts;
using connection::ToggleConnection;

std::string Box(const char* key) {
  return "box " + settings::Translate(key::kWarningUartTitle) + ": " + settings::Translate(key);
}
std::string Caption(const char* key) {
  return "caption " + settings::Translate(key);
}

const std::vector<std::string> kConnected = {Box(key::kConnectSuccess), Caption(key::kUartClose)};
const std::vector<std::string> kDisconnected = {Caption(key::kUartOpen)};
const std::vector<std::string> kNoneAnswered = {Box(key::kConnectFail)};

// The connection action needs a listing it can trust not to include the machine's own ports.
// This one also lets a test act between the listing and the first open.
std::function<void()> AfterListing;
std::vector<platform::PortMapEntry> ListThenAct() {
  std::vector<platform::PortMapEntry> map = VirtualPortsOnly();
  if (AfterListing) AfterListing();
  return map;
}

class ConnectionFaults : public BoardTestBase, public ::testing::Test {
 protected:
  void SetUp() override {
    connection::SetPortMapReader(ListThenAct);
    board_ = std::make_unique<boardsim::SimulatedBoard>(KnownBoard(9600));
    ASSERT_TRUE(board_->Start(kBoardCom)) << board_->error();
    com_ = static_cast<uint8_t>(board_->comNumber());
  }
  void TearDown() override {
    AfterListing = nullptr;
    if (IsConnected()) {
      RecordingPage page;
      ToggleConnection(page);
    }
    StopAll();
    connection::SetPortMapReader(nullptr);
  }

  // Presses the connect button; returns the result and what the page was shown.
  uint8_t Press(std::vector<std::string>& events, Millis* took = nullptr) {
    RecordingPage page;
    uint8_t result = 0xFF;
    const Millis time = TimeOf([&] { result = ToggleConnection(page); });
    if (took != nullptr) *took = time;
    events = page.events;
    return result;
  }

  void Replug(uint32_t baud) {
    board_ = std::make_unique<boardsim::SimulatedBoard>(KnownBoard(baud));
    ASSERT_TRUE(board_->Start(com_)) << board_->error();
  }
};

TEST_F(ConnectionFaults, ABoardThatHangsUpWhileConnectedIsClosedQuietlyAndFoundAgain) {
  std::vector<std::string> events;
  ASSERT_EQ(Press(events), connection::kToggled);
  ASSERT_EQ(events, kConnected);

  board_->Stop();
  EXPECT_TRUE(WaitFor([&] { return transport::PortTable[com_].IsHungUp(); }, 2s));
  // The connection does not notice on its own; commands fail like silence, within their bound.
  EXPECT_TRUE(IsConnected());
  const Millis dead = TimeOf([] { EXPECT_FALSE(protocol::SetLightColour(1)); });
  EXPECT_LT(dead, 205ms + 1001ms + 1500ms);

  Millis took{0};
  EXPECT_EQ(Press(events, &took), connection::kToggled);
  EXPECT_EQ(events, kDisconnected) << "closing shows no message, whatever state the line is in";
  EXPECT_FALSE(IsConnected());
  EXPECT_LT(took, 1500ms);

  Replug(9600);
  EXPECT_EQ(Press(events), connection::kToggled);
  EXPECT_EQ(events, kConnected);
  EXPECT_TRUE(protocol::SetLightColour(2));
  EXPECT_EQ(board_->lightColours(), 2);
}

TEST_F(ConnectionFaults, APortHeldByAnotherProcessIsSkippedAndConnectsOnceLetGo) {
  PortHolder holder;
  ASSERT_TRUE(holder.Hold(board_->slavePath()));
  std::vector<std::string> events;
  Millis took{0};
  ::testing::internal::CaptureStdout();
  const uint8_t result = Press(events, &took);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, connection::kNoPortAnswered);
  EXPECT_EQ(events, kNoneAnswered);
  EXPECT_FALSE(IsConnected());
  EXPECT_LT(took, 2000ms) << "a port that cannot be opened costs no handshake";
  ASSERT_EQ(LastConnectionAttempts().size(), 2u);
  for (const connection::ConnectionAttempt& attempt : LastConnectionAttempts()) {
    EXPECT_FALSE(attempt.opened);
    EXPECT_TRUE(attempt.openError == EWOULDBLOCK || attempt.openError == EBUSY)
        << attempt.openError;
  }
  EXPECT_EQ(board_->counters().frames, 0u);

  holder.Release();
  // The board clears the exclusive mode the other process left within its housekeeping period.
  EXPECT_TRUE(WaitFor(
      [&] {
        ::testing::internal::CaptureStdout();
        const bool connected = Press(events) == connection::kToggled;
        ::testing::internal::GetCapturedStdout();
        return connected;
      },
      3s, 50ms));
  EXPECT_EQ(events, kConnected);
  EXPECT_EQ(ConnectedBaudRate(), 9600u);
}

TEST_F(ConnectionFaults, APortThatVanishesAfterListingIsReportedAsNoneAnswering) {
  AfterListing = [this] { board_->Stop(); };
  std::vector<std::string> events;
  Millis took{0};
  ::testing::internal::CaptureStdout();
  const uint8_t result = Press(events, &took);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, connection::kNoPortAnswered);
  EXPECT_EQ(events, kNoneAnswered);
  EXPECT_LT(took, 2000ms);
  ASSERT_EQ(LastConnectionAttempts().size(), 2u);
  for (const connection::ConnectionAttempt& attempt : LastConnectionAttempts()) {
    EXPECT_EQ(attempt.portNumber, com_);
    EXPECT_FALSE(attempt.opened);
    EXPECT_EQ(attempt.openError, ENOENT);
  }
  const std::string line = "COM not open , error : " + std::to_string(ENOENT) + "\n";
  EXPECT_EQ(printed, line + line);

  AfterListing = nullptr;
  Replug(115200);
  EXPECT_EQ(Press(events), connection::kToggled);
  EXPECT_EQ(events, kConnected);
  EXPECT_EQ(ConnectedBaudRate(), 115200u);
}

TEST_F(ConnectionFaults, ABoardThatChangesItsSpeedIsFoundAgainAtTheNewOne) {
  std::vector<std::string> events;
  ASSERT_EQ(Press(events), connection::kToggled);
  ASSERT_EQ(ConnectedBaudRate(), 9600u);

  // The board restarts at the other speed: every answer is lost to the wrong speed.
  SetBoard([](auto& o) { o.baud = 115200; });
  EXPECT_FALSE(protocol::SetLightColour(1));
  EXPECT_TRUE(IsConnected());

  EXPECT_EQ(Press(events), connection::kToggled);
  EXPECT_EQ(events, kDisconnected);
  EXPECT_EQ(Press(events), connection::kToggled);
  EXPECT_EQ(events, kConnected);
  EXPECT_EQ(ConnectedBaudRate(), 115200u);
  ASSERT_EQ(LastConnectionAttempts().size(), 2u);
  EXPECT_FALSE(LastConnectionAttempts()[0].answered);
  EXPECT_TRUE(LastConnectionAttempts()[1].answered);
  EXPECT_TRUE(protocol::SetLightColour(1));
}

TEST_F(ConnectionFaults, ABoardThatHangsUpDuringTheHandshakeIsNotKept) {
  // The board goes away as soon as it hears the first greeting; the search goes on to the next
  // speed, finds the port gone, and reports that none answered.
  SetBoard([](auto& o) {
    o.silent = true;
    o.hangUpAfterFrames = 1;
  });
  std::vector<std::string> events;
  Millis took{0};
  ::testing::internal::CaptureStdout();
  const uint8_t result = Press(events, &took);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, connection::kNoPortAnswered);
  EXPECT_EQ(events, kNoneAnswered);
  EXPECT_FALSE(IsConnected());
  // One attempt costs at most both greetings' patience and their writes.
  EXPECT_LT(took, 2 * (291ms + 387ms + 2002ms) + 1500ms);
  ASSERT_GE(LastConnectionAttempts().size(), 1u);
  EXPECT_TRUE(LastConnectionAttempts()[0].opened);
  EXPECT_FALSE(LastConnectionAttempts()[0].answered);

  board_->Stop();
  Replug(9600);
  EXPECT_EQ(Press(events), connection::kToggled);
  EXPECT_EQ(events, kConnected);
}

TEST_F(ConnectionFaults, PortsThatFailDuringTheSearchAreSkippedWithoutDelayingTheBoard) {
  // Before the board (COM 201) in list order: a port another process holds, one whose board
  // vanishes after the listing, and one whose board hangs up on hearing the first greeting.
  PortHolder holder;
  boardsim::SimulatedBoard held(KnownBoard(9600));
  ASSERT_TRUE(held.Start(kBoardCom - 3)) << held.error();
  ASSERT_TRUE(holder.Hold(held.slavePath()));
  auto vanishing = std::make_unique<boardsim::SimulatedBoard>(KnownBoard(9600));
  ASSERT_TRUE(vanishing->Start(kBoardCom - 2)) << vanishing->error();
  boardsim::BoardOptions hangingUp = KnownBoard(9600);
  hangingUp.silent = true;
  hangingUp.hangUpAfterFrames = 1;
  boardsim::SimulatedBoard hanging(hangingUp);
  ASSERT_TRUE(hanging.Start(kBoardCom - 1)) << hanging.error();
  AfterListing = [&] { vanishing->Stop(); };

  std::vector<std::string> events;
  Millis took{0};
  ::testing::internal::CaptureStdout();
  const uint8_t result = Press(events, &took);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, connection::kToggled);
  EXPECT_EQ(events, kConnected);
  EXPECT_EQ(connection::ConnectedIndex, 4);
  EXPECT_EQ(transport::CurrentPortNumber.load(), com_);
  // A silent port alone would cost about 1.4 s; none of these may make the board wait for a
  // bound: a hang-up ends the waits at once, and a port that cannot be opened costs nothing.
  EXPECT_LT(took, 1000ms);

  const std::vector<connection::ConnectionAttempt>& attempts = LastConnectionAttempts();
  ASSERT_GE(attempts.size(), 6u);
  EXPECT_EQ(attempts[0].portNumber, kBoardCom - 3);
  EXPECT_FALSE(attempts[0].opened);
  EXPECT_TRUE(attempts[0].openError == EWOULDBLOCK || attempts[0].openError == EBUSY)
      << attempts[0].openError;
  EXPECT_EQ(attempts[2].portNumber, kBoardCom - 2);
  EXPECT_FALSE(attempts[2].opened);
  EXPECT_EQ(attempts[2].openError, ENOENT);
  EXPECT_EQ(attempts[4].portNumber, kBoardCom - 1);
  EXPECT_TRUE(attempts[4].opened);
  EXPECT_FALSE(attempts[4].answered);
  EXPECT_EQ(attempts.back().portNumber, com_);
  EXPECT_TRUE(attempts.back().answered);
  // The failure lines come in list order, one for each open that failed, as port by port.
  std::string lines;
  for (const connection::ConnectionAttempt& attempt : attempts) {
    if (!attempt.opened)
      lines += "COM not open , error : " + std::to_string(attempt.openError) + "\n";
  }
  EXPECT_EQ(printed, lines);
  EXPECT_EQ(held.counters().frames, 0u);
  EXPECT_TRUE(protocol::SetLightColour(2));
  EXPECT_EQ(board_->lightColours(), 2);
}

}  // namespace
}  // namespace lumivex::integration
