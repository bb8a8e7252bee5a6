// The dialog font and its base units under Qt.
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>

#include "ui/framework/dialog_units.h"
#include "ui/framework/qt/controls_qt.h"

namespace lumivex::ui {

namespace {
constexpr int kDialogPointSize = 9;
constexpr char kChineseFace[] = "Noto Sans CJK SC";
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

}  // namespace lumivex::ui
