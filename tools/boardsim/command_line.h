// The command line of lumivex-boardsim, parsed apart from main() so that it can be tested.
#pragma once

#include <string>
#include <vector>

#include "tools/boardsim/board.h"

namespace lumivex::boardsim {

struct CommandLine {
  BoardOptions options;
  int comNumber = SimulatedBoard::kFirstFreeCom;
  bool help = false;
};

// False with error set for an unknown option, a missing value or a value out of range.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

std::string Usage();

}  // namespace lumivex::boardsim
