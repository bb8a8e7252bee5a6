#include "ui/about_dialog.h"

namespace lumivex::ui {

// Its texts are shown as the template holds them: they do not pass through the language table.
CAboutDialog::CAboutDialog(CDialog* owner) : CDialog(templ::kAbout, owner) {}

}  // namespace lumivex::ui
