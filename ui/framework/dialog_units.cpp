#include "ui/framework/dialog_units.h"

namespace lumivex::ui {

namespace {
// Rounds a * b / c to the nearest integer, halves away from zero, as dialog geometry always has.
int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}
}  // namespace

Rect MapDialogRect(const Rect& dialogUnits, DialogBaseUnits base) {
  const int left = MulDiv(dialogUnits.x, base.x, 4);
  const int top = MulDiv(dialogUnits.y, base.y, 8);
  const int right = MulDiv(dialogUnits.x + dialogUnits.width, base.x, 4);
  const int bottom = MulDiv(dialogUnits.y + dialogUnits.height, base.y, 8);
  return Rect{left, top, right - left, bottom - top};
}

Size MapDialogSize(int width, int height, DialogBaseUnits base) {
  return Size{MulDiv(width, base.x, 4), MulDiv(height, base.y, 8)};
}

}  // namespace lumivex::ui
