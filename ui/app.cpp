#include "ui/app.h"

#include <QApplication>

#include "settings/language.h"
#include "settings/settings.h"
#include "ui/framework/dialog_template.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/message_presenter.h"
#include "ui/main_dialog.h"

namespace lumivex::ui {

CControlApp theApp;

QIcon ApplicationIcon() {
  // Registers the compiled-in resources, the icon among them.
  FindDialogTemplate(templ::kMain);
  return QIcon(QStringLiteral(":/lumivex/lumivex.png"));
}

bool CControlApp::InitInstance() {
  QApplication::setFont(DialogFont());
  QApplication::setWindowIcon(ApplicationIcon());
  settings::LoadLanguage(settings::GetProgramDirectory());
  LoadQtTranslation(settings::LanguageFilePath, settings::GetProgramDirectory());

  CMainDialog dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  return false;
}

}  // namespace lumivex::ui
