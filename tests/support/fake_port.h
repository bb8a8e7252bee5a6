// A fake port for link and protocol tests. Its Write hands the frame to a board thread, which
// raises writeDone and pushes the answer into ReceiveRing from that thread, in pieces and after
// delays as the test asks: the real single-producer, single-consumer path of the serial port.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "transport/link.h"

namespace lumivex::testing {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// Bytes that reach the ring together, after a pause measured from the previous piece.
struct Piece {
  milliseconds after{0};
  Bytes bytes;
};

// What the board does about one written frame.
struct Reply {
  bool completeWrite = true;  // raise writeDone (after writeTime)
  milliseconds writeTime{0};
  std::vector<Piece> pieces;
};

// Decides the reply to each frame; called on the writing thread.
using Responder = std::function<Reply(const Bytes& frame)>;

Reply Silence();
Reply Answer(Bytes bytes, milliseconds after = milliseconds{0});
// A class-D answer around data: lead byte, data, and a check byte that makes it sum to zero.
Bytes ClassDAnswer(const Bytes& data, uint8_t lead = 0xE0);
Bytes Text(const char* text);

class FakePort : public transport::LinkPortSide {
 public:
  explicit FakePort(Responder responder = {});
  ~FakePort() override;
  FakePort(const FakePort&) = delete;
  FakePort& operator=(const FakePort&) = delete;

  uint32_t Write(const uint8_t* bytes, uint32_t count) override;

  void SetResponder(Responder responder);
  // Bytes the board sends unasked, pushed from the board thread.
  void SendUnasked(Bytes bytes, milliseconds after = milliseconds{0});
  // Waits until the board thread has carried out everything asked of it so far.
  void Drain();
  std::vector<Bytes> Frames() const;

 private:
  struct Action {
    milliseconds after{0};
    bool raiseWriteDone = false;
    Bytes bytes;
  };
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Action> actions_;
  bool busy_ = false;
  bool stop_ = false;
  Responder responder_;
  std::vector<Bytes> frames_;
  std::thread board_;
};

// Makes port the link's port for the scope. On entry and exit the ring is emptied, the trace
// removed and the step restored; on exit the default port lookup comes back.
class ScopedLinkPort {
 public:
  explicit ScopedLinkPort(transport::LinkPortSide* port);
  ~ScopedLinkPort();
  ScopedLinkPort(const ScopedLinkPort&) = delete;
  ScopedLinkPort& operator=(const ScopedLinkPort&) = delete;
};

// Pushes bytes into ReceiveRing from the calling thread, which must be the only producer then.
void PushToRing(const Bytes& bytes);
// Takes everything the ring holds.
Bytes DrainRing();

// Wall time of a call, for bounds checked with generous margins.
template <typename F>
std::chrono::milliseconds TimeOf(F&& call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

}  // namespace lumivex::testing
