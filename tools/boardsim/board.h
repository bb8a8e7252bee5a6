// A simulated light engine on a pseudo-terminal: it speaks the board's whole serial protocol,
// keeps the board's state and injects faults on request. The panel, lumivexctl and the tests
// reach it through its slave device, usually by the virtual port "COM<n>" it registers.
//
// Thread safety: every public member may be called from any thread. The board runs its own
// thread between Start() and Stop(); SetOptions() takes effect at the next frame or answer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumivex::boardsim {

// Which greeting forms the board echoes.
enum class Greeting { kClassD, kClassA, kBoth };

struct Temperatures {
  int16_t red = 0;
  int16_t green = 0;
  int16_t blue = 0;
  int16_t board = 0;
};

// upgradeOutcome: a status byte (0..255) sent as it is, or one of these.
constexpr int kUpgradeOutcomeFromDisk =
    -1;                                  // 0 when the file is on the disk, 2 when not, 1 no disk
constexpr int kUpgradeOutcomeNone = -2;  // the board never reports an outcome

// Every behaviour knob. The defaults are a healthy board at 115200 baud.
struct BoardOptions {
  uint32_t baud = 115200;  // the board's own line speed: 9600 or 115200
  Greeting greeting = Greeting::kBoth;
  uint32_t firmwareVersion = 0x1000B;
  // Unset: the LED temperatures follow the LED power (warm when on, cooling toward ambient
  // when off). Set: these values are reported as they are (-100 means not available).
  std::optional<Temperatures> fixedTemperatures;
  bool shortTemperaturesOnly = false;      // ignores the long temperature request (payload 00)
  uint32_t thermalTimeConstantMs = 20000;  // how fast the LEDs warm up and cool down
  std::array<uint16_t, 3> currents = {100, 100, 100};  // red, green, blue; read at Start() only
  uint8_t answerLead = 0xE0;                           // lead byte of class-D answers

  // Faults.
  bool refuse = false;              // setters answer "Nak" instead of "Ack"
  bool silent = false;              // no answer at all, not even the upgrade outcome
  bool badCheck = false;            // class-D answers carry a wrong check byte
  uint32_t answerDelayMs = 0;       // pause before each answer
  uint32_t splitAnswers = 0;        // send answers in pieces of this many bytes (0: whole)
  uint32_t splitGapMs = 20;         // pause between two pieces
  uint32_t surplusBytes = 0;        // extra bytes after each answer
  bool answerEveryOther = false;    // acts on every frame but loses the 2nd, 4th, ... answer
  uint32_t noiseBeforeAnswers = 0;  // garbage bytes before each answer

  // Firmware upgrade.
  bool upgradeAck = true;  // false: 0x440E is ignored; only the short frame E0 03 38 starts one
  int upgradeOutcome = kUpgradeOutcomeFromDisk;
  uint32_t upgradeDelayMs = 300;             // from the start to the outcome
  std::optional<uint8_t> preliminaryStatus;  // a status byte sent halfway, before the outcome
  bool usbDiskPresent = true;
  std::vector<std::string> usbFiles = {"KVB03.bin"};

  bool pace = true;                // answers take the time they take on the line (10 bits a byte)
  uint32_t hangUpAfterFrames = 0;  // close the line after this many frames (0: never)
  bool trace = false;              // every frame and answer in hex on standard error
};

// The board's state as the commands left it.
struct BoardState {
  bool ledOn = false;
  std::array<uint16_t, 3> currents = {0, 0, 0};
  uint8_t lightColours = 7;
  uint8_t inputSource = 0;
  uint8_t flipX = 0;
  uint8_t flipY = 0;
  std::string upgradeFileName;  // the last name an upgrade was started for; empty before
  uint32_t upgradesStarted = 0;
};

struct BoardCounters {
  uint64_t frames = 0;          // every complete frame received, answered or not
  uint64_t answers = 0;         // answers sent, the upgrade outcome included
  uint64_t wrongSpeed = 0;      // frames ignored because the client's speed was not ours
  uint64_t badCheck = 0;        // class-D frames ignored for their check byte
  uint64_t unknown = 0;         // well-formed frames the board does not understand
  uint64_t bytesDiscarded = 0;  // bytes skipped while looking for a frame
};

class SimulatedBoard {
 public:
  static constexpr int kFirstFreeCom = 0;    // register on the lowest free COM number
  static constexpr int kNoVirtualPort = -1;  // do not register at all

  explicit SimulatedBoard(BoardOptions options = {});
  ~SimulatedBoard();  // Stop()
  SimulatedBoard(const SimulatedBoard&) = delete;
  SimulatedBoard& operator=(const SimulatedBoard&) = delete;

  // Opens the pseudo-terminal, registers it as COM<comNumber> (1..254, kFirstFreeCom or
  // kNoVirtualPort) and starts the board's thread. False with error() set on failure, in
  // which case nothing is left behind.
  bool Start(int comNumber = kFirstFreeCom);
  // Ends the thread, closes the line and removes the link. Safe to call twice.
  void Stop();
  bool running() const;
  bool hungUp() const;  // the board closed the line itself (hangUpAfterFrames)
  std::string error() const;

  std::string slavePath() const;  // "/dev/pts/N"; empty before Start()
  int comNumber() const;          // 0 when not registered
  std::string linkPath() const;   // the "COM<n>" link; empty when not registered

  void SetOptions(const BoardOptions& options);
  BoardOptions options() const;

  BoardState state() const;
  bool ledOn() const { return state().ledOn; }
  std::array<uint16_t, 3> currents() const { return state().currents; }
  uint8_t lightColours() const { return state().lightColours; }
  uint8_t inputSource() const { return state().inputSource; }
  uint8_t flipX() const { return state().flipX; }
  uint8_t flipY() const { return state().flipY; }
  std::string upgradeFileName() const { return state().upgradeFileName; }
  Temperatures temperatures() const;  // what a temperature request would report now

  BoardCounters counters() const;
  // The most recent kFrameLogLimit frames received, oldest first.
  static constexpr std::size_t kFrameLogLimit = 10000;
  std::vector<std::vector<uint8_t>> receivedFrames() const;
  // True once at least n frames have been received in all and the board has acted on them (its
  // state shows their effect); false after the timeout.
  bool WaitForFrames(uint64_t n, std::chrono::milliseconds timeout) const;
  // True once at least n answers have been sent in all; false after the timeout.
  bool WaitForAnswers(uint64_t n, std::chrono::milliseconds timeout) const;

  // Sends raw bytes to the client as soon as the line is free (floods, late answers, unasked
  // status bytes), paced like answers. Ignored when the board is not running.
  void PushBytes(std::vector<uint8_t> bytes);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The folder of virtual ports: $XDG_RUNTIME_DIR/lumivex/ports, or /tmp/lumivex-<uid>/ports.
std::string PortsFolder();

}  // namespace lumivex::boardsim
