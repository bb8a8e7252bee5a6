// Dialog units: the template coordinates, which follow the dialog font's character size so a
// template keeps its proportions whatever font the system gives. The arithmetic is Windows'
// own (MapDialogRect); the base units come from the backend's dialog font (9 points).
#pragma once

#include "ui/framework/types.h"

namespace lumivex::ui {

// Average character width and character height of the dialog font, in pixels.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};
// Of the dialog font; computed once by the backend. GUI thread only.
DialogBaseUnits DialogUnits();

// A rectangle in dialog units to pixels: x and widths in quarters of the average character
// width, y and heights in eighths of the character height. Edges are mapped one by one, so
// controls that touch in the template touch on screen.
Rect MapDialogRect(const Rect& dialogUnits, DialogBaseUnits base);
Size MapDialogSize(int width, int height, DialogBaseUnits base);

}  // namespace lumivex::ui
