#pragma once
// quillon-cli's command line: the command, its options, and the usage texts.
#include <optional>
#include <string>
#include <vector>

enum class Command { Help, Version, List, Status, Update, History };

struct CommandLine {
    Command command = Command::Help;
    // For Help: the command whose help was asked for (Help itself: the program's).
    Command helpFor = Command::Help;
    bool json = false;
    bool yes = false;
    std::string package;  // --package FILE; empty: the one beside the executable
    std::string monitor;  // --monitor SERIAL; empty: decided as the window decides
};

struct ParsedCommandLine {
    std::optional<CommandLine> line;
    std::string error;                // when line is empty: what is wrong, for the user
    Command usageOf = Command::Help;  // whose usage line goes with the error
};

// argv without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// "usage: quillon-cli update [--package FILE] [--monitor SERIAL] [--yes] [--json]"
std::string UsageLine(Command command);
// The whole --help text of a command (Help: the program's).
std::string HelpText(Command command);
