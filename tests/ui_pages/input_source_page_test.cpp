// The input source page against a simulated board.
#include "ui/input_source_page.h"

#include "connection/connection.h"
#include "protocol/commands.h"
#include "settings/language_keys.h"
#include "tests/ui_pages/page_test_support.h"

namespace lumivex::ui::test {
namespace {

constexpr int kList = 1011;
constexpr int kConfirm = 1012;

class InputSourcePageTest : public PageTest {};

struct ChoiceCase {
  const char* name;
  int position;
  Bytes frame;
};

class InputSourceChoiceTest : public PageTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(InputSourceChoiceTest, ConfirmSendsTheSelectedPosition) {
  auto board = StartBoard();
  CInputSourcePage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  // The board starts on the other input, so the frame must really switch it.
  page.ComboSetCurSel(kList, 1 - GetParam().position);
  Click(page, kConfirm);
  page.ComboSetCurSel(kList, GetParam().position);
  Click(page, kConfirm);

  const auto frames = FramesWithCommand(*board, protocol::command::kSetInputSource);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames.back(), GetParam().frame);
  EXPECT_EQ(board->inputSource(), GetParam().position);
  EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Entries, InputSourceChoiceTest,
    ::testing::Values(ChoiceCase{"Hdmi", 0, {0xE0, 0x06, 0x44, 0x08, 0x00, 0xCE}},
                      ChoiceCase{"Vga", 1, {0xE0, 0x06, 0x44, 0x08, 0x01, 0xCD}}),
    CaseName());

TEST_F(InputSourcePageTest, RefusalAndSilenceAreNotReported) {
  boardsim::BoardOptions refusing;
  refusing.refuse = true;
  auto board = StartBoard(refusing);
  CInputSourcePage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  Click(page, kConfirm);
  EXPECT_EQ(FramesWithCommand(*board, protocol::command::kSetInputSource).size(), 1u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(InputSourcePageTest, ConfirmWhileDisconnectedShowsNotOpenAndSendsNothing) {
  auto board = StartBoard();
  CInputSourcePage page;
  ASSERT_TRUE(page.Create(nullptr));
  page.ComboSetCurSel(kList, 1);
  Click(page, kConfirm);
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kNotOpen, key::kWarningUartTitle}}));
  EXPECT_EQ(board->counters().frames, 0u);
}

TEST_F(InputSourcePageTest, ListIsFilledOnceAndKeepsTheSelectionOverShowings) {
  CInputSourcePage page;
  ASSERT_TRUE(page.Create(nullptr));
  ASSERT_EQ(page.ComboGetCount(kList), 2);
  EXPECT_EQ(page.ComboGetText(kList, 0), " HDMI");
  EXPECT_EQ(page.ComboGetText(kList, 1), " VGA");
  // Whatever the board's input, the page starts on HDMI.
  EXPECT_EQ(page.ComboGetCurSel(kList), 0);

  page.ComboSetCurSel(kList, 1);
  for (int showing = 0; showing < 20; ++showing) page.OnInitDialog();
  EXPECT_EQ(page.ComboGetCount(kList), 2);
  EXPECT_EQ(page.ComboGetCurSel(kList), 1);
}

TEST_F(InputSourcePageTest, ConnectingRecaptionsTheButtonAndSendsNoInputChange) {
  auto board = StartBoard();
  CInputSourcePage page;
  ASSERT_TRUE(page.Create(nullptr));
  EXPECT_EQ(page.GetDlgItemText(connection::kConnectButtonId), key::kUartOpen);
  ConnectWith(page);
  EXPECT_TRUE(FramesWithCommand(*board, protocol::command::kSetInputSource).empty());

  // A connection closed elsewhere shows at the next showing.
  DisconnectElsewhere();
  page.OnInitDialog();
  EXPECT_EQ(page.GetDlgItemText(connection::kConnectButtonId), key::kUartOpen);
}

}  // namespace
}  // namespace lumivex::ui::test
