// Shared set-up of the GUI tests: a private working folder (for "Lumivex.ini") and program
// folder (for "Config.ini" and the language file), removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSize>
#include <QTemporaryDir>
#include <string>

#include "settings/language.h"
#include "ui/framework/dialog.h"

namespace lumivex::ui::test {

inline QSize QSizeOf(Size size) {
  return QSize(size.width, size.height);
}

// A plain window to put dialogs on: a dialog that is never built from a template.
class HostWindow : public CDialog {
 public:
  HostWindow() : CDialog(0) {}
};

class UiFolders {
 public:
  UiFolders() : m_previous(QDir::currentPath()) {
    QDir::setCurrent(m_work.path());
    QDir(m_program.path()).mkpath("Language");
  }
  ~UiFolders() { QDir::setCurrent(m_previous); }

  void WriteSettings(const std::string& text) { Write(m_work.filePath("Lumivex.ini"), text); }
  // Chooses language "Test" with these lines (after "[String]") and loads it.
  void UseLanguage(const std::string& lines) {
    Write(m_program.filePath("Config.ini"), "[themes]\nSolution=Test\n");
    WriteLanguage(lines);
    settings::LoadLanguage(m_program.path().toStdString() + "/");
  }
  void WriteLanguage(const std::string& lines) {
    Write(m_program.filePath("Language/Test.lang"), "[String]\n" + lines);
  }
  // No Config.ini and no language file: every key shows its fallback.
  void UseNoLanguage() { settings::LoadLanguage(m_program.path().toStdString() + "/"); }

 private:
  static void Write(const QString& path, const std::string& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.data(), static_cast<qint64>(text.size()));
  }
  QString m_previous;
  QTemporaryDir m_work;
  QTemporaryDir m_program;
};

}  // namespace lumivex::ui::test
