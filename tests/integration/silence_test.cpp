// A board that stays silent: every command fails within its own patience, and writes the values
// that its contract promises on failure.
#include <gtest/gtest.h>

#include "connection/connection.h"
#include "protocol/commands.h"
#include "tests/support/board_fixture.h"

namespace lumivex::integration {
namespace {

const auto* const kRuntimeDir = ::testing::AddGlobalTestEnvironment(new RuntimeDirEnvironment);

class SilentBoard : public BoardTestBase, public ::testing::Test {
 protected:
  void SetUp() override {
    boardsim::BoardOptions options = KnownBoard(9600);
    options.silent = true;
    StartBoard(options, 9600);
  }
  void TearDown() override { StopAll(); }
};

TEST_F(SilentBoard, EachCommandFailsAfterItsFullPatienceAndNoLonger) {
  int16_t t[4] = {1, 2, 3, 4};
  uint16_t c[3] = {5, 6, 7};
  const Bytes other = Join(Text("other.bin"), {0});
  struct Row {
    const char* name;
    std::function<bool()> call;
    Millis nominal;  // tries * (8 * wire bytes + 1) ms, all forms together
  };
  const Row rows[] = {
      {"handshake", [] { return protocol::Handshake(); }, 291ms + 387ms},
      {"temperatures", [&] { return protocol::ReadTemperatures(t[0], t[1], t[2], t[3]); },
       4050ms + 3250ms},
      {"led power", [] { return protocol::SetLedPower(1); }, 1250ms},
      {"read currents", [&] { return protocol::ReadLedCurrents(c[0], c[1], c[2]); }, 2450ms},
      {"light colour", [] { return protocol::SetLightColour(7); }, 205ms},
      {"firmware version",
       [] { return protocol::IsFirmwareAtLeast(connection::MinimumFirmwareVersion); }, 245ms},
      {"upgrade, other name",
       [&] {
         return protocol::StartFirmwareUpgrade(other.data(), static_cast<uint8_t>(other.size())) !=
                -1;
       },
       205ms},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    bool result = true;
    const Millis took = TimeOf([&] { result = row.call(); });
    EXPECT_FALSE(result);
    // Never shorter than the patience; longer only by scheduling, never by another second.
    EXPECT_GE(took, row.nominal * 95 / 100);
    EXPECT_LT(took, row.nominal * 3 / 2 + 1000ms);
    std::printf("[ measured ] silent %s: %lld ms (nominal %lld ms)\n", row.name,
                static_cast<long long>(took.count()), static_cast<long long>(row.nominal.count()));
  }
  // Failure leaves the promised values, not what the variables held.
  for (int16_t v : t) EXPECT_EQ(v, protocol::kTemperatureNotAvailable);
  for (uint16_t v : c) EXPECT_EQ(v, 0);
  // The board heard every frame: silence is on its side of the line.
  EXPECT_EQ(board_->counters().frames, 2u + 2u + 1u + 1u + 1u + 1u + 1u);
}

TEST_F(SilentBoard, TheDefaultNameFallsBackToTheShortFrameWithoutWaitingForAnOutcome) {
  const Bytes name = Join(Text("KVB03.bin"), {0});
  int32_t result = 99;
  const Millis took = TimeOf([&] {
    result = protocol::StartFirmwareUpgrade(name.data(), static_cast<uint8_t>(name.size()));
  });
  EXPECT_EQ(result, 0);
  EXPECT_LT(took, 1500ms);
  ASSERT_TRUE(board_->WaitForFrames(2, 2s));
  EXPECT_EQ(board_->receivedFrames().back(), (Bytes{0xE0, 0x03, 0x38}));
  // A silent board acts on what it hears without answering: the framed start and the short
  // frame both started an upgrade.
  EXPECT_EQ(board_->state().upgradesStarted, 2u);
}

}  // namespace
}  // namespace lumivex::integration
