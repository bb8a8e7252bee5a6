// Every command the board understands. None tests whether a port is open: on a closed port the
// write goes nowhere and the command ends as an unanswered one.
//
// Thread safety: called on the thread that runs the exchanges (the panel's exchange worker, the
// CLI's main thread), the upgrade wait on its worker, and Handshake on a search's probe
// threads, each on its own link. Exchanges on one link take turns (its exchange lock). Every
// call blocks its thread until the answer is in or its waits run out: against a silent board
// up to about 0.7 s for Handshake, 0.25 s for the quick commands (colour, version, upgrade
// start), 1.3 to 2.5 s for the other setters and reads, 7.3 s for ReadTemperatures; each write
// may add up to one second when the port never reports it done.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

namespace lumivex::protocol {

namespace command {
constexpr uint16_t kHandshakeD = 0x4400;
constexpr uint16_t kHandshakeA = 0x4105;
constexpr uint16_t kReadTemperatures = 0x4405;
constexpr uint16_t kSetLedPower = 0x4118;
constexpr uint16_t kReadLedCurrents = 0x4101;
constexpr uint16_t kWriteLedCurrents = 0x4102;
constexpr uint16_t kSetFlip = 0x4413;
constexpr uint16_t kSetInputSource = 0x4408;
constexpr uint16_t kStartFirmwareUpgrade = 0x440E;
constexpr uint16_t kSetLightColour = 0x4418;
constexpr uint16_t kFirmwareVersion = 0x4417;
}  // namespace command

constexpr std::array<uint8_t, 3> kAck = {0x41, 0x63, 0x6B};  // "Ack"
constexpr char kHandshakeGreetingD[] = "ShakeHands";
constexpr char kHandshakeGreetingA[] = "Mstar Connect OK";
constexpr char kDefaultFirmwareName[] = "KVB03.bin";
constexpr int16_t kTemperatureNotAvailable = -100;
constexpr std::array<uint8_t, 3> kShortUpgradeFrame = {0xE0, 0x03, 0x38};

// The one status byte the board sends unasked at the end of an upgrade.
enum UpgradeStatus : uint8_t {
  kUpgradeSuccess = 0,
  kUpgradeNoDisk = 1,
  kUpgradeNoFile = 2,
  kUpgradeInvalidFirmware = 3,
  kUpgradeFailed = 4,
};

// Class-D greeting first; the class-A greeting only when the class-D one met silence.
bool Handshake();
// Long form first, then the short form (board -100). Always writes all four; -100 where the
// board delivered nothing. True when either form was answered.
bool ReadTemperatures(int16_t& red, int16_t& green, int16_t& blue, int16_t& board);
bool SetLedPower(uint8_t on);
// Always writes all three: 0 each on failure.
bool ReadLedCurrents(uint16_t& red, uint16_t& green, uint16_t& blue);
bool WriteLedCurrents(uint16_t red, uint16_t green, uint16_t blue);
bool SetFlip(uint8_t x, uint8_t y);
bool SetInputSource(uint8_t source);
// 1 acknowledged; 0 not acknowledged, the name is the default and the short frame was sent
// instead; -1 neither.
int32_t StartFirmwareUpgrade(const uint8_t* fileName, uint8_t length);
bool SetLightColour(uint8_t colours);
// False when the board reported a lower version or did not answer.
bool IsFirmwareAtLeast(uint32_t minimum);
// The version the last IsFirmwareAtLeast read, as the board reports it; empty when that request
// went unanswered or none was made. Any thread.
std::optional<uint32_t> LastFirmwareVersion();
// When that request was made: the moment a connection is complete. Any thread.
std::chrono::steady_clock::time_point LastFirmwareVersionRequest();

}  // namespace lumivex::protocol
