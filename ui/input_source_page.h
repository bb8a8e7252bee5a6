// The input source page: switches the board's video input between HDMI and VGA. The board's
// current input is never read back; the page only sends the user's choice. GUI thread only.
#pragma once

#include "ui/framework/dialog.h"

namespace lumivex::ui {

class CInputSourcePage : public CDialog {
 public:
  explicit CInputSourcePage(CDialog* owner = nullptr);

  // Fills the list at the first showing; later showings keep its entries and the selection.
  bool OnInitDialog() override;
  bool PreTranslateMessage(const InputMessage& message) override;
  void DoDataExchange(CDataExchange* pDX) override;

 private:
  void OnUartOpen();
  // Sends the selected input; "WarningUart.NotOpen" while not connected. The board's answer
  // is not reported.
  void OnConfirm();

  CComboBox m_inputSourceCombo;
};

}  // namespace lumivex::ui
