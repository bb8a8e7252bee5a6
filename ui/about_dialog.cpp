#include "ui/about_dialog.h"

namespace lumivex::ui {

// Its texts are shown as the template holds them: they do not pass through the language table.
CAboutDialog::CAboutDialog(QWidget* parent) : CDialog(templ::kAbout, parent) {}

}  // namespace lumivex::ui
