// info and check: what a file is, read-only.
#include "tools/vfwtool/commands.h"
#include "tools/vfwtool/describe.h"
#include "tools/vfwtool/info_format.h"
#include "tools/vfwtool/report.h"

int RunInfo(const ParsedArguments& line, std::ostream& out, std::ostream& err) {
    const std::string& path = line.operands[0];
    std::string fault;
    const auto file = LoadFile(path, fault);
    if (!file) return FileError(err, path, fault);
    if (line.Has("--json")) WriteInfoJson(*file, out);
    else WriteInfoTable(path, *file, out);
    return kExitOk;
}

int RunCheck(const ParsedArguments& line, std::ostream& out, std::ostream& err) {
    const std::string& path = line.operands[0];
    std::string fault;
    const auto file = LoadFile(path, fault);
    if (!file) return FileError(err, path, fault);
    out << OneLine(path) << ": " << Printable(Summary(*file)) << '\n';
    return kExitOk;
}
