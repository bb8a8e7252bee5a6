#include "ui/app.h"

#include "board/executor.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "ui/framework/command_worker.h"
#include "ui/framework/shell.h"
#include "ui/main_dialog.h"

namespace lumivex::ui {

CControlApp theApp;

bool CControlApp::InitInstance() {
  settings::LoadLanguage(settings::GetProgramDirectory());
  LoadToolkitTranslation(settings::LanguageFilePath, settings::GetProgramDirectory());

  // Every exchange with the board runs on the worker for as long as the panel runs; the
  // window outlives no command (it closes only once the worker is idle).
  CommandWorker worker;
  board::SetExecutor(&worker);
  {
    CMainDialog dialog;
    dialog.AttachWorker(&worker);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
  }
  board::SetExecutor(nullptr);
  return false;
}

}  // namespace lumivex::ui
