#include "tools/boardsim/wire.h"

#include <algorithm>
#include <array>
#include <utility>

namespace lumivex::boardsim {

void FrameParser::Feed(const uint8_t* data, size_t size) {
  buffer_.insert(buffer_.end(), data, data + size);
}

void FrameParser::Discard(size_t count) {
  count = std::min(count, buffer_.size());
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
  discarded_ += count;
}

void FrameParser::DropStalledFrame() {
  if (!buffer_.empty()) Discard(1);
}

std::optional<std::vector<uint8_t>> FrameParser::Next() {
  for (;;) {
    auto start = std::find(buffer_.begin(), buffer_.end(), kFrameStart);
    Discard(static_cast<size_t>(start - buffer_.begin()));
    if (buffer_.size() < 3) return std::nullopt;
    const size_t length = buffer_[1];
    const uint8_t cls = buffer_[2];
    size_t take = 0;
    if (length == 3) {
      if (cls == kShortUpgradeByte) take = 3;
    } else if ((cls == kClassA && length >= 4) || (cls == kClassD && length >= 5)) {
      if (buffer_.size() < length) return std::nullopt;
      take = length;
    }
    if (take == 0) {
      Discard(1);  // not a frame header after all
      continue;
    }
    std::vector<uint8_t> frame(buffer_.begin(),
                               buffer_.begin() + static_cast<std::ptrdiff_t>(take));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(take));
    return frame;
  }
}

bool IsShortUpgradeFrame(const std::vector<uint8_t>& frame) {
  return frame.size() == 3 && frame[0] == kFrameStart && frame[1] == 3 &&
         frame[2] == kShortUpgradeByte;
}

bool IsClassD(const std::vector<uint8_t>& frame) {
  return frame.size() >= 5 && frame[2] == kClassD;
}

bool ChecksumOk(const uint8_t* data, size_t size) {
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return sum == 0;
}

std::vector<uint8_t> ClassDAnswer(uint8_t lead, const uint8_t* data, size_t size, bool corrupt) {
  std::vector<uint8_t> out;
  out.reserve(size + 2);
  out.push_back(lead);
  out.insert(out.end(), data, data + size);
  uint8_t sum = 0;
  for (uint8_t b : out) sum = static_cast<uint8_t>(sum + b);
  uint8_t check = static_cast<uint8_t>(0x100 - sum);
  if (corrupt) check = static_cast<uint8_t>(check + 1);
  out.push_back(check);
  return out;
}

void PutLe16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

uint16_t GetLe16(const uint8_t* data) {
  return static_cast<uint16_t>(data[0] | data[1] << 8);
}

namespace {
constexpr std::array<std::pair<uint32_t, speed_t>, 11> kSpeeds = {{
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {921600, B921600},
}};
}  // namespace

speed_t BaudToSpeed(uint32_t baud) {
  for (const auto& [rate, speed] : kSpeeds)
    if (rate == baud) return speed;
  return 0;
}

uint32_t SpeedToBaud(speed_t speed) {
  for (const auto& [rate, code] : kSpeeds)
    if (code == speed) return rate;
  return 0;
}

}  // namespace lumivex::boardsim
