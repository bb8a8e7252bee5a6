// The temperature page against simulated boards: layouts, value texts, and when it reads.
#include "ui/temperature_page.h"

#include <array>
#include <chrono>
#include <string>

#include "connection/connection.h"
#include "protocol/commands.h"
#include "settings/language_keys.h"
#include "tests/ui_pages/page_test_support.h"

namespace lumivex::ui::test {
namespace {

using namespace std::chrono_literals;
using boardsim::BoardOptions;
using boardsim::Temperatures;

constexpr int kRed = 1013;
constexpr int kGreen = 1014;
constexpr int kBlue = 1015;
constexpr int kBoard = 1017;
constexpr int kSingle = 1034;
constexpr int kFullRead = 1016;
constexpr int kSingleRead = 1035;
constexpr std::array<int, 5> kSingleOnly = {1049, 1050, 1051, kSingle, kSingleRead};
constexpr std::array<int, 18> kFullOnly = {1036, 1037,      1038, 1039,   1040,  1041,
                                           1042, 1043,      1044, 1045,   1046,  1047,
                                           1048, kFullRead, kRed, kGreen, kBlue, kBoard};

BoardOptions FixedTemperatures(Temperatures t) {
  BoardOptions options;
  options.fixedTemperatures = t;
  return options;
}

std::array<std::string, 5> Texts(const CTemperaturePage& page) {
  return {page.GetDlgItemText(kRed), page.GetDlgItemText(kGreen), page.GetDlgItemText(kBlue),
          page.GetDlgItemText(kBoard), page.GetDlgItemText(kSingle)};
}

size_t TemperatureReads(const boardsim::SimulatedBoard& board) {
  return FramesWithCommand(board, protocol::command::kReadTemperatures).size();
}

bool ShowsFullLayout(const CTemperaturePage& page) {
  for (int id : kFullOnly) {
    if (!page.IsItemShown(id)) return false;
  }
  for (int id : kSingleOnly) {
    if (page.IsItemShown(id)) return false;
  }
  return true;
}

bool ShowsSingleLayout(const CTemperaturePage& page) {
  for (int id : kSingleOnly) {
    if (!page.IsItemShown(id)) return false;
  }
  for (int id : kFullOnly) {
    if (page.IsItemShown(id)) return false;
  }
  return true;
}

class TemperaturePageTest : public PageTest {};

// ----- layout

struct LayoutCase {
  const char* name;
  const char* settings;  // nullptr: no settings file
  bool full;
};

class TemperatureLayoutTest : public PageTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(TemperatureLayoutTest, ChosenByTheDeclaredColoursAtTheFirstShowing) {
  if (GetParam().settings) WriteSettings(GetParam().settings);
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  EXPECT_EQ(ShowsFullLayout(page), GetParam().full);
  EXPECT_EQ(ShowsSingleLayout(page), !GetParam().full);
  // Until a read, every field says "not available" rather than the template's placeholder,
  // also after the page has been shown again.
  for (const std::string& text : Texts(page)) EXPECT_EQ(text, "----");
  page.OnInitDialog();
  for (const std::string& text : Texts(page)) EXPECT_EQ(text, "----");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TemperatureLayoutTest,
    ::testing::Values(LayoutCase{"NoFile", nullptr, false},
                      LayoutCase{"NoLedSection", "[dialog]\ndlg3=true\n", false},
                      LayoutCase{"EmptyLedSection", "[led]\n[system]\nFirmWareName=a.bin\n", false},
                      LayoutCase{"RedOnly", "[led]\nr=true\ng=false\nb=no\n", false},
                      LayoutCase{"GreenOnly", "[led]\ng=true\n", false},
                      LayoutCase{"BlueOnly", "[led]\nb=true\n", false},
                      LayoutCase{"RedAndGreen", "[led]\nr=true\ng=true\n", true},
                      LayoutCase{"GreenAndBlue", "[led]\ng=true\nb=true\n", true},
                      LayoutCase{"AllThree", "[led]\nr=true\ng=true\nb=true\n", true},
                      LayoutCase{"CapitalValueDoesNotCount", "[led]\nr=True\ng=true\n", false},
                      LayoutCase{"CapitalKeyDoesNotCount", "[led]\nR=true\ng=true\n", false},
                      LayoutCase{"SameColourTwice", "[led]\nr=true\nr=true\n", false},
                      LayoutCase{"OtherKeysIgnored", "[led]\nred=true\nr=true\nw=true\n", false}),
    CaseName());

TEST_F(TemperaturePageTest, LayoutStaysAsChosenAlthoughTheSettingsChange) {
  WriteSettings("[led]\nr=true\n");
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  ASSERT_TRUE(ShowsSingleLayout(page));
  WriteSettings("[led]\nr=true\ng=true\nb=true\n");
  page.OnInitDialog();
  page.OnInitDialog();
  EXPECT_TRUE(ShowsSingleLayout(page));
}

// ----- values

struct ValuesCase {
  const char* name;
  Temperatures reported;
  std::array<std::string, 5> shown;  // red, green, blue, board, single
};

class TemperatureValuesTest : public PageTest, public ::testing::WithParamInterface<ValuesCase> {};

TEST_P(TemperatureValuesTest, ConnectingWithThePageButtonReadsAndShowsEveryField) {
  WriteSettings("[led]\nr=true\ng=true\nb=true\n");
  auto board = StartBoard(FixedTemperatures(GetParam().reported));
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  ASSERT_TRUE(ShowsFullLayout(page));
  ConnectWith(page);
  EXPECT_EQ(TemperatureReads(*board), 1u);
  EXPECT_EQ(Texts(page), GetParam().shown);
  EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Reported, TemperatureValuesTest,
    ::testing::Values(
        // Green missing: the single field shows the board's sensor.
        ValuesCase{"GreenMissing", {25, -100, 27, 40}, {"25", "----", "27", "40", "40"}},
        ValuesCase{"GreenPresent", {-100, 31, -100, 55}, {"----", "31", "----", "55", "31"}},
        ValuesCase{"Negative", {-5, -1, -40, -99}, {"-5", "-1", "-40", "-99", "-1"}},
        ValuesCase{"Extremes", {-32768, 0, 32767, -101}, {"-32768", "0", "32767", "-101", "0"}},
        ValuesCase{"NothingAvailable",
                   {-100, -100, -100, -100},
                   {"----", "----", "----", "----", "----"}}),
    CaseName());

TEST_F(TemperaturePageTest, BoardAnsweringOnlyTheShortFormShowsNoBoardValue) {
  BoardOptions options = FixedTemperatures({20, 21, 22, 23});
  options.shortTemperaturesOnly = true;
  auto board = StartBoard(options);
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  EXPECT_EQ(Texts(page), (std::array<std::string, 5>{"20", "21", "22", "----", "21"}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TemperaturePageTest, ReadButtonsReadAgainEveryTime) {
  WriteSettings("[led]\nr=true\ng=true\n");
  auto board = StartBoard(FixedTemperatures({30, 31, 32, 33}));
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  ASSERT_EQ(TemperatureReads(*board), 1u);

  BoardOptions warmer = board->options();
  warmer.fixedTemperatures = Temperatures{41, 42, 43, 44};
  board->SetOptions(warmer);
  Click(page, kFullRead);
  EXPECT_EQ(Texts(page), (std::array<std::string, 5>{"41", "42", "43", "44", "42"}));
  // The hidden single layout's button reads just the same.
  Click(page, kSingleRead);
  EXPECT_EQ(TemperatureReads(*board), 3u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TemperaturePageTest, ReadWhileDisconnectedShowsNotOpenAndKeepsTheValues) {
  auto board = StartBoard(FixedTemperatures({25, 26, 27, 28}));
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  Click(page, kSingleRead);
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kNotOpen, key::kWarningUartTitle}}));
  EXPECT_EQ(board->counters().frames, 0u);

  ConnectWith(page);
  const auto shown = Texts(page);
  ASSERT_EQ(shown[4], "26");
  // Disconnecting says nothing and does not clear the fields.
  Click(page, connection::kConnectButtonId);
  ASSERT_FALSE(connection::IsConnected());
  EXPECT_EQ(page.GetDlgItemText(connection::kConnectButtonId), key::kUartOpen);
  EXPECT_TRUE(Boxes().empty());

  Click(page, kSingleRead);
  EXPECT_EQ(Boxes(), (decltype(Boxes()){{key::kNotOpen, key::kWarningUartTitle}}));
  EXPECT_EQ(Texts(page), shown);
  EXPECT_EQ(TemperatureReads(*board), 1u);
}

TEST_F(TemperaturePageTest, ReadsAutomaticallyOnceAtTheFirstShowingThatFindsAConnection) {
  auto board = StartBoard(FixedTemperatures({25, 26, 27, 28}));
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  page.OnInitDialog();  // disconnected: nothing to read, and the read stays due
  EXPECT_EQ(page.GetDlgItemText(connection::kConnectButtonId), key::kUartOpen);
  EXPECT_TRUE(Boxes().empty());

  ConnectElsewhere();
  page.OnInitDialog();
  EXPECT_EQ(page.GetDlgItemText(connection::kConnectButtonId), key::kUartClose);
  EXPECT_EQ(TemperatureReads(*board), 1u);
  EXPECT_EQ(page.GetDlgItemText(kSingle), "26");

  // Showing the page again neither reads again nor loses what is shown.
  page.OnInitDialog();
  DisconnectElsewhere();
  ConnectElsewhere();
  page.OnInitDialog();
  EXPECT_EQ(TemperatureReads(*board), 1u);
  EXPECT_EQ(Texts(page), (std::array<std::string, 5>{"25", "26", "27", "28", "26"}));

  // Connecting with the page's own button always reads.
  DisconnectElsewhere();
  page.OnInitDialog();
  ConnectWith(page);
  EXPECT_EQ(TemperatureReads(*board), 2u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(TemperaturePageTest, ConnectedAtCreationReadsAtOnce) {
  auto board = StartBoard(FixedTemperatures({25, 26, 27, 28}));
  ConnectElsewhere();
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  EXPECT_EQ(TemperatureReads(*board), 1u);
  page.OnInitDialog();
  EXPECT_EQ(TemperatureReads(*board), 1u);
}

TEST_F(TemperaturePageTest, SilentBoardShowsNotAvailableEverywhereWithoutAMessage) {
  WriteSettings("[led]\nr=true\ng=true\nb=true\n");
  auto board = StartBoard(FixedTemperatures({25, 26, 27, 28}));
  CTemperaturePage page;
  ASSERT_TRUE(page.Create(nullptr));
  ConnectWith(page);
  ASSERT_EQ(Texts(page)[0], "25");

  BoardOptions silent = board->options();
  silent.silent = true;
  board->SetOptions(silent);
  const auto start = std::chrono::steady_clock::now();
  Click(page, kFullRead);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(Texts(page), (std::array<std::string, 5>{"----", "----", "----", "----", "----"}));
  EXPECT_TRUE(Boxes().empty());
  // Both request forms were tried and waited out.
  EXPECT_EQ(TemperatureReads(*board), 3u);
  EXPECT_GT(waited, 5s);
}

}  // namespace
}  // namespace lumivex::ui::test
