// The desktop under Qt: the application object, the clipboard and the file chooser.
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>

#include "ui/framework/dialog.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/framework/shell.h"

namespace lumivex::ui {

QIcon ApplicationIcon() {
  EnsureQtResources();
  return QIcon(QStringLiteral(":/lumivex/lumivex.png"));
}

int RunApplication(int argc, char** argv, const std::function<void()>& run) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lumivex"));
  QApplication::setFont(DialogFont());
  QApplication::setWindowIcon(ApplicationIcon());
  run();
  return 0;
}

void SetClipboardText(const std::string& text) {
  QApplication::clipboard()->setText(QString::fromStdString(text));
}

std::optional<std::string> AskSaveFileName(CDialog& owner, const std::string& title,
                                           const std::string& suggestedName,
                                           const std::string& filterName,
                                           const std::string& pattern) {
  const QString path = QFileDialog::getSaveFileName(
      &owner, QString::fromStdString(title), QString::fromStdString(suggestedName),
      QString::fromStdString(filterName + " (" + pattern + ")"));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

}  // namespace lumivex::ui
