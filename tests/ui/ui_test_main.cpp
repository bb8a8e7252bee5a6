// Test main of the GUI tests: Qt's offscreen platform unless told otherwise, one application.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/framework/qt/controls_qt.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setFont(lumivex::ui::DialogFont());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
