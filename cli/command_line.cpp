#include "cli/command_line.h"

#include <array>
#include <string_view>

namespace {

struct CommandName {
    std::string_view name;
    Command command;
};
constexpr std::array<CommandName, 3> kCommands{{
    {"list", Command::List},
    {"status", Command::Status},
    {"update", Command::Update},
}};

std::optional<Command> FindCommand(std::string_view name) {
    for (const CommandName& c : kCommands)
        if (c.name == name) return c.command;
    return std::nullopt;
}

ParsedCommandLine Error(std::string text, Command usageOf) { return {std::nullopt, std::move(text), usageOf}; }

// Splits "--name=value"; nullopt when the argument carries no "=".
std::optional<std::string> InlineValue(std::string& argument) {
    const std::size_t equals = argument.find('=');
    if (!argument.starts_with("--") || equals == std::string::npos) return std::nullopt;
    std::string value = argument.substr(equals + 1);
    argument.resize(equals);
    return value;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return Error("no command given", Command::Help);
    const std::string& first = arguments.front();
    if (first == "--help" || first == "-h" || first == "help") {
        if (arguments.size() > 2) return Error("too many arguments", Command::Help);
        CommandLine line;
        if (arguments.size() == 2) {
            const std::optional<Command> command = FindCommand(arguments[1]);
            if (!command || first != "help") return Error("unknown command \"" + arguments[1] + "\"", Command::Help);
            line.helpFor = *command;
        }
        return {line, {}, Command::Help};
    }
    if (first == "--version" || first == "-V") {
        if (arguments.size() > 1) return Error("--version takes no arguments", Command::Help);
        CommandLine line;
        line.command = Command::Version;
        return {line, {}, Command::Help};
    }
    const std::optional<Command> command = FindCommand(first);
    if (!command) {
        if (first.starts_with("-")) return Error("unknown option " + first, Command::Help);
        return Error("unknown command \"" + first + "\"", Command::Help);
    }

    CommandLine line;
    line.command = *command;
    bool packageGiven = false, monitorGiven = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.helpFor = *command;
            line.command = Command::Help;
            return {line, {}, Command::Help};
        }
        std::optional<std::string> value = InlineValue(argument);
        const bool update = *command == Command::Update;
        if (argument == "--json" && !value) {
            line.json = true;
        } else if (update && (argument == "--yes" || argument == "-y") && !value) {
            line.yes = true;
        } else if (update && (argument == "--package" || argument == "--monitor")) {
            bool& given = argument == "--package" ? packageGiven : monitorGiven;
            if (given) return Error(argument + " given twice", *command);
            given = true;
            if (!value) {
                if (i + 1 == arguments.size()) return Error(argument + " needs a value", *command);
                value = arguments[++i];
            }
            if (value->empty()) return Error(argument + " needs a value", *command);
            (argument == "--package" ? line.package : line.monitor) = *value;
        } else if (argument.starts_with("-")) {
            return Error("unknown option " + argument + " for " + first, *command);
        } else {
            return Error("unexpected argument \"" + argument + "\"", *command);
        }
    }
    return {line, {}, *command};
}

std::string UsageLine(Command command) {
    switch (command) {
        case Command::List:
            return "usage: quillon-cli list [--json]";
        case Command::Status:
            return "usage: quillon-cli status [--json]";
        case Command::Update:
            return "usage: quillon-cli update [--package FILE] [--monitor SERIAL] [--yes] [--json]";
        default:
            return "usage: quillon-cli {list|status|update} [OPTIONS] | --help | --version";
    }
}

std::string HelpText(Command command) {
    switch (command) {
        case Command::List:
            return UsageLine(command) +
                   "\n\nLists the maker's monitors connected, a monitor waiting in an interrupted update too.\n"
                   "While an update runs, says which, and opens no monitor.\n\n"
                   "  --json   one object: {\"monitors\":[{\"model\",\"serial\",\"version\",\"state\",\"device\"}]},\n"
                   "           state \"running\" or \"in-update\"\n";
        case Command::Status:
            return UsageLine(command) +
                   "\n\nSays whether an interrupted update is recorded beside the executable, for which\n"
                   "monitor and at which stage. Changes nothing.\n\n"
                   "  --json   one object: {\"interrupted\":false} or {\"interrupted\":true,\"model\",\"serial\",\n"
                   "           \"currentVersion\",\"targetVersion\",\"stage\",\"step\"}\n";
        case Command::Update:
            return UsageLine(command) +
                   "\n\nUpdates one monitor as the window does: the same checks, messages, backup file and\n"
                   "resumption of an interrupted update, and the maker's programs closed and started again.\n\n"
                   "  --package FILE    the firmware package (default: the .vfw file beside the executable)\n"
                   "  --monitor SERIAL  the monitor to update (default: the only one connected, or the one an\n"
                   "                    interrupted update names)\n"
                   "  --yes, -y         update without asking (needed without a terminal)\n"
                   "  --json            progress and result as one JSON object per line\n\n"
                   "Exit codes: 0 updated, 1 failed or refused, 2 bad usage, 3 nothing to do.\n"
                   "Once the update has begun, Ctrl-C, Ctrl-\\, Ctrl-Z, SIGTERM, SIGHUP, SIGTTIN and\n"
                   "SIGTTOU are refused until it ends; before it, Ctrl-Z suspends the run as usual.\n"
                   "Each run keeps a log in $XDG_STATE_HOME/quillon (~/.local/state/quillon);\n"
                   "a failure names its file.\n";
        default:
            return UsageLine(command) +
                   "\n\nThe Quillon monitor firmware updater for terminals and scripts.\n\n"
                   "  list      the maker's monitors connected\n"
                   "  status    whether an interrupted update is recorded\n"
                   "  update    update one monitor\n\n"
                   "quillon-cli COMMAND --help tells more. --version prints the version.\n";
    }
}
