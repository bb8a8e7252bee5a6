// The LED and board temperatures as the front ends show them.
//
// Thread safety: the front end's main thread; the exchange itself runs on CurrentExecutor.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/outcome.h"

namespace lumivex::board {

// One reading. A value the board did not report (it sent -100, or nothing) is empty.
struct TemperatureReading {
  std::optional<int16_t> red;
  std::optional<int16_t> green;
  std::optional<int16_t> blue;
  std::optional<int16_t> board;
  bool answered = false;  // the board answered one of the two request forms
  protocol::Outcome outcome = protocol::Outcome::kNoAnswer;  // of the last form asked
};

// Reads the temperatures: the long request form first, then the short one (up to about 7.3 s
// against a silent board). Runs on CurrentExecutor as "Busy.ReadTemperatures".
TemperatureReading ReadTemperatures();

// "----" for a value not reported, else the number in degrees Celsius.
std::string TemperatureText(std::optional<int16_t> value);

}  // namespace lumivex::board
