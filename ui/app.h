// The application object: prepares the language, then runs the main window until it closes.
#pragma once

namespace lumivex::ui {

class CMainDialog;

class CControlApp {
 public:
  // Start-up: program directory, language choice, then the main window, modally. Returns false
  // so that the program ends when the main window closes. Runs inside RunApplication.
  bool InitInstance();
  // The main window while it runs, else nullptr. GUI thread; a worker reads it only while the
  // main window runs, which outlasts every worker.
  CMainDialog* MainDialog() const { return m_pMainWnd; }

 private:
  CMainDialog* m_pMainWnd = nullptr;
};

extern CControlApp theApp;

}  // namespace lumivex::ui
