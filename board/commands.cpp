#include "board/commands.h"

#include <chrono>
#include <thread>

#include "board/executor.h"
#include "protocol/commands.h"
#include "settings/language_keys.h"

namespace lumivex::board {

namespace {

// The verdict of one command and the outcome its exchanges left on the thread that ran them.
template <typename Command>
CommandResult RunCommand(const char* activityKey, Command command) {
  CommandResult result;
  CurrentExecutor().Run(activityKey, [&] {
    result.ok = command();
    result.outcome = protocol::LastOutcome();
  });
  return result;
}

// Inside work already running on the executor.
CurrentsReading ReadCurrentsHere() {
  CurrentsReading reading;
  reading.result.ok =
      protocol::ReadLedCurrents(reading.currents[0], reading.currents[1], reading.currents[2]);
  reading.result.outcome = protocol::LastOutcome();
  return reading;
}

}  // namespace

CommandResult SwitchLight(bool on) {
  return RunCommand(key::kBusySwitchingLight, [on] {
    for (int attempt = 0; attempt < kLightSwitchAttempts; ++attempt) {
      if (protocol::SetLedPower(on ? 1 : 0)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(kLightSwitchPauseMs));
    }
    return false;
  });
}

CurrentsReading ReadCurrents() {
  CurrentsReading reading;
  CurrentExecutor().Run(key::kBusyReadingCurrents, [&] { reading = ReadCurrentsHere(); });
  return reading;
}

ChannelWrite WriteChannel(std::optional<Channel> channel, uint32_t value) {
  ChannelWrite change;
  CurrentExecutor().Run(key::kBusyWritingCurrents, [&] {
    change.read = ReadCurrentsHere();
    if (!change.read.result.ok || value > kMaxChannelCurrent || !channel) return;
    Currents currents = change.read.currents;
    currents[static_cast<std::size_t>(*channel)] = static_cast<uint16_t>(value);
    CommandResult write;
    write.ok = protocol::WriteLedCurrents(currents[0], currents[1], currents[2]);
    write.outcome = protocol::LastOutcome();
    change.write = write;
  });
  return change;
}

CommandResult WriteCurrents(const Currents& currents) {
  return RunCommand(key::kBusyWritingCurrents, [&currents] {
    return protocol::WriteLedCurrents(currents[0], currents[1], currents[2]);
  });
}

CommandResult SetLightColours(uint8_t colours) {
  return RunCommand(key::kBusySettingColours,
                    [colours] { return protocol::SetLightColour(colours); });
}

CommandResult SetInputSource(uint8_t source) {
  return RunCommand(key::kBusySettingInput, [source] { return protocol::SetInputSource(source); });
}

CommandResult SetFlip(uint8_t x, uint8_t y) {
  return RunCommand(key::kBusySettingFlip, [x, y] { return protocol::SetFlip(x, y); });
}

}  // namespace lumivex::board
