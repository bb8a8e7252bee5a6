#include "ui/input_source_page.h"

#include <cstdint>

#include "board/commands.h"
#include "board/connect.h"
#include "connection/connection.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "ui/translate_window.h"

namespace lumivex::ui {

// The list is filled once per run; the flag starts set and is cleared after use. GUI thread only.
bool InputSourceListPending = true;

namespace {
constexpr int kInputSourceList = 1011;
constexpr int kConfirmButton = 1012;
// An entry's position is the value the board takes: 0 HDMI, 1 VGA. The entries are not
// language keys.
constexpr const char* kInputSourceEntries[] = {" HDMI", " VGA"};
}  // namespace

CInputSourcePage::CInputSourcePage(CDialog* owner) : CDialog(templ::kInputSourcePage, owner) {
  OnClicked(connection::kConnectButtonId, [this] { OnUartOpen(); });
  OnClicked(kConfirmButton, [this] { OnConfirm(); });
}

void CInputSourcePage::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, kInputSourceList, m_inputSourceCombo);
}

bool CInputSourcePage::OnInitDialog() {
  CDialog::OnInitDialog();
  TranslateWindow(*this);
  if (InputSourceListPending) {
    UpdateData(false);
    m_inputSourceCombo.SetCurSel(-1);
    for (const char* entry : kInputSourceEntries) m_inputSourceCombo.AddString(entry);
    m_inputSourceCombo.SetCurSel(0);
    UpdateData(true);
    InputSourceListPending = false;
  }
  // The connection may have been made or closed on another page since this one was shown.
  SetDlgItemText(connection::kConnectButtonId,
                 settings::Translate(connection::IsConnected() ? key::kUartClose : key::kUartOpen));
  return true;
}

bool CInputSourcePage::PreTranslateMessage(const InputMessage& message) {
  // The page never closes itself and never presses a button from the keyboard.
  if (IsEscapeOrReturnKeyDown(message)) return true;
  return CDialog::PreTranslateMessage(message);
}

void CInputSourcePage::OnUartOpen() {
  board::ToggleConnection(*this);
}

void CInputSourcePage::OnConfirm() {
  const int position = m_inputSourceCombo.GetCurSel();
  if (!connection::IsConnected()) {
    MessageBox(settings::Translate(key::kNotOpen), settings::Translate(key::kWarningUartTitle));
    return;
  }
  // A drop-down list that has been filled always holds a selection; without one there is
  // no input to ask for.
  if (position < 0) return;
  // Neither a refusal nor silence is reported: the user sees the result on the projection.
  board::SetInputSource(static_cast<uint8_t>(position));
}

}  // namespace lumivex::ui
