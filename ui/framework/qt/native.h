// Qt backend: a dialog is a QWidget, and so is each of its controls.
#pragma once

#include <QWidget>

namespace lumivex::ui {

using NativeWindow = QWidget*;

// The QWidget a CDialog is: its window-system events go to the dialog's neutral handlers.
class DialogBase : public QWidget {
  Q_OBJECT
 public:
  explicit DialogBase(QWidget* parent = nullptr) : QWidget(parent) {}

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
};

}  // namespace lumivex::ui
