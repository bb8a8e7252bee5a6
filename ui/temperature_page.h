// The temperature page: LED and board temperatures, in four fields (red, green and blue LED and
// the board) or in one, as the "led" section of the settings file declares the LED colours.
// GUI thread only.
#pragma once

#include "ui/framework/dialog.h"

namespace lumivex::ui {

class CTemperaturePage : public CDialog {
 public:
  explicit CTemperaturePage(CDialog* owner = nullptr);

  // Chooses the layout at the first showing, re-captions the connect button, and reads the
  // temperatures at the first showing that finds a connection.
  bool OnInitDialog() override;
  bool PreTranslateMessage(const InputMessage& message) override;

  // Asks the board for its temperatures and shows them; "WarningUart.NotOpen" while not
  // connected. Blocks the GUI thread until the board has answered or the waits have run out
  // (about 7.3 s for a silent board).
  void ReadAndShowTemperatures();

 private:
  void OnUartOpen();
};

}  // namespace lumivex::ui
