// The quillet program as the program tests run it, through the shared process runner.
#pragma once

#include <string>
#include <vector>

#include "process.h"

namespace quillet::testing {

using pixeltools::testing::Command;
using pixeltools::testing::Process;
using pixeltools::testing::ProcessResult;
using pixeltools::testing::RunProcess;

// The program with these arguments, in the test's current directory, nothing on standard input.
inline Command QuilletCommand(const std::vector<std::string>& args) {
  Command command;
  command.argv = {QUILLET_PROGRAM};
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  return command;
}

}  // namespace quillet::testing
