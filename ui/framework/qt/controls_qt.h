// What the Qt backend keeps to itself: the widgets it builds controls from, the dialog font, and
// the helpers its tests and screenshot programs reach for. Nothing outside ui/framework/qt/,
// tests and benches includes this.
#pragma once

#include <QCheckBox>
#include <QFont>
#include <QIcon>
#include <QRadioButton>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "ui/framework/dialog_units.h"
#include "ui/framework/plot_control.h"

class QLineEdit;
class QTabBar;

namespace lumivex::ui {

// The font of every dialog: 9 points, a face that can show Chinese ("Noto Sans CJK SC" when
// installed), else the application's default face at 9 points.
QFont DialogFont();
// Average character width and character height of a font, in pixels.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// The application icon (compiled into the program).
QIcon ApplicationIcon();

// The Qt locale name for a language name ("SimplifiedChinese" gives "zh_CN"); empty for
// English and for names it does not know.
std::string QtLocaleForLanguage(const std::string& languageName);

// Registers the compiled-in resources (the icon); once is enough, more does no harm.
void EnsureQtResources();

// Sets an edit box's text as the program does: a typing limit never refuses or cuts it.
void SetEditText(QLineEdit* edit, const QString& text);

// Check box and radio button with their text on the left, drawn as such a button is on
// Windows: the text starts at the control's left edge, the box sits at its right edge, so the
// texts of buttons stacked above each other line up whatever their lengths. The whole control
// takes the click.
class LeftTextCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;
};

class LeftTextRadioButton : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;
};

// Makes assistive technologies read a drop-down list by its name (the caption of the label
// before it) with its selected entry as the value, as they do for edit boxes and sliders;
// Qt's own list gives its selected entry as its name on Linux. Once per program; GUI thread.
void InstallControlAccessibility();

// The tab control widget: a tab bar over a framed area in which the owner places its pages by
// hand. Pages are its direct children.
class TabControl : public QWidget {
  Q_OBJECT
 public:
  explicit TabControl(QWidget* parent = nullptr);
  QTabBar* TabBar() const { return m_tabBar; }

 signals:
  // The user chose another tab (never emitted for a selection made by the program).
  void selectionChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QTabBar* m_tabBar;
};

// The plot control's widget: paints its model with a QPainter.
class PlotWidget : public QWidget {
  Q_OBJECT
 public:
  explicit PlotWidget(QWidget* parent = nullptr);
  PlotModel& Model() { return m_model; }
  Size ClientSize() const { return Size{width(), height()}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PlotModel m_model;
};

}  // namespace lumivex::ui
