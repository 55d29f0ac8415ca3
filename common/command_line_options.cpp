#include "common/command_line_options.h"

#include <algorithm>

namespace {

const OptionRule* FindRule(std::span<const OptionRule> rules, std::string_view name) {
    const auto it = std::find_if(rules.begin(), rules.end(),
                                 [&](const OptionRule& r) { return r.name == name || (!r.alias.empty() && r.alias == name); });
    return it == rules.end() ? nullptr : &*it;
}

bool IsHelp(std::string_view name) { return name == "--help" || name == "-h"; }

// Reads one command line into `parsed`; returns at the end, at --help or at a fault.
class Reader {
public:
    Reader(std::span<const std::string> args, std::span<const OptionRule> rules, ParsedArguments& parsed)
        : args_(args), rules_(rules), parsed_(parsed) {}

    void Read() {
        bool optionsEnded = false;
        while (next_ < args_.size() && !parsed_.help && !parsed_.fault) {
            const std::string& arg = args_[next_++];
            if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
                parsed_.operands.push_back(arg);
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (arg[1] == '-') {
                ReadLong(arg);
            } else {
                ReadShort(arg);
            }
        }
    }

private:
    void ReadLong(const std::string& arg) {
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const std::optional<std::string> attached =
            equals == std::string::npos ? std::nullopt : std::optional(arg.substr(equals + 1));
        if (IsHelp(name)) {
            if (attached) return Fail(OptionFault::Kind::ValueForFlag, name, arg);
            parsed_.help = true;
            return;
        }
        const OptionRule* rule = FindRule(rules_, name);
        if (rule == nullptr) return Fail(OptionFault::Kind::Unknown, name, arg);
        if (!rule->takesValue) {
            if (attached) return Fail(OptionFault::Kind::ValueForFlag, name, arg);
            return Add(*rule, arg, {});
        }
        if (attached) return Add(*rule, arg, *attached);
        TakeNextAsValue(*rule, arg);
    }

    // A cluster of short options: each a flag, but for the last, which may be
    // one taking a value, attached ("-ofile") or as the next argument.
    void ReadShort(const std::string& arg) {
        for (std::size_t at = 1; at < arg.size(); ++at) {
            const std::string name{'-', arg[at]};
            if (IsHelp(name)) {
                parsed_.help = true;
                return;
            }
            const OptionRule* rule = FindRule(rules_, name);
            if (rule == nullptr) return Fail(OptionFault::Kind::Unknown, name, arg);
            if (!rule->takesValue) {
                if (at + 1 < arg.size() && arg[at + 1] == '=') {  // "-y=1"
                    return Fail(OptionFault::Kind::ValueForFlag, std::string(rule->name), arg);
                }
                Add(*rule, arg, {});
                if (parsed_.fault) return;
                continue;
            }
            const std::string attached = arg.substr(at + 1);
            // "-o=x" is the long options' spelling, and the value "=x" is never meant.
            if (attached.starts_with('=')) return Fail(OptionFault::Kind::Unknown, arg, arg);
            if (!attached.empty()) return Add(*rule, arg, attached);
            return TakeNextAsValue(*rule, arg);
        }
    }

    void TakeNextAsValue(const OptionRule& rule, const std::string& arg) {
        if (next_ == args_.size()) return Fail(OptionFault::Kind::MissingValue, std::string(rule.name), arg);
        Add(rule, arg, args_[next_++]);
    }

    void Add(const OptionRule& rule, const std::string& arg, std::string value) {
        if (!rule.repeatable && parsed_.Has(rule.name)) {
            return Fail(OptionFault::Kind::GivenTwice, std::string(rule.name), arg);
        }
        parsed_.options.emplace_back(rule.name, std::move(value));
    }

    void Fail(OptionFault::Kind kind, std::string option, const std::string& arg) {
        parsed_.fault = OptionFault{kind, std::move(option), arg};
    }

    std::span<const std::string> args_;
    std::span<const OptionRule> rules_;
    ParsedArguments& parsed_;
    std::size_t next_ = 0;
};

}  // namespace

std::string OptionFault::Text() const {
    switch (kind) {
        case Kind::Unknown: return "unknown option " + option;
        case Kind::MissingValue: return option + " needs a value";
        case Kind::ValueForFlag: return option + " takes no value";
        case Kind::GivenTwice: return option + " is given twice";
    }
    return option;
}

bool ParsedArguments::Has(std::string_view name) const {
    return std::any_of(options.begin(), options.end(), [&](const auto& o) { return o.first == name; });
}

const std::string* ParsedArguments::Value(std::string_view name) const {
    for (const auto& [optionName, value] : options)
        if (optionName == name) return &value;
    return nullptr;
}

ParsedArguments ParseArguments(std::span<const std::string> args, std::span<const OptionRule> rules) {
    ParsedArguments parsed;
    Reader(args, rules, parsed).Read();
    return parsed;
}

std::optional<ParsedArguments> ParseCommandLine(std::span<const std::string> args, std::span<const OptionRule> rules,
                                                std::string& error) {
    ParsedArguments parsed = ParseArguments(args, rules);
    if (parsed.fault) {
        error = parsed.fault->Text();
        return std::nullopt;
    }
    return parsed;
}

std::optional<OptionFault> CheckOptions(const ParsedArguments& parsed, std::span<const OptionRule> rules) {
    std::vector<std::string_view> seen;
    for (const auto& [name, value] : parsed.options) {
        const OptionRule* rule = FindRule(rules, name);
        if (rule == nullptr) return OptionFault{OptionFault::Kind::Unknown, name, name};
        if (!rule->repeatable && std::find(seen.begin(), seen.end(), name) != seen.end()) {
            return OptionFault{OptionFault::Kind::GivenTwice, name, name};
        }
        seen.push_back(name);
    }
    return std::nullopt;
}
