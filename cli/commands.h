#pragma once
// quillon-cli's commands; each returns the exit code.
#include <string>
#include <string_view>

#include "cli/cli_io.h"
#include "cli/command_line.h"

// What starts the lines it writes to standard error.
inline constexpr std::string_view kCliName = "quillon-cli";

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNothingToDo = 3;
// A stop signal n before the update began: 128 + n.
inline constexpr int kExitSignalBase = 128;

int ListCommand(const CommandLine& line, CliIo& io);
int StatusCommand(const CommandLine& line, CliIo& io);
int UpdateCommand(const CommandLine& line, CliIo& io);
int HistoryCommand(const CommandLine& line, CliIo& io);

// The folder of the package file (io.packageFolder, or the executable's);
// nullopt, with the message printed, when the executable's path cannot be read.
std::optional<std::string> CommandFolder(CliIo& io);
