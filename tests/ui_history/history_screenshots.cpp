// lumivex-history-screenshots: renders the temperature history window holding ten minutes of
// readings with a silent minute and a limit, in English and in Chinese, to PNG files.
//   lumivex-history-screenshots [output folder]   (default: "screenshots" beside the bin folder)
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "settings/language.h"
#include "settings/settings.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/temperature_history_window.h"

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setFont(lumivex::ui::DialogFont());
  using namespace lumivex;
  using namespace std::chrono_literals;

  const QString programDir = QString::fromStdString(settings::GetProgramDirectory());
  const QString output = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                  : (argc > 1 ? QString::fromLocal8Bit(argv[1])
                                              : QDir(programDir).filePath("../screenshots"));
  // The language is chosen once a run: each language is a run of its own.
  const QString language = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
  if (language.isEmpty()) {
    int status = 0;
    for (const char* name : {"English", "SimplifiedChinese"}) {
      status |= QProcess::execute(QString::fromLocal8Bit(argv[0]),
                                  {QStringLiteral("--"), output, QString::fromLatin1(name)});
    }
    return status;
  }
  QTemporaryDir program;
  QDir(program.path()).mkpath("Language");
  QFile::copy(QDir(programDir).filePath("Language/" + language + ".lang"),
              QDir(program.path()).filePath("Language/" + language + ".lang"));
  QFile config(QDir(program.path()).filePath("Config.ini"));
  if (!QDir().mkpath(output) || !config.open(QIODevice::WriteOnly)) return 1;
  config.write("[themes]\nSolution=" + language.toUtf8() + "\n");
  config.close();
  settings::LoadLanguage(program.path().toStdString() + "/");

  ui::CTemperatureHistoryWindow window;
  window.Open(nullptr);
  window.OnCancel();  // fed here, not by a board
  window.show();
  const board::SteadyTime t0 = std::chrono::steady_clock::now();
  const board::WallTime wall0 = std::chrono::system_clock::now();
  for (int i = 0; i <= 120; ++i) {
    const double minute = i * 5 / 60.0;
    board::TemperatureReading r;
    if (minute < 4.0 || minute > 5.0) {
      r.red = static_cast<int16_t>(40 + 35 * i / 120);
      r.green = static_cast<int16_t>(35 + 20 * i / 120);
      r.blue = static_cast<int16_t>(33 + 10 * i / 120);
      r.board = 38;
      r.answered = true;
    }
    window.RecordReading(r, t0 + i * 5s, wall0 + i * 5s);
  }
  window.SetLimit(65);
  QApplication::processEvents();
  const QString path = QDir(output).filePath(language == "English" ? "en-temperature-history.png"
                                                                   : "zh-temperature-history.png");
  if (!window.grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return 1;
  }
  std::printf("%s\n", qPrintable(path));
  return 0;
}
