#include "ui/temperature_page.h"

#include <array>
#include <string>

#include "board/connect.h"
#include "board/led_colours.h"
#include "board/temperatures.h"
#include "connection/connection.h"
#include "settings/language.h"
#include "settings/language_keys.h"
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

}  // namespace

CTemperaturePage::CTemperaturePage(CDialog* owner) : CDialog(templ::kTemperaturePage, owner) {
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
  const board::DeclaredLedColours colours = board::ReadDeclaredLedColours();

  if (TemperatureLayoutPending) {
    for (int id = kFirstLayoutId; id <= kLastLayoutId; ++id) HideItem(id);
    HideItem(kFullReadButton);
    for (int id : kValueFields) SetDlgItemText(id, board::TemperatureText(std::nullopt));
    // A board with at most one LED colour has one temperature worth showing.
    if (colours.AtMostOne()) {
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

bool CTemperaturePage::PreTranslateMessage(const InputMessage& message) {
  // The page never closes itself and never presses a button from the keyboard.
  if (IsEscapeOrReturnKeyDown(message)) return true;
  return CDialog::PreTranslateMessage(message);
}

void CTemperaturePage::ReadAndShowTemperatures() {
  if (!connection::IsConnected()) {
    MessageBox(settings::Translate(key::kNotOpen), settings::Translate(key::kWarningUartTitle));
    return;
  }
  // Values the board did not deliver come back as "not available"; nothing else to report.
  const board::TemperatureReading reading = board::ReadTemperatures();
  SetDlgItemText(kRedValue, board::TemperatureText(reading.red));
  SetDlgItemText(kGreenValue, board::TemperatureText(reading.green));
  SetDlgItemText(kBlueValue, board::TemperatureText(reading.blue));
  SetDlgItemText(kBoardValue, board::TemperatureText(reading.board));
  // The single field follows the green LED, which single-colour engines report; the board's
  // own sensor stands in when the green value is missing.
  SetDlgItemText(kSingleValue,
                 board::TemperatureText(reading.green ? reading.green : reading.board));
}

void CTemperaturePage::OnUartOpen() {
  if (connection::IsConnected()) {
    board::ToggleConnection(*this);
    return;
  }
  if (board::ToggleConnection(*this) == connection::kToggled) ReadAndShowTemperatures();
}

}  // namespace lumivex::ui
