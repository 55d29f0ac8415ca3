#include "tools/vfwtool/vfwtool.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <vector>

#include "tools/vfwtool/commands.h"
#include "tools/vfwtool/report.h"
#include "tools/vfwtool/usage.h"

namespace {

constexpr OptionRule kInfoOptions[] = {{.name = "--json", .takesValue = false}};
constexpr OptionRule kCreateOptions[] = {
    {.name = "-o"},
    {.name = "--model"},
    {.name = "--version"},
    {.name = "--set", .repeatable = true},
    {.name = "--component", .repeatable = true},
};
constexpr OptionRule kImageOptions[] = {
    {.name = "-o"},
    {.name = "--model"},
    {.name = "--type"},
    {.name = "--file"},
    {.name = "--version-field"},
    {.name = "--seconds"},
    {.name = "--attribute"},
};
constexpr OptionRule kExtractOptions[] = {{.name = "--set"}, {.name = "--type"}, {.name = "-o"}};
constexpr OptionRule kDecryptOptions[] = {{.name = "-o"}};

struct Command {
    std::string_view name;
    std::span<const OptionRule> options;
    std::size_t operands;  // FILE operands after the command's name
    int (*run)(const ParsedArguments&, std::ostream&, std::ostream&);
};

constexpr Command kCommands[] = {
    {"info", kInfoOptions, 1, RunInfo},          {"check", {}, 1, RunCheck},
    {"create", kCreateOptions, 0, RunCreate},    {"image", kImageOptions, 0, RunImage},
    {"extract", kExtractOptions, 1, RunExtract}, {"decrypt", kDecryptOptions, 1, RunDecrypt},
};

const Command* FindCommand(std::string_view name) {
    const auto it = std::find_if(std::begin(kCommands), std::end(kCommands),
                                 [&](const Command& c) { return c.name == name; });
    return it == std::end(kCommands) ? nullptr : &*it;
}

// Every command's options, so that options may stand before the command's name
// too; each command then refuses those it does not take.
std::vector<OptionRule> AllOptions() {
    std::vector<OptionRule> all;
    for (const Command& command : kCommands) {
        for (const OptionRule& rule : command.options) {
            const auto known = std::find_if(all.begin(), all.end(), [&](const OptionRule& r) { return r.name == rule.name; });
            if (known == all.end()) all.push_back(rule);
            else known->repeatable = known->repeatable || rule.repeatable;
        }
    }
    return all;
}

}  // namespace

int RunVfwtool(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        out << UsageText();
        return kExitUsage;
    }
    ParsedArguments line = ParseArguments(args, AllOptions());
    const std::string name = line.operands.empty() ? std::string() : line.operands.front();
    if (name == "help" || (name.empty() && line.help)) {
        out << UsageText();
        return kExitOk;
    }
    const Command* command = FindCommand(name);
    if (command == nullptr && !name.empty()) return UsageError(err, "unknown command '" + name + "'");
    const std::string prefix = command == nullptr ? std::string() : name + ": ";
    if (line.fault) return UsageError(err, prefix + line.fault->Text());
    if (command == nullptr) return UsageError(err, "no command given");
    if (line.help) {
        out << UsageText();
        return kExitOk;
    }
    if (const auto fault = CheckOptions(line, command->options)) return UsageError(err, prefix + fault->Text());
    line.operands.erase(line.operands.begin());
    if (line.operands.size() != command->operands) {
        const std::string expected = command->operands == 0 ? "no FILE operand" : "one FILE";
        return UsageError(err, name + " takes " + expected + ", not " + std::to_string(line.operands.size()));
    }
    try {
        return command->run(line, out, err);
    } catch (const std::exception& e) {
        // Only resource exhaustion gets here (memory for a huge file); it
        // is reported like any other failure to process the input.
        err << "vfwtool " << OneLine(name) << ": " << OneLine(e.what()) << '\n';
        return kExitBadFile;
    }
}
