// Translating a window's captions through the language table.
#pragma once

namespace lumivex::ui {

class CDialog;

// Sets the window's caption (when its template gives one) and the caption of each of its
// direct template controls to the translation of the control's template caption. Captions are
// translated from the template, never from the text shown, so a window translated at every
// showing keeps its captions, while an edited language file shows at the next showing. Edit
// boxes bound to a CEdit hold data, not captions, and are left alone. GUI thread only.
void TranslateWindow(CDialog& window);

}  // namespace lumivex::ui
