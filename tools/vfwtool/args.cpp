#include "tools/vfwtool/args.h"

#include <algorithm>

namespace {

const OptionRule* FindRule(std::span<const OptionRule> rules, std::string_view name) {
    const auto it = std::find_if(rules.begin(), rules.end(), [&](const OptionRule& r) { return r.name == name; });
    return it == rules.end() ? nullptr : &*it;
}

}  // namespace

bool CommandLine::Has(std::string_view name) const {
    return std::any_of(options.begin(), options.end(), [&](const auto& o) { return o.first == name; });
}

const std::string* CommandLine::Value(std::string_view name) const {
    for (const auto& [optionName, value] : options)
        if (optionName == name) return &value;
    return nullptr;
}

std::optional<CommandLine> ParseCommandLine(std::span<const std::string> args, std::span<const OptionRule> rules,
                                            std::string& error) {
    CommandLine line;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            line.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            return line;
        }
        const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const OptionRule* rule = FindRule(rules, name);
        if (rule == nullptr) {
            error = "unknown option " + name;
            return std::nullopt;
        }
        if (!rule->repeatable && line.Has(name)) {
            error = name + " is given twice";
            return std::nullopt;
        }
        std::string value;
        if (!rule->takesValue) {
            if (equals != std::string::npos) {
                error = name + " takes no value";
                return std::nullopt;
            }
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = name + " needs a value";
            return std::nullopt;
        }
        line.options.emplace_back(name, std::move(value));
    }
    return line;
}
