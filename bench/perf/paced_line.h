// A serial line between the panel and a simulated board, with the timing of a real UART.
//
// A pseudo-terminal hands bytes over the moment they are written, so a board on one answers
// ahead of its own line time. PacedLine sits between the two: the panel opens its slave device,
// the line opens the board's slave device, and every byte is passed on only when it would have
// crossed a wire at the panel's line speed, ten bits a byte (start, eight data bits, stop), one
// byte after another in each direction. It also notes when it handed the panel the last byte of
// each run from the board, which is when that byte's stop bit would have ended on a wire: the
// instant the panel's driver could first have it.
//
// Thread safety: Start and Stop on one thread; the accessors from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace lumivex::bench {

class PacedLine {
 public:
  using Clock = std::chrono::steady_clock;

  PacedLine() = default;
  ~PacedLine();
  PacedLine(const PacedLine&) = delete;
  PacedLine& operator=(const PacedLine&) = delete;

  // Opens the panel's pseudo-terminal and the board's slave device and starts passing bytes.
  // False with error() set on failure.
  bool Start(const std::string& boardSlavePath);
  void Stop();

  std::string panelPath() const { return panelPath_; }  // the device the panel opens
  std::string error() const { return error_; }

  // When the last byte towards the panel was handed over (steady clock), and how many bytes
  // have gone that way in all.
  Clock::time_point lastDeliveredAt() const {
    return Clock::time_point(Clock::duration(lastDeliveredAt_.load()));
  }
  uint64_t deliveredBytes() const { return deliveredBytes_.load(); }
  // When the line first heard the panel after it last handed the panel bytes: the start of the
  // panel's next request (on a wire, its start bit).
  Clock::time_point requestHeardAt() const {
    return Clock::time_point(Clock::duration(requestHeardAt_.load()));
  }
  // The latest a byte was handed over after its time on the wire had ended, in microseconds:
  // how far the line itself fell behind a real wire (a loaded machine wakes it late).
  int64_t worstLatenessUs() const { return worstLatenessUs_.load(); }
  void ResetLateness() { worstLatenessUs_.store(0); }

 private:
  void Run();

  int panelMaster_ = -1;
  int panelHold_ = -1;  // keeps the panel's side alive, and its line settings, between opens
  int board_ = -1;
  int wake_ = -1;
  std::string panelPath_;
  std::string error_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::atomic<Clock::rep> lastDeliveredAt_{0};
  std::atomic<uint64_t> deliveredBytes_{0};
  std::atomic<Clock::rep> requestHeardAt_{0};
  std::atomic<int64_t> worstLatenessUs_{0};
};

}  // namespace lumivex::bench
