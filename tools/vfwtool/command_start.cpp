#include "tools/vfwtool/command_start.h"

#include "tools/vfwtool/report.h"
#include "tools/vfwtool/usage.h"

std::optional<CommandLine> StartCommand(std::string_view command, std::span<const std::string> args,
                                        std::span<const OptionRule> rules, std::size_t operands, std::ostream& out,
                                        std::ostream& err, int& exitCode) {
    std::string error;
    auto line = ParseCommandLine(args, rules, error);
    if (!line) {
        exitCode = UsageError(err, std::string(command) + ": " + error);
        return std::nullopt;
    }
    if (line->help) {
        out << UsageText();
        exitCode = kExitOk;
        return std::nullopt;
    }
    if (line->operands.size() != operands) {
        const std::string expected = operands == 0 ? "no FILE operand" : "one FILE";
        exitCode = UsageError(err, std::string(command) + " takes " + expected + ", not " +
                                       std::to_string(line->operands.size()));
        return std::nullopt;
    }
    return line;
}
