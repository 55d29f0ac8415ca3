#pragma once
// Options and operands of a command line, read as GNU getopt_long reads them:
// options may stand before, between or after the operands; "--" ends the
// options; short options combine ("-yj") and take a value attached or as the
// next argument ("-ofile", "-o file"); long options take "--name=value" or
// "--name value". A value is the next argument even when it starts with '-'.
// Long options are matched whole, never by an abbreviation, so that adding an
// option never changes what an existing script means. "--help" and "-h" end
// the reading: what follows them is not looked at.
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
    std::string_view alias = {};  // another name for the same option: "-y" for "--yes"
};

struct OptionFault {
    enum class Kind { Unknown, MissingValue, ValueForFlag, GivenTwice };
    Kind kind = Kind::Unknown;
    std::string option;    // the option's name: "--json", "-x"; for an unknown one as far as it can be named
    std::string argument;  // the argument it was found in: "--json=1", "-yx"

    // "unknown option -x", "-o needs a value", "--json takes no value", "-o is given twice"
    std::string Text() const;
};

struct ParsedArguments {
    std::vector<std::string> operands;
    // In the order given, each by its rule's name; a flag has an empty value.
    std::vector<std::pair<std::string, std::string>> options;
    bool help = false;                 // --help or -h was given
    std::optional<OptionFault> fault;  // the first fault; the rest is not read

    bool Has(std::string_view name) const;
    // The first value of the option, or nullptr when absent.
    const std::string* Value(std::string_view name) const;
};

// Reads `args` (without the program name) up to the end, --help, or the first
// fault: an unknown option, a missing value, a value given to a flag, or a
// second use of an option that is not repeatable.
ParsedArguments ParseArguments(std::span<const std::string> args, std::span<const OptionRule> rules);

// The same, as the whole command line or nothing, with `error` saying why.
std::optional<ParsedArguments> ParseCommandLine(std::span<const std::string> args, std::span<const OptionRule> rules,
                                                std::string& error);

// For a program whose commands take some of its options: the first option in
// `parsed` that `rules` does not know, or gives twice where it is taken once.
std::optional<OptionFault> CheckOptions(const ParsedArguments& parsed, std::span<const OptionRule> rules);
