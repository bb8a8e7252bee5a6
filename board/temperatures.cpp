#include "board/temperatures.h"

#include "board/executor.h"
#include "protocol/commands.h"
#include "settings/language_keys.h"

namespace lumivex::board {

namespace {
constexpr char kNotAvailableText[] = "----";

std::optional<int16_t> Reported(int16_t value) {
  if (value == protocol::kTemperatureNotAvailable) return std::nullopt;
  return value;
}
}  // namespace

TemperatureReading ReadTemperatures() {
  int16_t red = protocol::kTemperatureNotAvailable;
  int16_t green = red, blue = red, board = red;
  bool answered = false;
  protocol::Outcome outcome = protocol::Outcome::kNoAnswer;
  CurrentExecutor().Run(key::kBusyReadTemperatures, [&] {
    answered = protocol::ReadTemperatures(red, green, blue, board);
    outcome = protocol::LastOutcome();
  });
  return {Reported(red), Reported(green), Reported(blue), Reported(board), answered, outcome};
}

std::string TemperatureText(std::optional<int16_t> value) {
  return value ? std::to_string(*value) : kNotAvailableText;
}

}  // namespace lumivex::board
