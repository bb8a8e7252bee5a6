// lumivexctl watch: the temperatures at a steady interval, one log line per reading, until a
// count, a duration or Ctrl-C. Main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lumivex::ctl {

// Faster reading would keep the line busy with nothing but temperature requests.
constexpr std::chrono::milliseconds kMinWatchInterval{500};
constexpr std::chrono::milliseconds kDefaultWatchInterval{5000};
// A year: longer intervals and durations are typing mistakes.
constexpr std::chrono::milliseconds kMaxWatchSpan{365LL * 24 * 60 * 60 * 1000};

struct WatchOptions {
  std::chrono::milliseconds interval = kDefaultWatchInterval;
  std::optional<uint64_t> count;                      // readings, at least 1
  std::optional<std::chrono::milliseconds> duration;  // from the first reading's start
};

// Parses the words after "watch": [--interval SECONDS] [--count N] [--duration SECONDS], each
// also as --name=value; seconds may carry up to three decimals. Returns an error text, empty
// when the words were accepted.
std::string ParseWatchArguments(const std::vector<std::string>& words, WatchOptions& options);

// Runs the watch on the connected board: CSV (header first) or, with json, one JSON object a
// line, each line flushed as it is complete. Ctrl-C or SIGTERM ends it after the line of the
// reading under way. Returns kExitDone, or kExitRefused when the port went away.
int Watch(const WatchOptions& options, bool json, std::ostream& out, std::ostream& err);

}  // namespace lumivex::ctl
