// The flip page: mirrors the projected image in x and in y. Both choices are sent together
// when the user applies them; the page keeps no record of what the board does. GUI thread only.
#pragma once

#include "ui/framework/dialog.h"

namespace lumivex::ui {

class CFlipPage : public CDialog {
 public:
  explicit CFlipPage(CDialog* owner = nullptr);

  bool OnInitDialog() override;
  bool PreTranslateMessage(const InputMessage& message) override;
  void DoDataExchange(CDataExchange* pDX) override;

 private:
  void OnUartOpen();
  void OnFlipX();
  void OnFlipY();
  // Sends both flags. No port test and no message: a closed port or a refusal ends silently.
  void OnFlipDo();

  int m_flipX = 0;
  int m_flipY = 0;
};

}  // namespace lumivex::ui
