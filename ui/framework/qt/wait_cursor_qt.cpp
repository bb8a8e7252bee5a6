#include <QApplication>
#include <QCursor>

#include "ui/framework/wait_cursor.h"

namespace lumivex::ui {

CWaitCursor::CWaitCursor() {
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

CWaitCursor::~CWaitCursor() {
  QApplication::restoreOverrideCursor();
}

}  // namespace lumivex::ui
