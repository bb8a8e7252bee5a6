#include <iostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "tools/ctl/ctl.h"

int main(int argc, char** argv) {
  lumivex::platform::EnableUtf8Console();
  lumivex::platform::EnablePreciseTimers();
  lumivex::settings::LoadLanguage(lumivex::settings::GetProgramDirectory());
  const std::vector<std::string> args(argv + 1, argv + argc);
  return lumivex::ctl::Run(args, std::cout, std::cerr);
}
