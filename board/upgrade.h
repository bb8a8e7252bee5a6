// Firmware upgrade: the board upgrades itself from a file on its own USB disk. The host names the
// file, asks the board to start, and waits for the one status byte that reports the outcome.
//
// Thread safety: StartUpgrade on the front end's main thread (its exchange runs on
// CurrentExecutor). AwaitUpgradeOutcome runs on the thread that calls it, in place: the wait
// lasts up to about 23 s and the rest of the panel stays usable meanwhile, so it belongs on a
// thread of its own (the System page's worker). StopFlag may be raised from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "protocol/commands.h"
#include "protocol/outcome.h"

namespace lumivex::board {

// The name every board knows, which the short start frame always means.
inline const std::string kDefaultFirmwareName = protocol::kDefaultFirmwareName;
// The longest name: it travels with its terminating zero inside one frame whose length byte
// counts every byte.
constexpr std::size_t kMaxFirmwareNameLength = 248;

// Not empty and not longer than kMaxFirmwareNameLength. Blanks are a name like any other.
bool IsValidFirmwareName(const std::string& name);

enum class UpgradeStart : int8_t {
  kNotAcknowledged = -1,  // neither acknowledged nor the default name: nothing more was sent
  kShortFrameSent = 0,    // not acknowledged; the default name was started with the short frame
  kAcknowledged = 1,
};

struct UpgradeStartResult {
  // False: the name is not valid and nothing was sent; the rest holds nothing.
  bool nameAccepted = false;
  UpgradeStart start = UpgradeStart::kNotAcknowledged;
  protocol::Outcome outcome = protocol::Outcome::kNotSent;  // of the framed start request
  // An outcome is worth waiting for, even after an unacknowledged start of another name, which
  // may still have reached the board. The short frame reports none.
  bool AwaitsOutcome() const { return nameAccepted && start != UpgradeStart::kShortFrameSent; }
};

// Sends the name with its terminating zero; runs as "Busy.StartingUpgrade".
UpgradeStartResult StartUpgrade(const std::string& name);

// Raised to end a wait early (the window closes); the wait notices it within one receive wait.
class StopFlag {
 public:
  void Raise();
  bool Raised() const;
  // Waits up to pause; true as soon as the flag is raised.
  bool WaitFor(std::chrono::milliseconds pause) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool raised_ = false;
};

// How often the wait looks for the status (one receive wait and, without a known status, a
// 20 ms pause each): about 22.5 s against a silent board.
constexpr int kUpgradeStatusCycles = 500;
constexpr int kUpgradeStatusPauseMs = 20;

struct UpgradeOutcome {
  // kPortGone: the connected port hung up (an unplugged adapter); nothing more can arrive, and
  // the front end has its own word for that.
  enum class End { kReported, kTimedOut, kStopped, kPortGone };
  End end = End::kTimedOut;
  uint8_t status = 0;  // with kReported
  // The message that reports it under "WarningSystem.Title"; nullptr when stopped or the port
  // went away.
  const char* messageKey = nullptr;
  // One word for scripts: success, no-disk, no-file, invalid-firmware, failed, timeout; empty
  // when stopped or the port went away.
  const char* word = "";
};

// Waits for a status byte 0 to 4; any other byte, a missing one or one that fails its check is
// no outcome and the wait goes on. Ends early when stop is raised or the port goes away.
UpgradeOutcome AwaitUpgradeOutcome(const StopFlag& stop, int cycles = kUpgradeStatusCycles);

}  // namespace lumivex::board
