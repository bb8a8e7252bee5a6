#include "tools/boardsim/board.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/port_map.h"
#include "tools/boardsim/wire.h"

namespace lumivex::boardsim {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr std::array<uint8_t, 3> kAck = {0x41, 0x63, 0x6B};      // "Ack"
constexpr std::array<uint8_t, 3> kRefusal = {0x4E, 0x61, 0x6B};  // "Nak"
constexpr uint8_t kSurplusByte = 0x5A;

// A frame that stops arriving halfway is dropped after this long, so that a client that died
// mid-frame cannot make the board swallow the next client's first frame.
constexpr auto kPartialFrameTimeout = std::chrono::milliseconds(300);
// How often the idle board looks after the line (exclusive mode left by a closed client).
constexpr int kHousekeepingMs = 100;

// Ambient and warm LED temperatures of the thermal model, degrees Celsius.
constexpr double kLedAmbient = 28.0;
constexpr std::array<double, 3> kLedWarm = {52.0, 47.0, 45.0};
constexpr double kBoardAmbient = 35.0;
constexpr double kBoardWarm = 41.0;

std::string Hex(const uint8_t* data, size_t size) {
  std::string out;
  char piece[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", data[i]);
    out += piece;
  }
  return out;
}

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// A board that was killed leaves its link behind, pointing at a pseudo-terminal that is gone.
// The panel skips such a link, so its number is free again; links to anything else (a user's
// pinned adapter that is unplugged just now) are never touched.
bool ReclaimDeadLink(const std::string& link) {
  char target[256];
  ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
  if (size < 0) return false;
  target[size] = '\0';
  struct stat st;
  if (std::strncmp(target, "/dev/pts/", 9) != 0 || stat(target, &st) == 0 || errno != ENOENT)
    return false;
  return unlink(link.c_str()) == 0;
}

}  // namespace

std::string PortsFolder() {
  return platform::VirtualPortsFolder();
}

struct SimulatedBoard::Impl {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  BoardOptions options;
  BoardState state;
  BoardCounters counters;
  // Frames whose effect on the state is complete: a waiter for n frames may read the state at
  // once, even while the answer to the last one is still being paced out.
  uint64_t framesActedOn = 0;
  std::deque<Bytes> frames;  // the most recent kFrameLogLimit frames
  std::deque<Bytes> pushed;
  std::string error;
  std::string slavePath;
  std::string linkPath;
  int comNumber = 0;
  bool running = false;
  bool hungUp = false;

  // Thermal model: the LED and board temperatures at the last power change, and when.
  std::array<double, 4> temperatureAtChange = {kLedAmbient, kLedAmbient, kLedAmbient,
                                               kBoardAmbient};
  Clock::time_point powerChangedAt = Clock::now();

  // Owned by the board's thread while it runs.
  int master = -1;
  int slaveHold = -1;  // keeps the slave side alive between clients
  int wake = -1;
  int closes = -1;  // inotify: a client closed the slave
  std::atomic<bool> stopping{false};
  std::thread thread;
  FrameParser parser;
  Clock::time_point lastByteAt;
  Clock::time_point startedAt;
  uint64_t answerable = 0;  // frames that earned an answer, for answerEveryOther
  uint32_t noiseSeed = 0x2545F491u;
  struct Scheduled {
    Clock::time_point due;
    uint8_t status;
  };
  std::vector<Scheduled> scheduled;

  std::array<double, 4> TemperaturesAt(Clock::time_point now, const BoardOptions& opts) const;
  void Run();
  void HandleFrame(const Bytes& frame);
  std::optional<Bytes> Answer(const Bytes& frame, const BoardOptions& opts);
  void StartUpgrade(std::string name, const BoardOptions& opts);
  void SendAnswer(Bytes answer, const BoardOptions& opts);
  bool WriteAll(const uint8_t* data, size_t size, const BoardOptions& opts);
  void Trace(const char* direction, const uint8_t* data, size_t size, bool enabled);
  void TraceNote(const std::string& note, bool enabled);
  void ReleaseStaleExclusive();
  void HangUp();
  void RemoveLink();
  void CloseLine(bool keepWake);
};

SimulatedBoard::SimulatedBoard(BoardOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->state.currents = impl_->options.currents;
}

SimulatedBoard::~SimulatedBoard() {
  Stop();
}

bool SimulatedBoard::Start(int comNumber) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  if (d.running || d.thread.joinable()) {
    d.error = "the board is already started";
    return false;
  }
  d.hungUp = false;
  if (BaudToSpeed(d.options.baud) == 0) {
    d.error = "unsupported line speed " + std::to_string(d.options.baud);
    return false;
  }
  if (comNumber != kFirstFreeCom && comNumber != kNoVirtualPort &&
      (comNumber < 1 || comNumber > 254)) {
    d.error = "COM number out of range 1..254: " + std::to_string(comNumber);
    return false;
  }

  auto fail = [&](std::string message) {
    d.error = std::move(message);
    d.CloseLine(false);
    return false;
  };

  d.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (d.master < 0) return fail(ErrnoText("posix_openpt"));
  if (grantpt(d.master) != 0 || unlockpt(d.master) != 0) return fail(ErrnoText("unlockpt"));
  char name[128];
  if (ptsname_r(d.master, name, sizeof name) != 0) return fail(ErrnoText("ptsname_r"));
  d.slavePath = name;
  int flags = fcntl(d.master, F_GETFL);
  if (flags < 0 || fcntl(d.master, F_SETFL, flags | O_NONBLOCK) != 0)
    return fail(ErrnoText("fcntl"));

  // Held open for the board's whole life: without it the master reports a hang-up whenever
  // no client is connected, and the line settings a client chose would be forgotten.
  d.slaveHold = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (d.slaveHold < 0) return fail(ErrnoText("open slave"));
  termios tio{};
  if (tcgetattr(d.slaveHold, &tio) != 0) return fail(ErrnoText("tcgetattr"));
  // Raw from the start: an echoing slave would hand the board its own answers back.
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(d.slaveHold, TCSANOW, &tio) != 0) return fail(ErrnoText("tcsetattr"));

  d.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (d.wake < 0) return fail(ErrnoText("eventfd"));
  // Tells the board at once when a client closes the port (see ReleaseStaleExclusive); where
  // it is not available the periodic look still does the job.
  d.closes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (d.closes >= 0 && inotify_add_watch(d.closes, name, IN_CLOSE) < 0) {
    close(d.closes);
    d.closes = -1;
  }

  if (comNumber != kNoVirtualPort) {
    std::string folder = PortsFolder();
    // mkdir -p, private to this user.
    for (size_t pos = 1; pos != std::string::npos;) {
      pos = folder.find('/', pos + 1);
      std::string part = folder.substr(0, pos);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
        return fail(ErrnoText(("mkdir " + part).c_str()));
    }
    // A folder in /tmp that someone else made first is theirs to read: a port registered there
    // could be swapped for another device under the panel.
    if (std::string why; !platform::VirtualPortsFolderTrusted(&why)) {
      return fail("will not register in " + folder + ": " + why);
    }
    int first = comNumber == kFirstFreeCom ? 1 : comNumber;
    int last = comNumber == kFirstFreeCom ? 254 : comNumber;
    for (int n = first; n <= last; ++n) {
      std::string link = folder + "/COM" + std::to_string(n);
      // symlink() fails on an existing name, so two boards starting together never share one.
      bool made = symlink(name, link.c_str()) == 0;
      if (!made && errno == EEXIST && ReclaimDeadLink(link))
        made = symlink(name, link.c_str()) == 0;
      if (made) {
        d.linkPath = link;
        d.comNumber = n;
        break;
      }
      if (errno != EEXIST) return fail(ErrnoText(("symlink " + link).c_str()));
    }
    if (d.comNumber == 0) {
      return fail(comNumber == kFirstFreeCom
                      ? "no free COM number in " + folder
                      : "COM" + std::to_string(comNumber) + " is already taken in " + folder);
    }
  }

  d.error.clear();
  d.parser = FrameParser{};
  d.scheduled.clear();
  d.pushed.clear();
  d.answerable = 0;
  d.stopping = false;
  d.running = true;
  d.startedAt = Clock::now();
  d.thread = std::thread([&d] { d.Run(); });
  return true;
}

void SimulatedBoard::Stop() {
  Impl& d = *impl_;
  {
    std::lock_guard lock(d.mutex);
    d.stopping = true;
    if (d.wake >= 0) {
      uint64_t one = 1;
      [[maybe_unused]] ssize_t ignored = write(d.wake, &one, sizeof one);
    }
  }
  if (d.thread.joinable()) d.thread.join();
  std::lock_guard lock(d.mutex);
  d.CloseLine(false);
  d.running = false;
  d.changed.notify_all();
}

bool SimulatedBoard::running() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->running;
}

bool SimulatedBoard::hungUp() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->hungUp;
}

std::string SimulatedBoard::error() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->error;
}

std::string SimulatedBoard::slavePath() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->slavePath;
}

int SimulatedBoard::comNumber() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->comNumber;
}

std::string SimulatedBoard::linkPath() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->linkPath;
}

void SimulatedBoard::SetOptions(const BoardOptions& options) {
  std::lock_guard lock(impl_->mutex);
  impl_->options = options;
}

BoardOptions SimulatedBoard::options() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->options;
}

BoardState SimulatedBoard::state() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state;
}

Temperatures SimulatedBoard::temperatures() const {
  std::lock_guard lock(impl_->mutex);
  if (impl_->options.fixedTemperatures) return *impl_->options.fixedTemperatures;
  auto t = impl_->TemperaturesAt(Clock::now(), impl_->options);
  auto round = [](double v) { return static_cast<int16_t>(std::lround(v)); };
  return {round(t[0]), round(t[1]), round(t[2]), round(t[3])};
}

BoardCounters SimulatedBoard::counters() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->counters;
}

std::vector<std::vector<uint8_t>> SimulatedBoard::receivedFrames() const {
  std::lock_guard lock(impl_->mutex);
  return {impl_->frames.begin(), impl_->frames.end()};
}

bool SimulatedBoard::WaitForFrames(uint64_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->framesActedOn >= n; });
}

bool SimulatedBoard::WaitForAnswers(uint64_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->counters.answers >= n; });
}

void SimulatedBoard::PushBytes(std::vector<uint8_t> bytes) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  if (!d.running || d.hungUp || d.wake < 0 || bytes.empty()) return;
  d.pushed.push_back(std::move(bytes));
  uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = write(d.wake, &one, sizeof one);
}

// ---------------------------------------------------------------------------------------------
// The board's thread.

std::array<double, 4> SimulatedBoard::Impl::TemperaturesAt(Clock::time_point now,
                                                           const BoardOptions& opts) const {
  double tau = std::max<uint32_t>(opts.thermalTimeConstantMs, 1);
  double elapsed = std::chrono::duration<double, std::milli>(now - powerChangedAt).count();
  double remaining = std::exp(-elapsed / tau);
  std::array<double, 4> target = {kLedAmbient, kLedAmbient, kLedAmbient, kBoardAmbient};
  if (state.ledOn) target = {kLedWarm[0], kLedWarm[1], kLedWarm[2], kBoardWarm};
  std::array<double, 4> out{};
  for (size_t i = 0; i < 4; ++i)
    out[i] = target[i] + (temperatureAtChange[i] - target[i]) * remaining;
  return out;
}

void SimulatedBoard::Impl::Run() {
  std::array<uint8_t, 4096> buffer{};
  while (!stopping) {
    auto now = Clock::now();
    int timeoutMs = kHousekeepingMs;
    auto until = [&](Clock::time_point due) {
      auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
      timeoutMs = std::min<int>(timeoutMs, static_cast<int>(std::max<int64_t>(ms, 0)));
    };
    for (const auto& s : scheduled) until(s.due);
    if (parser.pending() > 0) until(lastByteAt + kPartialFrameTimeout);

    pollfd fds[3] = {{master, POLLIN, 0}, {wake, POLLIN, 0}, {closes, POLLIN, 0}};
    int ready = poll(fds, 3, timeoutMs);
    if (ready < 0 && errno != EINTR) break;
    if (stopping) break;

    if (fds[2].revents & POLLIN) {
      alignas(inotify_event) char events[1024];
      while (read(closes, events, sizeof events) > 0) {
      }
      ReleaseStaleExclusive();
    }

    if (fds[1].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t ignored = read(wake, &count, sizeof count);
    }
    std::deque<Bytes> toPush;
    BoardOptions opts;
    {
      std::lock_guard lock(mutex);
      toPush.swap(pushed);
      opts = options;
    }
    for (const auto& bytes : toPush) {
      Trace("push", bytes.data(), bytes.size(), opts.trace);
      if (!WriteAll(bytes.data(), bytes.size(), opts)) break;
    }

    if (fds[0].revents & POLLIN) {
      ssize_t got = read(master, buffer.data(), buffer.size());
      if (got > 0) {
        lastByteAt = Clock::now();
        parser.Feed(buffer.data(), static_cast<size_t>(got));
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      // Cannot happen while the slave is held open; never spin if it does.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (parser.pending() > 0 && Clock::now() - lastByteAt >= kPartialFrameTimeout) {
      parser.DropStalledFrame();
    }
    while (!stopping && !hungUp) {
      auto frame = parser.Next();
      if (!frame) break;
      HandleFrame(*frame);
    }
    {
      std::lock_guard lock(mutex);
      counters.bytesDiscarded = parser.discarded();
    }
    if (hungUp) break;

    now = Clock::now();
    for (size_t i = 0; i < scheduled.size();) {
      if (scheduled[i].due > now) {
        ++i;
        continue;
      }
      uint8_t status = scheduled[i].status;
      scheduled.erase(scheduled.begin() + static_cast<std::ptrdiff_t>(i));
      BoardOptions current;
      {
        std::lock_guard lock(mutex);
        current = options;
      }
      if (current.silent) continue;
      SendAnswer(ClassDAnswer(current.answerLead, &status, 1, current.badCheck), current);
    }
    ReleaseStaleExclusive();
  }
}

void SimulatedBoard::Impl::HandleFrame(const Bytes& frame) {
  BoardOptions opts;
  uint64_t frameCount;
  {
    std::lock_guard lock(mutex);
    // A board left running for days must not grow without end; the counters keep the totals.
    if (frames.size() == kFrameLogLimit) frames.pop_front();
    frames.push_back(frame);
    frameCount = ++counters.frames;
    opts = options;
  }
  Trace("recv", frame.data(), frame.size(), opts.trace);
  bool actedOn = false;
  auto markActedOn = [&] {
    if (actedOn) return;
    actedOn = true;
    {
      std::lock_guard lock(mutex);
      ++framesActedOn;
    }
    changed.notify_all();
  };

  auto hangUpIfDue = [&] {
    if (opts.hangUpAfterFrames != 0 && frameCount >= opts.hangUpAfterFrames) HangUp();
  };

  // The master side of a pseudo-terminal reads the slave's settings: a client at another
  // speed would, on a real line, send the board nothing it could read.
  termios tio{};
  if (tcgetattr(master, &tio) != 0 || SpeedToBaud(cfgetospeed(&tio)) != opts.baud) {
    {
      std::lock_guard lock(mutex);
      ++counters.wrongSpeed;
    }
    TraceNote("ignored: the client is not at " + std::to_string(opts.baud) + " baud", opts.trace);
    markActedOn();
    hangUpIfDue();
    return;
  }
  if (IsClassD(frame) && !ChecksumOk(frame.data(), frame.size())) {
    {
      std::lock_guard lock(mutex);
      ++counters.badCheck;
    }
    TraceNote("ignored: bad check byte", opts.trace);
    markActedOn();
    hangUpIfDue();
    return;
  }

  std::optional<Bytes> answer = Answer(frame, opts);
  markActedOn();
  if (answer && !opts.silent) {
    ++answerable;
    if (!opts.answerEveryOther || answerable % 2 == 1) SendAnswer(std::move(*answer), opts);
  }
  hangUpIfDue();
}

std::optional<Bytes> SimulatedBoard::Impl::Answer(const Bytes& frame, const BoardOptions& opts) {
  if (IsShortUpgradeFrame(frame)) {
    StartUpgrade(std::string(kDefaultFirmwareName), opts);
    return std::nullopt;
  }
  const uint8_t cls = frame[2];
  const uint8_t cmd = frame[3];
  const uint8_t* payload = frame.data() + 4;
  const size_t n = frame.size() - (cls == kClassD ? 5 : 4);
  const uint16_t code = static_cast<uint16_t>(cls << 8 | cmd);
  auto classA = [](const uint8_t* data, size_t size) { return Bytes(data, data + size); };
  auto classD = [&](const uint8_t* data, size_t size) {
    return ClassDAnswer(opts.answerLead, data, size, opts.badCheck);
  };
  auto acknowledge = [&](bool d) {
    const auto& reply = opts.refuse ? kRefusal : kAck;
    return d ? classD(reply.data(), reply.size()) : classA(reply.data(), reply.size());
  };
  auto payloadIs = [&](std::string_view text) {
    return n == text.size() && std::equal(text.begin(), text.end(), payload);
  };
  auto unknown = [&]() -> std::optional<Bytes> {
    {
      std::lock_guard lock(mutex);
      ++counters.unknown;
    }
    TraceNote("ignored: not understood by this board", opts.trace);
    return std::nullopt;
  };

  switch (code) {
    case kCmdHandshakeD:
      if (opts.greeting == Greeting::kClassA || !payloadIs(kGreetingD)) return unknown();
      return classD(payload, n);
    case kCmdHandshakeA:
      if (opts.greeting == Greeting::kClassD || !payloadIs(kGreetingA)) return unknown();
      return classA(payload, n);
    case kCmdReadTemperatures: {
      bool longForm = n == 1 && payload[0] == 0;
      if (!(n == 0 || (longForm && !opts.shortTemperaturesOnly))) return unknown();
      Temperatures t;
      if (opts.fixedTemperatures) {
        t = *opts.fixedTemperatures;
      } else {
        std::lock_guard lock(mutex);
        auto v = TemperaturesAt(Clock::now(), opts);
        auto round = [](double x) { return static_cast<int16_t>(std::lround(x)); };
        t = {round(v[0]), round(v[1]), round(v[2]), round(v[3])};
      }
      Bytes data;
      for (int16_t v : {t.red, t.green, t.blue, t.board}) PutLe16(data, static_cast<uint16_t>(v));
      if (!longForm) data.resize(6);
      return classD(data.data(), data.size());
    }
    case kCmdSetLedPower: {
      if (n != 1) return unknown();
      std::lock_guard lock(mutex);
      bool on = payload[0] != 0;
      if (on != state.ledOn && !opts.refuse) {
        auto now = Clock::now();
        temperatureAtChange = TemperaturesAt(now, opts);
        powerChangedAt = now;
        state.ledOn = on;
      }
      return acknowledge(false);
    }
    case kCmdReadLedCurrents: {
      if (n != 0) return unknown();
      Bytes data;
      std::lock_guard lock(mutex);
      for (uint16_t c : state.currents) PutLe16(data, c);
      return data;
    }
    case kCmdWriteLedCurrents: {
      if (n != 6) return unknown();
      if (!opts.refuse) {
        std::lock_guard lock(mutex);
        for (size_t i = 0; i < 3; ++i) state.currents[i] = GetLe16(payload + 2 * i);
      }
      return acknowledge(false);
    }
    case kCmdSetFlip: {
      if (n != 2) return unknown();
      if (!opts.refuse) {
        std::lock_guard lock(mutex);
        state.flipX = payload[0];
        state.flipY = payload[1];
      }
      return acknowledge(true);
    }
    case kCmdSetInputSource: {
      if (n != 1) return unknown();
      if (!opts.refuse) {
        std::lock_guard lock(mutex);
        state.inputSource = payload[0];
      }
      return acknowledge(true);
    }
    case kCmdSetLightColour: {
      if (n != 1) return unknown();
      if (!opts.refuse) {
        std::lock_guard lock(mutex);
        state.lightColours = payload[0];
      }
      return acknowledge(true);
    }
    case kCmdFirmwareVersion: {
      if (n != 0) return unknown();
      Bytes data;
      for (int shift = 0; shift < 32; shift += 8)
        data.push_back(static_cast<uint8_t>(opts.firmwareVersion >> shift));
      return classD(data.data(), data.size());
    }
    case kCmdStartFirmwareUpgrade: {
      if (n == 0 || !opts.upgradeAck) return unknown();
      if (opts.refuse) return acknowledge(true);
      // The name ends at its terminating zero, when the panel sends one.
      const uint8_t* end = std::find(payload, payload + n, uint8_t{0});
      StartUpgrade(std::string(payload, end), opts);
      return acknowledge(true);
    }
    default:
      return unknown();
  }
}

void SimulatedBoard::Impl::StartUpgrade(std::string name, const BoardOptions& opts) {
  int outcome = opts.upgradeOutcome;
  if (outcome == kUpgradeOutcomeFromDisk) {
    bool found = std::find(opts.usbFiles.begin(), opts.usbFiles.end(), name) != opts.usbFiles.end();
    outcome = !opts.usbDiskPresent ? 1 : found ? 0 : 2;
  }
  {
    std::lock_guard lock(mutex);
    state.upgradeFileName = std::move(name);
    ++state.upgradesStarted;
  }
  auto now = Clock::now();
  auto delay = std::chrono::milliseconds(opts.upgradeDelayMs);
  if (opts.preliminaryStatus) scheduled.push_back({now + delay / 2, *opts.preliminaryStatus});
  if (outcome >= 0) scheduled.push_back({now + delay, static_cast<uint8_t>(outcome & 0xFF)});
}

void SimulatedBoard::Impl::SendAnswer(Bytes answer, const BoardOptions& opts) {
  if (opts.answerDelayMs > 0) {
    auto until = Clock::now() + std::chrono::milliseconds(opts.answerDelayMs);
    while (!stopping && Clock::now() < until)
      std::this_thread::sleep_for(
          std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(20)));
  }
  Bytes wire;
  for (uint32_t i = 0; i < opts.noiseBeforeAnswers; ++i) {
    noiseSeed = noiseSeed * 1664525u + 1013904223u;
    wire.push_back(static_cast<uint8_t>(noiseSeed >> 24));
  }
  wire.insert(wire.end(), answer.begin(), answer.end());
  wire.insert(wire.end(), opts.surplusBytes, kSurplusByte);
  Trace("send", wire.data(), wire.size(), opts.trace);

  size_t piece = opts.splitAnswers == 0 ? wire.size() : opts.splitAnswers;
  for (size_t at = 0; at < wire.size() && !stopping; at += piece) {
    if (at > 0) std::this_thread::sleep_for(std::chrono::milliseconds(opts.splitGapMs));
    if (!WriteAll(wire.data() + at, std::min(piece, wire.size() - at), opts)) return;
  }
  {
    std::lock_guard lock(mutex);
    ++counters.answers;
  }
  changed.notify_all();
}

bool SimulatedBoard::Impl::WriteAll(const uint8_t* data, size_t size, const BoardOptions& opts) {
  auto started = Clock::now();
  size_t done = 0;
  while (done < size) {
    if (stopping) return false;
    ssize_t wrote = write(master, data + done, size - done);
    if (wrote > 0) {
      done += static_cast<size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && errno == EAGAIN) {
      // The client is not reading; wait for room but stay stoppable.
      pollfd p{master, POLLOUT, 0};
      poll(&p, 1, 50);
      continue;
    }
    return false;
  }
  if (opts.pace) {
    // Ten bits a byte: start, eight data bits, stop.
    auto lineTime = std::chrono::microseconds(size * 10'000'000ull / std::max(opts.baud, 1u));
    auto due = started + lineTime;
    while (!stopping && Clock::now() < due)
      std::this_thread::sleep_for(
          std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(20)));
  }
  return true;
}

void SimulatedBoard::Impl::Trace(const char* direction, const uint8_t* data, size_t size,
                                 bool enabled) {
  if (!enabled) return;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt);
  std::string line = std::to_string(ms.count()) + " ms " + direction + " " + Hex(data, size) + "\n";
  std::fputs(line.c_str(), stderr);
}

void SimulatedBoard::Impl::TraceNote(const std::string& note, bool enabled) {
  if (!enabled) return;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt);
  std::string line = std::to_string(ms.count()) + " ms " + note + "\n";
  std::fputs(line.c_str(), stderr);
}

// A pseudo-terminal's slave outlives its clients (the master keeps it), and so would the
// exclusive mode a client set: a closed real port forgets it, so the board clears it once no
// client holds the port's lock any more.
void SimulatedBoard::Impl::ReleaseStaleExclusive() {
#ifdef TIOCGEXCL
  int exclusive = 0;
  if (ioctl(slaveHold, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
  if (flock(slaveHold, LOCK_EX | LOCK_NB) != 0) return;  // a client is still connected
  flock(slaveHold, LOCK_UN);
  ioctl(slaveHold, TIOCNXCL);
#endif
}

void SimulatedBoard::Impl::HangUp() {
  // Closing the master throws away whatever the client has not read yet; bytes a board sent
  // before it was unplugged would have arrived, so give the client a moment to take them.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto deadline = Clock::now() + std::chrono::seconds(1);
  int waiting = 0;
  while (!stopping && Clock::now() < deadline && ioctl(slaveHold, FIONREAD, &waiting) == 0 &&
         waiting > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::lock_guard lock(mutex);
  hungUp = true;
  CloseLine(true);  // the wake-up stays for Stop()
  changed.notify_all();
}

void SimulatedBoard::Impl::RemoveLink() {
  if (linkPath.empty()) return;
  // Only our own link: a board started later may have taken the number after a hang-up.
  char target[256];
  ssize_t size = readlink(linkPath.c_str(), target, sizeof target - 1);
  if (size >= 0 && std::string(target, static_cast<size_t>(size)) == slavePath)
    unlink(linkPath.c_str());
  linkPath.clear();
  comNumber = 0;
}

// Called with the mutex held.
void SimulatedBoard::Impl::CloseLine(bool keepWake) {
  RemoveLink();
  for (int* fd : {&master, &slaveHold, &closes}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  if (!keepWake && wake >= 0) {
    close(wake);
    wake = -1;
  }
}

}  // namespace lumivex::boardsim
