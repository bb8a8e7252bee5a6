#include "ui/framework/input_gate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace lumivex::ui {

namespace {

constexpr char kPressedWhileBlocked[] = "lumivexPressedWhileBlocked";
constexpr char kUsableWhileBlocked[] = "lumivexUsableWhileBlocked";

// An accessibility press clicks 100 ms after it pressed; a mark older than this belongs to a
// press that never clicked (the mouse went down before the gate closed and up while it was).
constexpr qint64 kPressMarkLifeMs = 1000;

int BlockDepth = 0;

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
      return true;
    default:
      return false;
  }
}

bool IsUsableWhileBlocked(QObject* target) {
  QWidget* widget = qobject_cast<QWidget*>(target);
  if (widget == nullptr) {
    if (auto* window = qobject_cast<QWindow*>(target)) {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->windowHandle() == window) {
          widget = top;
          break;
        }
      }
    }
  }
  if (widget == nullptr) return false;
  // A box that comes up meanwhile (the upgrade worker's outcome) must be dismissable, or the
  // command that ended under it could never hand back: its buttons only close it.
  QWidget* window = widget->window();
  return window->property(kUsableWhileBlocked).toBool() ||
         qobject_cast<QDialog*>(window) != nullptr;
}

// Sees every event of the program before its target does.
class InputSwallower : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (BlockDepth == 0 || !IsUserInput(event->type())) return false;
    return !IsUsableWhileBlocked(watched);
  }
};

void InstallSwallower() {
  static QObject* swallower = nullptr;
  if (swallower != nullptr || qApp == nullptr) return;
  swallower = new InputSwallower(qApp);
  qApp->installEventFilter(swallower);
}

}  // namespace

ScopedInputBlock::ScopedInputBlock() {
  InstallSwallower();
  ++BlockDepth;
}

ScopedInputBlock::~ScopedInputBlock() {
  if (--BlockDepth > 0) return;
  // A button still down was pressed while the gate was closed (the mouse and keys cannot press
  // one then): its click, due after the gate opens, belongs to the blocked time.
  for (QWidget* widget : QApplication::allWidgets()) {
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (button != nullptr && button->isDown())
      button->setProperty(kPressedWhileBlocked, QDateTime::currentMSecsSinceEpoch());
  }
}

bool IsInputBlocked() {
  return BlockDepth > 0;
}

bool DropControlNotification(NativeWindow control) {
  if (control != nullptr) {
    const QVariant mark = control->property(kPressedWhileBlocked);
    if (mark.isValid()) {
      control->setProperty(kPressedWhileBlocked, QVariant());
      if (QDateTime::currentMSecsSinceEpoch() - mark.toLongLong() < kPressMarkLifeMs) return true;
    }
  }
  return IsInputBlocked();
}

void KeepUsableWhileBlocked(NativeWindow window) {
  window->setProperty(kUsableWhileBlocked, true);
}

}  // namespace lumivex::ui
