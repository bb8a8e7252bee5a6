// The Qt backend of the message boxes and of the toolkit's own translations.
#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTranslator>
#include <utility>

#include "ui/framework/dialog.h"
#include "ui/framework/message_presenter.h"
#include "ui/framework/qt/controls_qt.h"
#include "ui/framework/shell.h"

namespace lumivex::ui {

void ModalMessagePresenter::Show(CDialog& owner, const std::string& text,
                                 const std::string& title) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok, owner.window());
  // Texts come from language files and the board's world; never interpret them as markup.
  box.setTextFormat(Qt::PlainText);
  // Some styles put an icon on standard buttons; a box of this program shows none.
  for (QAbstractButton* button : box.buttons()) button->setIcon(QIcon());
  box.exec();
}

std::string QtLocaleForLanguage(const std::string& languageName) {
  // The names under which language files are usually shipped, and Qt's names for them.
  static const std::pair<const char*, const char*> kKnown[] = {
      {"SimplifiedChinese", "zh_CN"},
      {"TraditionalChinese", "zh_TW"},
      {"Chinese", "zh_CN"},
      {"German", "de"},
      {"French", "fr"},
      {"Spanish", "es"},
      {"Italian", "it"},
      {"Japanese", "ja"},
      {"Korean", "ko"},
      {"Russian", "ru"},
      {"Portuguese", "pt_BR"},
      {"Polish", "pl"},
      {"Czech", "cs"},
      {"Dutch", "nl"},
      {"Turkish", "tr"},
      {"Ukrainian", "uk"},
      {"Hungarian", "hu"},
      {"Danish", "da"},
      {"Finnish", "fi"},
  };
  for (const auto& [name, locale] : kKnown) {
    if (languageName == name) return locale;
  }
  // A file named after its locale ("de", "pt_BR") needs no table.
  static const QRegularExpression kLocaleName(QStringLiteral("^[a-z]{2,3}(_[A-Z]{2})?$"));
  const QString name = QString::fromStdString(languageName);
  if (kLocaleName.match(name).hasMatch() && !name.startsWith(QLatin1String("en"))) {
    return languageName;
  }
  return std::string();
}

bool LoadToolkitTranslation(const std::string& languageFilePath,
                            const std::string& programDirectory) {
  if (!qApp) return false;
  const std::string locale = QtLocaleForLanguage(
      QFileInfo(QString::fromStdString(languageFilePath)).completeBaseName().toStdString());
  if (locale.empty()) return false;
  const QString file = QStringLiteral("qtbase_") + QString::fromStdString(locale);
  const QString folders[] = {
      QString::fromStdString(programDirectory) + QStringLiteral("translations"),
      QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  for (const QString& folder : folders) {
    auto* translator = new QTranslator(qApp);
    if (translator->load(file, folder) && QCoreApplication::installTranslator(translator)) {
      return true;
    }
    delete translator;
  }
  return false;
}

}  // namespace lumivex::ui
