// The board's commands as the panel and lumivexctl both issue them: the light switch with its
// attempts, the currents read and written as one triple or one channel at a time, the light
// colours, the video input and the mirror flags.
//
// Thread safety: the front end's main thread. Each workflow runs its exchanges inside one
// CurrentExecutor().Run and returns what happened; it never shows anything itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "protocol/outcome.h"

namespace lumivex::board {

// What a command ended with: the command's own verdict (a setter: the board said "Ack"), and
// how its last exchange ended, so that a refusal and silence can be told apart.
struct CommandResult {
  bool ok = false;
  protocol::Outcome outcome = protocol::Outcome::kNoAnswer;
};

// The light source is switched with up to four requests: a board busy with its scaler may miss
// one. After every request it did not acknowledge, the fourth included, 50 ms pass.
constexpr int kLightSwitchAttempts = 4;
constexpr int kLightSwitchPauseMs = 50;
CommandResult SwitchLight(bool on);

// Positions of the channel triple, in the order the board reads and writes it.
enum class Channel : uint8_t { kRed = 0, kGreen = 1, kBlue = 2 };
using Currents = std::array<uint16_t, 3>;  // red, green, blue

// The highest drive current the panel's scale offers for one channel.
constexpr uint32_t kMaxChannelCurrent = 255;

struct CurrentsReading {
  Currents currents{};  // zeros when the read failed
  CommandResult result;
};
CurrentsReading ReadCurrents();

// One channel changed, the other two as the board reports them: the board takes the triple
// only as a whole.
struct ChannelWrite {
  CurrentsReading read;
  // Empty when nothing was written: the read failed (writing would replace the two other
  // channels with zeros and switch them dark), value is above kMaxChannelCurrent, or no
  // channel was given. The read is made in every case, as the panel has always made it.
  std::optional<CommandResult> write;
};
ChannelWrite WriteChannel(std::optional<Channel> channel, uint32_t value);

CommandResult WriteCurrents(const Currents& currents);

// Colour set: bit 0 red, bit 1 green, bit 2 blue.
CommandResult SetLightColours(uint8_t colours);
// 0 HDMI, 1 VGA.
CommandResult SetInputSource(uint8_t source);
// Each flag 0 or 1.
CommandResult SetFlip(uint8_t x, uint8_t y);

}  // namespace lumivex::board
