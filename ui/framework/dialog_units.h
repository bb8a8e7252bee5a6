// Dialog units: the template coordinates, which follow the dialog font's character size so a
// template keeps its proportions whatever font the system gives.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace lumivex::ui {

// The font of every dialog: 9 points, a face that can show Chinese ("Noto Sans CJK SC" when
// installed), else the application's default face at 9 points.
QFont DialogFont();

// Average character width and character height of a font, in pixels.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);
// Of DialogFont(); computed once. GUI thread only.
DialogBaseUnits DialogUnits();

// A rectangle in dialog units to pixels: x and widths in quarters of the average character
// width, y and heights in eighths of the character height. Edges are mapped one by one, so
// controls that touch in the template touch on screen.
QRect MapDialogRect(const QRect& dialogUnits, DialogBaseUnits base);
QSize MapDialogSize(int width, int height, DialogBaseUnits base);

}  // namespace lumivex::ui
