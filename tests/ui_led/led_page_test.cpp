// The LED page on Qt's offscreen platform, connected through its own connect button to a
// simulated board on a real pseudo-terminal. The page's first-showing work and its automatic
// read happen once per process, so each case runs in a process of its own (ctest runs one per
// case), with its own virtual ports folder and its own working folder holding Lumivex.ini.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "connection/connection_testing.h"
#include "platform/port_map.h"
#include "protocol/commands.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "tests/support/virtual_ports.h"
#include "tools/boardsim/board.h"
#include "transport/ports.h"
#include "ui/framework/message_presenter.h"
#include "ui/led_page.h"

namespace lumivex::ui {
namespace {

namespace fs = std::filesystem;
using boardsim::BoardOptions;
using boardsim::SimulatedBoard;
using lumivex::testing::VirtualPortsOnly;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kSetLedPower = protocol::command::kSetLedPower;
constexpr uint16_t kReadCurrents = protocol::command::kReadLedCurrents;
constexpr uint16_t kWriteCurrents = protocol::command::kWriteLedCurrents;
constexpr uint16_t kSetLightColour = protocol::command::kSetLightColour;

constexpr char kAllColours[] = "[led]\nr=true\ng=true\nb=true\n";

// Connects without any page, for cases that need the port open before the page exists.
class SilentPage : public connection::ConnectionPage {
 public:
  void ShowMessage(const std::string&, const std::string&) override {}
  void SetConnectCaption(const std::string&) override {}
};

std::string Warning(const char* key) {
  return settings::Translate(key::kWarningUartTitle) + " | " + settings::Translate(key);
}

std::string RangeMessage() {
  return std::string("Lumivex | ") + "Please enter an integer between 0 and 255.";
}

Bytes Payload(const Bytes& frame) {
  // Class-D requests end with a check byte.
  const std::size_t end = frame.size() - (frame[2] == 0x44 ? 1 : 0);
  return Bytes(frame.begin() + 4, frame.begin() + static_cast<std::ptrdiff_t>(end));
}

Bytes Triple(uint16_t red, uint16_t green, uint16_t blue) {
  return {static_cast<uint8_t>(red),   static_cast<uint8_t>(red >> 8),
          static_cast<uint8_t>(green), static_cast<uint8_t>(green >> 8),
          static_cast<uint8_t>(blue),  static_cast<uint8_t>(blue >> 8)};
}

class LedPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int firstShowings = 0;
    if (++firstShowings > 1) {
      GTEST_SKIP() << "the page's first showing happens once per process; run each case on "
                      "its own (ctest does, or use --gtest_filter)";
    }
    char runtime[] = "/tmp/lumivex-led-runtime.XXXXXX";
    char work[] = "/tmp/lumivex-led-work.XXXXXX";
    ASSERT_NE(::mkdtemp(runtime), nullptr);
    ASSERT_NE(::mkdtemp(work), nullptr);
    runtime_ = runtime;
    work_ = work;
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    previous_ = fs::current_path();
    fs::current_path(work_);
    connection::SetPortMapReader(VirtualPortsOnly);
  }

  void TearDown() override {
    if (runtime_.empty()) return;
    if (connection::IsConnected()) {
      SilentPage quiet;
      connection::ToggleConnection(quiet);
    }
    transport::ClosePort();
    connection::SetPortMapReader(nullptr);
    page_.reset();
    board_.reset();
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(work_, ignored);
    fs::remove_all(runtime_, ignored);
  }

  void WriteSettings(const std::string& text) { std::ofstream(work_ / "Lumivex.ini") << text; }

  void StartBoard(BoardOptions options = {}) {
    // The connection tries 9600 first; a board at that speed answers the first greeting.
    options.baud = 9600;
    board_ = std::make_unique<SimulatedBoard>(options);
    ASSERT_TRUE(board_->Start()) << board_->error();
  }

  void CreatePage() {
    page_ = std::make_unique<CLedPage>();
    ASSERT_TRUE(page_->Create(nullptr));
    page_->show();
    QApplication::processEvents();
  }

  // Presses the page's connect button and forgets the connection's own boxes.
  void ConnectThroughPage() {
    Click(led::kConnect);
    ASSERT_TRUE(connection::IsConnected());
    ASSERT_EQ(Boxes(), std::vector<std::string>{Warning(key::kConnectSuccess)});
    messages_->Clear();
  }

  void Click(int id) {
    auto* button = qobject_cast<QAbstractButton*>(page_->GetDlgItem(id));
    ASSERT_NE(button, nullptr) << id;
    button->click();
    QApplication::processEvents();
  }

  // Replaces the edit box's text key by key, as the user does.
  void Type(const QString& text) {
    QLineEdit* edit = Edit();
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty()) {
      QTest::keyClick(edit, Qt::Key_Backspace);
    } else {
      QTest::keyClicks(edit, text);
    }
    QApplication::processEvents();
  }

  QLineEdit* Edit() const { return qobject_cast<QLineEdit*>(page_->GetDlgItem(led::kCurrentEdit)); }
  QSlider* Slider() const { return qobject_cast<QSlider*>(page_->GetDlgItem(led::kSlider)); }
  QComboBox* LightList() const {
    return qobject_cast<QComboBox*>(page_->GetDlgItem(led::kLightList));
  }
  std::string EditText() const { return page_->GetDlgItemText(led::kCurrentEdit); }
  std::string Caption(int id) const { return page_->GetDlgItemText(id); }

  std::vector<std::string> Boxes() const {
    std::vector<std::string> boxes;
    for (const RecordedMessage& m : messages_->Messages()) {
      EXPECT_EQ(m.owner, page_.get());
      boxes.push_back(m.title + " | " + m.text);
    }
    return boxes;
  }

  std::vector<Bytes> PayloadsOf(uint16_t code) const {
    std::vector<Bytes> payloads;
    for (const Bytes& frame : board_->receivedFrames()) {
      if (frame.size() >= 4 && (frame[2] << 8 | frame[3]) == code)
        payloads.push_back(Payload(frame));
    }
    return payloads;
  }

  std::set<int> EnabledChannels() const {
    std::set<int> enabled;
    for (int id : {led::kRadioRed, led::kRadioGreen, led::kRadioBlue, led::kRadioWhite}) {
      if (page_->IsItemEnabled(id)) enabled.insert(id);
    }
    return enabled;
  }

  bool LightSelectionShown() const {
    const int ids[] = {led::kLightFrame, led::kLightLabel, led::kLightList, led::kLightConfirm};
    int shown = 0;
    for (int id : ids) shown += page_->IsItemShown(id) ? 1 : 0;
    EXPECT_TRUE(shown == 0 || shown == 4) << "the light selection shows whole or not at all";
    return shown == 4;
  }

  bool CurrentControlsEnabled() const {
    const int ids[] = {led::kSlider, led::kCurrentEdit, led::kWrite, led::kRead};
    int enabled = 0;
    for (int id : ids) enabled += page_->IsItemEnabled(id) ? 1 : 0;
    EXPECT_TRUE(enabled == 0 || enabled == 4) << "1003 to 1006 change together";
    return enabled == 4;
  }

  mutable ScopedMessageRecorder messages_;
  std::unique_ptr<SimulatedBoard> board_;
  std::unique_ptr<CLedPage> page_;
  fs::path runtime_;
  fs::path work_;
  fs::path previous_;
};

// ----- arrangement from the "led" section

struct Layout {
  const char* name;
  const char* settings;  // nullptr: no settings file at all
  int selected;
  std::set<int> enabled;
  bool lightSelection;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Layout& layout, std::ostream* os) {
  *os << layout.name;
}

class LedLayoutTest : public LedPageTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(LedLayoutTest, ArrangesChannelsOnceFromTheLedSection) {
  const Layout& layout = GetParam();
  if (layout.settings) WriteSettings(layout.settings);
  CreatePage();

  EXPECT_EQ(page_->GetCheckedRadioButton(led::kRadioRed, led::kRadioWhite), layout.selected);
  EXPECT_EQ(EnabledChannels(), layout.enabled);
  EXPECT_EQ(LightSelectionShown(), layout.lightSelection);
  EXPECT_EQ(Slider()->minimum(), 0);
  EXPECT_EQ(Slider()->maximum(), 255);
  EXPECT_EQ(EditText(), "0");
  EXPECT_EQ(Caption(led::kPower), settings::Translate(key::kLedOff));
  EXPECT_EQ(Caption(led::kConnect), settings::Translate(key::kUartOpen));
  EXPECT_TRUE(CurrentControlsEnabled());

  // Later showings keep the arrangement, even when the file has changed meanwhile.
  WriteSettings(kAllColours);
  page_->OnInitDialog();
  page_->OnInitDialog();
  EXPECT_EQ(page_->GetCheckedRadioButton(led::kRadioRed, led::kRadioWhite), layout.selected);
  EXPECT_EQ(EnabledChannels(), layout.enabled);
  EXPECT_EQ(LightSelectionShown(), layout.lightSelection);
  EXPECT_EQ(LightList()->count(), 4);
  EXPECT_TRUE(messages_->Messages().empty());
}

const std::set<int> kNone;
const std::set<int> kRGB = {led::kRadioRed, led::kRadioGreen, led::kRadioBlue};

INSTANTIATE_TEST_SUITE_P(
    Sections, LedLayoutTest,
    ::testing::Values(
        Layout{"OnlyRed", "[led]\nr=true\n", led::kRadioRed, kNone, false},
        Layout{"OnlyBlue", "[led]\nb=true\n", led::kRadioBlue, kNone, false},
        Layout{"AllThree", kAllColours, led::kRadioGreen, kRGB, true},
        Layout{"AllThreeBlueFirst", "[led]\nb=true\nr=true\ng=true\n", led::kRadioGreen, kRGB,
               true},
        Layout{"RedThenBlue",
               "[led]\nr=true\nb=true\n",
               led::kRadioBlue,
               {led::kRadioRed, led::kRadioBlue},
               false},
        Layout{"BlueThenRed",
               "[led]\nb=true\nr=true\n",
               led::kRadioRed,
               {led::kRadioRed, led::kRadioBlue},
               false},
        Layout{"RedAndGreenBlueFalse",
               "[led]\nr=true\ng=true\nb=false\n",
               led::kRadioGreen,
               {led::kRadioRed, led::kRadioGreen},
               false},
        Layout{"NoSettingsFile", nullptr, led::kRadioGreen, kNone, false},
        Layout{"EmptySection", "[dialog]\ndlg1=true\n[led]\n", led::kRadioGreen, kNone, false},
        Layout{"ValueCaseDiffers", "[led]\nr=True\n", led::kRadioGreen, kNone, false},
        Layout{"CaseDiffersBesideTrue", "[led]\nr=TRUE\ng=True\nb=true\n", led::kRadioBlue, kNone,
               false},
        Layout{"KeyCaseDiffers", "[led]\nR=true\nG=true\nB=true\n", led::kRadioGreen, kNone, false},
        Layout{"UnknownKey", "[led]\nw=true\n", led::kRadioGreen, kNone, false}),
    [](const ::testing::TestParamInfo<Layout>& row) { return std::string(row.param.name); });

TEST_F(LedPageTest, LightListOffersTheColoursWithWhiteSelected) {
  WriteSettings(kAllColours);
  CreatePage();
  QComboBox* list = LightList();
  ASSERT_EQ(list->count(), 4);
  EXPECT_EQ(list->itemText(0).toStdString(), settings::Translate(key::kLedRed));
  EXPECT_EQ(list->itemText(1).toStdString(), settings::Translate(key::kLedGreen));
  EXPECT_EQ(list->itemText(2).toStdString(), settings::Translate(key::kLedBlue));
  EXPECT_EQ(list->itemText(3).toStdString(), settings::Translate(key::kLedWhite));
  EXPECT_EQ(list->currentIndex(), 3);
}

// ----- commands

TEST_F(LedPageTest, LightListSendsOneColourOrAllThree) {
  WriteSettings(kAllColours);
  StartBoard();
  CreatePage();
  ConnectThroughPage();

  const struct {
    int index;
    uint8_t sent;
  } rows[] = {{0, 1}, {1, 2}, {2, 4}, {3, 7}, {-1, 7}};
  std::vector<Bytes> expected;
  for (const auto& row : rows) {
    LightList()->setCurrentIndex(row.index);
    ASSERT_EQ(LightList()->currentIndex(), row.index);
    Click(led::kLightConfirm);
    expected.push_back({row.sent});
  }
  EXPECT_EQ(PayloadsOf(kSetLightColour), expected);
  EXPECT_EQ(board_->lightColours(), 7);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LedPageTest, OnlyRedWritesTheTypedValueWithGreenAndBlueAsRead) {
  WriteSettings("[led]\nr=true\n");
  BoardOptions options;
  options.currents = {10, 20, 30};
  StartBoard(options);
  CreatePage();
  ConnectThroughPage();
  // The new connection reads the selected channel at once.
  EXPECT_EQ(EditText(), "10");
  EXPECT_EQ(Slider()->value(), 10);

  Type("123");
  Click(led::kWrite);
  EXPECT_EQ(PayloadsOf(kWriteCurrents), std::vector<Bytes>{Triple(123, 20, 30)});
  EXPECT_EQ(board_->currents(), (std::array<uint16_t, 3>{123, 20, 30}));
  EXPECT_EQ(Slider()->value(), 123);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LedPageTest, EachChannelReadsAndWritesItsOwnPositionOfTheTriple) {
  WriteSettings(kAllColours);
  BoardOptions options;
  options.currents = {10, 20, 30};
  StartBoard(options);
  CreatePage();
  ConnectThroughPage();
  EXPECT_EQ(EditText(), "20");

  const struct {
    int radio;
    const char* shown;
    const char* typed;
    std::array<uint16_t, 3> after;
  } rows[] = {
      {led::kRadioRed, "10", "11", {11, 20, 30}},
      {led::kRadioBlue, "30", "33", {11, 20, 33}},
      {led::kRadioGreen, "20", "22", {11, 22, 33}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.radio);
    Click(row.radio);  // a channel click reads that channel
    EXPECT_EQ(EditText(), row.shown);
    EXPECT_EQ(Slider()->value(), std::stoi(row.shown));
    Type(row.typed);
    Click(led::kWrite);
    EXPECT_EQ(board_->currents(), row.after);
  }
  EXPECT_EQ(PayloadsOf(kWriteCurrents),
            (std::vector<Bytes>{Triple(11, 20, 30), Triple(11, 20, 33), Triple(11, 22, 33)}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LedPageTest, ReadAbove255WarnsAndKeepsTheControls) {
  WriteSettings(kAllColours);
  BoardOptions options;
  options.currents = {10, 256, 30};
  StartBoard(options);
  CreatePage();
  Click(led::kRadioRed);  // closed port: the click only selects
  EXPECT_TRUE(Boxes().empty());
  ConnectThroughPage();
  ASSERT_EQ(EditText(), "10");

  Click(led::kRead);
  EXPECT_EQ(Boxes(), std::vector<std::string>{Warning(key::kReadFail)});
  EXPECT_EQ(EditText(), "10");
  EXPECT_EQ(Slider()->value(), 10);
}

TEST_F(LedPageTest, FailedReadShowsZeroWithoutMessage) {
  WriteSettings(kAllColours);
  BoardOptions options;
  options.currents = {10, 20, 30};
  StartBoard(options);
  CreatePage();
  ConnectThroughPage();
  ASSERT_EQ(EditText(), "20");

  options.silent = true;
  board_->SetOptions(options);
  Click(led::kRead);
  EXPECT_EQ(EditText(), "0");
  EXPECT_EQ(Slider()->value(), 0);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LedPageTest, FailedReadBeforeWriteWritesNothingAndWarns) {
  WriteSettings(kAllColours);
  BoardOptions options;
  options.currents = {10, 20, 30};
  StartBoard(options);
  CreatePage();
  ConnectThroughPage();
  Type("77");

  options.silent = true;
  board_->SetOptions(options);
  const std::size_t readsBefore = PayloadsOf(kReadCurrents).size();
  Click(led::kWrite);
  EXPECT_EQ(PayloadsOf(kReadCurrents).size(), readsBefore + 1);
  EXPECT_TRUE(PayloadsOf(kWriteCurrents).empty());
  EXPECT_EQ(board_->currents(), (std::array<uint16_t, 3>{10, 20, 30}));
  EXPECT_EQ(Boxes(), std::vector<std::string>{Warning(key::kReadFail)});
  EXPECT_EQ(EditText(), "77");
}

TEST_F(LedPageTest, TypedValueAbove255WritesNothingAndSettlesAt255) {
  WriteSettings(kAllColours);
  BoardOptions options;
  options.currents = {10, 20, 30};
  StartBoard(options);
  CreatePage();
  ConnectThroughPage();

  Type("300");
  ASSERT_EQ(Boxes(), std::vector<std::string>{RangeMessage()});
  Click(led::kWrite);
  EXPECT_TRUE(PayloadsOf(kWriteCurrents).empty());
  EXPECT_EQ(Slider()->value(), 255);
  EXPECT_EQ(EditText(), "255");
  // Repaints of the slider do not repeat what was said while typing.
  Slider()->repaint();
  QApplication::processEvents();
  EXPECT_EQ(Boxes(), std::vector<std::string>{RangeMessage()});
  EXPECT_EQ(board_->currents(), (std::array<uint16_t, 3>{10, 20, 30}));
}

TEST_F(LedPageTest, PowerOffDisablesTheCurrentControlsAndPowerOnEnablesThem) {
  WriteSettings(kAllColours);
  StartBoard();
  CreatePage();
  ConnectThroughPage();

  Click(led::kPower);
  EXPECT_FALSE(CurrentControlsEnabled());
  EXPECT_EQ(Caption(led::kPower), settings::Translate(key::kLedOn));
  EXPECT_FALSE(board_->ledOn());

  // The caption survives the re-translation of a later showing.
  page_->OnInitDialog();
  EXPECT_EQ(Caption(led::kPower), settings::Translate(key::kLedOn));

  Click(led::kPower);
  EXPECT_TRUE(CurrentControlsEnabled());
  EXPECT_EQ(Caption(led::kPower), settings::Translate(key::kLedOff));
  EXPECT_TRUE(board_->ledOn());
  EXPECT_EQ(PayloadsOf(kSetLedPower), (std::vector<Bytes>{{0}, {1}}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LedPageTest, PowerButtonWithThePortClosed) {
  WriteSettings(kAllColours);
  StartBoard();
  CreatePage();
  ConnectThroughPage();
  Click(led::kPower);  // light off
  ASSERT_FALSE(CurrentControlsEnabled());
  Click(led::kConnect);  // closes, silently
  ASSERT_FALSE(connection::IsConnected());
  const std::size_t framesBefore = board_->receivedFrames().size();

  // Turning on enables the controls before it finds the port closed.
  Click(led::kPower);
  EXPECT_TRUE(CurrentControlsEnabled());
  EXPECT_EQ(Caption(led::kPower), settings::Translate(key::kLedOn));
  EXPECT_EQ(Boxes(), std::vector<std::string>{Warning(key::kNotOpen)});

  // Still off as far as the page knows: the next click tries to turn on again.
  Click(led::kPower);
  EXPECT_EQ(Caption(led::kPower), settings::Translate(key::kLedOn));
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(board_->receivedFrames().size(), framesBefore);
}

TEST_F(LedPageTest, RefusedPowerCommandFlipsTheStateAfterFourAttempts) {
  WriteSettings(kAllColours);
  BoardOptions options;
  options.refuse = true;
  StartBoard(options);
  CreatePage();
  ConnectThroughPage();

  const auto start = std::chrono::steady_clock::now();
  Click(led::kPower);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(PayloadsOf(kSetLedPower), (std::vector<Bytes>{{0}, {0}, {0}, {0}}));
  // Four pauses of 50 ms after the four refusals.
  EXPECT_GE(elapsed, std::chrono::milliseconds(200));
  EXPECT_EQ(Caption(led::kPower), settings::Translate(key::kLedOn));
  EXPECT_FALSE(CurrentControlsEnabled());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LedPageTest, FirstShowingWhileConnectedReadsOnceOnly) {
  WriteSettings(kAllColours);
  BoardOptions options;
  options.currents = {10, 20, 30};
  StartBoard(options);
  SilentPage quiet;
  ASSERT_EQ(connection::ToggleConnection(quiet), connection::kToggled);

  CreatePage();
  EXPECT_EQ(PayloadsOf(kReadCurrents).size(), 1u);
  EXPECT_EQ(EditText(), "20");
  EXPECT_EQ(Slider()->value(), 20);
  EXPECT_EQ(Caption(led::kConnect), settings::Translate(key::kUartClose));

  // Tab switches re-run the initialisation without reading again.
  page_->OnInitDialog();
  page_->OnInitDialog();
  EXPECT_EQ(PayloadsOf(kReadCurrents).size(), 1u);
  EXPECT_EQ(Caption(led::kConnect), settings::Translate(key::kUartClose));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LedPageTest, AutomaticReadWaitsForAShowingWhileConnected) {
  WriteSettings(kAllColours);
  StartBoard();
  CreatePage();
  page_->OnInitDialog();
  EXPECT_EQ(board_->counters().frames, 0u);

  ConnectThroughPage();  // its own read
  EXPECT_EQ(PayloadsOf(kReadCurrents).size(), 1u);
  page_->OnInitDialog();  // the automatic one
  page_->OnInitDialog();
  EXPECT_EQ(PayloadsOf(kReadCurrents).size(), 2u);

  // A connection closed elsewhere shows on the button at the next showing.
  SilentPage quiet;
  connection::ToggleConnection(quiet);
  page_->OnInitDialog();
  EXPECT_EQ(Caption(led::kConnect), settings::Translate(key::kUartOpen));
}

TEST_F(LedPageTest, CommandsWithThePortClosedWarn) {
  WriteSettings(kAllColours);
  CreatePage();
  Click(led::kRadioBlue);  // only selects, without a word
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(page_->GetCheckedRadioButton(led::kRadioRed, led::kRadioWhite), led::kRadioBlue);

  for (int id : {led::kWrite, led::kRead, led::kLightConfirm, led::kPower}) {
    SCOPED_TRACE(id);
    messages_->Clear();
    Click(id);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Warning(key::kNotOpen)});
  }
  EXPECT_EQ(Caption(led::kPower), settings::Translate(key::kLedOff));
  EXPECT_TRUE(CurrentControlsEnabled());
}

// ----- keys, edit box and slider

TEST_F(LedPageTest, EscapeAndReturnDoNothing) {
  WriteSettings(kAllColours);
  CreatePage();
  Type("42");
  for (QWidget* target : {static_cast<QWidget*>(Edit()), static_cast<QWidget*>(page_.get()),
                          page_->GetDlgItem(led::kWrite)}) {
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(target, key);
      QApplication::processEvents();
      EXPECT_TRUE(page_->isVisible()) << "key " << key;
    }
  }
  EXPECT_EQ(EditText(), "42");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LedPageTest, EditBoxAcceptsOnly0To255) {
  WriteSettings(kAllColours);
  CreatePage();
  const struct {
    const char* typed;
    bool pasted;  // arrives as one change instead of key by key
    const char* shown;
    std::vector<std::string> boxes;
  } rows[] = {
      {"255", false, "255", {}},
      {"0", false, "0", {}},
      {"17", false, "17", {}},
      {"256", false, "256", {RangeMessage()}},
      {"1000", false, "1000", {RangeMessage()}},
      {"4294967295", true, "4294967295", {RangeMessage()}},
      // Letters never reach the box.
      {"4x2", false, "42", {}},
      // An emptied box is refused and gets its last valid value back.
      {"", false, "42", {"Lumivex | " + std::string(kParseUIntMessage)}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    messages_->Clear();
    if (row.pasted) {
      Edit()->selectAll();
      Edit()->insert(QString::fromLatin1(row.typed));
      QApplication::processEvents();
    } else {
      Type(row.typed);
    }
    EXPECT_EQ(EditText(), row.shown);
    EXPECT_EQ(Boxes(), row.boxes);
  }
}

TEST_F(LedPageTest, SliderAndEditBoxMirrorEachOther) {
  WriteSettings(kAllColours);
  CreatePage();
  QSlider* slider = Slider();

  slider->setValue(77);  // as a drag does
  EXPECT_EQ(EditText(), "77");
  slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(EditText(), "78");

  // A typed value moves the slider at the next click into the box.
  Type("200");
  EXPECT_EQ(slider->value(), 78);
  QTest::mouseClick(Edit(), Qt::LeftButton);
  EXPECT_EQ(slider->value(), 200);
  EXPECT_EQ(EditText(), "200");

  Type("255");
  QTest::mouseClick(Edit(), Qt::LeftButton);
  EXPECT_EQ(slider->value(), 255);
  Type("200");
  QTest::mouseClick(Edit(), Qt::LeftButton);

  // A value above 255 does not.
  Type("256");
  QTest::mouseClick(Edit(), Qt::LeftButton);
  EXPECT_EQ(slider->value(), 200);
  // Clicks elsewhere move nothing.
  Type("12");
  QTest::mouseClick(page_->GetDlgItem(led::kWrite), Qt::RightButton);
  QTest::mouseClick(Edit(), Qt::RightButton);
  EXPECT_EQ(slider->value(), 200);
  EXPECT_EQ(Boxes(), std::vector<std::string>{RangeMessage()});
}

}  // namespace
}  // namespace lumivex::ui

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
