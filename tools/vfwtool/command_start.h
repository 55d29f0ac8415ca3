#pragma once
// The opening every command shares: parse its arguments, answer --help, and
// refuse a wrong command line or a wrong number of operands.
#include <cstddef>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "tools/vfwtool/args.h"

// The command line, or nothing once --help was answered or a usage error
// reported; `exitCode` is then what the command returns.
std::optional<CommandLine> StartCommand(std::string_view command, std::span<const std::string> args,
                                        std::span<const OptionRule> rules, std::size_t operands, std::ostream& out,
                                        std::ostream& err, int& exitCode);
