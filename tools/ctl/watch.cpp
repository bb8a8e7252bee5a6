#include "tools/ctl/watch.h"

#include <algorithm>
#include <charconv>
#include <ostream>
#include <string_view>

#include "board/connection_loss.h"
#include "board/temperature_history.h"
#include "board/temperatures.h"
#include "platform/interrupt.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tools/ctl/ctl.h"

namespace lumivex::ctl {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Seconds as typed: digits with at most three decimals, no sign, no exponent.
std::optional<milliseconds> ParseSeconds(std::string_view text) {
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (whole.empty() || whole.size() > 9 || fraction.size() > 3) return std::nullopt;
  if (point != std::string_view::npos && fraction.empty()) return std::nullopt;
  for (std::string_view part : {whole, fraction}) {
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
    }
  }
  long long seconds = 0;
  std::from_chars(whole.data(), whole.data() + whole.size(), seconds);
  long long ms = seconds * 1000;
  long long scale = 100;
  for (char c : fraction) {
    ms += (c - '0') * scale;
    scale /= 10;
  }
  return milliseconds(ms);
}

std::optional<uint64_t> ParseCount(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// The same words as every other command that finds its port gone.
std::string PortGoneMessage() {
  return settings::Translate(key::kWarningUartTitle) + ": " + settings::Translate(key::kPortGone);
}

// Ends the watch's interrupt handling however the watch ends.
class InterruptScope {
 public:
  InterruptScope() { platform::InstallInterruptFlag(); }
  ~InterruptScope() { platform::RemoveInterruptFlag(); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;
};

}  // namespace

std::string ParseWatchArguments(const std::vector<std::string>& words, WatchOptions& options) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    std::string_view name = word;
    std::string value;
    if (const std::size_t equals = word.find('='); equals != std::string::npos) {
      name = std::string_view(word).substr(0, equals);
      value = word.substr(equals + 1);
    } else if (name == "--interval" || name == "--count" || name == "--duration") {
      if (i + 1 >= words.size()) return "watch: " + word + " needs a value";
      value = words[++i];
    }
    if (name == "--interval") {
      const std::optional<milliseconds> interval = ParseSeconds(value);
      if (!interval || *interval < kMinWatchInterval || *interval > kMaxWatchSpan) {
        return "watch: --interval takes seconds from 0.5 up, not " + value;
      }
      options.interval = *interval;
    } else if (name == "--count") {
      const std::optional<uint64_t> count = ParseCount(value);
      if (!count || *count == 0)
        return "watch: --count takes a number of readings from 1, not " + value;
      options.count = *count;
    } else if (name == "--duration") {
      const std::optional<milliseconds> duration = ParseSeconds(value);
      if (!duration || duration->count() == 0 || *duration > kMaxWatchSpan) {
        return "watch: --duration takes seconds above 0, not " + value;
      }
      options.duration = *duration;
    } else {
      return "watch: unexpected argument " + word;
    }
  }
  return {};
}

int Watch(const WatchOptions& options, bool json, std::ostream& out, std::ostream& err) {
  InterruptScope interrupts;
  if (!json) out << board::TemperatureCsvHeader() << '\n' << std::flush;

  uint64_t taken = 0;
  bool silent = false;
  std::optional<Clock::time_point> first;
  Clock::time_point next = Clock::now();
  // The duration counts in planned starts, like the interval: a reading due at its very end is
  // past it, however late the first one woke.
  const Clock::time_point begin = next;
  while (!options.count || taken < *options.count) {
    if (options.duration && next - begin >= *options.duration) break;
    if (platform::SleepUnlessInterrupted(next - Clock::now())) break;
    if (board::HandleConnectionLoss()) {
      err << PortGoneMessage() << '\n';
      return kExitRefused;
    }

    const Clock::time_point start = Clock::now();
    const auto wall = std::chrono::system_clock::now();
    if (!first) first = start;
    const board::TemperatureReading reading = board::ReadTemperatures();
    ++taken;
    // An unplugged board answers nothing: that is the end of the watch, not an empty line.
    if (board::HandleConnectionLoss()) {
      err << PortGoneMessage() << '\n';
      return kExitRefused;
    }
    const std::chrono::nanoseconds elapsed = start - *first;
    out << (json ? board::TemperatureJsonLine(wall, elapsed, reading)
                 : board::TemperatureCsvLine(wall, elapsed, reading))
        << '\n'
        << std::flush;
    // A full disk or a closed reader: going on would log nothing while looking busy.
    if (!out) {
      err << "lumivexctl: cannot write the log any more\n";
      return kExitRefused;
    }
    // One note for a stretch of silence, not one a reading.
    if (!reading.answered && !silent) {
      err << "lumivexctl: the board did not answer; its readings stay empty until it does\n";
    } else if (reading.answered && silent) {
      err << "lumivexctl: the board answers again\n";
    }
    silent = !reading.answered;

    // Steps are counted from the planned starts, so the interval holds however long a reading
    // takes and late wake-ups do not add up; a reading that took longer than the interval is
    // followed at once, never overlapped, and the steps count on from there.
    next = std::max(next + options.interval, Clock::now());
  }
  return kExitDone;
}

}  // namespace lumivex::ctl
