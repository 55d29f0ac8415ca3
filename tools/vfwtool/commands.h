#pragma once
// The commands of vfwtool. Each takes its command line, checked against the
// options it takes and its number of operands (vfwtool.cpp), writes its results
// to `out` and one line to `err` on failure, and returns the exit code (see report.h).
#include <ostream>

#include "common/command_line_options.h"

int RunInfo(const ParsedArguments& line, std::ostream& out, std::ostream& err);
int RunCheck(const ParsedArguments& line, std::ostream& out, std::ostream& err);
int RunCreate(const ParsedArguments& line, std::ostream& out, std::ostream& err);
int RunImage(const ParsedArguments& line, std::ostream& out, std::ostream& err);
int RunExtract(const ParsedArguments& line, std::ostream& out, std::ostream& err);
int RunDecrypt(const ParsedArguments& line, std::ostream& out, std::ostream& err);
