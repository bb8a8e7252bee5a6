// The Lumivex control panel.
#include <QApplication>

#include "ui/app.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lumivex"));
  lumivex::ui::theApp.InitInstance();
  return 0;
}
