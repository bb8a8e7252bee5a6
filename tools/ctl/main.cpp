#include <iostream>
#include <string>
#include <vector>

#include "settings/language.h"
#include "settings/settings.h"
#include "tools/ctl/ctl.h"

int main(int argc, char** argv) {
  lumivex::settings::LoadLanguage(lumivex::settings::GetProgramDirectory());
  const std::vector<std::string> args(argv + 1, argv + argc);
  return lumivex::ctl::Run(args, std::cout, std::cerr);
}
