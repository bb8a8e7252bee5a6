#include "ui/framework/dialog_units.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

namespace lumivex::ui {

namespace {
constexpr int kDialogPointSize = 9;
constexpr char kChineseFace[] = "Noto Sans CJK SC";

// Rounds a * b / c to the nearest integer, halves away from zero, as dialog geometry always has.
int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}
}  // namespace

QFont DialogFont() {
  if (QFontDatabase::hasFamily(QString::fromUtf8(kChineseFace))) {
    QFont font(QString::fromUtf8(kChineseFace), kDialogPointSize);
    return font;
  }
  QFont font = QApplication::font();
  font.setPointSize(kDialogPointSize);
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  // The average width of the Latin letters, the measure that dialog units have always used.
  static const QString letters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const QFontMetrics metrics(font);
  DialogBaseUnits base;
  base.x = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
  base.y = metrics.height();
  if (base.x < 1) base.x = 1;
  if (base.y < 1) base.y = 1;
  return base;
}

DialogBaseUnits DialogUnits() {
  static const DialogBaseUnits base = BaseUnitsOf(DialogFont());
  return base;
}

QRect MapDialogRect(const QRect& dialogUnits, DialogBaseUnits base) {
  const int left = MulDiv(dialogUnits.x(), base.x, 4);
  const int top = MulDiv(dialogUnits.y(), base.y, 8);
  const int right = MulDiv(dialogUnits.x() + dialogUnits.width(), base.x, 4);
  const int bottom = MulDiv(dialogUnits.y() + dialogUnits.height(), base.y, 8);
  return QRect(left, top, right - left, bottom - top);
}

QSize MapDialogSize(int width, int height, DialogBaseUnits base) {
  return QSize(MulDiv(width, base.x, 4), MulDiv(height, base.y, 8));
}

}  // namespace lumivex::ui
