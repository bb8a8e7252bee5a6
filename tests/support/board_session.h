// A simulated board on a real pseudo-terminal, reached the way the panel reaches it: through the
// port map, OpenPort, the port's monitor thread and ReceiveRing. Shared by the integration and
// fault tests and the soak program.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "connection/connection.h"
#include "platform/port_map.h"
#include "tests/support/virtual_ports.h"
#include "tools/boardsim/board.h"
#include "transport/ports.h"
#include "transport/receive_ring.h"

namespace lumivex::integration {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
using namespace std::chrono_literals;
using lumivex::testing::PrivateRuntimeDir;
using lumivex::testing::VirtualPortsOnly;

// A healthy board with known answers, at the given speed. Unpaced boards answer at once; paced
// ones take the line time that their speed gives.
inline boardsim::BoardOptions KnownBoard(uint32_t baud, bool pace = true) {
  boardsim::BoardOptions options;
  options.baud = baud;
  options.pace = pace;
  options.fixedTemperatures = boardsim::Temperatures{25, 26, 27, 40};
  options.currents = {1, 2, 0x300};
  options.upgradeDelayMs = 50;
  return options;
}

inline Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A class-D request frame: header, length, class, command, payload and the check byte that makes
// the whole frame sum to zero. Written here apart from protocol/, so that a fault in the
// protocol's own frame builder is not mirrored.
inline Bytes FrameD(uint8_t command, const Bytes& payload) {
  Bytes frame = {0xE0, static_cast<uint8_t>(payload.size() + 5), 0x44, command};
  frame.insert(frame.end(), payload.begin(), payload.end());
  uint8_t sum = 0;
  for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
  frame.push_back(static_cast<uint8_t>(0x100 - sum));
  return frame;
}

inline Bytes FrameA(uint8_t command, const Bytes& payload) {
  Bytes frame = {0xE0, static_cast<uint8_t>(payload.size() + 4), 0x41, command};
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

template <typename F>
Millis TimeOf(F&& call) {
  const auto start = Clock::now();
  call();
  return std::chrono::duration_cast<Millis>(Clock::now() - start);
}

// Waits until predicate holds or the timeout passes; returns whether it held.
template <typename P>
bool WaitFor(P&& predicate, Millis timeout, Millis poll = 2ms) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (predicate()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(poll);
  }
}

// Waits until no byte has reached ReceiveRing for `quiet`; false when the line did not calm down
// before the timeout. Used after a fault that leaves bytes on the way, so that they cannot reach
// the ring after the next request has reset it. The ring is emptied on every look, so a flood
// that keeps it full is seen to go on.
inline bool WaitForSilentLine(Millis quiet = 20ms, Millis timeout = 5s) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    transport::ReceiveRing.Reset();
    std::this_thread::sleep_for(quiet);
    if (!transport::ReceiveRing.HasData()) return true;
  }
  return false;
}

// As WaitForSilentLine, but keeps what arrived: waits until the ring's count has stood still for
// `quiet`. Only for bytes that fit the ring; a full ring stands still while a flood goes on.
inline bool WaitForQuietRing(Millis quiet = 20ms, Millis timeout = 3s) {
  const auto deadline = Clock::now() + timeout;
  uint32_t last = transport::ReceiveRing.Count();
  auto calmSince = Clock::now();
  while (Clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
    const uint32_t now = transport::ReceiveRing.Count();
    if (now != last) {
      last = now;
      calmSince = Clock::now();
    } else if (Clock::now() - calmSince >= quiet) {
      return true;
    }
  }
  return false;
}

// What the connection action showed, in order: "box <title>: <text>" and "caption <text>".
class RecordingPage : public connection::ConnectionPage {
 public:
  void ShowMessage(const std::string& text, const std::string& title) override {
    events.push_back("box " + title + ": " + text);
  }
  void SetConnectCaption(const std::string& caption) override {
    events.push_back("caption " + caption);
  }
  std::vector<std::string> events;
};

}  // namespace lumivex::integration
