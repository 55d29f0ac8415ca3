#include "tools/vfwtool/vfwtool.h"

#include <exception>
#include <string_view>

#include "tools/vfwtool/commands.h"
#include "tools/vfwtool/report.h"
#include "tools/vfwtool/usage.h"

namespace {

struct Command {
    std::string_view name;
    int (*run)(std::span<const std::string>, std::ostream&, std::ostream&);
};

constexpr Command kCommands[] = {
    {"info", RunInfo},       {"check", RunCheck},     {"create", RunCreate},
    {"image", RunImage},     {"extract", RunExtract}, {"decrypt", RunDecrypt},
};

}  // namespace

int RunVfwtool(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        out << UsageText();
        return kExitUsage;
    }
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        out << UsageText();
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (command.name != name) continue;
        try {
            return command.run(args.subspan(1), out, err);
        } catch (const std::exception& e) {
            // Only resource exhaustion gets here (memory for a huge file); it
            // is reported like any other failure to process the input.
            err << "vfwtool " << OneLine(name) << ": " << OneLine(e.what()) << '\n';
            return kExitBadFile;
        }
    }
    return UsageError(err, "unknown command '" + name + "'");
}
