// lumivexctl watch and --json: the real program against simulated boards, read line by line as
// it prints, signalled, silenced and unplugged while it runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/port_map.h"
#include "tests/ctl/ctl_process.h"
#include "tests/support/virtual_ports.h"
#include "tools/boardsim/board.h"
#include "tools/ctl/ctl.h"
#include "tools/ctl/json_output.h"

namespace lumivex::ctl {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using boardsim::BoardOptions;
using boardsim::SimulatedBoard;
using boardsim::Temperatures;
using test::CtlProcess;
using test::JsonMembers;
using test::ParseJsonObject;
using Args = std::vector<std::string>;

const auto* const kRuntimeDir = ::testing::AddGlobalTestEnvironment(
    new lumivex::testing::PrivateRuntimeEnvironment("lumivex-watch"));

const std::regex kCsvLine(
    R"((\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d),(\d+\.\d{3}),(-?\d*),(-?\d*),(-?\d*),(-?\d*))");
constexpr char kHeader[] = "time,elapsed_s,red,green,blue,board";

struct CsvRow {
  double elapsed = 0;
  std::array<std::string, 4> values;
};

std::optional<CsvRow> ParseRow(const std::string& line) {
  std::smatch m;
  if (!std::regex_match(line, m, kCsvLine)) return std::nullopt;
  return CsvRow{std::stod(m[2]), {m[3], m[4], m[5], m[6]}};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    lines.push_back(text.substr(begin, end - begin));
  }
  return lines;
}

Args OnPort(int com, Args command) {
  Args args = {"--port", "COM" + std::to_string(com), "--baud", "115200"};
  args.insert(args.end(), command.begin(), command.end());
  return args;
}

class WatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ignored;
    fs::remove_all(platform::VirtualPortsFolder(), ignored);
  }
  void TearDown() override { SetUp(); }

  static std::unique_ptr<SimulatedBoard> Board(BoardOptions options = {}) {
    auto board = std::make_unique<SimulatedBoard>(options);
    EXPECT_TRUE(board->Start(7)) << board->error();
    return board;
  }
};

TEST_F(WatchTest, PrintsTheHeaderAndOneLinePerReadingWithTheBoardsValues) {
  struct Case {
    const char* name;
    Temperatures temperatures;
    bool shortForm;
    std::array<std::string, 4> csv;
    JsonMembers json;
  };
  const Case cases[] = {
      {"four values, one missing",
       {25, -100, 27, 40},
       false,
       {"25", "", "27", "40"},
       {{"red", "25"}, {"green", "null"}, {"blue", "27"}, {"board", "40"}}},
      {"below zero",
       {-5, 0, -100, -12},
       false,
       {"-5", "0", "", "-12"},
       {{"red", "-5"}, {"green", "0"}, {"blue", "null"}, {"board", "-12"}}},
      // A board that knows the short request only reports no board value.
      {"short form",
       {31, 32, 33, 44},
       true,
       {"31", "32", "33", ""},
       {{"red", "31"}, {"green", "32"}, {"blue", "33"}, {"board", "null"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardOptions options;
    options.fixedTemperatures = c.temperatures;
    options.shortTemperaturesOnly = c.shortForm;
    auto board = Board(options);

    CtlProcess csv(LUMIVEXCTL_PATH, OnPort(7, {"watch", "--interval", "0.5", "--count", "3"}));
    ASSERT_TRUE(csv.started());
    ASSERT_EQ(csv.Wait(60s), 0) << csv.err;
    const std::vector<std::string> lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), 4u) << csv.out;
    EXPECT_EQ(lines[0], kHeader);
    double previous = -1;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::optional<CsvRow> row = ParseRow(lines[i]);
      ASSERT_TRUE(row) << lines[i];
      EXPECT_EQ(row->values, c.csv) << lines[i];
      EXPECT_GT(row->elapsed, previous);
      previous = row->elapsed;
    }
    EXPECT_EQ(ParseRow(lines[1])->elapsed, 0.0);

    CtlProcess json(LUMIVEXCTL_PATH,
                    OnPort(7, {"watch", "--json", "--interval", "0.5", "--count", "2"}));
    ASSERT_EQ(json.Wait(60s), 0) << json.err;
    const std::vector<std::string> objects = Lines(json.out);
    ASSERT_EQ(objects.size(), 2u) << json.out;
    for (const std::string& line : objects) {
      const std::optional<JsonMembers> members = ParseJsonObject(line);
      ASSERT_TRUE(members) << line;
      ASSERT_EQ(members->size(), 6u) << line;
      EXPECT_EQ((*members)[0].first, "time");
      EXPECT_TRUE(
          std::regex_match((*members)[0].second,
                           std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
          << line;
      EXPECT_EQ((*members)[1].first, "elapsed_s");
      EXPECT_EQ(JsonMembers(members->begin() + 2, members->end()), c.json) << line;
    }
  }
}

TEST_F(WatchTest, KeepsTheIntervalOverTwentyReadings) {
  auto board = Board();
  CtlProcess watch(LUMIVEXCTL_PATH, OnPort(7, {"watch", "--interval", "0.5", "--count", "21"}));
  ASSERT_EQ(watch.Wait(120s), 0) << watch.err;
  const std::vector<std::string> lines = Lines(watch.out);
  ASSERT_EQ(lines.size(), 22u) << watch.out;
  std::vector<double> elapsed;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::optional<CsvRow> row = ParseRow(lines[i]);
    ASSERT_TRUE(row) << lines[i];
    elapsed.push_back(row->elapsed);
  }
  // Twenty intervals of 0.5 s. A loaded machine may wake a step late, but the steps count from
  // the planned starts, so lateness does not add up; no step may come early.
  EXPECT_NEAR(elapsed.back() - elapsed.front(), 10.0, 1.0);
  for (std::size_t i = 1; i < elapsed.size(); ++i) {
    EXPECT_GE(elapsed[i] - elapsed[i - 1], 0.45) << "reading " << i;
  }
}

TEST_F(WatchTest, CountAndDurationEndTheWatch) {
  auto board = Board();
  // Readings start at 0, 0.5, 1.0 and 1.5 s; the one due at 2.0 s is past the duration.
  CtlProcess watch(LUMIVEXCTL_PATH, OnPort(7, {"watch", "--interval=0.5", "--duration=2"}));
  ASSERT_EQ(watch.Wait(60s), 0) << watch.err;
  EXPECT_EQ(Lines(watch.out).size(), 1u + 4u) << watch.out;
}

TEST_F(WatchTest, CtrlCOrTerminationEndsWithACompleteLastLineAndStatusZero) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    auto board = Board();
    CtlProcess watch(LUMIVEXCTL_PATH, OnPort(7, {"watch", "--interval", "0.5"}));
    ASSERT_TRUE(watch.ReadLine(20s)) << watch.err;  // the header
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(watch.ReadLine(20s)) << watch.err;
    watch.Signal(signal);
    ASSERT_EQ(watch.Wait(30s), 0) << watch.err;
    ASSERT_FALSE(watch.out.empty());
    EXPECT_EQ(watch.out.back(), '\n') << "the last line was cut";
    const std::vector<std::string> lines = Lines(watch.out);
    ASSERT_GE(lines.size(), 4u);
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(ParseRow(lines[i])) << lines[i];
  }
}

TEST_F(WatchTest, ASilentBoardGivesEmptyFieldsAndTheWatchGoesOn) {
  BoardOptions options;
  options.fixedTemperatures = Temperatures{25, 26, 27, 40};
  auto board = Board(options);
  // The silent reading (about 7.3 s) ends well before the next one is due, so the board answers
  // again before that request is sent, however slow the machine.
  CtlProcess watch(LUMIVEXCTL_PATH, OnPort(7, {"watch", "--interval", "10", "--count", "3"}));
  ASSERT_EQ(watch.ReadLine(20s), kHeader) << watch.err;
  const std::optional<std::string> answered = watch.ReadLine(20s);
  ASSERT_TRUE(answered) << watch.err;
  options.silent = true;
  board->SetOptions(options);
  // Both request forms go unanswered: about 7.3 s.
  const std::optional<std::string> silent = watch.ReadLine(30s);
  ASSERT_TRUE(silent) << watch.err;
  options.silent = false;
  board->SetOptions(options);
  ASSERT_EQ(watch.Wait(60s), 0) << watch.err;

  const std::vector<std::string> lines = Lines(watch.out);
  ASSERT_EQ(lines.size(), 4u) << watch.out;
  EXPECT_EQ(ParseRow(lines[1])->values, (std::array<std::string, 4>{"25", "26", "27", "40"}));
  const std::optional<CsvRow> empty = ParseRow(lines[2]);
  ASSERT_TRUE(empty) << lines[2];
  EXPECT_EQ(empty->values, (std::array<std::string, 4>{"", "", "", ""})) << "not zeros";
  EXPECT_EQ(ParseRow(lines[3])->values, (std::array<std::string, 4>{"25", "26", "27", "40"}));
  EXPECT_NE(watch.err.find("the board did not answer"), std::string::npos) << watch.err;
  EXPECT_NE(watch.err.find("the board answers again"), std::string::npos) << watch.err;
}

TEST_F(WatchTest, AnUnpluggedBoardEndsTheWatchWithStatusOne) {
  BoardOptions options;
  // The greeting, the version request and three readings; the next request meets a closed line.
  options.hangUpAfterFrames = 5;
  auto board = Board(options);
  CtlProcess watch(LUMIVEXCTL_PATH, OnPort(7, {"watch", "--interval", "0.5", "--count", "10"}));
  ASSERT_EQ(watch.Wait(60s), 1) << watch.err;
  EXPECT_NE(watch.err.find("went away"), std::string::npos) << watch.err;
  const std::vector<std::string> lines = Lines(watch.out);
  ASSERT_GE(lines.size(), 2u) << watch.out;
  EXPECT_LT(lines.size(), 11u) << watch.out;
  EXPECT_EQ(watch.out.back(), '\n');
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::optional<CsvRow> row = ParseRow(lines[i]);
    ASSERT_TRUE(row) << lines[i];
    EXPECT_NE(row->values[0], "") << "a reading of the unplugged port was logged as empty";
  }
}

TEST_F(WatchTest, AnOutputThatCannotBeWrittenEndsTheWatchWithStatusOne) {
  auto board = Board();
  // Without the check the watch would run its hour logging nothing.
  const std::string command = std::string(LUMIVEXCTL_PATH) +
                              " --port COM7 --baud 115200 watch --interval 0.5 --duration 3600"
                              " >/dev/full 2>/dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST_F(WatchTest, JsonForEveryCommand) {
  BoardOptions options;
  options.fixedTemperatures = Temperatures{25, -100, 27, 40};
  auto board = Board(options);
  struct Case {
    Args command;
    std::vector<JsonMembers> objects;
  };
  const Case cases[] = {
      {{"connect"}, {}},
      {{"led", "on"}, {{{"result", "ok"}}}},
      {{"current"}, {{{"red", "100"}, {"green", "100"}, {"blue", "100"}}}},
      {{"current", "set", "green", "42"}, {{{"result", "ok"}}}},
      {{"current", "write", "1", "2", "3"}, {{{"result", "ok"}}}},
      {{"colour", "white"}, {{{"result", "ok"}}}},
      {{"input", "vga"}, {{{"result", "ok"}}}},
      {{"flip", "1", "0"}, {{{"result", "ok"}}}},
      {{"temp"}, {{{"red", "25"}, {"green", "null"}, {"blue", "27"}, {"board", "40"}}}},
      {{"upgrade", "--wait"}, {{{"result", "acknowledged"}}, {{"outcome", "success"}}}},
      {{"upgrade", "missing.bin", "--wait"},
       {{{"result", "acknowledged"}}, {{"outcome", "no-file"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.command));
    Args args = c.command;
    args.insert(args.begin(), "--json");
    CtlProcess run(LUMIVEXCTL_PATH, OnPort(7, args));
    ASSERT_TRUE(run.Wait(60s)) << run.err;
    std::vector<JsonMembers> objects;
    for (const std::string& line : Lines(run.out)) {
      const std::optional<JsonMembers> members = ParseJsonObject(line);
      ASSERT_TRUE(members) << line;
      objects.push_back(*members);
    }
    EXPECT_EQ(objects, c.objects) << run.out;
  }

  options.refuse = true;
  board->SetOptions(options);
  CtlProcess refused(LUMIVEXCTL_PATH, OnPort(7, {"flip", "0", "0", "--json"}));
  ASSERT_EQ(refused.Wait(60s), 1) << refused.err;
  EXPECT_EQ(refused.out, "{\"result\":\"refused\"}\n");

  SimulatedBoard second;
  ASSERT_TRUE(second.Start(12)) << second.error();
  CtlProcess ports(LUMIVEXCTL_PATH, {"ports", "--json"});
  ASSERT_EQ(ports.Wait(60s), 0) << ports.err;
  const std::vector<platform::PortMapEntry> map = platform::ReadPortMap();
  const std::vector<std::string> lines = Lines(ports.out);
  ASSERT_EQ(lines.size(), map.size()) << ports.out;
  for (std::size_t i = 0; i < map.size(); ++i) {
    const std::optional<JsonMembers> members = ParseJsonObject(lines[i]);
    ASSERT_TRUE(members) << lines[i];
    const JsonMembers expected = {{"port", "COM" + std::to_string(map[i].number)},
                                  {"device", map[i].device},
                                  {"searched", i < 11 ? "true" : "false"}};
    EXPECT_EQ(*members, expected);
  }
}

TEST(JsonOutput, ResultLinesAndStringsAreValidJsonWhateverTheyHold) {
  struct Case {
    Command command;
    std::string line;
    std::string json;
  };
  const Case cases[] = {
      {Command::kFlip, "ok", R"({"result":"ok"})"},
      {Command::kUpgrade, "fallback-sent", R"({"result":"fallback-sent"})"},
      {Command::kUpgrade, "outcome invalid-firmware", R"({"outcome":"invalid-firmware"})"},
      {Command::kTemp, "red=-5 green=---- blue=0 board=40",
       R"({"red":-5,"green":null,"blue":0,"board":40})"},
      {Command::kPorts, "COM3 /dev/pts/4",
       R"({"port":"COM3","device":"/dev/pts/4","searched":true})"},
      // Device names are the system's to choose: quotes, controls and stray bytes included.
      {Command::kPorts, "COM4 /dev/a\"b\\c\x01\xff",
       R"({"port":"COM4","device":"/dev/a\"b\\c\u0001\ufffd","searched":true})"},
      {Command::kPorts, "COM5 /dev/服务器",
       R"({"port":"COM5","device":"/dev/服务器","searched":true})"},
      // Anything else is kept as text rather than guessed at.
      {Command::kTemp, "red=1 green=x", R"({"text":"red=1 green=x"})"},
      {Command::kWatch, R"({"time":"t","red":null})", R"({"time":"t","red":null})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string json = JsonResultLine(c.command, c.line, 0);
    EXPECT_EQ(json, c.json);
    EXPECT_TRUE(ParseJsonObject(json)) << json;
  }
  EXPECT_EQ(JsonResultLine(Command::kPorts, "COM20 /dev/ttyUSB9", 11),
            R"({"port":"COM20","device":"/dev/ttyUSB9","searched":false})");
  // Overlong forms and surrogates are no UTF-8.
  EXPECT_EQ(JsonString("\xc0\xaf\xed\xa0\x80"), R"("\ufffd\ufffd\ufffd\ufffd\ufffd")");
}

TEST(WatchArguments, IntervalCountAndDurationAreChecked) {
  struct Case {
    Args args;
    bool accepted;
    std::chrono::milliseconds interval;
    std::optional<uint64_t> count;
    std::optional<std::chrono::milliseconds> duration;
  };
  const Case cases[] = {
      {{"watch"}, true, 5000ms, {}, {}},
      {{"watch", "--interval", "0.5"}, true, 500ms, {}, {}},
      {{"watch", "--interval=1.25", "--count=7"}, true, 1250ms, 7, {}},
      {{"watch", "--duration", "90", "--interval", "2"}, true, 2000ms, {}, 90000ms},
      {{"watch", "--interval", "0.499"}, false, {}, {}, {}},
      {{"watch", "--interval", "-1"}, false, {}, {}, {}},
      {{"watch", "--interval", "1e3"}, false, {}, {}, {}},
      {{"watch", "--interval", "1."}, false, {}, {}, {}},
      {{"watch", "--interval", "0.0005"}, false, {}, {}, {}},
      {{"watch", "--interval"}, false, {}, {}, {}},
      {{"watch", "--count", "0"}, false, {}, {}, {}},
      {{"watch", "--duration", "0"}, false, {}, {}, {}},
      {{"watch", "5"}, false, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ParseResult result = ParseArguments(c.args);
    EXPECT_EQ(result.error.empty(), c.accepted) << result.error;
    if (!c.accepted) continue;
    EXPECT_EQ(result.invocation.command, Command::kWatch);
    EXPECT_EQ(result.invocation.watch.interval, c.interval);
    EXPECT_EQ(result.invocation.watch.count, c.count);
    EXPECT_EQ(result.invocation.watch.duration, c.duration);
  }
  // --json anywhere on the line.
  for (const Args& args : {Args{"--json", "temp"}, Args{"temp", "--json"},
                           Args{"--port", "COM3", "watch", "--json", "--count", "2"}}) {
    const ParseResult result = ParseArguments(args);
    EXPECT_TRUE(result.error.empty()) << result.error;
    EXPECT_TRUE(result.invocation.json);
  }
  EXPECT_FALSE(ParseArguments({"temp"}).invocation.json);
}

}  // namespace
}  // namespace lumivex::ctl
