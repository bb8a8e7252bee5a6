// The board's side of the wire: its own frame parser and answer builders, written apart from
// the panel's protocol code so that the simulated board checks the panel's frames instead of
// mirroring them.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace lumivex::boardsim {

constexpr uint8_t kFrameStart = 0xE0;
constexpr uint8_t kClassA = 0x41;
constexpr uint8_t kClassD = 0x44;
constexpr uint8_t kShortUpgradeByte = 0x38;  // E0 03 38: start the upgrade of the default name

constexpr uint16_t kCmdHandshakeD = 0x4400;
constexpr uint16_t kCmdHandshakeA = 0x4105;
constexpr uint16_t kCmdReadTemperatures = 0x4405;
constexpr uint16_t kCmdSetLedPower = 0x4118;
constexpr uint16_t kCmdReadLedCurrents = 0x4101;
constexpr uint16_t kCmdWriteLedCurrents = 0x4102;
constexpr uint16_t kCmdSetFlip = 0x4413;
constexpr uint16_t kCmdSetInputSource = 0x4408;
constexpr uint16_t kCmdStartFirmwareUpgrade = 0x440E;
constexpr uint16_t kCmdSetLightColour = 0x4418;
constexpr uint16_t kCmdFirmwareVersion = 0x4417;

constexpr std::string_view kGreetingD = "ShakeHands";
constexpr std::string_view kGreetingA = "Mstar Connect OK";
constexpr std::string_view kDefaultFirmwareName = "KVB03.bin";

// Splits the byte stream from the client into frames. Bytes that cannot start a frame are
// skipped one at a time, so a real frame hidden behind noise is still found.
class FrameParser {
 public:
  void Feed(const uint8_t* data, size_t size);
  // The next complete frame (header to last byte, check byte included), if one is buffered.
  // The check byte is not verified here.
  std::optional<std::vector<uint8_t>> Next();
  // Bytes waiting for the rest of a frame.
  size_t pending() const { return buffer_.size(); }
  // Gives up on a frame that stopped arriving: its header byte is skipped and the bytes
  // behind it are searched again.
  void DropStalledFrame();
  uint64_t discarded() const { return discarded_; }

 private:
  void Discard(size_t count);
  std::vector<uint8_t> buffer_;
  uint64_t discarded_ = 0;
};

bool IsShortUpgradeFrame(const std::vector<uint8_t>& frame);
bool IsClassD(const std::vector<uint8_t>& frame);
// True when the bytes sum to zero modulo 256.
bool ChecksumOk(const uint8_t* data, size_t size);
// lead, data, then the check byte that makes the whole answer sum to zero (or, when corrupt,
// one that does not).
std::vector<uint8_t> ClassDAnswer(uint8_t lead, const uint8_t* data, size_t size, bool corrupt);

void PutLe16(std::vector<uint8_t>& out, uint16_t value);
uint16_t GetLe16(const uint8_t* data);

// termios speed constant for a baud rate, 0 when unsupported; and back (0 when unknown).
speed_t BaudToSpeed(uint32_t baud);
uint32_t SpeedToBaud(speed_t speed);

}  // namespace lumivex::boardsim
