#include "board/upgrade.h"

#include <vector>

#include "board/connection_loss.h"
#include "board/executor.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "settings/language_keys.h"

namespace lumivex::board {

namespace {

struct StatusEntry {
  uint8_t status;
  const char* messageKey;
  const char* word;
};
constexpr StatusEntry kStatusTable[] = {
    {protocol::kUpgradeSuccess, key::kUpgradeSuccess, "success"},
    {protocol::kUpgradeNoDisk, key::kNotFindDisk, "no-disk"},
    {protocol::kUpgradeNoFile, key::kNotFindFile, "no-file"},
    {protocol::kUpgradeInvalidFirmware, key::kInvalidFirmware, "invalid-firmware"},
    {protocol::kUpgradeFailed, key::kUpgradeFail, "failed"},
};

}  // namespace

bool IsValidFirmwareName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxFirmwareNameLength;
}

UpgradeStartResult StartUpgrade(const std::string& name) {
  UpgradeStartResult result;
  if (!IsValidFirmwareName(name)) return result;
  result.nameAccepted = true;
  // The board reads the name up to its terminating zero.
  std::vector<uint8_t> request(name.begin(), name.end());
  request.push_back(0);
  CurrentExecutor().Run(key::kBusyStartingUpgrade, [&] {
    const int32_t started =
        protocol::StartFirmwareUpgrade(request.data(), static_cast<uint8_t>(request.size()));
    result.start = started > 0    ? UpgradeStart::kAcknowledged
                   : started == 0 ? UpgradeStart::kShortFrameSent
                                  : UpgradeStart::kNotAcknowledged;
    result.outcome = protocol::LastOutcome();
  });
  return result;
}

void StopFlag::Raise() {
  {
    std::lock_guard lock(mutex_);
    raised_ = true;
  }
  changed_.notify_all();
}

bool StopFlag::Raised() const {
  std::lock_guard lock(mutex_);
  return raised_;
}

bool StopFlag::WaitFor(std::chrono::milliseconds pause) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, pause, [this] { return raised_; });
}

UpgradeOutcome AwaitUpgradeOutcome(const StopFlag& stop, int cycles) {
  UpgradeOutcome outcome;
  const uint64_t losses = HandledConnectionLosses();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (stop.Raised()) {
      outcome.end = UpgradeOutcome::End::kStopped;
      return outcome;
    }
    if (ConnectionLostSince(losses)) {
      outcome.end = UpgradeOutcome::End::kPortGone;
      return outcome;
    }
    uint8_t status = 0xFF;
    if (protocol::ReceiveChecked(&status, 1) == 1) {
      for (const StatusEntry& entry : kStatusTable) {
        if (entry.status != status) continue;
        outcome.end = UpgradeOutcome::End::kReported;
        outcome.status = status;
        outcome.messageKey = entry.messageKey;
        outcome.word = entry.word;
        return outcome;
      }
    }
    // Bytes that are no outcome are not the end of the upgrade; keep listening.
    if (stop.WaitFor(std::chrono::milliseconds(kUpgradeStatusPauseMs))) {
      outcome.end = UpgradeOutcome::End::kStopped;
      return outcome;
    }
  }
  outcome.end = UpgradeOutcome::End::kTimedOut;
  outcome.messageKey = key::kUpgradeTimeOut;
  outcome.word = "timeout";
  return outcome;
}

}  // namespace lumivex::board
