// lumivex-page-screenshots: renders the main window showing each of the temperature, system,
// input source and flip pages (the temperature page in both layouts) to PNG files, in English,
// on Qt's offscreen platform.
//   lumivex-page-screenshots [output folder]   (default: "screenshots" beside the bin folder)
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

#include "settings/language.h"
#include "settings/settings.h"
#include "tests/ui_pages/one_shot_flags.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/main_dialog.h"

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct Shot {
  const char* file;
  const char* settings;
  // Texts shown in place of values the board would report: the widest the fields hold.
  std::vector<std::pair<int, const char*>> texts;
};

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setFont(lumivex::ui::DialogFont());
  using namespace lumivex;

  const QString programDir = QString::fromStdString(settings::GetProgramDirectory());
  const QString output =
      argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir(programDir).filePath("../screenshots");
  QTemporaryDir work;
  if (!QDir().mkpath(output) || !work.isValid()) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(output));
    return 1;
  }
  QDir::setCurrent(work.path());

  QTemporaryDir program;
  QDir(program.path()).mkpath("Language");
  QFile::copy(QDir(programDir).filePath("Language/English.lang"),
              QDir(program.path()).filePath("Language/English.lang"));
  WriteFile(QDir(program.path()).filePath("Config.ini"), "[themes]\nSolution=English\n");
  settings::LoadLanguage(program.path().toStdString() + "/");

  const Shot shots[] = {
      {"en-temperature-full.png",
       "[dialog]\ndlg3=true\n[led]\nr=true\ng=true\nb=true\n",
       {{1013, "-12"}, {1014, "----"}, {1015, "105"}, {1017, "-100"}}},
      {"en-temperature-single.png", "[dialog]\ndlg3=true\n[led]\ng=true\n", {{1034, "-27"}}},
      {"en-system.png", "[dialog]\ndlg5=true\n", {}},
      {"en-input-source.png", "[dialog]\ndlg2=true\n", {}},
      {"en-flip.png", "[dialog]\ndlg4=true\n", {}},
  };
  bool ok = true;
  for (const Shot& shot : shots) {
    ui::TemperatureLayoutPending = true;
    ui::TemperatureAutoReadPending = true;
    ui::InputSourceListPending = true;
    WriteFile(QDir(work.path()).filePath("Lumivex.ini"), shot.settings);
    ui::CMainDialog dialog;
    dialog.CreateAsWindow();
    for (const auto& [id, text] : shot.texts) dialog.m_temperaturePage.SetDlgItemText(id, text);
    QApplication::processEvents();
    const QString path = QDir(output).filePath(shot.file);
    if (dialog.grab().save(path)) {
      std::printf("%s\n", qPrintable(path));
    } else {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ok = false;
    }
    dialog.EndDialog(ui::kIdCancel);
  }
  return ok ? 0 : 1;
}
