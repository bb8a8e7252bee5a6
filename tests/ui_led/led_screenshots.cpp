// lumivex-led-screenshots: renders the main window showing the LED page once for each
// arrangement that the "led" section can give, in English, to PNG files.
//   lumivex-led-screenshots [output folder]   (default: "led-screenshots" beside the bin folder)
// The arrangement is chosen once per process, so each one is rendered in a child process.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "settings/language.h"
#include "settings/settings.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/main_dialog.h"

namespace {

struct Arrangement {
  const char* name;
  const char* led;  // the "led" section's lines
};

const Arrangement kArrangements[] = {
    {"only-r", "r=true\n"},
    {"rgb", "r=true\ng=true\nb=true\n"},
    {"r-and-b", "r=true\nb=true\n"},
    {"none", ""},
};

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int Render(int argc, char* argv[], const QString& output, const Arrangement& arrangement) {
  QApplication application(argc, argv);
  QApplication::setFont(lumivex::ui::DialogFont());
  using namespace lumivex;

  const QString programDir = QString::fromStdString(settings::GetProgramDirectory());
  QTemporaryDir work;
  QTemporaryDir languageDir;
  if (!work.isValid() || !languageDir.isValid()) return 1;
  QDir::setCurrent(work.path());
  WriteFile(work.filePath("Lumivex.ini"),
            QByteArray("[dialog]\ndlg1=true\n[led]\n") + arrangement.led);
  QDir(languageDir.path()).mkpath("Language");
  if (!QFile::copy(QDir(programDir).filePath("Language/English.lang"),
                   languageDir.filePath("Language/English.lang"))) {
    std::fprintf(stderr, "no English.lang in %sLanguage\n", qPrintable(programDir));
    return 1;
  }
  WriteFile(languageDir.filePath("Config.ini"), "[themes]\nSolution=English\n");
  settings::LoadLanguage(languageDir.path().toStdString() + "/");

  ui::CMainDialog dialog;
  dialog.CreateAsWindow();
  QApplication::processEvents();
  const QString path = QStringLiteral("%1/led-%2.png").arg(output, QLatin1String(arrangement.name));
  if (!dialog.grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return 1;
  }
  std::printf("%s\n", qPrintable(path));
  dialog.EndDialog(ui::kIdCancel);
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QString output =
      argc > 1 ? QString::fromLocal8Bit(argv[1])
               : QDir(QString::fromStdString(lumivex::settings::GetProgramDirectory()))
                     .filePath("../led-screenshots");
  if (!QDir().mkpath(output)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(output));
    return 1;
  }
  int failures = 0;
  for (const Arrangement& arrangement : kArrangements) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      const int result = Render(argc, argv, output, arrangement);
      std::fflush(stdout);
      _exit(result);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
