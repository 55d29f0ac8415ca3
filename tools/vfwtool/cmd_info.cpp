// info and check: what a file is, read-only.
#include "tools/vfwtool/command_start.h"
#include "tools/vfwtool/commands.h"
#include "tools/vfwtool/describe.h"
#include "tools/vfwtool/info_format.h"
#include "tools/vfwtool/report.h"

int RunInfo(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    static constexpr OptionRule kRules[] = {{.name = "--json", .takesValue = false}};
    int exitCode = kExitOk;
    const auto line = StartCommand("info", args, kRules, 1, out, err, exitCode);
    if (!line) return exitCode;

    const std::string& path = line->operands[0];
    std::string fault;
    const auto file = LoadFile(path, fault);
    if (!file) return FileError(err, path, fault);
    if (line->Has("--json")) WriteInfoJson(*file, out);
    else WriteInfoTable(path, *file, out);
    return kExitOk;
}

int RunCheck(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    int exitCode = kExitOk;
    const auto line = StartCommand("check", args, {}, 1, out, err, exitCode);
    if (!line) return exitCode;

    const std::string& path = line->operands[0];
    std::string fault;
    const auto file = LoadFile(path, fault);
    if (!file) return FileError(err, path, fault);
    out << OneLine(path) << ": " << Printable(Summary(*file)) << '\n';
    return kExitOk;
}
