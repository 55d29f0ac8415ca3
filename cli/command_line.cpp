#include "cli/command_line.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

#include "common/command_line_options.h"

namespace {

// Every option of the program, wherever it stands; each command takes some.
constexpr OptionRule kJson{.name = "--json", .takesValue = false, .repeatable = true, .alias = "-j"};
constexpr OptionRule kYes{.name = "--yes", .takesValue = false, .repeatable = true, .alias = "-y"};
constexpr OptionRule kPackage{.name = "--package"};
constexpr OptionRule kMonitor{.name = "--monitor"};
constexpr OptionRule kVersion{.name = "--version", .takesValue = false, .alias = "-V"};
constexpr std::array kOptions{kJson, kYes, kPackage, kMonitor, kVersion};

constexpr std::array kListOptions{kJson};
constexpr std::array kUpdateOptions{kJson, kYes, kPackage, kMonitor};

struct CommandRules {
    std::string_view name;
    Command command;
    std::span<const OptionRule> options;
};
constexpr std::array<CommandRules, 4> kCommands{{
    {"list", Command::List, kListOptions},
    {"status", Command::Status, kListOptions},
    {"update", Command::Update, kUpdateOptions},
    {"history", Command::History, kListOptions},
}};

const CommandRules* FindCommand(std::string_view name) {
    const auto it = std::find_if(kCommands.begin(), kCommands.end(), [&](const CommandRules& c) { return c.name == name; });
    return it == kCommands.end() ? nullptr : &*it;
}

ParsedCommandLine Error(std::string text, Command usageOf) { return {std::nullopt, std::move(text), usageOf}; }

// What is wrong with an option, in this program's words; `command` is the
// command it was given to, when one was named before it.
std::string FaultText(const OptionFault& fault, const CommandRules* command) {
    const std::string forCommand = command == nullptr ? "" : " for " + std::string(command->name);
    switch (fault.kind) {
        case OptionFault::Kind::Unknown: return "unknown option " + fault.option + forCommand;
        case OptionFault::Kind::MissingValue: return fault.option + " needs a value";
        case OptionFault::Kind::ValueForFlag:
            return "unknown option " + fault.argument + forCommand + " (" + fault.option + " takes no value)";
        case OptionFault::Kind::GivenTwice: return fault.option + " given twice";
    }
    return fault.Text();
}

// "help" and "help COMMAND".
ParsedCommandLine HelpCommand(const ParsedArguments& parsed) {
    if (!parsed.options.empty()) return Error("help takes no options", Command::Help);
    if (parsed.operands.size() > 2) return Error("too many arguments", Command::Help);
    CommandLine line;
    if (parsed.operands.size() == 2) {
        const CommandRules* command = FindCommand(parsed.operands[1]);
        if (command == nullptr) return Error("unknown command \"" + parsed.operands[1] + "\"", Command::Help);
        line.helpFor = command->command;
    }
    return {line, {}, Command::Help};
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return Error("no command given", Command::Help);
    const ParsedArguments parsed = ParseArguments(arguments, kOptions);
    const std::string name = parsed.operands.empty() ? std::string() : parsed.operands.front();
    if (name == "help" && !parsed.fault && !parsed.help) return HelpCommand(parsed);
    const CommandRules* command = FindCommand(name);
    if (command == nullptr && !name.empty() && name != "help") {
        return Error("unknown command \"" + name + "\"", Command::Help);
    }
    const Command usageOf = command == nullptr ? Command::Help : command->command;
    if (parsed.fault) return Error(FaultText(*parsed.fault, command), usageOf);
    if (parsed.help) {
        CommandLine line;
        line.helpFor = usageOf;
        return {line, {}, Command::Help};
    }
    if (parsed.Has("--version")) {
        if (parsed.options.size() > 1 || !parsed.operands.empty()) return Error("--version takes no arguments", Command::Help);
        CommandLine line;
        line.command = Command::Version;
        return {line, {}, Command::Help};
    }
    if (command == nullptr) return Error("no command given", Command::Help);
    if (const auto fault = CheckOptions(parsed, command->options)) return Error(FaultText(*fault, command), usageOf);
    if (parsed.operands.size() > 1) return Error("unexpected argument \"" + parsed.operands[1] + "\"", usageOf);

    CommandLine line;
    line.command = command->command;
    line.json = parsed.Has("--json");
    line.yes = parsed.Has("--yes");
    for (const auto& [option, field] : {std::pair{"--package", &line.package}, std::pair{"--monitor", &line.monitor}}) {
        const std::string* value = parsed.Value(option);
        if (value == nullptr) continue;
        if (value->empty()) return Error(std::string(option) + " needs a value", usageOf);
        *field = *value;
    }
    return {line, {}, usageOf};
}

std::string UsageLine(Command command) {
    switch (command) {
        case Command::List:
            return "usage: quillon-cli list [--json]";
        case Command::Status:
            return "usage: quillon-cli status [--json]";
        case Command::Update:
            return "usage: quillon-cli update [--package FILE] [--monitor SERIAL] [--yes] [--json]";
        case Command::History:
            return "usage: quillon-cli history [--json]";
        default:
            return "usage: quillon-cli {list|status|update|history} [OPTIONS] | --help | --version";
    }
}

std::string HelpText(Command command) {
    switch (command) {
        case Command::List:
            return UsageLine(command) +
                   "\n\nLists the maker's monitors connected, a monitor waiting in an interrupted update too.\n"
                   "While an update runs, says which, and opens no monitor. A monitor this user may not\n"
                   "open (its device rule is missing) is reported on standard error.\n\n"
                   "  --json, -j  one object: {\"monitors\":[{\"model\",\"serial\",\"version\",\"state\",\"device\"}],\n"
                   "              \"refused\"}, state \"running\" or \"in-update\", refused the number of\n"
                   "              monitors present that could not be opened\n\n"
                   "Exit codes: 0 listed (or none connected), 1 monitors present but none could be opened,\n"
                   "2 bad usage.\n";
        case Command::Status:
            return UsageLine(command) +
                   "\n\nSays whether an interrupted update is recorded, for which monitor, at which stage\n"
                   "and in which file. Looks where update looks. Changes nothing.\n\n"
                   "  --json, -j  one object: {\"interrupted\":false} or {\"interrupted\":true,\"model\",\"serial\",\n"
                   "              \"currentVersion\",\"targetVersion\",\"stage\",\"step\",\"recordFile\"}\n\n"
                   "Files: the record of an interrupted update, .backup, is looked for in\n"
                   "  $XDG_STATE_HOME/quillon (~/.local/state/quillon; /var/lib/quillon as root),\n"
                   "  under sudo also ~/.local/state/quillon of the user who ran sudo,\n"
                   "  and beside the executable (an earlier version's, moved into the first by update).\n";
        case Command::Update:
            return UsageLine(command) +
                   "\n\nUpdates one monitor as the window does: the same checks, messages, backup file and\n"
                   "resumption of an interrupted update, and the maker's programs closed and started again.\n\n"
                   "  --package FILE    the firmware package (default: the .vfw file beside the executable)\n"
                   "  --monitor SERIAL  the monitor to update (default: the only one connected, or the one an\n"
                   "                    interrupted update names)\n"
                   "  --yes, -y         update without asking (needed without a terminal)\n"
                   "  --json, -j        progress and result as one JSON object per line\n\n"
                   "Exit codes: 0 updated, 1 failed or refused, 2 bad usage, 3 nothing to do.\n"
                   "Once the update has begun, Ctrl-C, Ctrl-\\, Ctrl-Z, SIGTERM, SIGHUP, SIGTTIN and\n"
                   "SIGTTOU are refused until it ends; before it, Ctrl-Z suspends the run as usual.\n"
                   "Files: the record of the update (.backup) and a log of each run are kept in\n"
                   "$XDG_STATE_HOME/quillon (~/.local/state/quillon; /var/lib/quillon as root);\n"
                   "a failure names its log. See quillon-cli status --help for where a record is found.\n";
        case Command::History:
            return UsageLine(command) +
                   "\n\nLists the past runs of the window and of quillon-cli, newest first, from their run logs\n"
                   "in $XDG_STATE_HOME/quillon (~/.local/state/quillon; /var/lib/quillon as root; the last\n"
                   "20 are kept): when, the monitor, the versions from and to, the result, the status code\n"
                   "and the log's path.\n"
                   "A run whose log has no result yet (it still runs, or was cut) is \"incomplete\".\n\n"
                   "  --json, -j  one object: {\"runs\":[{\"time\",\"program\",\"model\",\"serial\",\"fromVersion\",\n"
                   "              \"toVersion\",\"resumed\",\"result\",\"status\",\"runLog\"}]}, result \"completed\",\n"
                   "              \"failed\", \"ended\", \"cancelled\" or \"incomplete\"\n\n"
                   "Exit codes: 0 listed (also when no run is recorded), 2 bad usage.\n";
        default:
            return UsageLine(command) +
                   "\n\nThe Quillon monitor firmware updater for terminals and scripts.\n\n"
                   "  list      the maker's monitors connected\n"
                   "  status    whether an interrupted update is recorded\n"
                   "  update    update one monitor\n"
                   "  history   past runs and how they ended\n\n"
                   "quillon-cli COMMAND --help tells more. --version prints the version.\n"
                   "Options may come before or after the command; -y and -j combine (-yj);\n"
                   "\"--\" ends the options.\n";
    }
}
