// What the link's bounded waits cost the waiting thread: CPU time as a share of wall time, for
// a LinkReceive that runs out (18 bytes: 145 steps), a LinkSend whose write never completes
// (1001 steps), and single one-millisecond steps. The target is a share under 5%.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "transport/link.h"
#include "transport/link_testing.h"
#include "transport/receive_ring.h"

namespace {

using lumivex::transport::LinkPortSide;

class SilentPort : public LinkPortSide {
 public:
  uint32_t Write(const uint8_t*, uint32_t count) override { return count; }
};

SilentPort Port;
LinkPortSide* ResolveSilentPort() {
  return &Port;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Sample {
  double wall;
  double cpu;
};

template <typename F>
Sample Measure(F&& wait) {
  const double wall = WallSeconds();
  const double cpu = ThreadCpuSeconds();
  wait();
  return Sample{WallSeconds() - wall, ThreadCpuSeconds() - cpu};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

template <typename F>
void Report(const char* name, int runs, F&& wait) {
  std::vector<double> walls;
  std::vector<double> shares;
  for (int i = 0; i < runs; ++i) {
    const Sample s = Measure(wait);
    walls.push_back(s.wall);
    shares.push_back(s.cpu / s.wall);
  }
  std::printf("%-34s %5d %12.2f %12.2f %10.2f%%\n", name, runs, Median(walls) * 1e3,
              *std::max_element(walls.begin(), walls.end()) * 1e3, Median(shares) * 100.0);
}

void StepLengths(int steps) {
  std::vector<double> lengths;
  const double cpu = ThreadCpuSeconds();
  const double start = WallSeconds();
  for (int i = 0; i < steps; ++i) {
    const auto begin = std::chrono::steady_clock::now();
    lumivex::transport::DelayMilliseconds(1);
    lengths.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
            .count());
  }
  const double share = (ThreadCpuSeconds() - cpu) / (WallSeconds() - start);
  std::sort(lengths.begin(), lengths.end());
  std::printf(
      "\none-millisecond step, %d steps: min %.1f us, median %.1f us, p99 %.1f us, "
      "max %.1f us, CPU share %.2f%%\n",
      steps, lengths.front(), lengths[lengths.size() / 2], lengths[lengths.size() * 99 / 100],
      lengths.back(), share * 100.0);
}

}  // namespace

int main(int argc, char** argv) {
  const int scale = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  lumivex::transport::SetLinkPortResolver(&ResolveSilentPort);
  lumivex::transport::LinkReset();

  std::printf("%-34s %5s %12s %12s %11s\n", "wait", "runs", "median ms", "max ms", "CPU share");
  Report("LinkReceive 18 bytes, none come", 21 * scale, [] {
    uint8_t buffer[18];
    lumivex::transport::LinkReceive(buffer, 18);
  });
  Report("LinkSend, write never completes", 5 * scale, [] {
    const uint8_t frame[] = {0xE0, 0x04, 0x41, 0x01};
    lumivex::transport::LinkSend(frame, sizeof frame);
  });
  StepLengths(2000 * scale);
  lumivex::transport::SetLinkPortResolver(nullptr);
  return 0;
}
