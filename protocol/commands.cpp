#include "protocol/commands.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "protocol/frame.h"
#include "protocol/outcome.h"

namespace lumivex::protocol {

namespace {

// Receive tries per command: the longest wait for an answer is tries * (8 * wire bytes + 1) ms.
constexpr uint16_t kHandshakeTries = 3;
constexpr uint16_t kSlowTries = 50;  // reads and the LED, flip and input setters
constexpr uint16_t kQuickTries = 5;  // colour set, firmware version, upgrade start

constexpr uint8_t kTemperatureLongBytes = 8;   // red, green, blue, board
constexpr uint8_t kTemperatureShortBytes = 6;  // red, green, blue
constexpr uint8_t kLedCurrentBytes = 6;
constexpr uint8_t kVersionBytes = 4;

constexpr uint8_t kGreetingDLength = sizeof(kHandshakeGreetingD) - 1;
constexpr uint8_t kGreetingALength = sizeof(kHandshakeGreetingA) - 1;
constexpr uint8_t kDefaultFirmwareNameLength = sizeof(kDefaultFirmwareName) - 1;

// Bit 32 marks a version read; the status line asks from the GUI thread while the version may be
// read on the thread that exchanges.
constexpr uint64_t kVersionRead = uint64_t{1} << 32;
std::atomic<uint64_t> LastVersion{0};
std::atomic<std::chrono::steady_clock::rep> LastVersionRequest{0};

uint16_t Le16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

int16_t LeSigned16(const uint8_t* bytes) {
  return static_cast<int16_t>(Le16(bytes));
}

void PutLe16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value & 0xFF);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

// The setters' shape: the board proves it took the setting by answering "Ack"; any other three
// bytes are a refusal.
bool Acknowledged(uint16_t command, const uint8_t* payload, uint8_t payloadLength, uint16_t tries) {
  std::array<uint8_t, kAck.size()> answer{};
  const int32_t result = Transact(command, payload, payloadLength, answer.data(),
                                  static_cast<uint8_t>(answer.size()), tries);
  if (result > 0 && answer != kAck) SetLastOutcome(Outcome::kRefused);
  return result > 0 && answer == kAck;
}

// The greeting is proven by its echo. Compared as text that ends after the greeting's length,
// so a zero byte inside the answer makes it unequal.
bool Echoes(const uint8_t* answer, const char* greeting, uint8_t length) {
  return std::memcmp(answer, greeting, length) == 0;
}

// The file name as the board's firmware tool reads it: text up to its terminating zero, or up
// to the length passed when no zero comes first.
bool IsDefaultFirmwareName(const uint8_t* fileName, uint8_t length) {
  if (fileName == nullptr) {
    return false;
  }
  const uint8_t* end = std::find(fileName, fileName + length, uint8_t{0});
  const auto textLength = static_cast<size_t>(end - fileName);
  return textLength == kDefaultFirmwareNameLength &&
         std::memcmp(fileName, kDefaultFirmwareName, textLength) == 0;
}

}  // namespace

bool Handshake() {
  std::array<uint8_t, kGreetingDLength> answerD{};
  const int32_t resultD =
      Transact(command::kHandshakeD, reinterpret_cast<const uint8_t*>(kHandshakeGreetingD),
               kGreetingDLength, answerD.data(), kGreetingDLength, kHandshakeTries);
  if (resultD != 0) {
    // The board answered in class D, rightly or not: it is not one that only speaks class A.
    const bool echoedD = resultD == kGreetingDLength &&
                         Echoes(answerD.data(), kHandshakeGreetingD, kGreetingDLength);
    if (resultD > 0 && !echoedD) SetLastOutcome(Outcome::kRefused);
    return echoedD;
  }
  std::array<uint8_t, kGreetingALength> answerA{};
  const int32_t resultA =
      Transact(command::kHandshakeA, reinterpret_cast<const uint8_t*>(kHandshakeGreetingA),
               kGreetingALength, answerA.data(), kGreetingALength, kHandshakeTries);
  const bool echoedA =
      resultA == kGreetingALength && Echoes(answerA.data(), kHandshakeGreetingA, kGreetingALength);
  if (resultA > 0 && !echoedA) SetLastOutcome(Outcome::kRefused);
  return echoedA;
}

bool ReadTemperatures(int16_t& red, int16_t& green, int16_t& blue, int16_t& board) {
  std::array<uint8_t, kTemperatureLongBytes> answer{};
  const uint8_t allSensors = 0x00;
  if (Transact(command::kReadTemperatures, &allSensors, 1, answer.data(), kTemperatureLongBytes,
               kSlowTries) > 0) {
    red = LeSigned16(&answer[0]);
    green = LeSigned16(&answer[2]);
    blue = LeSigned16(&answer[4]);
    board = LeSigned16(&answer[6]);
    return true;
  }
  // Older boards answer the request without argument, with the three LED values only.
  if (Transact(command::kReadTemperatures, nullptr, 0, answer.data(), kTemperatureShortBytes,
               kSlowTries) > 0) {
    red = LeSigned16(&answer[0]);
    green = LeSigned16(&answer[2]);
    blue = LeSigned16(&answer[4]);
    board = kTemperatureNotAvailable;
    return true;
  }
  red = green = blue = board = kTemperatureNotAvailable;
  return false;
}

bool SetLedPower(uint8_t on) {
  return Acknowledged(command::kSetLedPower, &on, 1, kSlowTries);
}

bool ReadLedCurrents(uint16_t& red, uint16_t& green, uint16_t& blue) {
  std::array<uint8_t, kLedCurrentBytes> answer{};
  if (Transact(command::kReadLedCurrents, nullptr, 0, answer.data(), kLedCurrentBytes, kSlowTries) >
      0) {
    red = Le16(&answer[0]);
    green = Le16(&answer[2]);
    blue = Le16(&answer[4]);
    return true;
  }
  red = green = blue = 0;
  return false;
}

bool WriteLedCurrents(uint16_t red, uint16_t green, uint16_t blue) {
  std::array<uint8_t, kLedCurrentBytes> payload{};
  PutLe16(&payload[0], red);
  PutLe16(&payload[2], green);
  PutLe16(&payload[4], blue);
  return Acknowledged(command::kWriteLedCurrents, payload.data(),
                      static_cast<uint8_t>(payload.size()), kSlowTries);
}

bool SetFlip(uint8_t x, uint8_t y) {
  const std::array<uint8_t, 2> payload = {x, y};
  return Acknowledged(command::kSetFlip, payload.data(), static_cast<uint8_t>(payload.size()),
                      kSlowTries);
}

bool SetInputSource(uint8_t source) {
  return Acknowledged(command::kSetInputSource, &source, 1, kSlowTries);
}

int32_t StartFirmwareUpgrade(const uint8_t* fileName, uint8_t length) {
  if (Acknowledged(command::kStartFirmwareUpgrade, fileName, length, kQuickTries)) {
    return 1;
  }
  // Boards that do not know the framed request still take the short frame, which always means
  // the default file.
  if (!IsDefaultFirmwareName(fileName, length)) {
    return -1;
  }
  SendRawFrame(kShortUpgradeFrame.data(), static_cast<uint8_t>(kShortUpgradeFrame.size()));
  return 0;
}

bool SetLightColour(uint8_t colours) {
  return Acknowledged(command::kSetLightColour, &colours, 1, kQuickTries);
}

bool IsFirmwareAtLeast(uint32_t minimum) {
  LastVersionRequest.store(std::chrono::steady_clock::now().time_since_epoch().count());
  std::array<uint8_t, kVersionBytes> answer{};
  if (Transact(command::kFirmwareVersion, nullptr, 0, answer.data(), kVersionBytes, kQuickTries) <=
      0) {
    LastVersion.store(0);
    return false;
  }
  const uint32_t version = uint32_t{answer[0]} | (uint32_t{answer[1]} << 8) |
                           (uint32_t{answer[2]} << 16) | (uint32_t{answer[3]} << 24);
  LastVersion.store(kVersionRead | version);
  return version >= minimum;
}

std::optional<uint32_t> LastFirmwareVersion() {
  const uint64_t last = LastVersion.load();
  if ((last & kVersionRead) == 0) return std::nullopt;
  return static_cast<uint32_t>(last);
}

std::chrono::steady_clock::time_point LastFirmwareVersionRequest() {
  return std::chrono::steady_clock::time_point(
      std::chrono::steady_clock::duration(LastVersionRequest.load()));
}

}  // namespace lumivex::protocol
