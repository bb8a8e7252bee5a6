#include "ui/led_page.h"

#include <QEvent>
#include <QMouseEvent>
#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <string>
#include <thread>

#include "connection/connection.h"
#include "protocol/commands.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "ui/framework/wait_cursor.h"
#include "ui/translate_window.h"

namespace lumivex::ui {

namespace {

// Work that happens once per run, whichever page object does it: the arrangement chosen from
// the settings file and the automatic first read of the currents.
bool LedFirstShowPending = true;
bool LedAutoReadPending = true;

constexpr int kPowerAttempts = 4;
constexpr auto kPowerRetryPause = std::chrono::milliseconds(50);

// Keys of the "led" section: a channel exists when its key holds exactly "true".
constexpr char kRedKey[] = "r";
constexpr char kGreenKey[] = "g";
constexpr char kBlueKey[] = "b";
constexpr char kEnabledValue[] = "true";

constexpr unsigned kRedBit = 1;
constexpr unsigned kGreenBit = 2;
constexpr unsigned kBlueBit = 4;
constexpr unsigned kAllColours = kRedBit | kGreenBit | kBlueBit;

const char* const kLightListKeys[] = {key::kLedRed, key::kLedGreen, key::kLedBlue, key::kLedWhite};
constexpr int kWhiteEntry = 3;

// The value of the selected channel in the triple red, green, blue; W stands for green. 0 with
// no channel selected.
uint16_t ChannelValue(int radio, uint16_t red, uint16_t green, uint16_t blue) {
  switch (radio) {
    case led::kRadioRed:
      return red;
    case led::kRadioGreen:
    case led::kRadioWhite:
      return green;
    case led::kRadioBlue:
      return blue;
    default:
      return 0;
  }
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

CLedPage::CLedPage(QWidget* parent) : CDialog(templ::kLedPage, parent) {
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
  auto entries = std::make_unique<settings::SettingTable>();
  const int count = settings::ReadSettingSection(settings::section::kLed, *entries);
  if (LedFirstShowPending) ArrangeFirstShowing(*entries, count);

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

void CLedPage::ArrangeFirstShowing(const settings::SettingTable& entries, int count) {
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

  // Selecting one button deselects the others, so the channel enabled last in file order
  // stays selected.
  unsigned mask = 0;
  for (int i = 0; i < count; ++i) {
    const settings::SettingEntry& entry = entries[static_cast<std::size_t>(i)];
    if (entry.value != kEnabledValue) continue;
    int radio = 0;
    unsigned bit = 0;
    if (entry.key == kRedKey) {
      radio = led::kRadioRed;
      bit = kRedBit;
    } else if (entry.key == kGreenKey) {
      radio = led::kRadioGreen;
      bit = kGreenBit;
    } else if (entry.key == kBlueKey) {
      radio = led::kRadioBlue;
      bit = kBlueBit;
    } else {
      continue;
    }
    CheckRadioButton(led::kRadioRed, led::kRadioWhite, radio);
    EnableItem(radio);
    mask |= bit;
  }

  const auto disableChannels = [this] {
    for (int id : {led::kRadioRed, led::kRadioGreen, led::kRadioBlue}) EnableItem(id, false);
  };
  if (count == 0) {
    CheckRadioButton(led::kRadioRed, led::kRadioWhite, led::kRadioGreen);
  } else if (mask == kAllColours) {
    // Only a board with all three colours can choose which of them light up.
    for (int id : {led::kLightFrame, led::kLightLabel, led::kLightList, led::kLightConfirm}) {
      ShowItem(id);
    }
    CheckRadioButton(led::kRadioRed, led::kRadioWhite, led::kRadioGreen);
  } else if (mask == kRedBit || mask == kGreenBit || mask == kBlueBit) {
    // One colour: nothing to choose, the selection stays on it.
    disableChannels();
  } else if (mask == 0) {
    disableChannels();
    CheckRadioButton(led::kRadioRed, led::kRadioWhite, led::kRadioGreen);
  }
  // Two colours: both stay enabled, the last one enabled stays selected.

  // The page assumes that the light is on when the program starts.
  m_ledOff = 0;
  LedFirstShowPending = false;
}

bool CLedPage::PreTranslateMessage(QObject* target, QEvent* event) {
  // The page never closes itself and never presses a button from the keyboard.
  if (IsEscapeOrReturnKeyDown(event)) return true;
  if (event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
      target == GetDlgItem(led::kCurrentEdit)) {
    // A value typed into the box moves the slider at the next click into the box.
    const uint32_t value = CurrentEditNumber();
    if (value <= led::kMaxCurrent) m_currentSlider.SetPos(static_cast<int>(value));
  }
  return CDialog::PreTranslateMessage(target, event);
}

void CLedPage::OnLedPower() {
  if (m_ledOff == 1) {
    EnableCurrentControls(true);
    if (!connection::IsConnected()) {
      Warn(key::kNotOpen);
      return;
    }
    SwitchLightSource(1);
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
    SwitchLightSource(0);
    m_ledOff = 1;
    SetDlgItemText(led::kPower, settings::Translate(key::kLedOn));
  }
}

void CLedPage::SwitchLightSource(uint8_t on) {
  CWaitCursor wait;
  for (int attempt = 0; attempt < kPowerAttempts; ++attempt) {
    if (protocol::SetLedPower(on)) return;
    std::this_thread::sleep_for(kPowerRetryPause);
  }
}

void CLedPage::OnWriteCurrent() {
  const int radio = SelectedChannelRadio();
  if (!connection::IsConnected()) {
    Warn(key::kNotOpen);
    return;
  }
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  const bool read = ReadCurrents(red, green, blue);

  const uint32_t value = CurrentEditNumber();
  m_currentSlider.SetPos(SliderPosition(value));
  m_lastSliderPos = static_cast<uint16_t>(value);
  // The slider has clamped itself to 255; its next repaint puts 255 into the box.
  if (value > led::kMaxCurrent) return;

  // Without the board's triple the two other channels are unknown; writing zeros in their
  // place would switch them dark.
  if (!read) {
    Warn(key::kReadFail);
    return;
  }

  const auto v = static_cast<uint16_t>(value);
  CWaitCursor wait;
  switch (radio) {
    case led::kRadioRed:
      protocol::WriteLedCurrents(v, green, blue);
      break;
    case led::kRadioGreen:
    case led::kRadioWhite:
      protocol::WriteLedCurrents(red, v, blue);
      break;
    case led::kRadioBlue:
      protocol::WriteLedCurrents(red, green, v);
      break;
    default:
      break;
  }
}

void CLedPage::OnReadCurrent() {
  const int radio = SelectedChannelRadio();
  if (!connection::IsConnected()) {
    Warn(key::kNotOpen);
    return;
  }
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  // A failed read leaves zeros, which the page shows.
  ReadCurrents(red, green, blue);
  if (red > led::kMaxCurrent || green > led::kMaxCurrent || blue > led::kMaxCurrent) {
    Warn(key::kReadFail);
    return;
  }
  const uint16_t value = ChannelValue(radio, red, green, blue);
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
    connection::ToggleConnection(*this);
    return;
  }
  if (connection::ToggleConnection(*this) != connection::kToggled) return;
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  ReadCurrents(red, green, blue);
  const uint16_t value = ChannelValue(radio, red, green, blue);
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
  CWaitCursor wait;
  protocol::SetLightColour(led::LightColoursForIndex(index));
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

bool CLedPage::ReadCurrents(uint16_t& red, uint16_t& green, uint16_t& blue) {
  CWaitCursor wait;
  return protocol::ReadLedCurrents(red, green, blue);
}

int CLedPage::SelectedChannelRadio() const {
  return GetCheckedRadioButton(led::kRadioRed, led::kRadioWhite);
}

uint32_t CLedPage::CurrentEditNumber() const {
  return LeadingNumber(GetDlgItemText(led::kCurrentEdit));
}

}  // namespace lumivex::ui
