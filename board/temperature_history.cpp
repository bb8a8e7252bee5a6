#include "board/temperature_history.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace lumivex::board {

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

constexpr const char* kChannelNames[kTemperatureChannels] = {"red", "green", "blue", "board"};

// std::localtime shares one result buffer in the whole process.
std::mutex LocalTimeMutex;

std::string ElapsedText(std::chrono::nanoseconds elapsed) {
  const long long ms = std::max<long long>(0, duration_cast<milliseconds>(elapsed).count());
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", ms / 1000, ms % 1000);
  return text;
}

}  // namespace

std::optional<int16_t> ChannelValue(const TemperatureReading& reading, TemperatureChannel channel) {
  switch (channel) {
    case TemperatureChannel::kRed:
      return reading.red;
    case TemperatureChannel::kGreen:
      return reading.green;
    case TemperatureChannel::kBlue:
      return reading.blue;
    case TemperatureChannel::kBoard:
      return reading.board;
  }
  return std::nullopt;
}

std::string LocalIsoTime(WallTime time) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  const long long ms = duration_cast<milliseconds>(time - seconds).count();
  const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
  std::tm local{};
  {
    std::lock_guard lock(LocalTimeMutex);
    if (const std::tm* converted = std::localtime(&t)) local = *converted;
  }
  char stamp[40];
  char zone[8];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  // %z gives +0100; ISO 8601's extended form, which the rest of the stamp uses, wants +01:00.
  if (std::strftime(zone, sizeof zone, "%z", &local) != 5)
    std::snprintf(zone, sizeof zone, "+0000");
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03lld%.3s:%.2s", stamp, ms, zone, zone + 3);
  return text;
}

std::string TemperatureCsvHeader() {
  return "time,elapsed_s,red,green,blue,board";
}

std::string TemperatureCsvLine(WallTime time, std::chrono::nanoseconds elapsed,
                               const TemperatureReading& reading) {
  std::string line = LocalIsoTime(time) + "," + ElapsedText(elapsed);
  for (std::size_t i = 0; i < kTemperatureChannels; ++i) {
    line += ',';
    if (auto value = ChannelValue(reading, static_cast<TemperatureChannel>(i))) {
      line += std::to_string(*value);
    }
  }
  return line;
}

std::string TemperatureJsonLine(WallTime time, std::chrono::nanoseconds elapsed,
                                const TemperatureReading& reading) {
  // The time stamp holds digits, '-', ':', '.', 'T' and '+' only: nothing to escape.
  std::string line =
      "{\"time\":\"" + LocalIsoTime(time) + "\",\"elapsed_s\":" + ElapsedText(elapsed);
  for (std::size_t i = 0; i < kTemperatureChannels; ++i) {
    line += ",\"";
    line += kChannelNames[i];
    line += "\":";
    auto value = ChannelValue(reading, static_cast<TemperatureChannel>(i));
    line += value ? std::to_string(*value) : "null";
  }
  line += '}';
  return line;
}

std::optional<int16_t> TemperatureHistory::Sample::Value(TemperatureChannel channel) const {
  const auto i = static_cast<std::size_t>(channel);
  if ((reported & (1u << i)) == 0) return std::nullopt;
  return values[i];
}

TemperatureReading TemperatureHistory::Sample::Reading() const {
  return {Value(TemperatureChannel::kRed), Value(TemperatureChannel::kGreen),
          Value(TemperatureChannel::kBlue), Value(TemperatureChannel::kBoard), reported != 0};
}

TemperatureHistory::TemperatureHistory(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)) {}

void TemperatureHistory::Add(SteadyTime steady, WallTime wall, const TemperatureReading& reading,
                             bool continues) {
  Sample sample;
  sample.steady = steady;
  sample.wall = wall;
  sample.continues = continues;
  for (std::size_t i = 0; i < kTemperatureChannels; ++i) {
    if (auto value = ChannelValue(reading, static_cast<TemperatureChannel>(i))) {
      sample.values[i] = *value;
      sample.reported = static_cast<uint8_t>(sample.reported | (1u << i));
    }
  }
  if (!origin_) origin_ = steady;
  if (samples_.size() == capacity_) samples_.pop_front();
  samples_.push_back(sample);
}

void TemperatureHistory::Clear() {
  // A deque keeps its blocks after clear(); a cleared day of readings gives its memory back.
  std::deque<Sample>().swap(samples_);
  origin_.reset();
}

std::string TemperatureHistory::Csv() const {
  std::string text = TemperatureCsvHeader() + "\n";
  for (const Sample& sample : samples_) {
    text += TemperatureCsvLine(sample.wall, sample.steady - *origin_, sample.Reading());
    text += '\n';
  }
  return text;
}

void TemperatureHistory::Decimate(TemperatureChannel channel, SteadyTime from, SteadyTime to,
                                  std::span<PlotColumn> columns) const {
  std::fill(columns.begin(), columns.end(), PlotColumn{});
  if (columns.empty() || to <= from) return;
  const auto channelIndex = static_cast<std::size_t>(channel);
  const uint8_t bit = static_cast<uint8_t>(1u << channelIndex);
  const double span = std::chrono::duration<double>(to - from).count();
  const auto count = static_cast<double>(columns.size());
  const int lastColumn = static_cast<int>(columns.size()) - 1;

  auto it = std::partition_point(samples_.begin(), samples_.end(),
                                 [from](const Sample& s) { return s.steady < from; });
  int previous = -1;  // the column of the reading before, when the line may join it
  for (; it != samples_.end() && it->steady <= to; ++it) {
    if ((it->reported & bit) == 0) {
      previous = -1;
      continue;
    }
    if (!it->continues) previous = -1;
    const double at = std::chrono::duration<double>(it->steady - from).count() / span * count;
    const int column = std::clamp(static_cast<int>(at), 0, lastColumn);
    const int16_t value = it->values[channelIndex];
    PlotColumn& c = columns[static_cast<std::size_t>(column)];
    if (!c.any) {
      c = PlotColumn{true, value, value, value, value, previous};
    } else {
      c.min = std::min(c.min, value);
      c.max = std::max(c.max, value);
      c.last = value;
    }
    previous = column;
  }
}

}  // namespace lumivex::board
