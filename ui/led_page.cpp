#include "ui/led_page.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "board/commands.h"
#include "board/connect.h"
#include "board/led_colours.h"
#include "connection/connection.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "ui/translate_window.h"

namespace lumivex::ui {

namespace {

// Work that happens once per run, whichever page object does it: the arrangement chosen from
// the settings file and the automatic first read of the currents.
bool LedFirstShowPending = true;
bool LedAutoReadPending = true;

const char* const kLightListKeys[] = {key::kLedRed, key::kLedGreen, key::kLedBlue, key::kLedWhite};
constexpr int kWhiteEntry = 3;

// The position of the triple that a radio button addresses; W stands for green. Empty with no
// channel selected.
std::optional<board::Channel> RadioChannel(int radio) {
  switch (radio) {
    case led::kRadioRed:
      return board::Channel::kRed;
    case led::kRadioGreen:
    case led::kRadioWhite:
      return board::Channel::kGreen;
    case led::kRadioBlue:
      return board::Channel::kBlue;
    default:
      return std::nullopt;
  }
}

int ChannelRadio(board::Channel channel) {
  switch (channel) {
    case board::Channel::kRed:
      return led::kRadioRed;
    case board::Channel::kGreen:
      return led::kRadioGreen;
    case board::Channel::kBlue:
      return led::kRadioBlue;
  }
  return led::kRadioGreen;
}

// The selected channel's value; 0 with no channel selected.
uint16_t ChannelValue(int radio, const board::Currents& currents) {
  const std::optional<board::Channel> channel = RadioChannel(radio);
  return channel ? currents[static_cast<std::size_t>(*channel)] : uint16_t{0};
}

// Digits after leading blanks; a number too long for 32 bits reads as the largest, so it is
// refused as above 255 rather than wrapping into range.
uint32_t LeadingNumber(const std::string& text) {
  std::size_t i = text.find_first_not_of(" \t");
  uint64_t value = 0;
  for (; i != std::string::npos && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<uint64_t>(value * 10 + static_cast<unsigned>(text[i] - '0'),
                               std::numeric_limits<uint32_t>::max());
  }
  return static_cast<uint32_t>(value);
}

// A slider position from any value; the slider clamps it to its range.
int SliderPosition(uint32_t value) {
  return static_cast<int>(std::min<uint32_t>(value, std::numeric_limits<int>::max()));
}

}  // namespace

CLedPage::CLedPage(CDialog* owner) : CDialog(templ::kLedPage, owner) {
  OnClicked(led::kConnect, [this] { OnUartOpen(); });
  OnClicked(led::kPower, [this] { OnLedPower(); });
  OnClicked(led::kWrite, [this] { OnWriteCurrent(); });
  OnClicked(led::kRead, [this] { OnReadCurrent(); });
  // W is never enabled, so a click on it never reaches the page.
  for (int id : {led::kRadioRed, led::kRadioGreen, led::kRadioBlue}) {
    OnClicked(id, [this] { OnChannelRadio(); });
  }
  OnClicked(led::kLightConfirm, [this] { OnLightConfirm(); });
  OnEditChange(led::kCurrentEdit, [this] { OnCurrentEditChange(); });
  CDialog::OnSliderCustomDraw(led::kSlider, [this] { OnSliderCustomDraw(); });
}

void CLedPage::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, led::kLightList, m_lightCombo);
  DDX_Control(pDX, led::kCurrentEdit, m_currentEdit);
  DDX_Control(pDX, led::kSlider, m_currentSlider);
  DDX_Text(pDX, led::kCurrentEdit, m_currentValue);
  DDV_MinMaxUInt(pDX, m_currentValue, 0, led::kMaxCurrent);
}

bool CLedPage::OnInitDialog() {
  CDialog::OnInitDialog();
  TranslateWindow(*this);
  // Read at every showing, used only at the first: a later edit of the file shows at the next
  // start, not halfway through a run.
  const board::DeclaredLedColours colours = board::ReadDeclaredLedColours();
  if (LedFirstShowPending) ArrangeFirstShowing(colours);

  // Captions come back from the template at every translation; the power button names the
  // action its next click performs, which depends on the light's state.
  SetDlgItemText(led::kPower, settings::Translate(m_ledOff ? key::kLedOn : key::kLedOff));

  if (connection::IsConnected()) {
    if (LedAutoReadPending) {
      // Cleared first: a box shown by the read runs a nested event loop, and a tab switch
      // there must not start a second read.
      LedAutoReadPending = false;
      OnReadCurrent();
    }
    SetDlgItemText(led::kConnect, settings::Translate(key::kUartClose));
  } else {
    // The connection may have been closed on another page since this one was shown.
    SetDlgItemText(led::kConnect, settings::Translate(key::kUartOpen));
  }
  return true;
}

void CLedPage::ArrangeFirstShowing(const board::DeclaredLedColours& colours) {
  for (int id : {led::kLightFrame, led::kLightLabel, led::kLightList, led::kLightConfirm}) {
    HideItem(id);
  }

  UpdateData(false);
  m_lightCombo.SetCurSel(-1);
  for (const char* entryKey : kLightListKeys) m_lightCombo.AddString(settings::Translate(entryKey));
  m_lightCombo.SetCurSel(kWhiteEntry);
  UpdateData(true);

  m_currentSlider.SetRange(0, static_cast<int>(led::kMaxCurrent), false);
  m_currentSlider.SetTicFreq(1);
  m_lastSliderPos = static_cast<uint16_t>(m_currentSlider.GetPos());
  SetDlgItemText(led::kCurrentEdit, std::to_string(m_lastSliderPos));

  // The channel declared last in file order stays selected.
  for (board::Channel channel :
       {board::Channel::kRed, board::Channel::kGreen, board::Channel::kBlue}) {
    if (colours.Has(channel)) EnableItem(ChannelRadio(channel));
  }
  if (colours.last) CheckRadioButton(led::kRadioRed, led::kRadioWhite, ChannelRadio(*colours.last));

  const auto disableChannels = [this] {
    for (int id : {led::kRadioRed, led::kRadioGreen, led::kRadioBlue}) EnableItem(id, false);
  };
  if (colours.sectionEmpty) {
    CheckRadioButton(led::kRadioRed, led::kRadioWhite, led::kRadioGreen);
  } else if (colours.All()) {
    // Only a board with all three colours can choose which of them light up.
    for (int id : {led::kLightFrame, led::kLightLabel, led::kLightList, led::kLightConfirm}) {
      ShowItem(id);
    }
    CheckRadioButton(led::kRadioRed, led::kRadioWhite, led::kRadioGreen);
  } else if (colours.Count() == 1) {
    // One colour: nothing to choose, the selection stays on it.
    disableChannels();
  } else if (colours.Count() == 0) {
    disableChannels();
    CheckRadioButton(led::kRadioRed, led::kRadioWhite, led::kRadioGreen);
  }
  // Two colours: both stay enabled, the last one enabled stays selected.

  // The page assumes that the light is on when the program starts.
  m_ledOff = 0;
  LedFirstShowPending = false;
}

bool CLedPage::PreTranslateMessage(const InputMessage& message) {
  // The page never closes itself and never presses a button from the keyboard.
  if (IsEscapeOrReturnKeyDown(message)) return true;
  if (message.type == InputMessage::Type::kMouseDown && message.button == MouseButton::kLeft &&
      message.target == GetDlgItem(led::kCurrentEdit)) {
    // A value typed into the box moves the slider at the next click into the box.
    const uint32_t value = CurrentEditNumber();
    if (value <= led::kMaxCurrent) m_currentSlider.SetPos(static_cast<int>(value));
  }
  return CDialog::PreTranslateMessage(message);
}

void CLedPage::OnLedPower() {
  if (m_ledOff == 1) {
    EnableCurrentControls(true);
    if (!connection::IsConnected()) {
      Warn(key::kNotOpen);
      return;
    }
    board::SwitchLight(true);
    // The board may have missed every attempt; the button still offers the opposite action,
    // so the user can simply press it again.
    m_ledOff = 0;
    SetDlgItemText(led::kPower, settings::Translate(key::kLedOff));
  } else {
    if (!connection::IsConnected()) {
      Warn(key::kNotOpen);
      return;
    }
    EnableCurrentControls(false);
    board::SwitchLight(false);
    m_ledOff = 1;
    SetDlgItemText(led::kPower, settings::Translate(key::kLedOn));
  }
}

void CLedPage::OnWriteCurrent() {
  const int radio = SelectedChannelRadio();
  if (!connection::IsConnected()) {
    Warn(key::kNotOpen);
    return;
  }
  // The box is read before the exchanges: it cannot change while they run.
  const uint32_t value = CurrentEditNumber();
  // The result of the write itself is not reported: the user reads the currents back.
  const board::ChannelWrite change = board::WriteChannel(RadioChannel(radio), value);

  m_currentSlider.SetPos(SliderPosition(value));
  m_lastSliderPos = static_cast<uint16_t>(value);
  // The slider has clamped itself to 255; its next repaint puts 255 into the box.
  if (value > led::kMaxCurrent) return;

  // Without the board's triple nothing was written: the two other channels are unknown.
  if (!change.read.result.ok) Warn(key::kReadFail);
}

void CLedPage::OnReadCurrent() {
  const int radio = SelectedChannelRadio();
  if (!connection::IsConnected()) {
    Warn(key::kNotOpen);
    return;
  }
  // A failed read leaves zeros, which the page shows.
  const board::Currents currents = board::ReadCurrents().currents;
  if (std::any_of(currents.begin(), currents.end(),
                  [](uint16_t current) { return current > led::kMaxCurrent; })) {
    Warn(key::kReadFail);
    return;
  }
  const uint16_t value = ChannelValue(radio, currents);
  m_currentSlider.SetPos(value);
  m_lastSliderPos = value;
  SetDlgItemText(led::kCurrentEdit, std::to_string(value));
}

void CLedPage::OnChannelRadio() {
  // The selection has already moved to the clicked button.
  if (connection::IsConnected()) OnReadCurrent();
}

void CLedPage::OnUartOpen() {
  const int radio = SelectedChannelRadio();
  if (connection::IsConnected()) {
    board::ToggleConnection(*this);
    return;
  }
  if (board::ToggleConnection(*this) != connection::kToggled) return;
  const uint16_t value = ChannelValue(radio, board::ReadCurrents().currents);
  SetDlgItemText(led::kCurrentEdit, std::to_string(value));
  m_lastSliderPos = value;
  m_currentSlider.SetPos(value);
}

void CLedPage::OnLightConfirm() {
  if (!connection::IsConnected()) {
    Warn(key::kNotOpen);
    return;
  }
  // No selection (-1) reads as 255 and lights every colour.
  const auto index = static_cast<uint8_t>(m_lightCombo.GetCurSel());
  board::SetLightColours(led::LightColoursForIndex(index));
}

void CLedPage::OnCurrentEditChange() {
  // Checks the value at every keystroke; the data exchange reports a text out of 0..255.
  UpdateData(true);
  UpdateData(false);
}

int CLedPage::OnSliderCustomDraw() {
  // The slider repaints on its own (hover, exposure); a value already reported while it was
  // typed is not reported again from a repaint.
  ReadCurrentEditQuietly();
  const auto position = static_cast<uint16_t>(m_currentSlider.GetPos());
  if (position != m_lastSliderPos) {
    SetDlgItemText(led::kCurrentEdit, std::to_string(position));
    m_lastSliderPos = position;
  }
  UpdateData(false);
  return 0;
}

void CLedPage::ReadCurrentEditQuietly() {
  const std::string text = m_currentEdit.GetWindowText();
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return;
  const std::size_t end = text.find_last_not_of(" \t") + 1;
  if (text.find_first_not_of("0123456789", begin) < end) return;
  // As the data exchange does, an out-of-range number is taken as typed, so writing the
  // fields back leaves the box as the user left it.
  m_currentValue = LeadingNumber(text);
}

void CLedPage::EnableCurrentControls(bool enable) {
  for (int id : {led::kSlider, led::kCurrentEdit, led::kWrite, led::kRead}) EnableItem(id, enable);
}

void CLedPage::Warn(const char* messageKey) {
  MessageBox(settings::Translate(messageKey), settings::Translate(key::kWarningUartTitle));
}

int CLedPage::SelectedChannelRadio() const {
  return GetCheckedRadioButton(led::kRadioRed, led::kRadioWhite);
}

uint32_t CLedPage::CurrentEditNumber() const {
  return LeadingNumber(GetDlgItemText(led::kCurrentEdit));
}

}  // namespace lumivex::ui
