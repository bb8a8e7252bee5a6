#include "ui/translate_window.h"

#include <cstring>

#include "settings/language.h"
#include "ui/framework/dialog.h"

namespace lumivex::ui {

namespace {
// Controls bound to these classes hold data (a current value, a file name), not captions.
bool HoldsData(const char* boundClass) {
  if (!boundClass) return false;
  for (const char* name : {"CEdit", "CIPAddressCtrl", "CKelvaron"}) {
    if (std::strcmp(boundClass, name) == 0) return true;
  }
  return false;
}
}  // namespace

void TranslateWindow(CDialog& window) {
  const DialogTemplate* templ = window.Template();
  if (!templ) return;
  if (!templ->caption.empty()) window.SetWindowText(settings::Translate(templ->caption));
  for (const ControlSlot& slot : window.Controls()) {
    if (HoldsData(slot.boundClass)) continue;
    // Translated from the template's key every time: a translated text looked up again as a
    // key would lose everything up to its first "." at each showing.
    CDialog::SetControlText(slot.widget, settings::Translate(slot.tmpl->caption));
  }
}

}  // namespace lumivex::ui
