// lumivex-bench: what the panel's exchanges with the board cost, each figure side by side with
// its reference, at 9600 and 115200 baud, against the simulated board behind a line that keeps
// a real wire's timing (PacedLine). Prints one table.
//
//   lumivex-bench [--quick] [--no-panel] [--today BENCH]
//                                            the table (--quick: fewer runs, a smoke run)
//   lumivex-bench --profile connect|temperatures   one scenario alone, for a profiler
//
// --today runs BENCH (this same program built from another revision, for instance main's
// libraries) with --rows after this run and shows its figures in a column beside ours. --rows
// prints the rows as tab-separated lines instead of the table.
//
// Every wait the protocol prescribes keeps its length here: the figures come from the real
// link, protocol and connection code, never from shortened bounds.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf/paced_line.h"
#include "connection/connection.h"
#if __has_include("connection/connection_testing.h")
#include "connection/connection_testing.h"
#endif
#include "platform/port_map.h"
#include "protocol/commands.h"
#include "tools/boardsim/board.h"
#include "transport/link.h"
#if __has_include("transport/link_testing.h")
#include "transport/link_testing.h"
#endif
#include "transport/ports.h"
#include "transport/receive_ring.h"
#include "transport/serial_port.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using lumivex::bench::PacedLine;
using lumivex::boardsim::BoardOptions;
using lumivex::boardsim::SimulatedBoard;

constexpr std::array<uint32_t, 2> kBauds = {9600, 115200};
// The waits a silent port costs at one speed: both greetings, three receive tries each of
// 8 x (answer bytes on the wire) + 1 one-millisecond steps.
constexpr double kSilentGreetingsMs = 3 * (8 * 12 + 1) + 3 * (8 * 16 + 1);  // 678
// A silent board's temperature read: 50 tries of each form, 10 and 8 answer bytes.
constexpr double kSilentTemperaturesMs = 50 * (8 * 10 + 1) + 50 * (8 * 8 + 1);  // 7300
constexpr uint8_t kBenchPortNumber = 200;

double WireMs(size_t bytes, uint32_t baud) {
  return static_cast<double>(bytes) * 10.0 * 1000.0 / baud;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double ThreadCpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Stats {
  std::vector<double> values;
  void Add(double v) { values.push_back(v); }
  double Median() const {
    if (values.empty()) return 0;
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  double Percentile(double p) const {
    if (values.empty()) return 0;
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p / 100 * static_cast<double>(v.size())))];
  }
  double Min() const {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
  }
  double Max() const {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
  }
  size_t Count() const { return values.size(); }
};

// One line of the table.
struct Row {
  std::string figure;
  std::string baud;
  size_t runs = 0;
  std::string measured;  // median (and worst)
  std::string today;     // the same figure from the --today program
  std::string reference;
  std::string target;
  bool met = false;
  bool judged = true;
};

std::vector<Row> Table;
std::vector<std::string> Notes;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The link's port, seen from inside: the moment its monitor thread has pushed bytes into
// ReceiveRing. Everything else is the port that the panel uses.
class ObservedPort : public lumivex::transport::CLinkPort {
 public:
  ~ObservedPort() override { Close(kStopTimeoutMs); }
  void OnReceive() override {
    CLinkPort::OnReceive();
    lastPushAt.store(Clock::now().time_since_epoch().count());
  }
  Clock::time_point LastPushAt() const {
    return Clock::time_point(Clock::duration(lastPushAt.load()));
  }
  double MonitorCpuSeconds() {
    clockid_t clock{};
    if (!monitorThread.joinable() ||
        pthread_getcpuclockid(monitorThread.native_handle(), &clock) != 0)
      return 0;
    return ThreadCpuSeconds(clock);
  }
  std::atomic<Clock::rep> lastPushAt{0};
};

ObservedPort* Observed = nullptr;
lumivex::transport::LinkPortSide* ResolveObserved() {
  return Observed;
}

// Stands for a page: the connection action's boxes are recorded, not shown.
class RecordingPage : public lumivex::connection::ConnectionPage {
 public:
  void ShowMessage(const std::string& text, const std::string&) override {
    messages.push_back(text);
  }
  void SetConnectCaption(const std::string& text) override { caption = text; }
  std::vector<std::string> messages;
  std::string caption;
};

// A private folder of virtual ports, so that only the ports made here are listed.
class PortsFolder {
 public:
  bool Make() {
    char pattern[] = "/tmp/lumivex-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    root_ = pattern;
    setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
    folder_ = lumivex::boardsim::PortsFolder();
    std::error_code error;
    fs::create_directories(folder_, error);
    return !error;
  }
  ~PortsFolder() {
    std::error_code error;
    if (!root_.empty()) fs::remove_all(root_, error);
  }
  bool Link(int number, const std::string& device) {
    return symlink(device.c_str(), (folder_ + "/COM" + std::to_string(number)).c_str()) == 0;
  }
  void Clear() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder_, error)) fs::remove(entry, error);
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
  std::string folder_;
};

// A port that opens but where no board listens.
class SilentPort {
 public:
  bool Open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0)
      return false;
    path_ = name;
    return true;
  }
  // Throws away what the panel wrote, so that nothing piles up over the runs.
  void Drain() {
    uint8_t buffer[1024];
    while (read(master_, buffer, sizeof buffer) > 0) {
    }
  }
  ~SilentPort() {
    if (master_ >= 0) close(master_);
  }
  const std::string& path() const { return path_; }

 private:
  int master_ = -1;
  std::string path_;
};

// The port list of the connection search: the virtual ports made here and nothing else, so that
// a run never writes greetings to the machine's own serial ports (a console on ttyS0).
std::vector<lumivex::platform::PortMapEntry> VirtualPortsOnly() {
  lumivex::platform::PortMapRoots roots;
  roots.portsFolder = lumivex::platform::VirtualPortsFolder();
  roots.ttyClass = "/nonexistent";
  return lumivex::platform::ReadPortMap(roots);
}

// The board behind a paced line; the port the bench talks through is opened separately.
struct BoardOnLine {
  SimulatedBoard board;
  PacedLine line;
  explicit BoardOnLine(BoardOptions options) : board(std::move(options)) {}
  bool Start() {
    if (!board.Start(SimulatedBoard::kNoVirtualPort)) {
      std::fprintf(stderr, "board: %s\n", board.error().c_str());
      return false;
    }
    if (!line.Start(board.slavePath())) {
      std::fprintf(stderr, "line: %s\n", line.error().c_str());
      return false;
    }
    return true;
  }
};

BoardOptions HealthyBoard(uint32_t baud) {
  BoardOptions options;
  options.baud = baud;
  options.pace = true;
  // An upgrade outcome arriving later would land in the middle of the next exchange.
  options.upgradeOutcome = lumivex::boardsim::kUpgradeOutcomeNone;
  return options;
}

struct Command {
  const char* name;
  size_t requestBytes;
  size_t answerBytes;  // on the wire
  std::function<bool()> run;
};

std::vector<Command> Commands() {
  using namespace lumivex::protocol;
  static const uint8_t kName[] = "KVB03.bin";  // with its terminating zero, as the page sends it
  return {
      {"Handshake (class D)", 15, 12, [] { return Handshake(); }},
      {"IsFirmwareAtLeast", 5, 6, [] { return IsFirmwareAtLeast(0x1000B); }},
      {"ReadTemperatures (long form)", 6, 10,
       [] {
         int16_t r, g, b, board;
         return ReadTemperatures(r, g, b, board);
       }},
      {"ReadLedCurrents", 4, 6,
       [] {
         uint16_t r, g, b;
         return ReadLedCurrents(r, g, b);
       }},
      {"WriteLedCurrents", 10, 3, [] { return WriteLedCurrents(120, 130, 140); }},
      {"SetLedPower", 5, 3, [] { return SetLedPower(1); }},
      {"SetFlip", 7, 5, [] { return SetFlip(1, 0); }},
      {"SetInputSource", 6, 5, [] { return SetInputSource(1); }},
      {"SetLightColour", 6, 5, [] { return SetLightColour(7); }},
      {"StartFirmwareUpgrade", 15, 5,
       [] { return StartFirmwareUpgrade(kName, sizeof kName) == 1; }},
  };
}

// Round trip of every command and the delay from the line to the ring, on one port.
void MeasureExchanges(uint32_t baud, int repetitions) {
  BoardOnLine rig(HealthyBoard(baud));
  if (!rig.Start()) return;
  ObservedPort port;
  if (!port.OpenOn(kBenchPortNumber, rig.line.panelPath(), baud)) {
    std::fprintf(stderr, "open %s: errno %d\n", rig.line.panelPath().c_str(), port.LastError());
    return;
  }
  Observed = &port;
  lumivex::transport::SetLinkPortResolver(&ResolveObserved);

  std::vector<Command> commands = Commands();
  std::vector<Stats> roundTrips(commands.size());
  Stats ring;
  int failures = 0;
  int mismatches = 0;
  rig.line.ResetLateness();
  for (int rep = 0; rep < repetitions; ++rep) {
    for (size_t i = 0; i < commands.size(); ++i) {
      const uint64_t before = rig.line.deliveredBytes();
      const Clock::time_point start = Clock::now();
      const bool ok = commands[i].run();
      const Clock::time_point end = Clock::now();
      if (!ok) {
        ++failures;
        continue;
      }
      if (rig.line.deliveredBytes() - before != commands[i].answerBytes) {
        ++mismatches;
        continue;
      }
      roundTrips[i].Add(Ms(end - start));
      ring.Add(
          std::chrono::duration<double, std::micro>(port.LastPushAt() - rig.line.lastDeliveredAt())
              .count());
    }
  }
  // Reaction: the LED page's "current set" reads the triple and writes it back at once. From
  // the read's last answer byte on the line to the first byte of the write heard on the line.
  Stats reaction;
  for (int rep = 0; rep < repetitions * 3; ++rep) {
    uint16_t r = 0, g = 0, bl = 0;
    if (!lumivex::protocol::ReadLedCurrents(r, g, bl)) continue;
    const Clock::time_point answered = rig.line.lastDeliveredAt();
    if (!lumivex::protocol::WriteLedCurrents(r, g, bl)) continue;
    const Clock::time_point heard = rig.line.requestHeardAt();
    if (heard <= answered) continue;
    reaction.Add(std::chrono::duration<double, std::micro>(heard - answered).count());
  }
  // A long unasked burst (more than one read takes): the monitor thread's second read must
  // follow at once, not after a pause.
  Stats burst;
  constexpr size_t kBurstBytes = 150;
  for (int rep = 0; rep < std::max(3, repetitions / 5); ++rep) {
    lumivex::transport::LinkReset();
    const uint64_t before = rig.line.deliveredBytes();
    rig.board.PushBytes(std::vector<uint8_t>(kBurstBytes, 0x5A));
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(2);
    while (lumivex::transport::ReceiveRing.Count() < kBurstBytes && Clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (lumivex::transport::ReceiveRing.Count() < kBurstBytes ||
        rig.line.deliveredBytes() - before != kBurstBytes)
      continue;
    burst.Add(
        std::chrono::duration<double, std::micro>(port.LastPushAt() - rig.line.lastDeliveredAt())
            .count());
  }
  lumivex::transport::LinkReset();
  lumivex::transport::SetLinkPortResolver(nullptr);
  Observed = nullptr;
  port.Close(ObservedPort::kStopTimeoutMs);

  const std::string b = std::to_string(baud);
  for (size_t i = 0; i < commands.size(); ++i) {
    const double wire = WireMs(commands[i].requestBytes + commands[i].answerBytes, baud);
    const Stats& s = roundTrips[i];
    Row row;
    row.figure = std::string("round trip: ") + commands[i].name;
    row.baud = b;
    row.runs = s.Count();
    row.measured = Format("%.2f ms (max %.2f)", s.Median(), s.Max());
    row.reference =
        Format("wire %zu+%zu B = %.2f ms", commands[i].requestBytes, commands[i].answerBytes, wire);
    row.target = Format("< %.2f ms", wire + 0.2);
    row.met = s.Count() > 0 && s.Median() < wire + 0.2;
    Table.push_back(row);
    // No exchange can beat its own bytes' time on the wire: if one does, the line is not
    // pacing and every figure above is void.
    if (s.Count() > 0 && s.Min() < wire)
      Notes.push_back(Format("INVALID: %s at %u baud took %.2f ms, less than its wire time",
                             commands[i].name, baud, s.Min()));
  }
  Row reactionRow;
  reactionRow.figure = "reaction: answer's last byte to next request";
  reactionRow.baud = b;
  reactionRow.runs = reaction.Count();
  reactionRow.measured =
      Format("%.3f ms (p99 %.3f)", reaction.Median() / 1000, reaction.Percentile(99) / 1000);
  reactionRow.reference = "polling: half a 1 ms step + one step";
  reactionRow.target = "< 0.15 ms, p99 < 1";
  reactionRow.met =
      reaction.Count() > 0 && reaction.Median() < 150 && reaction.Percentile(99) < 1000;
  Table.push_back(reactionRow);
  Row row;
  row.figure = "answer's last byte: line to ReceiveRing";
  row.baud = b;
  row.runs = ring.Count();
  row.measured = Format("%.3f ms (p99 %.3f, max %.3f)", ring.Median() / 1000,
                        ring.Percentile(99) / 1000, ring.Max() / 1000);
  row.reference = "read interval time-out 100 ms";
  row.target = "< 2 ms";
  row.met = ring.Count() > 0 && ring.Median() < 2000;
  Table.push_back(row);
  Row burstRow;
  burstRow.figure = "150-byte burst: last byte, line to ReceiveRing";
  burstRow.baud = b;
  burstRow.runs = burst.Count();
  burstRow.measured = Format("%.3f ms (max %.3f)", burst.Median() / 1000, burst.Max() / 1000);
  burstRow.reference = "100 ms time-out + 10 ms pause";
  burstRow.target = "< 2 ms";
  burstRow.met = burst.Count() > 0 && burst.Median() < 2000;
  Table.push_back(burstRow);
  if (failures > 0)
    Notes.push_back(Format("%u baud: %d exchanges FAILED (left out)", baud, failures));
  if (mismatches > 0)
    Notes.push_back(
        Format("%u baud: %d exchanges left out: the line did not carry exactly the "
               "answer's bytes",
               baud, mismatches));
  Notes.push_back(
      Format("%u baud: the paced line handed a byte over at most %.3f ms after its "
             "wire time (measurement slack, counted against the round trips)",
             baud, static_cast<double>(rig.line.worstLatenessUs()) / 1000));
}

// A temperature read from a board that never answers: the longest wait of any command.
void MeasureSilentWait(uint32_t baud, int repetitions) {
  BoardOptions options = HealthyBoard(baud);
  options.silent = true;
  BoardOnLine rig(options);
  if (!rig.Start()) return;
  ObservedPort port;
  if (!port.OpenOn(kBenchPortNumber, rig.line.panelPath(), baud)) return;
  Observed = &port;
  lumivex::transport::SetLinkPortResolver(&ResolveObserved);
  Stats share;
  Stats wall;
  for (int rep = 0; rep < repetitions; ++rep) {
    const double cpu0 = ThreadCpuSeconds(CLOCK_THREAD_CPUTIME_ID) + port.MonitorCpuSeconds();
    const Clock::time_point start = Clock::now();
    int16_t r, g, b, board;
    const bool answered = lumivex::protocol::ReadTemperatures(r, g, b, board);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ThreadCpuSeconds(CLOCK_THREAD_CPUTIME_ID) + port.MonitorCpuSeconds() - cpu0;
    if (answered) continue;
    wall.Add(seconds * 1000);
    share.Add(cpu / seconds * 100);
  }
  lumivex::transport::SetLinkPortResolver(nullptr);
  Observed = nullptr;
  port.Close(ObservedPort::kStopTimeoutMs);

  Row row;
  row.figure = "CPU during silent ReadTemperatures";
  row.baud = std::to_string(baud);
  row.runs = share.Count();
  row.measured = Format("%.2f%% of %.0f ms", share.Median(), wall.Median());
  row.reference = Format("spinning: 100%% of %.0f ms", kSilentTemperaturesMs);
  row.target = "< 5%";
  row.met = share.Count() > 0 && share.Median() < 5.0;
  Table.push_back(row);
  Row length;
  length.figure = "  length of that wait (must not shrink)";
  length.baud = row.baud;
  length.runs = wall.Count();
  length.measured = Format("%.1f ms (max %.1f)", wall.Median(), wall.Max());
  length.reference = Format("bound %.0f ms", kSilentTemperaturesMs);
  length.measured += Format(" %+.1f%%", (wall.Median() / kSilentTemperaturesMs - 1) * 100);
  length.target = ">= bound";
  length.met = wall.Count() > 0 && wall.Median() >= kSilentTemperaturesMs;
  Table.push_back(length);
}

// ToggleConnection with k silent ports listed before the board.
void MeasureConnect(uint32_t baud, int repetitions, PortsFolder& ports) {
  BoardOnLine rig(HealthyBoard(baud));
  if (!rig.Start()) return;
  std::array<SilentPort, 10> silent;
  for (auto& port : silent)
    if (!port.Open()) return;
  lumivex::connection::SetPortMapReader(&VirtualPortsOnly);

  for (int k : {0, 1, 4, 10}) {
    ports.Clear();
    for (int i = 0; i < k; ++i) ports.Link(i + 1, silent[static_cast<size_t>(i)].path());
    ports.Link(k + 1, rig.line.panelPath());
    // Port by port, the silent attempts add up: both speeds of every silent port, and the
    // board's port at 9600 when the board runs at 115200. All ports greeted at once, the board
    // waits only for the slowest port before it: one silent port's two speeds, or its own 9600
    // attempt. Then the two exchanges that the board answers.
    const int portByPort = 2 * k + (baud == 115200 ? 1 : 0);
    const int allAtOnce = k > 0 ? 2 : (baud == 115200 ? 1 : 0);
    const double wire = WireMs(15 + 12 + 5 + 6, baud);
    const double reference = portByPort * kSilentGreetingsMs + wire;
    const double target = allAtOnce * kSilentGreetingsMs + wire;
    Stats took;
    Stats cpu;
    int wrong = 0;
    for (int rep = 0; rep < repetitions; ++rep) {
      RecordingPage page;
      const double cpu0 = ThreadCpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
      const Clock::time_point start = Clock::now();
      const uint8_t result = lumivex::connection::ToggleConnection(page);
      const double ms = Ms(Clock::now() - start);
      cpu.Add((ThreadCpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) * 1000 / ms * 100);
      const bool connected = result == lumivex::connection::kToggled &&
                             lumivex::connection::ConnectedIndex == k + 1 &&
                             lumivex::connection::ConnectedFirmwareCurrent();
      if (lumivex::connection::IsConnected()) {
        RecordingPage closing;
        lumivex::connection::ToggleConnection(closing);
      }
      for (auto& port : silent) port.Drain();
      if (!connected) {
        ++wrong;
        continue;
      }
      took.Add(ms);
    }
    Row row;
    row.figure = Format("connect, %d silent port%s before the board", k, k == 1 ? "" : "s");
    row.baud = std::to_string(baud);
    row.runs = took.Count();
    row.measured = Format("%.1f ms (max %.1f)", took.Median(), took.Max());
    row.reference = Format("port by port %d x %.0f + wire %.1f = %.1f ms", portByPort,
                           kSilentGreetingsMs, wire, reference);
    row.target = Format("%d x %.0f + wire: %.1f ms +10%%", allAtOnce, kSilentGreetingsMs, target);
    const double median = took.Median();
    row.met = took.Count() > 0 && median >= target * 0.9 && median <= target * 1.1;
    Table.push_back(row);
    if (k == 10) {
      Row cpuRow;
      cpuRow.figure = "  CPU of the whole process during that search";
      cpuRow.baud = row.baud;
      cpuRow.runs = cpu.Count();
      cpuRow.measured = Format("%.2f%% of one core", cpu.Median());
      cpuRow.reference = "share of one core, board and line included";
      cpuRow.target = "< 5%";
      cpuRow.met = cpu.Count() > 0 && cpu.Median() < 5.0;
      Table.push_back(cpuRow);
    }
    // Every port's probe waits out every bound it is given; finishing sooner than the slowest
    // port's waits means one was cut.
    if (took.Count() > 0 && took.Min() < target - wire)
      Notes.push_back(
          Format("INVALID: connect k=%d at %u baud took %.1f ms, less than the "
                 "waits it must keep",
                 k, baud, took.Min()));
    if (wrong > 0)
      Notes.push_back(Format("connect k=%d at %u baud: %d runs did not end connected to the board",
                             k, baud, wrong));
  }
  lumivex::connection::SetPortMapReader(nullptr);
  ports.Clear();
}

// One scenario alone, for a profiler (valgrind --tool=callgrind lumivex-bench --profile ...):
// "connect" (one silent port, then the board at 115200) or "temperatures" (reads from a
// board at 115200, then one from a silent board).
int Profile(const std::string& scenario, PortsFolder& ports) {
  if (scenario == "connect") {
    BoardOnLine rig(HealthyBoard(115200));
    SilentPort silent;
    if (!rig.Start() || !silent.Open()) return 1;
    ports.Link(1, silent.path());
    ports.Link(2, rig.line.panelPath());
    lumivex::connection::SetPortMapReader(&VirtualPortsOnly);
    RecordingPage page;
    const Clock::time_point start = Clock::now();
    const uint8_t result = lumivex::connection::ToggleConnection(page);
    std::printf("connect: result %u, position %u, %.1f ms\n", result,
                lumivex::connection::ConnectedIndex, Ms(Clock::now() - start));
    RecordingPage closing;
    lumivex::connection::ToggleConnection(closing);
    lumivex::connection::SetPortMapReader(nullptr);
    return result == lumivex::connection::kToggled ? 0 : 1;
  }
  if (scenario == "temperatures") {
    BoardOnLine rig(HealthyBoard(115200));
    if (!rig.Start()) return 1;
    ports.Link(1, rig.line.panelPath());
    if (!lumivex::transport::OpenPort(1, 115200)) return 1;
    int16_t r, g, b, board;
    int answered = 0;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 100; ++i) answered += lumivex::protocol::ReadTemperatures(r, g, b, board);
    std::printf("temperatures: %d of 100 answered, %.2f ms each\n", answered,
                Ms(Clock::now() - start) / 100);
    BoardOptions silent = HealthyBoard(115200);
    silent.silent = true;
    rig.board.SetOptions(silent);
    const Clock::time_point quiet = Clock::now();
    const bool unanswered = !lumivex::protocol::ReadTemperatures(r, g, b, board);
    std::printf("silent board: %s after %.1f ms\n", unanswered ? "no answer" : "answered",
                Ms(Clock::now() - quiet));
    lumivex::transport::ClosePort();
    return answered == 100 && unanswered ? 0 : 1;
  }
  std::fprintf(stderr, "unknown scenario %s (connect, temperatures)\n", scenario.c_str());
  return 2;
}

std::string ExecutableFolder() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

// Starts the panel (offscreen) against a board, has it connect and visit every tab, and
// reads what it reports: the time its first page was shown, and its peak RSS.
void MeasurePanel(int repetitions, PortsFolder& ports) {
  const std::string probe = ExecutableFolder() + "/lumivex-panel-probe";
  if (access(probe.c_str(), X_OK) != 0) {
    Notes.push_back("panel figures skipped: " + probe + " was not built (the GUI is off)");
    return;
  }
  BoardOptions options = HealthyBoard(9600);
  options.upgradeOutcome = lumivex::boardsim::kUpgradeOutcomeFromDisk;
  SimulatedBoard board(options);
  ports.Clear();
  if (!board.Start(1)) {
    Notes.push_back("panel figures skipped: board: " + board.error());
    return;
  }
  // The panel reads its tabs from Lumivex.ini in its working directory: all five.
  const std::string work = ports.root() + "/panel";
  fs::create_directories(work);
  {
    std::ofstream ini(work + "/Lumivex.ini");
    ini << "[dialog]\ndlg1=true\ndlg2=true\ndlg3=true\ndlg4=true\ndlg5=true\n"
           "[led]\nr=true\ng=true\nb=true\n[system]\nFirmWareName=KVB03.bin\n";
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);

  Stats shown;
  Stats painted;
  Stats rss;
  std::string problem;
  for (int rep = 0; rep < repetitions; ++rep) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    // Qt's offscreen platform talks on standard error; kept for a failed run only.
    const std::string errors = work + "/probe-stderr.txt";
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
    const std::string spawnedAt = std::to_string(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count());
    char* argv[] = {const_cast<char*>(probe.c_str()), const_cast<char*>(spawnedAt.c_str()),
                    nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, probe.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string report;
    char buffer[512];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0)
      report.append(buffer, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    if (spawned == 0) waitpid(pid, &status, 0);
    std::map<std::string, double> values;
    std::istringstream lines(report);
    std::string word;
    while (lines >> word) {
      const auto eq = word.find('=');
      if (eq != std::string::npos) values[word.substr(0, eq)] = std::atof(word.c_str() + eq + 1);
    }
    if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        values["connected"] != 1 || values["tabs_visited"] != 5) {
      std::ifstream log(errors);
      std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
      if (text.size() > 400) text = text.substr(text.size() - 400);
      problem = "probe run failed: " + report + " / " + text;
      continue;
    }
    shown.Add(values["shown_ms"]);
    painted.Add(values["painted_ms"]);
    rss.Add(values["vmhwm_kb"] / 1024);
  }
  board.Stop();
  ports.Clear();
  if (!problem.empty()) Notes.push_back(problem);

  Row row;
  row.figure = "panel start to first page shown";
  row.baud = "-";
  row.runs = shown.Count();
  row.measured = Format("%.1f ms (max %.1f)", shown.Median(), shown.Max());
  row.reference = "";
  row.target = "< 300 ms";
  row.met = shown.Count() > 0 && shown.Median() < 300;
  Table.push_back(row);
  Row paint = row;
  paint.figure = "  ... to first page painted";
  paint.runs = painted.Count();
  paint.measured = Format("%.1f ms (max %.1f)", painted.Median(), painted.Max());
  paint.met = painted.Count() > 0 && painted.Median() < 300;
  Table.push_back(paint);
  Row memory;
  memory.figure = "panel peak RSS, connected, every tab";
  memory.baud = "9600";
  memory.runs = rss.Count();
  memory.measured = Format("%.1f MB (max %.1f)", rss.Median(), rss.Max());
  memory.target = "< 60 MB";
  memory.met = rss.Count() > 0 && rss.Median() < 60;
  Table.push_back(memory);
}

std::string FirstLine(const char* path, const char* prefix) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) {
      const auto colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(colon + 2);
    }
  }
  return "unknown";
}

// The rows as tab-separated lines, for a --today run of another build.
void PrintRows() {
  for (const Row& r : Table)
    std::printf("row\t%s\t%s\t%s\n", r.figure.c_str(), r.baud.c_str(), r.measured.c_str());
  for (const std::string& note : Notes) std::printf("note\t%s\n", note.c_str());
}

// Runs program (this bench built from another revision) with --rows and puts its figures
// beside ours.
bool MergeToday(const std::string& program, bool quick, bool panel) {
  const std::string command =
      program + " --rows" + (quick ? " --quick" : "") + (panel ? "" : " --no-panel");
  FILE* in = popen(command.c_str(), "r");
  if (in == nullptr) return false;
  std::map<std::string, std::string> today;
  char text[1024];
  while (std::fgets(text, sizeof text, in) != nullptr) {
    std::string lineText(text);
    if (!lineText.empty() && lineText.back() == '\n') lineText.pop_back();
    std::vector<std::string> fields;
    std::stringstream stream(lineText);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    if (fields.size() == 4 && fields[0] == "row") today[fields[1] + "\t" + fields[2]] = fields[3];
    if (fields.size() == 2 && fields[0] == "note") Notes.push_back("today: " + fields[1]);
  }
  const int status = pclose(in);
  for (Row& r : Table) {
    auto found = today.find(r.figure + "\t" + r.baud);
    r.today = found != today.end() ? found->second : "-";
  }
  Notes.push_back("today: " + command + (status == 0 ? "" : " (some of its targets unmet)"));
  return true;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

void PrintTable(bool quick, const std::string& loadBefore) {
  utsname name{};
  uname(&name);
  cpu_set_t usable;
  CPU_ZERO(&usable);
  const int cores = sched_getaffinity(0, sizeof usable, &usable) == 0 ? CPU_COUNT(&usable) : 0;
  std::printf("machine: %d cores (nproc), %s, kernel %s %s\n", cores,
              FirstLine("/proc/cpuinfo", "model name").c_str(), name.sysname, name.release);
  std::printf("load average: %s at start, %s at end\n", loadBefore.c_str(), LoadAverage().c_str());
  std::printf(
      "mode: %s; medians over the runs counted in each row; the board answers through a line\n"
      "that keeps a wire's timing at the panel's speed (10 bits a byte)\n\n",
      quick ? "--quick" : "full");
  const bool withToday =
      std::any_of(Table.begin(), Table.end(), [](const Row& r) { return !r.today.empty(); });
  std::vector<std::string> header = {"figure", "baud", "runs", "measured"};
  if (withToday) header.push_back("today (--today)");
  for (const char* h : {"reference", "target", "met"}) header.push_back(h);
  std::vector<std::vector<std::string>> cells;
  for (const Row& r : Table) {
    std::vector<std::string> c = {r.figure, r.baud, std::to_string(r.runs), r.measured};
    if (withToday) c.push_back(r.today);
    for (const std::string& text :
         {r.reference, r.target, std::string(r.judged ? (r.met ? "yes" : "NO") : "")})
      c.push_back(text);
    cells.push_back(c);
  }
  std::vector<size_t> w(header.size());
  for (size_t i = 0; i < header.size(); ++i) w[i] = header[i].size();
  for (const auto& c : cells)
    for (size_t i = 0; i < c.size(); ++i) w[i] = std::max(w[i], c[i].size());
  auto line = [&](const std::vector<std::string>& c) {
    std::string text = "|";
    for (size_t i = 0; i < c.size(); ++i)
      text += " " + c[i] + std::string(w[i] - c[i].size(), ' ') + " |";
    std::printf("%s\n", text.c_str());
  };
  line(header);
  std::string rule = "|";
  for (size_t width : w) rule += std::string(width + 2, '-') + "|";
  std::printf("%s\n", rule.c_str());
  for (const auto& c : cells) line(c);
  for (const std::string& note : Notes) std::printf("note: %s\n", note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  bool panel = true;
  bool rows = false;
  std::string profile;
  std::string todayProgram;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      quick = true;
    } else if (arg == "--no-panel") {
      panel = false;
    } else if (arg == "--profile" && i + 1 < argc) {
      profile = argv[++i];
    } else if (arg == "--today" && i + 1 < argc) {
      todayProgram = argv[++i];
    } else if (arg == "--rows") {
      rows = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--quick] [--no-panel] [--today BENCH] [--rows] "
                   "[--profile connect|temperatures]\n",
                   argv[0]);
      return 2;
    }
  }
  const std::string loadBefore = LoadAverage();
  PortsFolder ports;
  if (!ports.Make()) {
    std::fprintf(stderr, "cannot make a private ports folder\n");
    return 1;
  }
  if (!profile.empty()) return Profile(profile, ports);
  const int exchangeRuns = quick ? 5 : 31;
  const int silentRuns = quick ? 1 : 3;
  const int connectRuns = quick ? 1 : 5;
  const int panelRuns = quick ? 2 : 7;

  for (uint32_t baud : kBauds) {
    std::fprintf(stderr, "round trips at %u baud...\n", baud);
    MeasureExchanges(baud, exchangeRuns);
  }
  for (uint32_t baud : kBauds) {
    std::fprintf(stderr, "silent temperature read at %u baud...\n", baud);
    MeasureSilentWait(baud, silentRuns);
  }
  for (uint32_t baud : kBauds) {
    std::fprintf(stderr, "connect at %u baud...\n", baud);
    MeasureConnect(baud, connectRuns, ports);
  }
  if (panel) {
    std::fprintf(stderr, "panel...\n");
    MeasurePanel(panelRuns, ports);
  }
  if (rows) {
    PrintRows();
    return 0;
  }
  if (!todayProgram.empty()) {
    std::fprintf(stderr, "today's figures from %s...\n", todayProgram.c_str());
    if (!MergeToday(todayProgram, quick, panel))
      std::fprintf(stderr, "cannot run %s\n", todayProgram.c_str());
  }
  PrintTable(quick, loadBefore);
  bool allMet = true;
  for (const Row& r : Table) allMet = allMet && (!r.judged || r.met);
  return allMet ? 0 : 3;
}
