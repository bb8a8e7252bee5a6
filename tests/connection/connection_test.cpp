// The connection action against simulated boards on real pseudo-terminals.
#include "connection/connection.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "connection/connection_testing.h"
#include "platform/port_map.h"
#include "protocol/commands.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tests/support/virtual_ports.h"
#include "tools/boardsim/board.h"
#include "transport/ports.h"

namespace lumivex::connection {
namespace {

namespace fs = std::filesystem;
using boardsim::BoardOptions;
using boardsim::SimulatedBoard;
using lumivex::testing::VirtualPortsOnly;

// Every test process gets its own virtual ports folder before anything reads the port map.
const auto* const kRuntimeDir = ::testing::AddGlobalTestEnvironment(
    new lumivex::testing::PrivateRuntimeEnvironment("lumivex-connection"));

class RecordingPage : public ConnectionPage {
 public:
  void ShowMessage(const std::string& text, const std::string& title) override {
    events.push_back("box " + title + ": " + text);
  }
  void SetConnectCaption(const std::string& caption) override {
    events.push_back("caption " + caption);
  }
  std::vector<std::string> events;
};

std::string Box(const char* key) {
  return "box " + settings::Translate(key::kWarningUartTitle) + ": " + settings::Translate(key);
}
std::string Caption(const char* key) {
  return "caption " + settings::Translate(key);
}

// The command code of each frame a board received, class byte high.
std::vector<uint16_t> Commands(const SimulatedBoard& board) {
  std::vector<uint16_t> codes;
  for (const std::vector<uint8_t>& frame : board.receivedFrames()) {
    codes.push_back(frame.size() >= 4 ? static_cast<uint16_t>(frame[2] << 8 | frame[3]) : 0);
  }
  return codes;
}

BoardOptions Board(uint32_t baud) {
  BoardOptions options;
  options.baud = baud;
  return options;
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ports_ = platform::VirtualPortsFolder();
    std::error_code ignored;
    fs::remove_all(ports_, ignored);
    SetPortMapReader(VirtualPortsOnly);
  }
  void TearDown() override {
    if (IsConnected()) {
      RecordingPage page;
      ToggleConnection(page);
    }
    transport::ClosePort();
    SetPortMapReader(nullptr);
    std::error_code ignored;
    fs::remove_all(ports_, ignored);
  }

  std::string ports_;
};

constexpr uint16_t kGreetD = protocol::command::kHandshakeD;
constexpr uint16_t kGreetA = protocol::command::kHandshakeA;
constexpr uint16_t kVersion = protocol::command::kFirmwareVersion;

TEST_F(ConnectionTest, TriesEachPortAtBothSpeedsInListOrderAndKeepsTheFirstThatAnswers) {
  BoardOptions silent = Board(115200);
  silent.silent = true;
  SimulatedBoard com1(silent);
  SimulatedBoard com5(Board(115200));
  ASSERT_TRUE(com1.Start(1)) << com1.error();
  ASSERT_TRUE(com5.Start(5)) << com5.error();

  RecordingPage page;
  EXPECT_EQ(ToggleConnection(page), kToggled);
  EXPECT_TRUE(IsConnected());
  EXPECT_EQ(ConnectedIndex, 2);
  EXPECT_EQ(PortList[1], 1);
  EXPECT_EQ(PortList[2], 5);
  EXPECT_EQ(ConnectedBaudRate(), 115200u);
  EXPECT_TRUE(ConnectedFirmwareCurrent());
  // The success box comes first; the caption changes only after it.
  EXPECT_EQ(page.events,
            (std::vector<std::string>{Box(key::kConnectSuccess), Caption(key::kUartClose)}));

  const std::vector<ConnectionAttempt>& attempts = LastConnectionAttempts();
  ASSERT_EQ(attempts.size(), 4u);
  const std::pair<uint8_t, uint32_t> expected[] = {{1, 9600}, {1, 115200}, {5, 9600}, {5, 115200}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(attempts[i].portNumber, expected[i].first);
    EXPECT_EQ(attempts[i].baudRate, expected[i].second);
    EXPECT_TRUE(attempts[i].opened);
    EXPECT_EQ(attempts[i].answered, i == 3);
  }

  // Every silent attempt greets in class D, then in class A; the boards saw each speed once.
  EXPECT_EQ(Commands(com1), (std::vector<uint16_t>{kGreetD, kGreetA, kGreetD, kGreetA}));
  EXPECT_EQ(com1.counters().wrongSpeed, 2u);
  EXPECT_EQ(Commands(com5), (std::vector<uint16_t>{kGreetD, kGreetA, kGreetD, kVersion}));
  EXPECT_EQ(com5.counters().wrongSpeed, 2u);

  // Closing: no message, the caption goes back, and the port is really closed.
  page.events.clear();
  EXPECT_EQ(ToggleConnection(page), kToggled);
  EXPECT_FALSE(IsConnected());
  EXPECT_EQ(ConnectedIndex, 0);
  EXPECT_EQ(ConnectedBaudRate(), 0u);
  EXPECT_EQ(page.events, (std::vector<std::string>{Caption(key::kUartOpen)}));
  EXPECT_TRUE(transport::OpenPort(5, 115200)) << "the port was left open or locked";
  transport::ClosePort();
}

TEST_F(ConnectionTest, OldOrUnansweredFirmwareIsReportedAfterTheSuccessAndTheConnectionStays) {
  struct Case {
    const char* name;
    uint32_t version;
    bool answerVersion;
  };
  const Case cases[] = {
      {"version 0x1000A", 0x1000A, true},
      // The greeting is the first answer and the version request the second, which is lost.
      {"version unanswered", 0x20000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardOptions options = Board(9600);
    options.firmwareVersion = c.version;
    options.answerEveryOther = !c.answerVersion;
    SimulatedBoard board(options);
    ASSERT_TRUE(board.Start(3)) << board.error();

    RecordingPage page;
    EXPECT_EQ(ToggleConnection(page), kToggled);
    EXPECT_TRUE(IsConnected());
    EXPECT_FALSE(ConnectedFirmwareCurrent());
    EXPECT_EQ(page.events,
              (std::vector<std::string>{Box(key::kConnectSuccess), Caption(key::kUartClose),
                                        Box(key::kFirmwareOld)}));
    // Still usable: the board answers a command on the open connection.
    uint16_t red = 0, green = 0, blue = 0;
    EXPECT_TRUE(protocol::ReadLedCurrents(red, green, blue));

    RecordingPage closer;
    EXPECT_EQ(ToggleConnection(closer), kToggled);
    board.Stop();
  }
}

TEST_F(ConnectionTest, BoardThatKnowsOnlyTheClassAGreetingConnects) {
  BoardOptions options = Board(9600);
  options.greeting = boardsim::Greeting::kClassA;
  SimulatedBoard board(options);
  ASSERT_TRUE(board.Start(2)) << board.error();

  RecordingPage page;
  EXPECT_EQ(ToggleConnection(page), kToggled);
  EXPECT_EQ(ConnectedBaudRate(), 9600u);
  EXPECT_EQ(Commands(board), (std::vector<uint16_t>{kGreetD, kGreetA, kVersion}));
}

TEST_F(ConnectionTest, NoPortListedShowsNotFindedAndOpensNothing) {
  transport::CurrentPortNumber = 0;
  RecordingPage page;
  EXPECT_EQ(ToggleConnection(page), kNoPortListed);
  EXPECT_FALSE(IsConnected());
  EXPECT_EQ(page.events, (std::vector<std::string>{Box(key::kNotFinded)}));
  EXPECT_TRUE(LastConnectionAttempts().empty());
  EXPECT_EQ(transport::CurrentPortNumber.load(), 0) << "a port was opened";
}

TEST_F(ConnectionTest, EnumerationKeepsElevenPortsInMapOrder) {
  fs::create_directories(ports_);
  // Links need a target that exists; what it is does not matter for listing.
  for (int n : {13, 2, 7, 1, 3, 4, 5, 6, 8, 9, 10, 11, 12, 200}) {
    fs::create_symlink("/dev/null", fs::path(ports_) / ("COM" + std::to_string(n)));
  }
  fs::create_symlink(fs::path(ports_) / "missing", fs::path(ports_) / "COM14");
  std::array<uint8_t, kMaxPorts + 1> list{};
  list.fill(0xAA);
  EXPECT_EQ(EnumerateSerialPorts(list), 11);
  EXPECT_EQ(list[0], 0xAA) << "position 0 is never used";
  for (uint8_t position = 1; position <= 11; ++position) EXPECT_EQ(list[position], position);
}

TEST_F(ConnectionTest, ConnectNarrowedToOnePortAndSpeed) {
  SimulatedBoard board(Board(9600));
  ASSERT_TRUE(board.Start(SimulatedBoard::kNoVirtualPort)) << board.error();

  // A device outside the map, under a number of the caller's choice, at both speeds.
  RecordingPage page;
  ConnectionRequest request;
  request.portNumber = 254;
  request.devicePath = board.slavePath();
  EXPECT_EQ(Connect(page, request), kToggled);
  EXPECT_EQ(ConnectedIndex, 1);
  EXPECT_EQ(PortList[1], 254);
  EXPECT_EQ(ConnectedBaudRate(), 9600u);
  ASSERT_EQ(LastConnectionAttempts().size(), 1u);

  // Connecting again first drops the connection that exists, silently; at the wrong speed only
  // the board stays silent and the search fails with its message and nothing left open.
  page.events.clear();
  request.baudRate = 115200;
  EXPECT_EQ(Connect(page, request), kNoPortAnswered);
  EXPECT_FALSE(IsConnected());
  EXPECT_EQ(page.events, (std::vector<std::string>{Box(key::kConnectFail)}));
  ASSERT_EQ(LastConnectionAttempts().size(), 1u);
  EXPECT_EQ(LastConnectionAttempts()[0].baudRate, 115200u);
  EXPECT_TRUE(LastConnectionAttempts()[0].opened);
  EXPECT_TRUE(transport::OpenPortOnDevice(254, board.slavePath(), 9600))
      << "the failed attempt left the device locked";
  transport::ClosePort();
}

TEST_F(ConnectionTest, PortsThatCannotBeOpenedAreSkippedWithTheirError) {
  fs::create_directories(ports_);
  // A file that exists but is no terminal: it opens as a file and fails as a serial line.
  const fs::path notATerminal = fs::path(ports_).parent_path() / "not-a-terminal";
  { std::ofstream(notATerminal) << "x"; }
  fs::create_symlink(notATerminal, fs::path(ports_) / "COM1");
  RecordingPage page;
  EXPECT_EQ(ToggleConnection(page), kNoPortAnswered);
  EXPECT_EQ(page.events, (std::vector<std::string>{Box(key::kConnectFail)}));
  ASSERT_EQ(LastConnectionAttempts().size(), 2u);
  for (const ConnectionAttempt& attempt : LastConnectionAttempts()) {
    EXPECT_FALSE(attempt.opened);
    EXPECT_NE(attempt.openError, 0);
  }
}

// Boards on several ports answer at once; the search must still keep the one that a port-by-port
// search in list order would keep.
TEST_F(ConnectionTest, TheFirstPortInListOrderWinsEvenWhenALaterOneAnswersSooner) {
  // COM1 takes its time over every answer (well within the greeting's patience); COM2 answers
  // at once, long before COM1.
  BoardOptions slow = Board(9600);
  slow.answerDelayMs = 150;
  SimulatedBoard com1(slow);
  SimulatedBoard com2(Board(9600));
  ASSERT_TRUE(com1.Start(1)) << com1.error();
  ASSERT_TRUE(com2.Start(2)) << com2.error();

  RecordingPage page;
  EXPECT_EQ(ToggleConnection(page), kToggled);
  EXPECT_EQ(ConnectedIndex, 1);
  EXPECT_EQ(ConnectedBaudRate(), 9600u);
  EXPECT_EQ(transport::CurrentPortNumber.load(), 1);
  ASSERT_EQ(LastConnectionAttempts().size(), 1u);
  EXPECT_EQ(LastConnectionAttempts()[0].portNumber, 1);
  EXPECT_EQ(Commands(com1), (std::vector<uint16_t>{kGreetD, kVersion}));
  // COM2 was greeted at the same time, but never asked for its version, and is closed again.
  EXPECT_EQ(Commands(com2), (std::vector<uint16_t>{kGreetD}));
  EXPECT_TRUE(transport::OpenPort(2, 9600)) << "the losing port was left open or locked";
  transport::ClosePort();
  transport::CurrentPortNumber = 1;
  // The connection is COM1's: commands reach it.
  EXPECT_TRUE(protocol::SetLightColour(2));
  EXPECT_EQ(com1.lightColours(), 2);
  EXPECT_EQ(com2.lightColours(), 7);
}

TEST_F(ConnectionTest, AnEarlierPortAtTheSecondSpeedWinsOverALaterOneAtTheFirst) {
  SimulatedBoard com2(Board(115200));
  SimulatedBoard com5(Board(9600));
  ASSERT_TRUE(com2.Start(2)) << com2.error();
  ASSERT_TRUE(com5.Start(5)) << com5.error();

  RecordingPage page;
  EXPECT_EQ(ToggleConnection(page), kToggled);
  EXPECT_EQ(ConnectedIndex, 1);
  EXPECT_EQ(PortList[1], 2);
  EXPECT_EQ(ConnectedBaudRate(), 115200u);
  const std::vector<ConnectionAttempt>& attempts = LastConnectionAttempts();
  ASSERT_EQ(attempts.size(), 2u);
  EXPECT_EQ(attempts[0].baudRate, 9600u);
  EXPECT_FALSE(attempts[0].answered);
  EXPECT_EQ(attempts[1].baudRate, 115200u);
  EXPECT_TRUE(attempts[1].answered);
  EXPECT_EQ(com2.counters().wrongSpeed, 2u);
  EXPECT_TRUE(protocol::SetLightColour(4));
  EXPECT_EQ(com2.lightColours(), 4);
  EXPECT_EQ(com5.lightColours(), 7);
}

// A board of the test's own that answers the greeting and the version request whatever the
// line speed, and notes the speed of every frame it hears.
class AnySpeedBoard {
 public:
  bool Start(int com) {
    int slave = -1;
    if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) return false;
    const std::string slavePath = ::ttyname(slave);
    ::close(slave);
    const fs::path link = fs::path(platform::VirtualPortsFolder()) / ("COM" + std::to_string(com));
    fs::create_directories(link.parent_path());
    fs::create_symlink(slavePath, link);
    link_ = link;
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  ~AnySpeedBoard() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::error_code ignored;
    fs::remove(link_, ignored);
    if (master_ >= 0) ::close(master_);
  }
  std::vector<uint32_t> Speeds() {
    std::lock_guard lock(mutex_);
    return speeds_;
  }

 private:
  void Run() {
    std::vector<uint8_t> pending;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0 || (p.revents & POLLIN) == 0) continue;
      uint8_t bytes[64];
      const ssize_t got = ::read(master_, bytes, sizeof bytes);
      if (got <= 0) continue;
      pending.insert(pending.end(), bytes, bytes + got);
      while (pending.size() >= 2 && pending[0] == 0xE0 && pending.size() >= pending[1]) {
        const uint16_t code = static_cast<uint16_t>(pending[2] << 8 | pending[3]);
        pending.erase(pending.begin(), pending.begin() + pending[1]);
        termios tio{};
        ::tcgetattr(master_, &tio);
        {
          std::lock_guard lock(mutex_);
          speeds_.push_back(cfgetospeed(&tio) == B9600 ? 9600u : 115200u);
        }
        if (code == kGreetD) Answer({'S', 'h', 'a', 'k', 'e', 'H', 'a', 'n', 'd', 's'});
        if (code == kVersion) Answer({0x0B, 0x00, 0x01, 0x00});
      }
      if (!pending.empty() && pending[0] != 0xE0) pending.clear();
    }
  }
  void Answer(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> answer{0xE0};
    answer.insert(answer.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : answer) sum = static_cast<uint8_t>(sum + b);
    answer.push_back(static_cast<uint8_t>(-sum));
    EXPECT_EQ(::write(master_, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
  }

  int master_ = -1;
  fs::path link_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<uint32_t> speeds_;
};

TEST_F(ConnectionTest, ABoardThatAnswersAtBothSpeedsIsTakenAtTheFirst) {
  AnySpeedBoard board;
  ASSERT_TRUE(board.Start(3));
  RecordingPage page;
  EXPECT_EQ(ToggleConnection(page), kToggled);
  EXPECT_EQ(ConnectedBaudRate(), 9600u);
  ASSERT_EQ(LastConnectionAttempts().size(), 1u);
  EXPECT_EQ(LastConnectionAttempts()[0].baudRate, 9600u);
  EXPECT_EQ(board.Speeds(), (std::vector<uint32_t>{9600, 9600})) << "greeting and version only";
}

}  // namespace
}  // namespace lumivex::connection
