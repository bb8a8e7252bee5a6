// A history of temperature readings, as the panel plots it and as `lumivexctl watch` logs it:
// one line format for both (CSV or JSON lines), and a cheap reduction to the pixel columns a
// plot shows, so that drawing a day of readings costs no more than drawing ten minutes.
//
// Thread safety: none of its own; one thread owns a history (the panel's GUI thread).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>

#include "board/temperatures.h"

namespace lumivex::board {

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// The four values of a reading, in the order of the log's columns.
enum class TemperatureChannel : std::size_t { kRed = 0, kGreen = 1, kBlue = 2, kBoard = 3 };
constexpr std::size_t kTemperatureChannels = 4;

// The value of one channel of a reading; empty when the board did not report it.
std::optional<int16_t> ChannelValue(const TemperatureReading& reading, TemperatureChannel channel);

// A day of readings at the shortest interval the panel offers (2 s).
constexpr std::size_t kDayOfReadings = 24 * 60 * 60 / 2;

// ----- the log's lines, shared by the panel's "Save as CSV" and lumivexctl watch

// "time,elapsed_s,red,green,blue,board"
std::string TemperatureCsvHeader();
// time: local time in ISO 8601 with milliseconds and the UTC offset
// (2026-12-07T11:22:43.125+01:00); elapsed: seconds since the first reading, three decimals; a
// value the board did not report is an empty field. No line end.
std::string TemperatureCsvLine(WallTime time, std::chrono::nanoseconds elapsed,
                               const TemperatureReading& reading);
// The same fields as one JSON object; a value not reported is null. No line end.
std::string TemperatureJsonLine(WallTime time, std::chrono::nanoseconds elapsed,
                                const TemperatureReading& reading);
// Local time as in the log: 2026-12-07T11:22:43.125+01:00.
std::string LocalIsoTime(WallTime time);

// ----- reduction to pixel columns

// What one pixel column of a plot holds of one channel: the lowest and highest value reported
// in its time span, the first and last of them (where the line enters and leaves the column),
// and the column of the reading the line comes from. joinFrom is -1 where the line starts
// afresh: the reading before was missing, reading paused, or it lies outside the range shown.
struct PlotColumn {
  bool any = false;
  int16_t min = 0;
  int16_t max = 0;
  int16_t first = 0;
  int16_t last = 0;
  int joinFrom = -1;
};

class TemperatureHistory {
 public:
  // Keeps the most recent `capacity` readings; the oldest gives way to a new one.
  explicit TemperatureHistory(std::size_t capacity = kDayOfReadings);

  // Appends a reading taken at steady and wall. continues false marks the first reading after
  // a pause in reading (the window was reconnected, the interval changed): the plot does not
  // join it to the reading before. Readings arrive in time order.
  void Add(SteadyTime steady, WallTime wall, const TemperatureReading& reading,
           bool continues = true);
  void Clear();

  std::size_t size() const { return samples_.size(); }
  bool empty() const { return samples_.empty(); }
  std::size_t capacity() const { return capacity_; }

  struct Sample {
    SteadyTime steady;
    WallTime wall;
    std::array<int16_t, kTemperatureChannels> values{};
    uint8_t reported = 0;  // bit n: channel n was reported
    bool continues = true;

    std::optional<int16_t> Value(TemperatureChannel channel) const;
    TemperatureReading Reading() const;
  };
  // i from 0 (the oldest kept) to size() - 1.
  const Sample& at(std::size_t i) const { return samples_[i]; }
  const Sample& back() const { return samples_.back(); }

  // The steady time of the session's first reading (kept when old readings give way, so the
  // elapsed times of a log do not jump); empty before the first reading and after Clear.
  std::optional<SteadyTime> origin() const { return origin_; }
  // The whole history in the log's CSV form, header first, each line ending in "\n".
  std::string Csv() const;

  // Reduces the readings of channel in [from, to] to columns.size() equal columns of time,
  // overwriting columns. Costs one pass over the readings in the range (found by bisection).
  void Decimate(TemperatureChannel channel, SteadyTime from, SteadyTime to,
                std::span<PlotColumn> columns) const;

 private:
  std::size_t capacity_;
  std::deque<Sample> samples_;
  std::optional<SteadyTime> origin_;
};

}  // namespace lumivex::board
