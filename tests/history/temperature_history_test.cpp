// The temperature history: log lines in local time, elapsed seconds, empty values; the reduction
// to pixel columns with its gaps; the cap of a day's readings.
#include "board/temperature_history.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <vector>

namespace lumivex::board {
namespace {

using namespace std::chrono_literals;

// Local time as the TZ variable says, for the length of a test.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

WallTime Utc(int64_t secondsSinceEpoch, int ms) {
  return WallTime(std::chrono::seconds(secondsSinceEpoch) + std::chrono::milliseconds(ms));
}

TemperatureReading Reading(std::optional<int16_t> red, std::optional<int16_t> green,
                           std::optional<int16_t> blue, std::optional<int16_t> board) {
  return {red, green, blue, board, red || green || blue || board};
}

TEST(TemperatureLog, LinesCarryLocalTimeElapsedSecondsAndEmptyValues) {
  // 2026-01-15 12:00:00 UTC and 2026-07-15 12:00:00 UTC.
  constexpr int64_t kWinter = 1768478400;
  constexpr int64_t kSummer = 1784116800;
  struct Case {
    const char* zone;
    WallTime time;
    const char* stamp;
  };
  const Case cases[] = {
      {"UTC0", Utc(kWinter, 7), "2026-01-15T12:00:00.007+00:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", Utc(kWinter, 999), "2026-01-15T13:00:00.999+01:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", Utc(kSummer, 0), "2026-07-15T14:00:00.000+02:00"},
      {"EST5", Utc(kWinter, 120), "2026-01-15T07:00:00.120-05:00"},
      {"IST-5:30", Utc(kWinter, 5), "2026-01-15T17:30:00.005+05:30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    ScopedTimeZone zone(c.zone);
    EXPECT_EQ(LocalIsoTime(c.time), c.stamp);
  }

  ScopedTimeZone zone("UTC0");
  const WallTime t = Utc(kWinter, 250);
  EXPECT_EQ(TemperatureCsvHeader(), "time,elapsed_s,red,green,blue,board");
  EXPECT_EQ(TemperatureCsvLine(t, 12503ms, Reading(25, std::nullopt, -5, 40)),
            "2026-01-15T12:00:00.250+00:00,12.503,25,,-5,40");
  EXPECT_EQ(TemperatureCsvLine(t, 0ms, TemperatureReading{}),
            "2026-01-15T12:00:00.250+00:00,0.000,,,,");
  EXPECT_EQ(TemperatureJsonLine(t, 86400s + 1ms, Reading(25, std::nullopt, 0, std::nullopt)),
            R"({"time":"2026-01-15T12:00:00.250+00:00","elapsed_s":86400.001,)"
            R"("red":25,"green":null,"blue":0,"board":null})");
}

TEST(TemperatureLog, TheHistorysCsvCountsElapsedTimeFromItsFirstReading) {
  ScopedTimeZone zone("UTC0");
  TemperatureHistory history(3);
  const SteadyTime start{};
  for (int i = 0; i < 4; ++i) {
    history.Add(start + i * 2s, Utc(1768478400 + 2 * i, 0),
                Reading(static_cast<int16_t>(30 + i), std::nullopt, 20, 35));
  }
  // The oldest reading gave way; elapsed times still count from the first of the session.
  EXPECT_EQ(history.Csv(),
            "time,elapsed_s,red,green,blue,board\n"
            "2026-01-15T12:00:02.000+00:00,2.000,31,,20,35\n"
            "2026-01-15T12:00:04.000+00:00,4.000,32,,20,35\n"
            "2026-01-15T12:00:06.000+00:00,6.000,33,,20,35\n");
  history.Clear();
  EXPECT_TRUE(history.empty());
  EXPECT_FALSE(history.origin());
  history.Add(start + 100s, Utc(1768478500, 0), Reading(1, 2, 3, 4));
  EXPECT_EQ(history.Csv(),
            "time,elapsed_s,red,green,blue,board\n"
            "2026-01-15T12:01:40.000+00:00,0.000,1,2,3,4\n");
}

std::vector<PlotColumn> Columns(const TemperatureHistory& history, TemperatureChannel channel,
                                SteadyTime from, SteadyTime to, std::size_t count) {
  std::vector<PlotColumn> columns(count);
  history.Decimate(channel, from, to, columns);
  return columns;
}

TEST(TemperatureDecimation, ColumnsKeepTheExtremesAndTheGaps) {
  const SteadyTime t0{};
  TemperatureHistory history;
  // Ten readings a second apart; red misses readings 4 and 5; reading 8 starts afresh.
  const std::optional<int16_t> red[] = {20, 25, 21, 22, std::nullopt, std::nullopt, 30, 31, 40, 41};
  for (int i = 0; i < 10; ++i) {
    history.Add(t0 + i * 1s, WallTime{}, Reading(red[i], 50, std::nullopt, 35), i != 8);
  }

  // Five columns of two seconds: readings (0,1) (2,3) (4,5) (6,7) (8,9).
  const std::vector<PlotColumn> c = Columns(history, TemperatureChannel::kRed, t0, t0 + 10s, 5);
  ASSERT_EQ(c.size(), 5u);
  EXPECT_TRUE(c[0].any);
  EXPECT_EQ(c[0].min, 20);
  EXPECT_EQ(c[0].max, 25);
  EXPECT_EQ(c[0].first, 20);
  EXPECT_EQ(c[0].last, 25);
  EXPECT_EQ(c[0].joinFrom, -1) << "nothing before the range to join";
  EXPECT_EQ(c[1].joinFrom, 0);
  EXPECT_EQ(c[1].min, 21);
  EXPECT_EQ(c[1].max, 22);
  EXPECT_FALSE(c[2].any) << "the board reported no red value";
  EXPECT_EQ(c[3].joinFrom, -1) << "the line was joined across missing readings";
  EXPECT_EQ(c[4].joinFrom, -1) << "the line was joined across a pause in reading";
  EXPECT_EQ(c[4].first, 40);
  EXPECT_EQ(c[4].last, 41);

  // A channel never reported leaves every column empty.
  for (const PlotColumn& column : Columns(history, TemperatureChannel::kBlue, t0, t0 + 10s, 5)) {
    EXPECT_FALSE(column.any);
  }

  // A range that starts inside the history: earlier readings are not drawn.
  const std::vector<PlotColumn> late =
      Columns(history, TemperatureChannel::kGreen, t0 + 5s, t0 + 8s, 3);
  for (std::size_t i = 0; i < late.size(); ++i) {
    EXPECT_TRUE(late[i].any) << i;
    EXPECT_EQ(late[i].joinFrom, i == 0 ? -1 : static_cast<int>(i) - 1);
  }
  // Readings sparser than the columns join across the empty columns between them.
  const std::vector<PlotColumn> wide =
      Columns(history, TemperatureChannel::kBoard, t0, t0 + 10s, 100);
  EXPECT_TRUE(wide[10].any);
  EXPECT_FALSE(wide[11].any);
  EXPECT_EQ(wide[10].joinFrom, 0);
  EXPECT_EQ(wide[20].joinFrom, 10);
}

TEST(TemperatureDecimation, ADayOfReadingsFitsAndTheOldestGiveWay) {
  TemperatureHistory history;
  ASSERT_EQ(history.capacity(), 43200u);
  const SteadyTime t0{};
  for (std::size_t i = 0; i < history.capacity() + 10; ++i) {
    history.Add(t0 + i * 2s, WallTime{}, Reading(static_cast<int16_t>(i % 50), 1, 2, 3));
  }
  EXPECT_EQ(history.size(), 43200u);
  EXPECT_EQ(history.at(0).steady, t0 + 20s);
  EXPECT_EQ(history.origin(), t0);
  std::vector<PlotColumn> columns(600);
  history.Decimate(TemperatureChannel::kRed, history.at(0).steady, history.back().steady, columns);
  for (const PlotColumn& column : columns) {
    ASSERT_TRUE(column.any);
    EXPECT_EQ(column.min, 0);
    EXPECT_EQ(column.max, 49);
  }
}

}  // namespace
}  // namespace lumivex::board
