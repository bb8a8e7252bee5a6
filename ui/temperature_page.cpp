#include "ui/temperature_page.h"

#include <array>
#include <cstdint>
#include <string>

#include "connection/connection.h"
#include "protocol/commands.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "settings/settings.h"
#include "ui/framework/wait_cursor.h"
#include "ui/translate_window.h"

namespace lumivex::ui {

// Work done once per run, at the first showing that needs it; the flags start set and are
// cleared after use. GUI thread only.
bool TemperatureLayoutPending = true;
bool TemperatureAutoReadPending = true;

namespace {

// Value fields.
constexpr int kRedValue = 1013;
constexpr int kGreenValue = 1014;
constexpr int kBlueValue = 1015;
constexpr int kBoardValue = 1017;
constexpr int kSingleValue = 1034;
// Read buttons of the full and the single layout.
constexpr int kFullReadButton = 1016;
constexpr int kSingleReadButton = 1035;
// Every control that belongs to one layout only lies in this id range, besides the full
// layout's read button.
constexpr int kFirstLayoutId = 1034;
constexpr int kLastLayoutId = 1051;

constexpr std::array<int, 5> kValueFields = {kRedValue, kGreenValue, kBlueValue, kBoardValue,
                                             kSingleValue};
constexpr std::array<int, 5> kSingleLayout = {1049, 1050, 1051, kSingleValue, kSingleReadButton};
constexpr std::array<int, 18> kFullLayout = {
    1036,      1037,        1038,       1039,       1040, 1041, 1042,
    1043,      1044,        1045,       1046,       1047, 1048, kFullReadButton,
    kRedValue, kGreenValue, kBlueValue, kBoardValue};

constexpr char kNotAvailableText[] = "----";
constexpr char kDeclared[] = "true";

// Bits of the colour mask that the "led" section declares.
constexpr unsigned kRedBit = 1;
constexpr unsigned kGreenBit = 2;
constexpr unsigned kBlueBit = 4;

std::string TemperatureText(int16_t value) {
  if (value == protocol::kTemperatureNotAvailable) return kNotAvailableText;
  return std::to_string(value);
}

unsigned DeclaredColours(const settings::SettingTable& entries, int count) {
  unsigned mask = 0;
  for (int i = 0; i < count; ++i) {
    const settings::SettingEntry& entry = entries[static_cast<std::size_t>(i)];
    if (entry.value != kDeclared) continue;
    if (entry.key == "r") mask |= kRedBit;
    if (entry.key == "g") mask |= kGreenBit;
    if (entry.key == "b") mask |= kBlueBit;
  }
  return mask;
}

}  // namespace

CTemperaturePage::CTemperaturePage(QWidget* parent) : CDialog(templ::kTemperaturePage, parent) {
  OnClicked(connection::kConnectButtonId, [this] { OnUartOpen(); });
  OnClicked(kFullReadButton, [this] { ReadAndShowTemperatures(); });
  OnClicked(kSingleReadButton, [this] { ReadAndShowTemperatures(); });
}

bool CTemperaturePage::OnInitDialog() {
  CDialog::OnInitDialog();
  // The value fields hold what the board reported, not captions: translating the window would
  // put the template's placeholder back at every showing.
  std::array<std::string, kValueFields.size()> shown;
  for (std::size_t i = 0; i < kValueFields.size(); ++i) shown[i] = GetDlgItemText(kValueFields[i]);
  TranslateWindow(*this);
  for (std::size_t i = 0; i < kValueFields.size(); ++i) SetDlgItemText(kValueFields[i], shown[i]);

  // Read at every showing, although only the first showing acts on it.
  settings::SettingTable entries;
  const int count = settings::ReadSettingSection(settings::section::kLed, entries);

  if (TemperatureLayoutPending) {
    for (int id = kFirstLayoutId; id <= kLastLayoutId; ++id) HideItem(id);
    HideItem(kFullReadButton);
    for (int id : kValueFields) SetDlgItemText(id, kNotAvailableText);
    const unsigned mask = count > 0 ? DeclaredColours(entries, count) : 0;
    // A board with at most one LED colour has one temperature worth showing.
    const bool single = mask == 0 || mask == kRedBit || mask == kGreenBit || mask == kBlueBit;
    if (single) {
      for (int id : kSingleLayout) ShowItem(id);
    } else {
      for (int id : kFullLayout) ShowItem(id);
    }
    TemperatureLayoutPending = false;
  }

  if (connection::IsConnected()) {
    SetDlgItemText(connection::kConnectButtonId, settings::Translate(key::kUartClose));
    if (TemperatureAutoReadPending) {
      ReadAndShowTemperatures();
      TemperatureAutoReadPending = false;
    }
  } else {
    SetDlgItemText(connection::kConnectButtonId, settings::Translate(key::kUartOpen));
  }
  return true;
}

bool CTemperaturePage::PreTranslateMessage(QObject* target, QEvent* event) {
  // The page never closes itself and never presses a button from the keyboard.
  if (IsEscapeOrReturnKeyDown(event)) return true;
  return CDialog::PreTranslateMessage(target, event);
}

void CTemperaturePage::ReadAndShowTemperatures() {
  if (!connection::IsConnected()) {
    MessageBox(settings::Translate(key::kNotOpen), settings::Translate(key::kWarningUartTitle));
    return;
  }
  int16_t red = 0;
  int16_t green = 0;
  int16_t blue = 0;
  int16_t board = 0;
  {
    CWaitCursor wait;
    // Values the board did not deliver come back as "not available"; nothing else to report.
    protocol::ReadTemperatures(red, green, blue, board);
  }
  SetDlgItemText(kRedValue, TemperatureText(red));
  SetDlgItemText(kGreenValue, TemperatureText(green));
  SetDlgItemText(kBlueValue, TemperatureText(blue));
  SetDlgItemText(kBoardValue, TemperatureText(board));
  // The single field follows the green LED, which single-colour engines report; the board's
  // own sensor stands in when the green value is missing.
  SetDlgItemText(kSingleValue,
                 TemperatureText(green != protocol::kTemperatureNotAvailable ? green : board));
}

void CTemperaturePage::OnUartOpen() {
  if (connection::IsConnected()) {
    connection::ToggleConnection(*this);
    return;
  }
  if (connection::ToggleConnection(*this) == connection::kToggled) ReadAndShowTemperatures();
}

}  // namespace lumivex::ui
