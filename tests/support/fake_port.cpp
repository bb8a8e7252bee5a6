#include "tests/support/fake_port.h"

#include <atomic>

#include "transport/link_testing.h"
#include "transport/receive_ring.h"

namespace lumivex::testing {

namespace {
std::atomic<transport::LinkPortSide*> InstalledPort{nullptr};
transport::LinkPortSide* InstalledPortResolver() {
  return InstalledPort.load();
}

void RestoreLinkState() {
  transport::SetLinkTrace(nullptr);
  transport::SetLinkStepLength(std::chrono::microseconds{0});
  transport::LinkReset();
}
}  // namespace

Reply Silence() {
  return Reply{};
}

Reply Answer(Bytes bytes, milliseconds after) {
  Reply reply;
  reply.pieces.push_back(Piece{after, std::move(bytes)});
  return reply;
}

Bytes ClassDAnswer(const Bytes& data, uint8_t lead) {
  Bytes answer(data.size() + 2);
  answer[0] = lead;
  uint8_t sum = lead;
  for (size_t i = 0; i < data.size(); ++i) {
    answer[i + 1] = data[i];
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  answer.back() = static_cast<uint8_t>(-sum);
  return answer;
}

Bytes Text(const char* text) {
  Bytes bytes;
  for (const char* c = text; *c != '\0'; ++c) bytes.push_back(static_cast<uint8_t>(*c));
  return bytes;
}

FakePort::FakePort(Responder responder)
    : responder_(std::move(responder)), board_([this] { Run(); }) {}

FakePort::~FakePort() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  board_.join();
}

uint32_t FakePort::Write(const uint8_t* bytes, uint32_t count) {
  Bytes frame(bytes, bytes + count);
  std::lock_guard lock(mutex_);
  frames_.push_back(frame);
  const Reply reply = responder_ ? responder_(frame) : Silence();
  if (reply.completeWrite) {
    actions_.push_back(Action{reply.writeTime, true, {}});
  }
  for (const Piece& piece : reply.pieces) {
    actions_.push_back(Action{piece.after, false, piece.bytes});
  }
  wake_.notify_all();
  return count;
}

void FakePort::SetResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

void FakePort::SendUnasked(Bytes bytes, milliseconds after) {
  std::lock_guard lock(mutex_);
  actions_.push_back(Action{after, false, std::move(bytes)});
  wake_.notify_all();
}

void FakePort::Drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return actions_.empty() && !busy_; });
}

std::vector<Bytes> FakePort::Frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

void FakePort::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !actions_.empty(); });
    if (stop_) return;
    Action action = std::move(actions_.front());
    actions_.pop_front();
    busy_ = true;
    if (action.after.count() > 0) {
      // A stop ends the pause early; the action is then dropped.
      if (wake_.wait_for(lock, action.after, [this] { return stop_; })) return;
    }
    lock.unlock();
    if (action.raiseWriteDone) {
      RaiseWriteDone();
    }
    Deliver(action.bytes.data(), static_cast<uint32_t>(action.bytes.size()));
    lock.lock();
    busy_ = false;
    if (actions_.empty()) idle_.notify_all();
  }
}

ScopedLinkPort::ScopedLinkPort(transport::LinkPortSide* port) {
  RestoreLinkState();
  InstalledPort.store(port);
  transport::SetLinkPortResolver(&InstalledPortResolver);
}

ScopedLinkPort::~ScopedLinkPort() {
  transport::SetLinkPortResolver(nullptr);
  InstalledPort.store(nullptr);
  RestoreLinkState();
}

void PushToRing(const Bytes& bytes) {
  for (uint8_t b : bytes) transport::ReceiveRing.Push(b);
  transport::ProgramLink().Wake();
}

Bytes DrainRing() {
  Bytes bytes;
  while (transport::ReceiveRing.HasData()) bytes.push_back(transport::ReceiveRing.Pop());
  return bytes;
}

}  // namespace lumivex::testing
