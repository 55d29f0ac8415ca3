#pragma once
// vfwtool as a function: main() passes its arguments (without the program
// name) and the standard streams; tests pass their own.
#include <ostream>
#include <span>
#include <string>

// Returns the exit code: 0 success, 1 a bad input file or an output that
// cannot be written, 2 a wrong command line.
int RunVfwtool(std::span<const std::string> args, std::ostream& out, std::ostream& err);
