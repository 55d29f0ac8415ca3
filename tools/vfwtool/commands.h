#pragma once
// The commands of vfwtool. Each takes the arguments after its name, writes its
// results to `out` and one line to `err` on failure, and returns the exit code
// (see report.h).
#include <ostream>
#include <span>
#include <string>

int RunInfo(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunCheck(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunCreate(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunImage(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunExtract(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunDecrypt(std::span<const std::string> args, std::ostream& out, std::ostream& err);
