// The real lumivexctl program against simulated boards on pseudo-terminals: its output, its exit
// status and the exact frames it puts on the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/port_map.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tests/support/virtual_ports.h"
#include "tools/boardsim/board.h"
#include "tools/ctl/ctl.h"

extern char** environ;

namespace lumivex::ctl {
namespace {

namespace fs = std::filesystem;
using boardsim::BoardOptions;
using boardsim::SimulatedBoard;
using Bytes = std::vector<uint8_t>;
using Args = std::vector<std::string>;

class CtlEnvironment : public lumivex::testing::PrivateRuntimeEnvironment {
 public:
  CtlEnvironment() : PrivateRuntimeEnvironment("lumivex-ctl") {}
  void SetUp() override {
    PrivateRuntimeEnvironment::SetUp();
    // The program reads its language beside itself; expected texts come from the same files.
    settings::LoadLanguage(fs::path(LUMIVEXCTL_PATH).parent_path().string() + "/");
  }
};
const auto* const kRuntimeDir = ::testing::AddGlobalTestEnvironment(new CtlEnvironment);

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs lumivexctl with args, collecting both streams until it exits.
Outcome RunCtl(const Args& args) {
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  std::vector<std::string> argv0 = {LUMIVEXCTL_PATH};
  argv0.insert(argv0.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv0) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, LUMIVEXCTL_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  Outcome outcome;
  if (spawned != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    ADD_FAILURE() << "cannot start " << LUMIVEXCTL_PATH;
    return outcome;
  }
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open = 2;
  while (open > 0 && ::poll(fds, 2, -1) >= 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return outcome;
}

std::string Box(const char* key, const char* title = key::kWarningUartTitle) {
  return settings::Translate(title) + ": " + settings::Translate(key) + "\n";
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A class-D request with its check byte, which makes the frame sum to zero.
Bytes FrameD(uint8_t command, Bytes payload) {
  Bytes frame;
  frame.reserve(payload.size() + 5);
  for (uint8_t b :
       {uint8_t{0xE0}, static_cast<uint8_t>(payload.size() + 5), uint8_t{0x44}, command}) {
    frame.push_back(b);
  }
  for (uint8_t b : payload) frame.push_back(b);
  uint8_t sum = 0;
  for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
  frame.push_back(static_cast<uint8_t>(-sum));
  return frame;
}

Bytes NameBytes(const std::string& name) {
  Bytes bytes(name.begin(), name.end());
  bytes.push_back(0);
  return bytes;
}

class CtlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ignored;
    fs::remove_all(platform::VirtualPortsFolder(), ignored);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(platform::VirtualPortsFolder(), ignored);
  }

  // The frames a run put on the line after its greeting and version request. The last frame
  // may still be on its way to the board when the program ends, so wait for those expected.
  static std::vector<Bytes> CommandFrames(const SimulatedBoard& board, std::size_t before,
                                          std::size_t expected) {
    board.WaitForFrames(before + 2 + expected, std::chrono::seconds(2));
    std::vector<Bytes> frames = board.receivedFrames();
    frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(before));
    if (frames.size() >= 2) frames.erase(frames.begin(), frames.begin() + 2);
    return frames;
  }
};

TEST_F(CtlTest, EveryCommandPutsItsFrameOnTheLineAndPrintsItsResult) {
  BoardOptions options;
  options.fixedTemperatures = boardsim::Temperatures{25, -100, 27, 40};
  SimulatedBoard board(options);
  ASSERT_TRUE(board.Start(7)) << board.error();

  struct Case {
    Args command;
    std::string out;
    int status;
    std::vector<Bytes> frames;
  };
  const Bytes readCurrents = {0xE0, 0x04, 0x41, 0x01};
  const Case cases[] = {
      {{"connect"}, "", 0, {}},
      {{"led", "on"}, "ok\n", 0, {{0xE0, 0x05, 0x41, 0x18, 0x01}}},
      {{"current"}, "red=100 green=100 blue=100\n", 0, {readCurrents}},
      {{"current", "set", "green", "42"},
       "ok\n",
       0,
       {readCurrents, {0xE0, 0x0A, 0x41, 0x02, 0x64, 0x00, 0x2A, 0x00, 0x64, 0x00}}},
      {{"current"}, "red=100 green=42 blue=100\n", 0, {readCurrents}},
      {{"current", "write", "1", "258", "65535"},
       "ok\n",
       0,
       {{0xE0, 0x0A, 0x41, 0x02, 0x01, 0x00, 0x02, 0x01, 0xFF, 0xFF}}},
      {{"colour", "blue"}, "ok\n", 0, {FrameD(0x18, {0x04})}},
      {{"colour", "white"}, "ok\n", 0, {FrameD(0x18, {0x07})}},
      {{"input", "vga"}, "ok\n", 0, {FrameD(0x08, {0x01})}},
      {{"flip", "1", "0"}, "ok\n", 0, {{0xE0, 0x07, 0x44, 0x13, 0x01, 0x00, 0xC1}}},
      {{"temp"}, "red=25 green=---- blue=27 board=40\n", 0, {FrameD(0x05, {0x00})}},
      {{"upgrade", "--wait"},
       "acknowledged\noutcome success\n",
       0,
       {FrameD(0x0E, NameBytes("KVB03.bin"))}},
      {{"upgrade", "other.bin", "--wait"},
       "acknowledged\noutcome no-file\n",
       1,
       {FrameD(0x0E, NameBytes("other.bin"))}},
      {{"led", "off"}, "ok\n", 0, {{0xE0, 0x05, 0x41, 0x18, 0x00}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.command));
    const std::size_t before = board.receivedFrames().size();
    Args args = {"--port", "COM7", "--baud", "115200"};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const Outcome run = RunCtl(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_TRUE(Contains(run.err, Box(key::kConnectSuccess))) << run.err;
    EXPECT_TRUE(Contains(run.err, "connected COM7 " + *platform::DeviceForPort(7) + " 115200\n"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "firmware ok\n")) << run.err;
    EXPECT_EQ(CommandFrames(board, before, c.frames.size()), c.frames);
  }
  const boardsim::BoardState state = board.state();
  EXPECT_FALSE(state.ledOn);
  EXPECT_EQ(state.currents, (std::array<uint16_t, 3>{1, 258, 65535}));
  EXPECT_EQ(state.lightColours, 7);
  EXPECT_EQ(state.inputSource, 1);
  EXPECT_EQ(state.flipX, 1);
  EXPECT_EQ(state.flipY, 0);
  EXPECT_EQ(state.upgradeFileName, "other.bin");
}

TEST_F(CtlTest, RefusalsAndTheFallbackUpgradeFrame) {
  BoardOptions options;
  options.refuse = true;
  SimulatedBoard board(options);
  ASSERT_TRUE(board.Start(7)) << board.error();
  const Args port = {"--port", "COM7", "--baud", "115200"};
  auto run = [&](Args command) {
    Args args = port;
    args.insert(args.end(), command.begin(), command.end());
    return RunCtl(args);
  };

  std::size_t before = board.receivedFrames().size();
  Outcome led = run({"led", "on"});
  EXPECT_EQ(led.status, 1);
  EXPECT_EQ(led.out, "refused\n");
  // The panel's four attempts, each one frame.
  EXPECT_EQ(CommandFrames(board, before, 4), std::vector<Bytes>(4, {0xE0, 0x05, 0x41, 0x18, 0x01}));

  Outcome colour = run({"colour", "red"});
  EXPECT_EQ(colour.status, 1);
  EXPECT_EQ(colour.out, "refused\n");

  // The default name, unacknowledged: the short frame follows, with nothing to wait for.
  before = board.receivedFrames().size();
  Outcome fallback = run({"upgrade"});
  EXPECT_EQ(fallback.status, 0) << fallback.err;
  EXPECT_EQ(fallback.out, "fallback-sent\n");
  EXPECT_EQ(CommandFrames(board, before, 2),
            (std::vector<Bytes>{FrameD(0x0E, NameBytes("KVB03.bin")), {0xE0, 0x03, 0x38}}));

  // Another name, unacknowledged: refused, and no short frame.
  before = board.receivedFrames().size();
  Outcome refused = run({"upgrade", "mine.bin"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "refused\n");
  EXPECT_EQ(CommandFrames(board, before, 2),
            (std::vector<Bytes>{FrameD(0x0E, NameBytes("mine.bin"))}))
      << "a short frame followed a name other than the default";
}

TEST_F(CtlTest, TraceShowsEveryFrameAndAnswerWithItsTime) {
  SimulatedBoard board;
  ASSERT_TRUE(board.Start(7)) << board.error();
  const Outcome run = RunCtl({"--trace", "--port", "COM7", "--baud", "115200", "led", "on"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "ok\n");
  const std::regex sent(R"((^|\n)\d+\.\d > E0 05 41 18 01\n)");
  const std::regex taken(R"((^|\n)\d+\.\d < 41 63 6B\n)");
  const std::regex greeting(
      R"((^|\n)\d+\.\d > E0 0F 44 00 53 68 61 6B 65 48 61 6E 64 73 [0-9A-F]{2}\n)");
  EXPECT_TRUE(std::regex_search(run.err, sent)) << run.err;
  EXPECT_TRUE(std::regex_search(run.err, taken)) << run.err;
  EXPECT_TRUE(std::regex_search(run.err, greeting)) << run.err;
}

TEST_F(CtlTest, SearchesAsThePanelAndReportsOldFirmware) {
  BoardOptions options;
  options.baud = 9600;
  options.firmwareVersion = 0x1000A;
  SimulatedBoard board(options);
  // COM1: the machine's own serial ports take higher numbers, so the first attempt, at 9600,
  // is the one that answers and nothing is written to them.
  ASSERT_TRUE(board.Start(1)) << board.error();

  const Outcome run = RunCtl({"connect"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, Box(key::kConnectSuccess) + Box(key::kFirmwareOld) + "connected COM1 " +
                         *platform::DeviceForPort(1) + " 9600\nfirmware old\n");
}

TEST_F(CtlTest, DevicePathOutsideTheMapOpensAsCom254) {
  SimulatedBoard board;
  ASSERT_TRUE(board.Start(SimulatedBoard::kNoVirtualPort)) << board.error();
  const Outcome run = RunCtl({"--port", board.slavePath(), "--baud", "115200", "current"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "red=100 green=100 blue=100\n");
  EXPECT_TRUE(Contains(run.err, "connected COM254 " + board.slavePath() + " 115200\n")) << run.err;
}

TEST_F(CtlTest, CurrentSetNeverWritesWhenTheReadFailed) {
  // Answers arrive late but within the greeting's and the version's waits; once the version
  // request is in, the board falls silent, so the read of the currents goes unanswered.
  BoardOptions options;
  options.answerDelayMs = 150;
  SimulatedBoard board(options);
  ASSERT_TRUE(board.Start(7)) << board.error();

  Outcome run;
  std::thread ctl([&] {
    run = RunCtl({"--port", "COM7", "--baud", "115200", "current", "set", "red", "9"});
  });
  const bool versionAsked = board.WaitForFrames(2, std::chrono::seconds(10));
  options.silent = true;
  board.SetOptions(options);
  ctl.join();
  ASSERT_TRUE(versionAsked);

  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out, "no answer\n");
  EXPECT_TRUE(Contains(run.err, Box(key::kReadFail))) << run.err;
  const std::vector<Bytes> frames = board.receivedFrames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[2], (Bytes{0xE0, 0x04, 0x41, 0x01}));
  EXPECT_EQ(board.currents(), (std::array<uint16_t, 3>{100, 100, 100}));
}

TEST_F(CtlTest, SilenceBadChecksAndRefusalsAreToldApart) {
  // The board answers the greeting and the version late but in time, then turns to the fault
  // under test before the command's own frame arrives.
  struct Case {
    const char* name;
    Args command;
    std::function<void(BoardOptions&)> fault;
    std::string out;
  };
  const Case cases[] = {
      {"silent setter",
       {"flip", "1", "0"},
       [](BoardOptions& o) { o.silent = true; },
       "no answer\n"},
      {"refusing setter",
       {"flip", "1", "0"},
       [](BoardOptions& o) { o.refuse = true; },
       "refused\n"},
      {"bad check", {"colour", "red"}, [](BoardOptions& o) { o.badCheck = true; }, "bad check\n"},
      {"silent read", {"current"}, [](BoardOptions& o) { o.silent = true; }, "no answer\n"},
      {"silent temperatures", {"temp"}, [](BoardOptions& o) { o.silent = true; }, "no answer\n"},
      {"silent upgrade start",
       {"upgrade", "mine.bin"},
       [](BoardOptions& o) { o.silent = true; },
       "no answer\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardOptions options;
    options.answerDelayMs = 150;
    SimulatedBoard board(options);
    ASSERT_TRUE(board.Start(7)) << board.error();
    Outcome run;
    std::thread ctl([&] {
      Args args = {"--port", "COM7", "--baud", "115200"};
      args.insert(args.end(), c.command.begin(), c.command.end());
      run = RunCtl(args);
    });
    const bool versionAsked = board.WaitForFrames(2, std::chrono::seconds(10));
    BoardOptions faulty = options;
    faulty.answerDelayMs = 0;
    c.fault(faulty);
    board.SetOptions(faulty);
    ctl.join();
    ASSERT_TRUE(versionAsked);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, c.out) << run.err;
    EXPECT_FALSE(Contains(run.err, settings::Translate(key::kPortGone))) << run.err;
  }
}

TEST_F(CtlTest, AnUnpluggedPortIsSaidOnceAndEndsTheRun) {
  for (const Args& command : {Args{"flip", "1", "0"}, Args{"current", "set", "red", "9"},
                              Args{"temp"}, Args{"upgrade", "mine.bin", "--wait"}}) {
    SCOPED_TRACE(::testing::PrintToString(command));
    BoardOptions options;
    // The line closes once the greeting and the version request are in.
    options.hangUpAfterFrames = 2;
    SimulatedBoard board(options);
    ASSERT_TRUE(board.Start(7)) << board.error();
    Args args = {"--port", "COM7", "--baud", "115200"};
    args.insert(args.end(), command.begin(), command.end());
    const Outcome run = RunCtl(args);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "") << run.err;
    const std::string gone = Box(key::kPortGone);
    const std::size_t at = run.err.find(gone);
    EXPECT_NE(at, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(gone, at + 1), std::string::npos) << "said twice: " << run.err;
    EXPECT_FALSE(Contains(run.err, Box(key::kReadFail))) << run.err;
  }
}

TEST_F(CtlTest, NoBoardOrNoUsablePortExitsWithThree) {
  // Only a machine without serial ports of its own has nothing to list.
  if (platform::ReadPortMap().empty()) {
    Outcome none = RunCtl({"connect"});
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.out, "");
    EXPECT_TRUE(Contains(none.err, Box(key::kNotFinded))) << none.err;
  }

  // A mapped port that is no terminal: the open fails, reported on stderr only.
  const fs::path folder = platform::VirtualPortsFolder();
  fs::create_directories(folder);
  const fs::path file = folder.parent_path() / "plain-file";
  { std::ofstream(file) << "x"; }
  fs::create_symlink(file, folder / "COM9");
  Outcome bad = RunCtl({"--port", "COM9", "temp"});
  EXPECT_EQ(bad.status, 3);
  EXPECT_EQ(bad.out, "") << "the open's diagnostic belongs on stderr";
  EXPECT_TRUE(Contains(bad.err, "COM not open , error : ")) << bad.err;
  EXPECT_TRUE(Contains(bad.err, "lumivexctl: cannot open COM9 (")) << bad.err;
  EXPECT_TRUE(Contains(bad.err, Box(key::kConnectFail))) << bad.err;

  Outcome unmapped = RunCtl({"--port", "COM250", "connect"});
  EXPECT_EQ(unmapped.status, 3);
  EXPECT_TRUE(Contains(unmapped.err, "cannot open COM250: no such port in the port map"))
      << unmapped.err;

  Outcome missing = RunCtl({"--port", "/dev/lumivex-no-such-tty", "connect"});
  EXPECT_EQ(missing.status, 3);
  EXPECT_TRUE(Contains(missing.err, "cannot open COM254 (/dev/lumivex-no-such-tty)"))
      << missing.err;
}

TEST_F(CtlTest, UsageErrorsAndHelp) {
  const Outcome help = RunCtl({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, Usage());
  EXPECT_EQ(help.err, "");

  for (const Args& args : {Args{}, Args{"frobnicate"}, Args{"current", "set", "red", "256"},
                           Args{"current", "write", "0", "0", "65536"}, Args{"flip", "1", "2"},
                           Args{"--baud", "57600", "connect"},
                           Args{"upgrade", std::string(kMaxFirmwareName + 1, 'x')}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Outcome run = RunCtl(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    const std::string firstLine = run.err.substr(0, run.err.find('\n'));
    EXPECT_TRUE(firstLine.starts_with("lumivexctl: ")) << run.err;
    // The reason, the one-line usage and where the rest is: not the whole help text.
    EXPECT_EQ(run.err.substr(firstLine.size() + 1), UsageLine() + kTryHelp);
  }
}

TEST_F(CtlTest, PortsListsTheMap) {
  SimulatedBoard first, second;
  ASSERT_TRUE(first.Start(3)) << first.error();
  ASSERT_TRUE(second.Start(12)) << second.error();
  std::string expected;
  for (const platform::PortMapEntry& entry : platform::ReadPortMap()) {
    expected += "COM" + std::to_string(entry.number) + " " + entry.device + "\n";
  }
  const Outcome run = RunCtl({"ports"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, expected);
  EXPECT_TRUE(Contains(run.out, "COM3 " + *platform::DeviceForPort(3) + "\n"));
  EXPECT_TRUE(Contains(run.out, "COM12 " + *platform::DeviceForPort(12) + "\n"));
}

TEST_F(CtlTest, PortsBeyondTheEleventhAreMarkedNotSearched) {
  // Thirteen mapped ports of our own: the machine's own ports, listed first under lower
  // numbers, only move the boundary.
  const fs::path folder = platform::VirtualPortsFolder();
  fs::create_directories(folder);
  for (int number = 230; number < 243; ++number) {
    fs::create_symlink("/dev/null", folder / ("COM" + std::to_string(number)));
  }
  const std::vector<platform::PortMapEntry> map = platform::ReadPortMap();
  ASSERT_GE(map.size(), 13u);
  const Outcome run = RunCtl({"ports"});
  EXPECT_EQ(run.status, 0);
  std::istringstream lines(run.out);
  std::string line;
  std::size_t index = 0;
  for (; std::getline(lines, line); ++index) {
    ASSERT_LT(index, map.size()) << run.out;
    const std::string plain = "COM" + std::to_string(map[index].number) + " " + map[index].device;
    EXPECT_EQ(line, index < 11 ? plain : plain + " (not searched)");
  }
  EXPECT_EQ(index, map.size());
}

}  // namespace
}  // namespace lumivex::ctl
