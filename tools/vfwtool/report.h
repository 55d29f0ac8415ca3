#pragma once
// Exit codes and the one-line error messages of every command.
#include <ostream>
#include <string>
#include <string_view>

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadFile = 1;  // an input file that is not what the command needs, or an output that fails
inline constexpr int kExitUsage = 2;    // a command line that is wrong in itself

// Writes "vfwtool: message (see vfwtool --help)" and returns kExitUsage.
int UsageError(std::ostream& err, std::string_view message);
// Writes "path: fault" and returns kExitBadFile.
int FileError(std::ostream& err, std::string_view path, std::string_view fault);

// The text with control characters written as \xNN: fault texts can carry
// bytes from a hostile file, and a message must stay on one line.
std::string OneLine(std::string_view text);
// Also writes bytes >= 0x80 as \xNN, for texts shown in a table on a terminal.
std::string Printable(std::string_view text);
