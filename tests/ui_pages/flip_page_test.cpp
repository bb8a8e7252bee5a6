// The flip page against a simulated board.
#include "ui/flip_page.h"

#include <vector>

#include "connection/connection.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "tests/ui_pages/page_test_support.h"

namespace lumivex::ui::test {
namespace {

constexpr int kFlipX = 1068;
constexpr int kFlipY = 1069;
constexpr int kFlipDo = 1070;

Bytes FlipFrame(uint8_t x, uint8_t y) {
  Bytes frame = {0xE0, 0x07, 0x44, 0x13, x, y, 0x00};
  protocol::SetChecksum(frame.data(), 1);
  return frame;
}

class FlipPageTest : public PageTest {};

struct TickCase {
  const char* name;
  std::vector<int> clicks;
  uint8_t x;
  uint8_t y;
};

class FlipTicksTest : public PageTest, public ::testing::WithParamInterface<TickCase> {};

TEST_P(FlipTicksTest, ApplySendsBothBoxesAsTicked) {
  auto board = StartBoard();
  CFlipPage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  for (int id : GetParam().clicks) Click(page, id);
  // Ticking alone sends nothing.
  EXPECT_TRUE(FramesWithCommand(*board, protocol::command::kSetFlip).empty());

  Click(page, kFlipDo);
  const auto frames = FramesWithCommand(*board, protocol::command::kSetFlip);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], FlipFrame(GetParam().x, GetParam().y));
  EXPECT_EQ(board->flipX(), GetParam().x);
  EXPECT_EQ(board->flipY(), GetParam().y);
  EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Clicks, FlipTicksTest,
    ::testing::Values(TickCase{"None", {}, 0, 0}, TickCase{"OnlyY", {kFlipY}, 0, 1},
                      TickCase{"OnlyX", {kFlipX}, 1, 0}, TickCase{"Both", {kFlipX, kFlipY}, 1, 1},
                      TickCase{"BothThenXUnticked", {kFlipX, kFlipY, kFlipX}, 0, 1},
                      TickCase{"YTwice", {kFlipY, kFlipY}, 0, 0}),
    CaseName());

TEST_F(FlipPageTest, TicksSurviveShowingThePageAgain) {
  auto board = StartBoard();
  CFlipPage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  Click(page, kFlipX);
  page.OnInitDialog();
  page.OnInitDialog();
  EXPECT_EQ(page.IsDlgButtonChecked(kFlipX), 1u);
  EXPECT_EQ(page.IsDlgButtonChecked(kFlipY), 0u);
  Click(page, kFlipDo);
  EXPECT_EQ(FramesWithCommand(*board, protocol::command::kSetFlip).back(), FlipFrame(1, 0));
}

TEST_F(FlipPageTest, ApplyWhileDisconnectedSaysNothing) {
  CFlipPage page;
  ASSERT_TRUE(page.Create(nullptr));
  Click(page, kFlipY);
  Click(page, kFlipDo);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(connection::IsConnected());
}

}  // namespace
}  // namespace lumivex::ui::test
