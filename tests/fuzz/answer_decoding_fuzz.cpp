// Answer decoding over arbitrary bytes from the board. Every command runs in turn; each frame it
// writes is answered by the next chunk of the input, pushed into ReceiveRing as the port's
// receive handler would. Input: one byte of variants, then chunks of [length][bytes].
//
// Each command's result and decoded values are compared with a model of the exchange written
// here apart from protocol/: the ring as a queue, reset before every request, a class-A answer
// taken raw, a class-D answer taken only when its bytes sum to zero. So the fuzzer finds crashes,
// reads out of bounds and hangs, and also a decoded value or a failure that the bytes do not
// warrant, or an output that a failed command leaves unset.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "transport/link.h"
#include "transport/link_testing.h"
#include "transport/receive_ring.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace protocol = lumivex::protocol;
namespace transport = lumivex::transport;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "answer decoding: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The fuzz input as the board's side of the line.
class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // The next answer: up to 255 bytes; nothing once the input is used up (a silent board).
  Bytes Chunk() {
    if (at_ >= size_) return {};
    std::size_t length = data_[at_++];
    length = std::min(length, size_ - at_);
    Bytes chunk(data_ + at_, data_ + at_ + length);
    at_ += length;
    return chunk;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The port: every frame written is answered at once by the next chunk of the input.
struct FuzzPort : transport::LinkPortSide {
  Input* input = nullptr;
  std::vector<Bytes> frames;
  std::vector<Bytes> answers;  // the chunk pushed for each frame

  uint32_t Write(const uint8_t* bytes, uint32_t count) override {
    frames.emplace_back(bytes, bytes + count);
    answers.push_back(input->Chunk());
    for (uint8_t b : answers.back()) transport::ReceiveRing.Push(b);
    writeDone.store(1);
    return count;
  }
};

FuzzPort Port;
transport::LinkPortSide* ResolvePort() {
  return &Port;
}

bool SumsToZero(const Bytes& bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return sum == 0;
}

// The ring as a queue. Every request resets it before it is written, so it then holds exactly
// the request's answer chunk; an unasked answer is added to whatever is left.
class RingModel {
 public:
  void ResetTo(const Bytes& bytes) {
    held_.clear();
    Add(bytes);
  }
  void Add(const Bytes& bytes) {
    for (uint8_t b : bytes) {
      // One slot of the ring always stays free; what does not fit is dropped.
      if (held_.size() < transport::ByteRing::kSlots - 1) held_.push_back(b);
    }
  }
  std::optional<Bytes> Take(std::size_t count) {
    if (held_.size() < count) return std::nullopt;
    Bytes out(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    return out;
  }
  std::size_t size() const { return held_.size(); }

 private:
  std::deque<uint8_t> held_;
};

// What Transact or ReceiveChecked must report for the bytes the model holds: the length with
// the data, 0 when too few bytes came, -1 for a class-D answer that does not sum to zero.
struct Answer {
  int32_t result = 0;
  Bytes data;
};

Answer Take(RingModel& ring, bool classD, std::size_t length) {
  Answer answer;
  std::optional<Bytes> taken = ring.Take(classD ? length + 2 : length);
  if (!taken) return answer;
  if (!classD) {
    answer.result = static_cast<int32_t>(length);
    answer.data = *taken;
  } else if (!SumsToZero(*taken)) {
    answer.result = -1;
  } else {
    answer.result = static_cast<int32_t>(length);
    answer.data.assign(taken->begin() + 1, taken->end() - 1);
  }
  return answer;
}

// The answer to frame `index` of the call, with the ring reset before that frame.
Answer Request(RingModel& ring, std::size_t index, bool classD, std::size_t length) {
  Check(index < Port.answers.size(), "a request the model expected was not written");
  ring.ResetTo(Port.answers[index]);
  return Take(ring, classD, length);
}

bool IsAck(const Answer& answer) {
  return answer.result > 0 && answer.data == Bytes{0x41, 0x63, 0x6B};
}

uint16_t Le16(const Bytes& data, std::size_t at) {
  return static_cast<uint16_t>(data[at] | data[at + 1] << 8);
}

// Every frame a command writes is well formed: header, its own length, and in class D a check
// byte that makes it sum to zero. The short upgrade frame is the one exception.
void CheckFrames(std::size_t from) {
  for (std::size_t i = from; i < Port.frames.size(); ++i) {
    const Bytes& frame = Port.frames[i];
    if (frame == Bytes{0xE0, 0x03, 0x38}) continue;
    Check(frame.size() >= 4 && frame[0] == 0xE0 && frame[1] == frame.size(), "malformed frame");
    Check(frame[2] == 0x41 || frame[2] == 0x44, "unknown class");
    if (frame[2] == 0x44) Check(SumsToZero(frame), "class-D frame does not sum to zero");
  }
}

// Runs one command; gives the index of its first frame and the number of frames it wrote.
template <typename F>
std::pair<std::size_t, std::size_t> Run(F&& command) {
  const std::size_t first = Port.frames.size();
  command();
  CheckFrames(first);
  return {first, Port.frames.size() - first};
}

// An acknowledged setter: one frame, true exactly on "Ack".
template <typename F>
void CheckSetter(RingModel& ring, bool classD, F&& command, const char* what) {
  bool ok = false;
  const auto [first, writes] = Run([&] { ok = command(); });
  Check(writes == 1, what);
  Check(ok == IsAck(Request(ring, first, classD, 3)), what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool once = [] {
    transport::SetLinkPortResolver(ResolvePort);
    // The steps keep their number; only their length shrinks, so silent waits end at once.
    transport::SetLinkStepLength(std::chrono::microseconds(1));
    return true;
  }();
  (void)once;

  Input input(data, size);
  RingModel ring;
  Port.input = &input;
  Port.frames.clear();
  Port.answers.clear();
  transport::ReceiveRing.Reset();
  const uint8_t variants = input.Byte();

  {
    bool ok = true;
    const auto [first, writes] = Run([&] { ok = protocol::Handshake(); });
    const Answer d = Request(ring, first, true, 10);
    bool due = false;
    if (d.result != 0) {
      Check(writes == 1, "the class-A greeting followed an answered class-D greeting");
      due = d.result > 0 && std::memcmp(d.data.data(), "ShakeHands", 10) == 0;
    } else {
      Check(writes == 2, "silence on the class-D greeting was not followed by class A");
      const Answer a = Request(ring, first + 1, false, 16);
      due = a.result > 0 && std::memcmp(a.data.data(), "Mstar Connect OK", 16) == 0;
    }
    Check(ok == due, "handshake verdict");
  }
  {
    int16_t t[4] = {0x1111, 0x2222, 0x3333, 0x4444};
    bool ok = false;
    const auto [first, writes] =
        Run([&] { ok = protocol::ReadTemperatures(t[0], t[1], t[2], t[3]); });
    std::array<int16_t, 4> due = {-100, -100, -100, -100};
    bool dueOk = false;
    const Answer longForm = Request(ring, first, true, 8);
    if (longForm.result > 0) {
      Check(writes == 1, "a short temperature request after an answered long one");
      for (std::size_t i = 0; i < 4; ++i) due[i] = static_cast<int16_t>(Le16(longForm.data, 2 * i));
      dueOk = true;
    } else {
      Check(writes == 2, "no short temperature request after a failed long one");
      const Answer shortForm = Request(ring, first + 1, true, 6);
      if (shortForm.result > 0) {
        for (std::size_t i = 0; i < 3; ++i) {
          due[i] = static_cast<int16_t>(Le16(shortForm.data, 2 * i));
        }
        dueOk = true;
      }
    }
    Check(ok == dueOk, "temperature verdict");
    Check((std::array<int16_t, 4>{t[0], t[1], t[2], t[3]}) == due,
          "temperatures: decoded wrongly, or not all written");
  }
  CheckSetter(
      ring, false, [&] { return protocol::SetLedPower(variants & 1); }, "SetLedPower");
  {
    std::array<uint16_t, 3> c = {0x1111, 0x2222, 0x3333};
    bool ok = false;
    const auto [first, writes] = Run([&] { ok = protocol::ReadLedCurrents(c[0], c[1], c[2]); });
    Check(writes == 1, "ReadLedCurrents frames");
    const Answer a = Request(ring, first, false, 6);
    std::array<uint16_t, 3> due = {0, 0, 0};
    if (a.result > 0) due = {Le16(a.data, 0), Le16(a.data, 2), Le16(a.data, 4)};
    Check(ok == (a.result > 0), "ReadLedCurrents verdict");
    Check(c == due, "currents: decoded wrongly, or not zeroed on failure");
  }
  CheckSetter(
      ring, false, [] { return protocol::WriteLedCurrents(0x0102, 0xFFFF, 0); },
      "WriteLedCurrents");
  CheckSetter(
      ring, true, [&] { return protocol::SetFlip(variants & 1, (variants >> 1) & 1); }, "SetFlip");
  CheckSetter(
      ring, true, [&] { return protocol::SetInputSource((variants >> 2) & 1); }, "SetInputSource");
  CheckSetter(
      ring, true, [] { return protocol::SetLightColour(7); }, "SetLightColour");
  {
    const uint32_t minimum = (variants & 8) != 0 ? 0x1000B : 0xFFFFFFFFu - variants;
    bool ok = false;
    const auto [first, writes] = Run([&] { ok = protocol::IsFirmwareAtLeast(minimum); });
    Check(writes == 1, "IsFirmwareAtLeast frames");
    const Answer a = Request(ring, first, true, 4);
    const uint32_t version =
        a.result > 0 ? (uint32_t{Le16(a.data, 0)} | uint32_t{Le16(a.data, 2)} << 16) : 0;
    Check(ok == (a.result > 0 && version >= minimum), "IsFirmwareAtLeast verdict");
  }
  {
    static const Bytes kDefault = {'K', 'V', 'B', '0', '3', '.', 'b', 'i', 'n', 0};
    static const Bytes kOther = {'o', 't', 'h', 'e', 'r', 0};
    const Bytes& name = (variants & 16) != 0 ? kDefault : kOther;
    int32_t started = 2;
    const auto [first, writes] = Run([&] {
      started = protocol::StartFirmwareUpgrade(name.data(), static_cast<uint8_t>(name.size()));
    });
    const bool acknowledged = IsAck(Request(ring, first, true, 3));
    if (acknowledged) {
      Check(started == 1 && writes == 1, "an acknowledged upgrade start");
    } else if (&name == &kDefault) {
      Check(started == 0 && writes == 2, "the short frame after an unacknowledged default");
      Check(Port.frames[first + 1] == Bytes({0xE0, 0x03, 0x38}), "the short upgrade frame");
      // It resets the ring before it goes out; its answer chunk is what the ring then holds.
      ring.ResetTo(Port.answers[first + 1]);
    } else {
      Check(started == -1 && writes == 1, "an unacknowledged upgrade start of another name");
    }
  }
  // Unasked answers: added to what the last exchange left in the ring, taken without a reset.
  for (int round = 0; round < 2; ++round) {
    const Bytes unasked = input.Chunk();
    for (uint8_t b : unasked) transport::ReceiveRing.Push(b);
    ring.Add(unasked);
    const uint8_t length = round == 0 ? 1 : static_cast<uint8_t>(input.Byte() % 254);
    // Exactly the caller's length: a write beyond it is caught by the sanitizer.
    std::vector<uint8_t> buffer(length, 0xA5);
    const std::vector<uint8_t> untouched = buffer;
    const int32_t result =
        protocol::ReceiveChecked(buffer.empty() ? nullptr : buffer.data(), length);
    const Answer due = Take(ring, true, length);
    Check(result == due.result, "ReceiveChecked verdict");
    Check(result > 0 ? buffer == due.data : buffer == untouched,
          "ReceiveChecked data, or a buffer touched on failure");
  }
  Check(transport::ReceiveRing.Count() == ring.size(), "the ring holds other bytes than due");
  return 0;
}
