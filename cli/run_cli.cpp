#include "app/app_status.h"
#include "app/failure_report.h"
#include "cli/cli_io.h"
#include "cli/commands.h"
#include "common/executable_dir.h"

#ifndef QUILLON_VERSION
#error "QUILLON_VERSION comes from the project's version in CMake"
#endif

std::optional<std::string> CommandFolder(CliIo& io) {
    if (!io.packageFolder.empty()) return io.packageFolder;
    if (std::optional<std::string> folder = ExecutableDirectory()) return folder;
    ReportFailure(io.err, kAppNoExecutablePath, TakeSystemFailure(), kCliName);
    return std::nullopt;
}

int RunCli(const std::vector<std::string>& arguments, CliIo& io) {
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.line) {
        io.err << "quillon-cli: " << parsed.error << "\n" << UsageLine(parsed.usageOf) << "\n";
        return kExitUsage;
    }
    const CommandLine& line = *parsed.line;
    switch (line.command) {
        case Command::Help:
            io.out << HelpText(line.helpFor);
            return kExitDone;
        case Command::Version:
            io.out << "quillon-cli " << QUILLON_VERSION << "\n";
            return kExitDone;
        case Command::List:
            return ListCommand(line, io);
        case Command::Status:
            return StatusCommand(line, io);
        case Command::Update:
            return UpdateCommand(line, io);
        case Command::History:
            return HistoryCommand(line, io);
    }
    return kExitUsage;
}
