#pragma once
// The command line of one command: its options, in the order given, and its
// operands. Options are "--name value", "--name=value" or a flag; "--" ends
// the options, so that a file name may start with '-'.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct OptionRule {
    std::string_view name;  // with its dashes: "-o", "--model"
    bool takesValue = true;
    bool repeatable = false;
};

struct CommandLine {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;  // a flag has an empty value
    bool help = false;  // --help was given: the rest is not checked

    bool Has(std::string_view name) const;
    // The value of an option that is not repeatable, or nullptr when absent.
    const std::string* Value(std::string_view name) const;
};

// Fails with a one-line message for an unknown option, a missing value, or an
// option given twice that may be given once.
std::optional<CommandLine> ParseCommandLine(std::span<const std::string> args, std::span<const OptionRule> rules,
                                            std::string& error);
