#include "board/temperatures.h"

#include "board/executor.h"
#include "protocol/commands.h"

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
  CurrentExecutor().Run("Busy.ReadTemperatures",
                        [&] { answered = protocol::ReadTemperatures(red, green, blue, board); });
  return {Reported(red), Reported(green), Reported(blue), Reported(board), answered};
}

std::string TemperatureText(std::optional<int16_t> value) {
  return value ? std::to_string(*value) : kNotAvailableText;
}

}  // namespace lumivex::board
