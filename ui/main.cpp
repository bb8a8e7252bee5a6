// The Lumivex control panel.
#include "ui/app.h"
#include "ui/framework/shell.h"

int main(int argc, char* argv[]) {
  return lumivex::ui::RunApplication(argc, argv, [] { lumivex::ui::theApp.InitInstance(); });
}
