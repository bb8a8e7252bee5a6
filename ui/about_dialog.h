// The About box: product name, version and a notice, closed by its OK button.
#pragma once

#include "ui/framework/dialog.h"

namespace lumivex::ui {

class CAboutDialog : public CDialog {
 public:
  explicit CAboutDialog(CDialog* owner = nullptr);
};

}  // namespace lumivex::ui
