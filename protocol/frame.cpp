#include "protocol/frame.h"

#include <array>
#include <cstring>
#include <mutex>

#include "protocol/outcome.h"
#include "transport/link.h"

namespace lumivex::protocol {

namespace {

constexpr uint32_t kScratchBytes = 1024;
constexpr uint8_t kHeaderBytes = 4;       // header, length, class, command
constexpr uint8_t kAnswerFrameBytes = 2;  // lead and check around a class-D answer
constexpr uint32_t kMaxFrameBytes = 255;  // the length byte counts the whole frame

uint8_t FrameLength(uint8_t commandClass, uint8_t payloadLength) {
  return static_cast<uint8_t>(payloadLength + kHeaderBytes + (commandClass == kClassD ? 1 : 0));
}

bool Fits(uint8_t commandClass, uint8_t payloadLength, uint8_t answerLength) {
  const uint32_t frame =
      uint32_t{payloadLength} + kHeaderBytes + (commandClass == kClassD ? 1U : 0U);
  const uint32_t answer =
      uint32_t{answerLength} + (commandClass == kClassD ? kAnswerFrameBytes : 0U);
  return frame <= kMaxFrameBytes && answer <= kMaxFrameBytes;
}

}  // namespace

int32_t Transact(uint16_t command, const uint8_t* payload, uint8_t payloadLength, uint8_t* answer,
                 uint8_t answerLength, uint16_t tries) {
  SetLastOutcome(Outcome::kNotSent);
  if ((payload == nullptr && payloadLength > 0) || (answer == nullptr && answerLength > 0)) {
    return -1;
  }
  const auto commandClass = static_cast<uint8_t>(command >> 8);
  if (commandClass != kClassA && commandClass != kClassD) {
    return -1;
  }
  // A frame or an answer longer than its one-byte length field would go out with a wrapped
  // length that the board reads as some other frame.
  if (!Fits(commandClass, payloadLength, answerLength)) {
    return -1;
  }

  std::array<uint8_t, kScratchBytes> scratch;
  const uint8_t frameLength = FrameLength(commandClass, payloadLength);
  scratch[0] = kFrameHeader;
  scratch[1] = frameLength;
  scratch[2] = commandClass;
  scratch[3] = static_cast<uint8_t>(command & 0xFF);
  if (payloadLength > 0) {
    std::memcpy(&scratch[kHeaderBytes], payload, payloadLength);
  }
  if (commandClass == kClassD) {
    SetChecksum(scratch.data(), 1);
  }

  std::lock_guard lock(transport::ExchangeLock());
  // Whatever arrived before the request cannot be its answer.
  transport::LinkReset();
  transport::LinkSend(scratch.data(), frameLength);
  SetLastOutcome(Outcome::kNoAnswer);
  if (answerLength == 0) {
    return 0;
  }

  const auto expected =
      static_cast<uint8_t>(answerLength + (commandClass == kClassD ? kAnswerFrameBytes : 0));
  bool received = false;
  // The frame goes out once; further tries only lengthen the wait for a slow answer.
  for (uint16_t attempt = 0; attempt < tries && !received; ++attempt) {
    received = transport::LinkReceive(scratch.data(), expected);
  }
  if (!received) {
    return 0;
  }
  if (commandClass == kClassA) {
    std::memcpy(answer, scratch.data(), answerLength);
    SetLastOutcome(Outcome::kAnswered);
    return answerLength;
  }
  if (!VerifyChecksum(scratch.data(), expected)) {
    SetLastOutcome(Outcome::kBadCheck);
    return -1;
  }
  std::memcpy(answer, &scratch[1], answerLength);
  SetLastOutcome(Outcome::kAnswered);
  return answerLength;
}

int32_t ReceiveChecked(uint8_t* data, uint8_t length) {
  // The lead and check bytes must fit the one-byte count as well; a wrapped count would wait
  // for nothing and hand back bytes that never arrived.
  if ((data == nullptr && length > 0) || uint32_t{length} + kAnswerFrameBytes > kMaxFrameBytes) {
    return -1;
  }
  std::array<uint8_t, kMaxFrameBytes> scratch;
  const auto expected = static_cast<uint8_t>(length + kAnswerFrameBytes);

  std::lock_guard lock(transport::ExchangeLock());
  if (!transport::LinkReceive(scratch.data(), expected)) {
    SetLastOutcome(Outcome::kNoAnswer);
    return 0;
  }
  if (!VerifyChecksum(scratch.data(), expected)) {
    SetLastOutcome(Outcome::kBadCheck);
    return -1;
  }
  if (length > 0) {
    std::memcpy(data, &scratch[1], length);
  }
  SetLastOutcome(Outcome::kAnswered);
  return length;
}

void SendRawFrame(const uint8_t* bytes, uint8_t length) {
  if (bytes == nullptr && length > 0) {
    return;
  }
  std::lock_guard lock(transport::ExchangeLock());
  transport::LinkReset();
  transport::LinkSend(bytes, length);
}

void SetChecksum(uint8_t* frame, uint8_t lengthIndex) {
  if (frame == nullptr) {
    return;
  }
  const uint8_t length = frame[lengthIndex];
  // A frame of length 0 has no place for a check byte.
  if (length == 0) {
    return;
  }
  uint8_t sum = 0;
  for (uint32_t i = 0; i + 1 < length; ++i) {
    sum = static_cast<uint8_t>(sum + frame[i]);
  }
  // The check byte makes the whole frame sum to zero.
  frame[length - 1] = static_cast<uint8_t>(-sum);
}

bool VerifyChecksum(const uint8_t* bytes, uint8_t length) {
  if (bytes == nullptr) {
    return false;
  }
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) {
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  return sum == 0;
}

}  // namespace lumivex::protocol
