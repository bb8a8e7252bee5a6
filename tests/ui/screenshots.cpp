// lumivex-screenshots: renders the main window with each of its pages, and the About box, to
// PNG files, in English and in Chinese, on Qt's offscreen platform.
//   lumivex-screenshots [output folder]   (default: "screenshots" beside the bin folder)
// Each language is rendered by a run of its own (the program re-runs itself with
// --language), since pages keep once-per-run state such as their layout.
// The language files are taken from the program's Language folder; the settings file enables
// every page and all three LED colours, so every control that can show does.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "settings/language.h"
#include "settings/settings.h"
#include "ui/about_dialog.h"
#include "ui/app.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/framework/shell.h"
#include "ui/main_dialog.h"

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool Save(QWidget& window, const QString& path) {
  QApplication::processEvents();
  if (!window.grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setFont(lumivex::ui::DialogFont());
  using namespace lumivex;

  const QString programDir = QString::fromStdString(settings::GetProgramDirectory());
  const QStringList args = QApplication::arguments();
  const qsizetype languageAt = args.indexOf("--language");
  const QString only = languageAt > 0 && languageAt + 1 < args.size() ? args[languageAt + 1] : "";
  const QString output = args.size() > 1 && !args[1].startsWith("--")
                             ? args[1]
                             : QDir(programDir).filePath("../screenshots");
  if (!QDir().mkpath(output)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(output));
    return 1;
  }

  QTemporaryDir work;
  if (!work.isValid()) return 1;
  // The settings file is looked up in the working folder.
  QDir::setCurrent(work.path());
  WriteFile(work.filePath("Lumivex.ini"),
            "[dialog]\ndlg1=true\ndlg2=true\ndlg3=true\ndlg4=true\ndlg5=true\n"
            "[led]\nr=true\ng=true\nb=true\n");

  bool ok = true;
  const struct {
    const char* solution;
    const char* tag;
  } languages[] = {{"English", "en"}, {"SimplifiedChinese", "zh"}};
  if (only.isEmpty()) {
    for (const auto& language : languages) {
      const int status = QProcess::execute(QApplication::applicationFilePath(),
                                           {output, "--language", language.solution});
      ok = status == 0 && ok;
    }
    return ok ? 0 : 1;
  }
  for (const auto& language : languages) {
    if (only != QLatin1String(language.solution)) continue;
    QTemporaryDir dir;
    const QString lang = QString::fromLatin1(language.solution) + ".lang";
    QDir(dir.path()).mkpath("Language");
    if (!QFile::copy(QDir(programDir).filePath("Language/" + lang),
                     QDir(dir.path()).filePath("Language/" + lang))) {
      std::fprintf(stderr, "no %s in %sLanguage\n", qPrintable(lang), qPrintable(programDir));
      ok = false;
    }
    WriteFile(QDir(dir.path()).filePath("Config.ini"),
              QByteArray("[themes]\nSolution=") + language.solution + "\n");
    settings::LoadLanguage(dir.path().toStdString() + "/");
    ui::LoadToolkitTranslation(settings::LanguageFilePath, dir.path().toStdString() + "/");

    ui::CMainDialog dialog;
    dialog.CreateAsWindow();
    QTabBar* bar = static_cast<ui::TabControl*>(dialog.m_tabCtrl.GetSafeWnd())->TabBar();
    static const char* const names[] = {"1", "2", "3", "4", "5"};
    for (int i = 0; i < dialog.TabCount(); ++i) {
      bar->setCurrentIndex(i);
      const QString name = QStringLiteral("%1/%2-tab%3-%4.png")
                               .arg(output, QLatin1String(language.tag), QLatin1String(names[i]),
                                    bar->tabText(i).simplified().replace(' ', '_'));
      ok = Save(dialog, name) && ok;
    }
    ui::CAboutDialog about(&dialog);
    about.CreateAsWindow(&dialog);
    ok = Save(about, QStringLiteral("%1/%2-about.png").arg(output, QLatin1String(language.tag))) &&
         ok;
    about.EndDialog(ui::kIdOk);
    // A message box as the pages show it: its OK button in the panel's language, no icons.
    QTimer grab;
    QObject::connect(&grab, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      grab.stop();
      ok = Save(*box,
                QStringLiteral("%1/%2-message.png").arg(output, QLatin1String(language.tag))) &&
           ok;
      box->accept();
    });
    grab.start(20);
    dialog.MessageBox(settings::Translate("WarningUart.NotOpen"),
                      settings::Translate("WarningUart.Title"));
    dialog.EndDialog(ui::kIdCancel);
  }
  return ok ? 0 : 1;
}
