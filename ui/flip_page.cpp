#include "ui/flip_page.h"

#include <cstdint>

#include "board/commands.h"
#include "board/connect.h"
#include "connection/connection.h"
#include "settings/language.h"
#include "settings/language_keys.h"
#include "ui/translate_window.h"

namespace lumivex::ui {

namespace {
constexpr int kFlipXBox = 1068;
constexpr int kFlipYBox = 1069;
constexpr int kFlipDoButton = 1070;

uint8_t Flag(int state) {
  return state != 0 ? 1 : 0;
}
}  // namespace

CFlipPage::CFlipPage(CDialog* owner) : CDialog(templ::kFlipPage, owner) {
  OnClicked(connection::kConnectButtonId, [this] { OnUartOpen(); });
  OnClicked(kFlipXBox, [this] { OnFlipX(); });
  OnClicked(kFlipYBox, [this] { OnFlipY(); });
  OnClicked(kFlipDoButton, [this] { OnFlipDo(); });
}

void CFlipPage::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Check(pDX, kFlipXBox, m_flipX);
  DDX_Check(pDX, kFlipYBox, m_flipY);
}

bool CFlipPage::OnInitDialog() {
  // The base initialisation puts the remembered ticks back into the boxes.
  CDialog::OnInitDialog();
  TranslateWindow(*this);
  // The connection may have been made or closed on another page since this one was shown.
  SetDlgItemText(connection::kConnectButtonId,
                 settings::Translate(connection::IsConnected() ? key::kUartClose : key::kUartOpen));
  return true;
}

bool CFlipPage::PreTranslateMessage(const InputMessage& message) {
  // The page never closes itself and never presses a button from the keyboard.
  if (IsEscapeOrReturnKeyDown(message)) return true;
  return CDialog::PreTranslateMessage(message);
}

void CFlipPage::OnUartOpen() {
  board::ToggleConnection(*this);
}

void CFlipPage::OnFlipX() {
  m_flipX = static_cast<int>(IsDlgButtonChecked(kFlipXBox));
}

void CFlipPage::OnFlipY() {
  m_flipY = static_cast<int>(IsDlgButtonChecked(kFlipYBox));
}

void CFlipPage::OnFlipDo() {
  board::SetFlip(Flag(m_flipX), Flag(m_flipY));
}

}  // namespace lumivex::ui
