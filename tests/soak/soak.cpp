// lumivex-soak: many exchanges against a simulated board that injects random faults.
//
// Every exchange is one random command through OpenPort, the monitor thread and a real
// pseudo-terminal. Before it the board is given at most one fault. A failure counts as
// explained when that fault can cause it; any other failure, any exchange that overruns its
// bound, any frame that reaches the board other than as sent, and memory or descriptors that
// grow, make the run fail.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "connection/connection.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "tests/support/board_session.h"
#include "transport/link.h"
#include "transport/ports.h"

namespace lumivex::soak {
namespace {

using integration::Bytes;
using integration::Clock;
using integration::Millis;
using namespace std::chrono_literals;

constexpr int kBoardCom = 201;
// The board keeps a log of every frame; a fresh board every so many exchanges keeps the log, and
// so the memory it takes, small. The port is opened afresh each time, which the soak also proves.
constexpr uint64_t kExchangesPerBoard = 2000;
// The worker's wait for an upgrade outcome, shortened: the soak's board reports at once.
constexpr int kOutcomeCycles = 10;
constexpr Millis kOutcomeBudget = kOutcomeCycles * (25ms + 20ms);
// What one LinkSend may take when no write-complete comes.
constexpr Millis kSendBound = 1001ms;
// Scheduling slack added to every bound and to every "could this fault cause it" margin.
constexpr Millis kSlack = 1500ms;
constexpr Millis kMargin = 40ms;

enum class Fault { kNone, kSilence, kRefusal, kBadCheck, kSplit, kSurplus, kNoise, kDelay };
constexpr std::array<const char*, 8> kFaultNames = {"none",  "silence", "refusal", "bad check",
                                                    "split", "surplus", "noise",   "delay"};
// Relative weights among the faulted exchanges. Silence costs a command's whole patience (up to
// 7.3 s for temperatures) and a delay up to 0.3 s, so both stay rare.
constexpr std::array<std::pair<Fault, int>, 7> kFaultWeights = {{{Fault::kRefusal, 200},
                                                                 {Fault::kBadCheck, 200},
                                                                 {Fault::kSplit, 200},
                                                                 {Fault::kSurplus, 150},
                                                                 {Fault::kNoise, 150},
                                                                 {Fault::kDelay, 90},
                                                                 {Fault::kSilence, 10}}};

struct Injected {
  Fault fault = Fault::kNone;
  uint32_t delayMs = 0;
  Millis splitSpread{0};  // gaps an answer spends between its pieces
};

struct Outcome {
  bool failed = false;     // the call reported failure, or a result other than due
  bool wrongData = false;  // it reported success with values the board never held
  std::string detail;
};

struct Options {
  uint64_t exchanges = 100000;
  uint64_t seed = 1;
  int faultPerMille = 100;
  int64_t maxGrowthKb = 4096;
  bool verbose = false;
};

long ReadVmRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

int CountOpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count - 3;  // ".", ".." and the directory's own descriptor
}

bool ParseNumber(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return false;
  out = value;
  return true;
}

void Usage() {
  std::fputs(
      "usage: lumivex-soak [--exchanges N] [--seed S] [--fault-rate PER_MILLE]\n"
      "                    [--max-growth-kb KB] [--verbose]\n"
      "Runs N exchanges (default 100000) against a simulated board that injects random faults\n"
      "in PER_MILLE of them (default 100). Exits 1 when a failure is not explained by its\n"
      "fault, an exchange overruns its bound, or memory grows by more than KB (default 4096).\n",
      stderr);
}

std::optional<Options> ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    uint64_t value = 0;
    const bool hasValue = i + 1 < argc;
    if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--exchanges" && hasValue && ParseNumber(argv[++i], value)) {
      options.exchanges = value;
    } else if (arg == "--seed" && hasValue && ParseNumber(argv[++i], value)) {
      options.seed = value;
    } else if (arg == "--fault-rate" && hasValue && ParseNumber(argv[++i], value) &&
               value <= 1000) {
      options.faultPerMille = static_cast<int>(value);
    } else if (arg == "--max-growth-kb" && hasValue && ParseNumber(argv[++i], value)) {
      options.maxGrowthKb = static_cast<int64_t>(value);
    } else {
      std::fprintf(stderr, "lumivex-soak: bad argument '%s'\n", arg.c_str());
      return std::nullopt;
    }
  }
  return options;
}

class Soak {
 public:
  explicit Soak(const Options& options) : options_(options), random_(options.seed) {}

  int Run();

 private:
  // One command of the board: its name, its class, whether it sets something, the patience of
  // its first form (what a delay or a split answer must exceed to fail it), its longest run, and
  // the call with its own check of the result against the board's state.
  struct Command {
    const char* name;
    bool classD;
    bool setter;
    Millis patience;
    Millis bound;
    Outcome (Soak::*run)(const boardsim::BoardState& before);
  };
  static const std::array<Command, 10> kCommands;

  bool StartBoard();
  Injected PickFault();
  boardsim::BoardOptions OptionsFor(const Injected& injected);
  bool Explained(const Injected& injected, const Command& command, const Outcome& outcome) const;
  bool Settle(const Injected& injected, uint64_t framesBefore, uint64_t answersBefore,
              uint64_t upgradesBefore, uint64_t upgradeStartsExpected);
  bool FramesArrivedAsSent(uint64_t framesBefore);
  void Report(uint64_t index, const Command& command, const Injected& injected,
              const Outcome& outcome, Millis took, const char* verdict);

  Outcome Handshake(const boardsim::BoardState&);
  Outcome Temperatures(const boardsim::BoardState&);
  Outcome LedPower(const boardsim::BoardState&);
  Outcome ReadCurrents(const boardsim::BoardState&);
  Outcome WriteCurrents(const boardsim::BoardState&);
  Outcome Flip(const boardsim::BoardState&);
  Outcome Input(const boardsim::BoardState&);
  Outcome Colour(const boardsim::BoardState&);
  Outcome Version(const boardsim::BoardState&);
  Outcome Upgrade(const boardsim::BoardState&);

  uint32_t Random(uint32_t below) {
    return std::uniform_int_distribution<uint32_t>(0, below - 1)(random_);
  }

  Options options_;
  std::mt19937_64 random_;
  std::unique_ptr<boardsim::SimulatedBoard> board_;
  uint32_t baud_ = 115200;
  boardsim::Temperatures temperatures_{};
  uint32_t firmwareVersion_ = connection::MinimumFirmwareVersion;
  uint64_t upgradeFramesThisExchange_ = 0;

  // Every frame the link sent during the current exchange, from its trace.
  std::vector<Bytes> sent_;
  uint64_t shortFramesSent_ = 0;

  std::array<uint64_t, 8> injectedByFault_{};
  uint64_t explained_ = 0;
  uint64_t unexplained_ = 0;
  uint64_t overran_ = 0;
  uint64_t framesMismatched_ = 0;
  uint64_t settleFailures_ = 0;
  uint64_t reported_ = 0;
};

// Only the exchanges that the board can be told to spoil carry a fault; the rest are checked for
// exact results.
const std::array<Soak::Command, 10> Soak::kCommands = {{
    {"Handshake", true, false, 291ms, 2 * kSendBound + 291ms + 387ms, &Soak::Handshake},
    {"ReadTemperatures", true, false, 4050ms, 2 * kSendBound + 4050ms + 3250ms,
     &Soak::Temperatures},
    {"SetLedPower", false, true, 1250ms, kSendBound + 1250ms, &Soak::LedPower},
    {"ReadLedCurrents", false, false, 2450ms, kSendBound + 2450ms, &Soak::ReadCurrents},
    {"WriteLedCurrents", false, true, 1250ms, kSendBound + 1250ms, &Soak::WriteCurrents},
    {"SetFlip", true, true, 2050ms, kSendBound + 2050ms, &Soak::Flip},
    {"SetInputSource", true, true, 2050ms, kSendBound + 2050ms, &Soak::Input},
    {"SetLightColour", true, true, 205ms, kSendBound + 205ms, &Soak::Colour},
    {"IsFirmwareAtLeast", true, false, 245ms, kSendBound + 245ms, &Soak::Version},
    {"StartFirmwareUpgrade", true, true, 205ms, 2 * kSendBound + 205ms + kOutcomeBudget,
     &Soak::Upgrade},
}};

Outcome Soak::Handshake(const boardsim::BoardState&) {
  Outcome outcome;
  outcome.failed = !protocol::Handshake();
  return outcome;
}

Outcome Soak::Temperatures(const boardsim::BoardState&) {
  Outcome outcome;
  int16_t r = 1, g = 1, b = 1, board = 1;
  const bool ok = protocol::ReadTemperatures(r, g, b, board);
  const boardsim::Temperatures& t = temperatures_;
  if (!ok) {
    outcome.failed = true;
    // A failed read must still leave "not available" everywhere.
    outcome.wrongData = r != -100 || g != -100 || b != -100 || board != -100;
  } else {
    outcome.wrongData = r != t.red || g != t.green || b != t.blue || board != t.board;
  }
  outcome.detail = std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b) + " " +
                   std::to_string(board);
  return outcome;
}

Outcome Soak::LedPower(const boardsim::BoardState&) {
  Outcome outcome;
  const uint8_t on = static_cast<uint8_t>(Random(2));
  outcome.failed = !protocol::SetLedPower(on);
  outcome.wrongData = !outcome.failed && board_->ledOn() != (on == 1);
  return outcome;
}

Outcome Soak::ReadCurrents(const boardsim::BoardState& before) {
  Outcome outcome;
  std::array<uint16_t, 3> got = {1, 1, 1};
  const bool ok = protocol::ReadLedCurrents(got[0], got[1], got[2]);
  outcome.failed = !ok;
  outcome.wrongData = ok ? got != before.currents : got != std::array<uint16_t, 3>{0, 0, 0};
  outcome.detail =
      std::to_string(got[0]) + " " + std::to_string(got[1]) + " " + std::to_string(got[2]);
  return outcome;
}

Outcome Soak::WriteCurrents(const boardsim::BoardState&) {
  Outcome outcome;
  const std::array<uint16_t, 3> written = {static_cast<uint16_t>(Random(65536)),
                                           static_cast<uint16_t>(Random(65536)),
                                           static_cast<uint16_t>(Random(65536))};
  outcome.failed = !protocol::WriteLedCurrents(written[0], written[1], written[2]);
  outcome.wrongData = !outcome.failed && board_->currents() != written;
  return outcome;
}

Outcome Soak::Flip(const boardsim::BoardState&) {
  Outcome outcome;
  const uint8_t x = static_cast<uint8_t>(Random(2));
  const uint8_t y = static_cast<uint8_t>(Random(2));
  outcome.failed = !protocol::SetFlip(x, y);
  outcome.wrongData = !outcome.failed && (board_->flipX() != x || board_->flipY() != y);
  return outcome;
}

Outcome Soak::Input(const boardsim::BoardState&) {
  Outcome outcome;
  const uint8_t source = static_cast<uint8_t>(Random(2));
  outcome.failed = !protocol::SetInputSource(source);
  outcome.wrongData = !outcome.failed && board_->inputSource() != source;
  return outcome;
}

Outcome Soak::Colour(const boardsim::BoardState&) {
  static constexpr std::array<uint8_t, 4> kColours = {1, 2, 4, 7};
  Outcome outcome;
  const uint8_t colours = kColours[Random(4)];
  outcome.failed = !protocol::SetLightColour(colours);
  outcome.wrongData = !outcome.failed && board_->lightColours() != colours;
  return outcome;
}

Outcome Soak::Version(const boardsim::BoardState&) {
  Outcome outcome;
  const bool current = firmwareVersion_ >= connection::MinimumFirmwareVersion;
  const bool got = protocol::IsFirmwareAtLeast(connection::MinimumFirmwareVersion);
  // Only a current board can be failed: an old one and a lost answer both read as old.
  outcome.failed = current && !got;
  outcome.wrongData = !current && got;
  return outcome;
}

Outcome Soak::Upgrade(const boardsim::BoardState&) {
  static const Bytes kDefault = integration::Join(integration::Text("KVB03.bin"), {0});
  static const Bytes kOther = integration::Join(integration::Text("other.bin"), {0});
  Outcome outcome;
  const bool isDefault = Random(2) == 0;
  const Bytes& name = isDefault ? kDefault : kOther;
  const int32_t started =
      protocol::StartFirmwareUpgrade(name.data(), static_cast<uint8_t>(name.size()));
  upgradeFramesThisExchange_ = 1;
  std::optional<uint8_t> status;
  if (started != -1) {
    // The worker's loop: a status byte of the table ends it.
    for (int cycle = 0; cycle < kOutcomeCycles && !status; ++cycle) {
      uint8_t byte = 0xFF;
      if (protocol::ReceiveChecked(&byte, 1) == 1 && byte <= 4) {
        status = byte;
      } else {
        std::this_thread::sleep_for(20ms);
      }
    }
  }
  const uint8_t due = isDefault ? 0 : 2;  // the disk holds only the default file
  outcome.failed = started != 1 || !status;
  outcome.wrongData = status && *status != due;
  outcome.detail = "started " + std::to_string(started) +
                   (status ? ", status " + std::to_string(*status) : ", no status");
  return outcome;
}

bool Soak::StartBoard() {
  transport::ClosePort();
  board_.reset();
  board_ = std::make_unique<boardsim::SimulatedBoard>(OptionsFor({}));
  if (!board_->Start(kBoardCom)) {
    std::fprintf(stderr, "lumivex-soak: the board did not start: %s\n", board_->error().c_str());
    return false;
  }
  if (!transport::OpenPort(kBoardCom, baud_)) {
    std::fprintf(stderr, "lumivex-soak: COM%d did not open: errno %d\n", kBoardCom,
                 transport::LastOpenError());
    return false;
  }
  return true;
}

Injected Soak::PickFault() {
  Injected injected;
  if (static_cast<int>(Random(1000)) >= options_.faultPerMille) return injected;
  int total = 0;
  for (const auto& [fault, weight] : kFaultWeights) total += weight;
  int pick = static_cast<int>(Random(static_cast<uint32_t>(total)));
  for (const auto& [fault, weight] : kFaultWeights) {
    if (pick < weight) {
      injected.fault = fault;
      break;
    }
    pick -= weight;
  }
  return injected;
}

boardsim::BoardOptions Soak::OptionsFor(const Injected& injected) {
  boardsim::BoardOptions o;
  o.baud = baud_;
  o.pace = false;
  o.fixedTemperatures = temperatures_;
  o.firmwareVersion = firmwareVersion_;
  o.upgradeDelayMs = 2;
  o.usbFiles = {"KVB03.bin"};
  switch (injected.fault) {
    case Fault::kNone:
      break;
    case Fault::kSilence:
      o.silent = true;
      break;
    case Fault::kRefusal:
      o.refuse = true;
      break;
    case Fault::kBadCheck:
      o.badCheck = true;
      break;
    case Fault::kSplit:
      o.splitAnswers = 1 + Random(4);
      o.splitGapMs = 1 + Random(8);
      break;
    case Fault::kSurplus:
      o.surplusBytes = 1 + Random(8);
      break;
    case Fault::kNoise:
      o.noiseBeforeAnswers = 1 + Random(16);
      break;
    case Fault::kDelay:
      o.answerDelayMs = injected.delayMs;
      break;
  }
  return o;
}

bool Soak::Explained(const Injected& injected, const Command& command,
                     const Outcome& outcome) const {
  const bool upgrade = command.run == &Soak::Upgrade;
  switch (injected.fault) {
    case Fault::kNone:
      return false;
    case Fault::kSilence:
      // Nothing comes, so nothing can be decoded wrongly.
      return !outcome.wrongData;
    case Fault::kRefusal:
      return command.setter && !outcome.wrongData;
    case Fault::kBadCheck:
      // A corrupt class-D answer is never decoded; class A has no check byte to corrupt.
      return command.classD && !outcome.wrongData;
    case Fault::kSplit:
      return !outcome.wrongData && injected.splitSpread + kMargin >= command.patience;
    case Fault::kSurplus:
      // The surplus after the start's acknowledgement stays in the ring, and the outcome's wait
      // takes what the ring holds without a reset: it reads the surplus as a broken status.
      return upgrade && !outcome.wrongData;
    case Fault::kNoise:
      // Noise ahead of an answer is taken for it; a class-A answer has nothing to catch that.
      return true;
    case Fault::kDelay: {
      const Millis delay(injected.delayMs);
      if (outcome.wrongData) return false;
      // A start acknowledged late, and its outcome late again, may miss the worker's budget.
      return delay + kMargin >= command.patience ||
             (upgrade && 2 * delay + kMargin >= kOutcomeBudget);
    }
  }
  return false;
}

// After a fault the board may still be sending: a late answer, surplus, an upgrade outcome.
// Wait until everything it owes for this exchange has been sent and has reached the ring, so that
// it cannot land after the next request's reset.
bool Soak::Settle(const Injected& injected, uint64_t framesBefore, uint64_t answersBefore,
                  uint64_t upgradesBefore, uint64_t upgradeStartsExpected) {
  const uint64_t framesSent = sent_.size();
  if (!board_->WaitForFrames(framesBefore + framesSent, 5s)) return false;
  if (!integration::WaitFor(
          [&] { return board_->state().upgradesStarted >= upgradesBefore + upgradeStartsExpected; },
          5s, 1ms)) {
    return false;
  }
  if (injected.fault != Fault::kSilence) {
    // Every frame but the short upgrade frame is answered, and every upgrade reports.
    const uint64_t owed = framesSent - shortFramesSent_ + upgradeStartsExpected;
    if (!board_->WaitForAnswers(answersBefore + owed, 5s)) return false;
  }
  // 20 ms of quiet: on a loaded machine the monitor thread may take several milliseconds to
  // move bytes the board has already written into the ring.
  return integration::WaitForQuietRing(20ms, 3s);
}

bool Soak::FramesArrivedAsSent(uint64_t framesBefore) {
  const std::vector<std::vector<uint8_t>> frames = board_->receivedFrames();
  if (frames.size() != framesBefore + sent_.size()) return false;
  for (std::size_t i = 0; i < sent_.size(); ++i) {
    if (frames[framesBefore + i] != sent_[i]) return false;
  }
  return true;
}

void Soak::Report(uint64_t index, const Command& command, const Injected& injected,
                  const Outcome& outcome, Millis took, const char* verdict) {
  if (reported_++ >= 20 && !options_.verbose) return;
  std::fprintf(stderr,
               "exchange %" PRIu64
               ": %s under %s (delay %u ms, split spread %lld ms) %s%s after "
               "%lld ms: %s [%s]\n",
               index, command.name, kFaultNames[static_cast<int>(injected.fault)], injected.delayMs,
               static_cast<long long>(injected.splitSpread.count()),
               outcome.failed ? "failed" : "succeeded", outcome.wrongData ? " with wrong data" : "",
               static_cast<long long>(took.count()), verdict, outcome.detail.c_str());
}

int Soak::Run() {
  integration::PrivateRuntimeDir runtime("lumivex-soak");
  if (!runtime.Ok()) {
    std::fputs("lumivex-soak: no private runtime folder\n", stderr);
    return 2;
  }
  transport::SetLinkTrace(
      [this](transport::LinkDirection direction, const uint8_t* bytes, uint32_t count) {
        if (direction != transport::LinkDirection::kSent) return;
        sent_.emplace_back(bytes, bytes + count);
        if (count == protocol::kShortUpgradeFrame.size() &&
            std::equal(bytes, bytes + count, protocol::kShortUpgradeFrame.begin())) {
          ++shortFramesSent_;
        }
      });
  if (!StartBoard()) return 2;

  const long rssStart = ReadVmRssKb();
  const int fdsStart = CountOpenDescriptors();
  long rssPeak = rssStart;
  const auto started = Clock::now();
  uint64_t done = 0;
  uint64_t faulted = 0;

  for (uint64_t index = 0; index < options_.exchanges; ++index) {
    if (index > 0 && index % kExchangesPerBoard == 0) {
      baud_ = baud_ == 115200 ? 9600 : 115200;
      if (!StartBoard()) return 2;
      rssPeak = std::max(rssPeak, ReadVmRssKb());
    }
    const Command& command = kCommands[Random(static_cast<uint32_t>(kCommands.size()))];
    Injected injected = PickFault();
    temperatures_ = {static_cast<int16_t>(static_cast<int>(Random(200)) - 100),
                     static_cast<int16_t>(static_cast<int>(Random(200)) - 50),
                     static_cast<int16_t>(Random(120)), static_cast<int16_t>(Random(90))};
    static constexpr std::array<uint32_t, 5> kVersions = {0x1000A, 0x1000B, 0x20000, 0xFFFF,
                                                          0xFFFFFFFF};
    firmwareVersion_ = kVersions[Random(static_cast<uint32_t>(kVersions.size()))];
    if (injected.fault == Fault::kDelay) injected.delayMs = Random(301);
    const boardsim::BoardOptions boardOptions = OptionsFor(injected);
    if (injected.fault == Fault::kSplit) {
      // The longest answer is 18 bytes; its pieces are separated by this many gaps at most.
      const uint32_t pieces = (18 + boardOptions.splitAnswers - 1) / boardOptions.splitAnswers;
      injected.splitSpread = Millis((pieces - 1) * boardOptions.splitGapMs);
    }
    board_->SetOptions(boardOptions);
    if (injected.fault != Fault::kNone) {
      ++faulted;
      ++injectedByFault_[static_cast<int>(injected.fault)];
    }

    const boardsim::BoardState before = board_->state();
    const boardsim::BoardCounters counters = board_->counters();
    sent_.clear();
    shortFramesSent_ = 0;
    upgradeFramesThisExchange_ = 0;
    Outcome outcome;
    const Millis took = integration::TimeOf([&] { outcome = (this->*command.run)(before); });
    ++done;

    const bool bad = outcome.failed || outcome.wrongData;
    if (bad && Explained(injected, command, outcome)) {
      ++explained_;
    } else if (bad) {
      ++unexplained_;
      Report(index, command, injected, outcome, took, "NOT explained");
    } else if (options_.verbose && injected.fault != Fault::kNone) {
      Report(index, command, injected, outcome, took, "survived");
    }
    if (took > command.bound + kSlack) {
      ++overran_;
      Report(index, command, injected, outcome, took, "over its bound");
    }

    if (injected.fault != Fault::kNone || bad || command.run == &Soak::Upgrade) {
      // The board starts an upgrade for every start it does not refuse, and for the short frame.
      const uint64_t starts =
          (upgradeFramesThisExchange_ > 0 && injected.fault != Fault::kRefusal ? 1 : 0) +
          shortFramesSent_;
      if (!Settle(injected, counters.frames, counters.answers, before.upgradesStarted, starts)) {
        ++settleFailures_;
        Report(index, command, injected, outcome, took, "the board did not settle");
        (void)integration::WaitForSilentLine(50ms);
      }
    }
    if ((index % 100 == 0 || bad) && !FramesArrivedAsSent(counters.frames)) {
      ++framesMismatched_;
      Report(index, command, injected, outcome, took, "frames reached the board altered");
    }
  }

  const auto seconds = std::chrono::duration<double>(Clock::now() - started).count();
  transport::ClosePort();
  board_.reset();
  transport::SetLinkTrace(nullptr);
  const long rssEnd = ReadVmRssKb();
  const int fdsEnd = CountOpenDescriptors();
  rssPeak = std::max(rssPeak, rssEnd);

  std::printf("seed                          %" PRIu64 "\n", options_.seed);
  std::printf("exchanges done                %" PRIu64 "\n", done);
  std::printf("faults injected               %" PRIu64 "\n", faulted);
  for (std::size_t f = 1; f < kFaultNames.size(); ++f) {
    std::printf("  %-27s %" PRIu64 "\n", kFaultNames[f], injectedByFault_[f]);
  }
  std::printf("failures explained by a fault %" PRIu64 "\n", explained_);
  std::printf("failures NOT explained        %" PRIu64 "\n", unexplained_);
  std::printf("exchanges over their bound    %" PRIu64 "\n", overran_);
  std::printf("frames altered on the way     %" PRIu64 "\n", framesMismatched_);
  std::printf("board did not settle          %" PRIu64 "\n", settleFailures_);
  std::printf("VmRSS start / end / peak      %ld / %ld / %ld kB\n", rssStart, rssEnd, rssPeak);
  std::printf("open descriptors start / end  %d / %d\n", fdsStart, fdsEnd);
  std::printf("duration                      %.1f s (%.0f exchanges/s)\n", seconds,
              seconds > 0 ? static_cast<double>(done) / seconds : 0.0);

  const bool memoryFlat = rssEnd - rssStart <= options_.maxGrowthKb;
  const bool ok = unexplained_ == 0 && overran_ == 0 && framesMismatched_ == 0 &&
                  settleFailures_ == 0 && memoryFlat && fdsEnd <= fdsStart;
  std::printf("result                        %s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace lumivex::soak

int main(int argc, char** argv) {
  const std::optional<lumivex::soak::Options> options = lumivex::soak::ParseArguments(argc, argv);
  if (!options) {
    lumivex::soak::Usage();
    return 2;
  }
  return lumivex::soak::Soak(*options).Run();
}
