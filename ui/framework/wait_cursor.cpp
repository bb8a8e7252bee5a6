#include "ui/framework/wait_cursor.h"

#include <QApplication>
#include <QCursor>

namespace lumivex::ui {

CWaitCursor::CWaitCursor() {
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

CWaitCursor::~CWaitCursor() {
  QApplication::restoreOverrideCursor();
}

}  // namespace lumivex::ui
