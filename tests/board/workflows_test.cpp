// The board layer's workflows end to end: what goes on the wire, how each exchange ended, and
// that every exchange runs inside the front end's executor.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/commands.h"
#include "board/connect.h"
#include "board/executor.h"
#include "board/temperatures.h"
#include "board/upgrade.h"
#include "connection/connection.h"
#include "protocol/commands.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tests/support/board_fixture.h"
#include "transport/link.h"

namespace lumivex::board {
namespace {

using integration::Bytes;
using integration::FrameA;
using integration::FrameD;
using integration::TimeOf;
using protocol::Outcome;
using namespace std::chrono_literals;

const auto* const kRuntimeDir =
    ::testing::AddGlobalTestEnvironment(new integration::RuntimeDirEnvironment);

const Bytes kReadCurrents = FrameA(0x01, {});
const Bytes kLedOn = FrameA(0x18, {0x01});

class BoardWorkflows : public integration::BoardTestBase, public ::testing::Test {
 protected:
  void TearDown() override { StopAll(); }
  void Start(boardsim::BoardOptions options = integration::KnownBoard(115200, false)) {
    StartBoard(options, 115200);
  }
};

TEST_F(BoardWorkflows, SettersTellARefusalFromSilenceAndFromABadCheck) {
  struct Case {
    const char* name;
    void (*fault)(boardsim::BoardOptions&);
    bool ok;
    Outcome outcome;
  };
  const Case cases[] = {
      {"answers", [](boardsim::BoardOptions&) {}, true, Outcome::kAnswered},
      {"refuses", [](boardsim::BoardOptions& o) { o.refuse = true; }, false, Outcome::kRefused},
      {"silent", [](boardsim::BoardOptions& o) { o.silent = true; }, false, Outcome::kNoAnswer},
      {"bad check", [](boardsim::BoardOptions& o) { o.badCheck = true; }, false,
       Outcome::kBadCheck},
  };
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetBoard([&](boardsim::BoardOptions& o) {
      o = integration::KnownBoard(115200, false);
      c.fault(o);
    });
    // Class D: the check byte of its answer counts.
    const CommandResult flip = SetFlip(1, 0);
    EXPECT_EQ(flip.ok, c.ok);
    EXPECT_EQ(flip.outcome, c.outcome);
    const CommandResult input = SetInputSource(1);
    EXPECT_EQ(input.outcome, c.outcome);
    ASSERT_TRUE(integration::WaitForSilentLine());
  }

  // Reads have no refusal: an answer of the right length is the reading.
  SetBoard([](boardsim::BoardOptions& o) { o.silent = true; });
  const CurrentsReading silent = ReadCurrents();
  EXPECT_FALSE(silent.result.ok);
  EXPECT_EQ(silent.result.outcome, Outcome::kNoAnswer);
  EXPECT_EQ(silent.currents, (Currents{0, 0, 0}));
  SetBoard([](boardsim::BoardOptions& o) { o.silent = false; });
  const CurrentsReading read = ReadCurrents();
  EXPECT_TRUE(read.result.ok);
  EXPECT_EQ(read.result.outcome, Outcome::kAnswered);
  EXPECT_EQ(read.currents, (Currents{1, 2, 0x300}));
}

TEST_F(BoardWorkflows, TheLightSwitchTriesFourTimesWithPausesAndStopsAtTheFirstAck) {
  Start();
  // Refused every time: four requests, each followed by its pause.
  SetBoard([](boardsim::BoardOptions& o) { o.refuse = true; });
  std::size_t before = FrameCount();
  CommandResult result;
  const auto refusedTime = TimeOf([&] { result = SwitchLight(true); });
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.outcome, Outcome::kRefused);
  EXPECT_EQ(FramesFrom(before), std::vector<Bytes>(4, kLedOn));
  EXPECT_GE(refusedTime, 4 * std::chrono::milliseconds(kLightSwitchPauseMs));

  // Every other answer lost: the first request goes unanswered, the second is acknowledged.
  SetBoard([](boardsim::BoardOptions& o) {
    o.refuse = false;
    o.answerEveryOther = true;
  });
  ASSERT_TRUE(SwitchLight(true).ok);  // aligns the board's count: this one is answered
  before = FrameCount();
  result = SwitchLight(false);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.outcome, Outcome::kAnswered);
  EXPECT_EQ(FramesFrom(before), std::vector<Bytes>(2, FrameA(0x18, {0x00})));
  EXPECT_FALSE(board_->ledOn());
}

TEST_F(BoardWorkflows, OneChannelIsWrittenWithTheOtherTwoAsReadAndNeverAfterAFailedRead) {
  Start();
  struct Case {
    const char* name;
    std::optional<Channel> channel;
    uint32_t value;
    bool silent;
    std::vector<Bytes> frames;
    Currents after;
  };
  const Case cases[] = {
      {"green",
       Channel::kGreen,
       42,
       false,
       {kReadCurrents, FrameA(0x02, {0x01, 0x00, 0x2A, 0x00, 0x00, 0x03})},
       {1, 42, 0x300}},
      {"blue at the limit",
       Channel::kBlue,
       255,
       false,
       {kReadCurrents, FrameA(0x02, {0x01, 0x00, 0x2A, 0x00, 0xFF, 0x00})},
       {1, 42, 255}},
      {"above the limit", Channel::kRed, 256, false, {kReadCurrents}, {1, 42, 255}},
      {"no channel", std::nullopt, 7, false, {kReadCurrents}, {1, 42, 255}},
      // The board's other channels are unknown: zeros in their place would switch them dark.
      {"silent read", Channel::kRed, 9, true, {kReadCurrents}, {1, 42, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetBoard([&](boardsim::BoardOptions& o) { o.silent = c.silent; });
    const std::size_t before = FrameCount();
    const ChannelWrite change = WriteChannel(c.channel, c.value);
    EXPECT_EQ(change.read.result.ok, !c.silent);
    EXPECT_EQ(change.write.has_value(), c.frames.size() == 2);
    if (change.write) {
      EXPECT_TRUE(change.write->ok);
    }
    board_->WaitForFrames(before + c.frames.size(), 2s);
    EXPECT_EQ(FramesFrom(before), c.frames);
    EXPECT_EQ(board_->currents(), c.after);
  }
}

TEST_F(BoardWorkflows, UpgradeNamesAreCheckedBeforeAnythingIsSent) {
  Start();
  const std::size_t before = FrameCount();
  EXPECT_FALSE(StartUpgrade("").nameAccepted);
  EXPECT_FALSE(StartUpgrade(std::string(kMaxFirmwareNameLength + 1, 'x')).nameAccepted);
  EXPECT_FALSE(StartUpgrade("").AwaitsOutcome());
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(FrameCount(), before) << "an invalid name went out";

  const std::string longest(kMaxFirmwareNameLength, 'x');
  const UpgradeStartResult started = StartUpgrade(longest);
  EXPECT_TRUE(started.nameAccepted);
  EXPECT_EQ(started.start, UpgradeStart::kAcknowledged);
  EXPECT_TRUE(started.AwaitsOutcome());
  EXPECT_EQ(board_->upgradeFileName(), longest);
}

TEST_F(BoardWorkflows, TheUpgradeStartTellsTheShortFrameFromASilentBoard) {
  Start();
  SetBoard([](boardsim::BoardOptions& o) { o.upgradeAck = false; });
  std::size_t before = FrameCount();
  const UpgradeStartResult fallback = StartUpgrade(kDefaultFirmwareName);
  EXPECT_EQ(fallback.start, UpgradeStart::kShortFrameSent);
  EXPECT_EQ(fallback.outcome, Outcome::kNoAnswer);
  EXPECT_FALSE(fallback.AwaitsOutcome());
  board_->WaitForFrames(before + 2, 2s);
  EXPECT_EQ(FramesFrom(before).back(), (Bytes{0xE0, 0x03, 0x38}));

  ASSERT_TRUE(integration::WaitForSilentLine(100ms));
  before = FrameCount();
  const UpgradeStartResult other = StartUpgrade("other.bin");
  EXPECT_EQ(other.start, UpgradeStart::kNotAcknowledged);
  EXPECT_EQ(other.outcome, Outcome::kNoAnswer);
  EXPECT_TRUE(other.AwaitsOutcome()) << "the board may have started it all the same";
  EXPECT_EQ(FramesFrom(before).size(), 1u);
}

TEST_F(BoardWorkflows, EveryUpgradeStatusEndsTheWaitWithItsMessage) {
  struct Case {
    int status;
    const char* key;
    const char* word;
  };
  const Case cases[] = {{0, key::kUpgradeSuccess, "success"},
                        {1, key::kNotFindDisk, "no-disk"},
                        {2, key::kNotFindFile, "no-file"},
                        {3, key::kInvalidFirmware, "invalid-firmware"},
                        {4, key::kUpgradeFail, "failed"}};
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    SetBoard([&](boardsim::BoardOptions& o) {
      o.upgradeOutcome = c.status;
      // A byte that is no outcome comes first; the wait must not end on it.
      o.preliminaryStatus = 9;
    });
    ASSERT_TRUE(StartUpgrade(kDefaultFirmwareName).AwaitsOutcome());
    const StopFlag stop;
    const UpgradeOutcome outcome = AwaitUpgradeOutcome(stop);
    EXPECT_EQ(outcome.end, UpgradeOutcome::End::kReported);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_STREQ(outcome.messageKey, c.key);
    EXPECT_STREQ(outcome.word, c.word);
  }
}

TEST_F(BoardWorkflows, TheUpgradeWaitTimesOutAndStopsWhenAsked) {
  Start();
  SetBoard([](boardsim::BoardOptions& o) { o.upgradeOutcome = boardsim::kUpgradeOutcomeNone; });
  ASSERT_TRUE(StartUpgrade(kDefaultFirmwareName).AwaitsOutcome());
  const StopFlag idle;
  const UpgradeOutcome timedOut = AwaitUpgradeOutcome(idle, 5);
  EXPECT_EQ(timedOut.end, UpgradeOutcome::End::kTimedOut);
  EXPECT_STREQ(timedOut.messageKey, key::kUpgradeTimeOut);
  EXPECT_STREQ(timedOut.word, "timeout");

  // A full wait lasts about 22.5 s; raised from another thread, it ends within one look.
  StopFlag stop;
  UpgradeOutcome stopped;
  std::thread waiter([&] { stopped = AwaitUpgradeOutcome(stop); });
  std::this_thread::sleep_for(100ms);
  const auto stopTime = TimeOf([&] {
    stop.Raise();
    waiter.join();
  });
  EXPECT_EQ(stopped.end, UpgradeOutcome::End::kStopped);
  EXPECT_EQ(stopped.messageKey, nullptr);
  EXPECT_LT(stopTime, 2s);
}

TEST_F(BoardWorkflows, TheUpgradeWaitEndsWhenThePortGoesAway) {
  Start();
  SetBoard([](boardsim::BoardOptions& o) { o.upgradeOutcome = boardsim::kUpgradeOutcomeNone; });
  ASSERT_TRUE(StartUpgrade(kDefaultFirmwareName).AwaitsOutcome());
  // An unplugged adapter: no outcome can arrive, so the wait must not last its 22.5 s.
  SetBoard([](boardsim::BoardOptions& o) { o.hangUpAfterFrames = 1; });
  std::thread unplug([] {
    std::this_thread::sleep_for(100ms);
    // Any frame now makes the board close the line.
    protocol::SetFlip(0, 0);
  });
  const StopFlag stop;
  UpgradeOutcome outcome;
  const auto waited = TimeOf([&] { outcome = AwaitUpgradeOutcome(stop); });
  unplug.join();
  EXPECT_EQ(outcome.end, UpgradeOutcome::End::kPortGone);
  EXPECT_EQ(outcome.messageKey, nullptr);
  EXPECT_LT(waited, 10s);
}

// An executor like the panel's: work runs on a thread of its own while the caller waits. Every
// frame sent must come from inside one of its runs.
class WorkerExecutor final : public Executor {
 public:
  void Run(std::string_view activityKey, const std::function<void()>& work) override {
    keys.emplace_back(activityKey);
    running_ = true;
    std::thread worker([&] { work(); });
    worker.join();
    running_ = false;
  }
  bool Busy() const override { return running_; }

  std::vector<std::string> keys;

 private:
  std::atomic<bool> running_{false};
};

// Records what the connection action showed, and whether a run was under way meanwhile.
class WatchedPage : public connection::ConnectionPage {
 public:
  explicit WatchedPage(const Executor& executor) : executor_(executor) {}
  void ShowMessage(const std::string& text, const std::string&) override {
    events.push_back("box " + text);
    touchedDuringRun = touchedDuringRun || executor_.Busy();
  }
  void SetConnectCaption(const std::string& caption) override {
    events.push_back("caption " + caption);
    touchedDuringRun = touchedDuringRun || executor_.Busy();
  }
  std::vector<std::string> events;
  bool touchedDuringRun = false;

 private:
  const Executor& executor_;
};

TEST_F(BoardWorkflows, EveryExchangeRunsInsideTheExecutorAndPagesHearOfItAfterwards) {
  board_ = std::make_unique<boardsim::SimulatedBoard>(integration::KnownBoard(115200, false));
  ASSERT_TRUE(board_->Start(integration::kBoardCom)) << board_->error();

  WorkerExecutor executor;
  SetExecutor(&executor);
  std::atomic<int> sentOutside{0};
  std::atomic<int> sentInside{0};
  transport::SetLinkTrace([&](transport::LinkDirection direction, const uint8_t*, uint32_t) {
    if (direction != transport::LinkDirection::kSent) return;
    // The search greets each port from a probe thread of its own, started by the work, so a
    // frame counts as inside while a run is under way: the caller is blocked in Run then.
    (executor.Busy() ? sentInside : sentOutside)++;
  });

  WatchedPage page(executor);
  connection::ConnectionRequest request;
  request.portNumber = static_cast<uint8_t>(board_->comNumber());
  request.baudRate = 115200;
  ASSERT_EQ(board::Connect(page, request), connection::kToggled);
  SwitchLight(true);
  ReadCurrents();
  WriteChannel(Channel::kRed, 5);
  WriteCurrents({1, 2, 3});
  SetLightColours(7);
  SetInputSource(0);
  SetFlip(0, 1);
  ReadTemperatures();
  StartUpgrade("other.bin");
  EXPECT_EQ(board::ToggleConnection(page), connection::kToggled);

  transport::SetLinkTrace(nullptr);
  SetExecutor(nullptr);
  EXPECT_EQ(sentOutside.load(), 0);
  // Greeting, version, light, read, read and write, write, colours, input, flip, temperatures,
  // upgrade start.
  EXPECT_EQ(sentInside.load(), 12);
  EXPECT_EQ(executor.keys,
            (std::vector<std::string>{
                key::kBusyConnecting, key::kBusySwitchingLight, key::kBusyReadingCurrents,
                key::kBusyWritingCurrents, key::kBusyWritingCurrents, key::kBusySettingColours,
                key::kBusySettingInput, key::kBusySettingFlip, key::kBusyReadTemperatures,
                key::kBusyStartingUpgrade, key::kBusyDisconnecting}));
  EXPECT_FALSE(page.touchedDuringRun) << "work touched the page while it ran";
  EXPECT_EQ(page.events,
            (std::vector<std::string>{"box " + settings::Translate(key::kConnectSuccess),
                                      "caption " + settings::Translate(key::kUartClose),
                                      "caption " + settings::Translate(key::kUartOpen)}));
}

}  // namespace
}  // namespace lumivex::board
