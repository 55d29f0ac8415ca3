// quillon-cli history: the past runs of the window and the command line, from
// their run logs.
#include <vector>

#include "app/failure_report.h"
#include "app/message_catalogue.h"
#include "app/run_history.h"
#include "app/run_log.h"
#include "app/state_folder.h"
#include "app/version_display.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/table_output.h"
#include "common/display_text.h"

namespace {

// "2026-12-10 22:15:00.123 +0100" as ISO 8601: "2026-12-10T22:15:00.123+01:00";
// a time of another shape as it is.
std::string IsoTime(const std::string& logged) {
    const std::size_t zoneAt = logged.rfind(' ');
    if (logged.size() < 11 || logged[10] != ' ' || zoneAt == std::string::npos || logged.size() - zoneAt != 6)
        return logged;
    const std::string zone = logged.substr(zoneAt + 1);
    return logged.substr(0, 10) + "T" + logged.substr(11, zoneAt - 11) + zone.substr(0, 3) + ":" + zone.substr(3);
}

// The table's time: to the second, in the run's local time.
std::string ShortTime(const std::string& logged) {
    const std::size_t fraction = logged.find('.');
    return fraction == std::string::npos ? logged : logged.substr(0, fraction);
}

// A version as list shows it: "00102-00201-00003-00004-00005"; a text too short for that as it is.
std::string FormattedVersion(const std::string& version) {
    const std::string formatted = FormatVersion(version);
    return formatted.empty() ? version : formatted;
}

void PrintJson(std::ostream& out, const std::vector<PastRun>& runs) {
    JsonWriter json = JsonOutput(out);
    json.BeginObject().Key("runs").BeginArray();
    for (const PastRun& run : runs) {
        json.BeginObject()
            .Field("time", IsoTime(run.startTime))
            .Field("program", run.program)
            .Field("model", run.model)
            .Field("serial", run.serial)
            .Field("fromVersion", FormattedVersion(run.fromVersion))
            .Field("toVersion", FormattedVersion(run.toVersion))
            .Key("resumed")
            .Bool(run.resumed)
            .Field("result", RunResultName(run.result))
            .Field("status", run.status)
            .Field("runLog", run.logPath)
            .EndObject();
    }
    json.EndArray().EndObject();
    out << "\n";
}

void PrintRuns(std::ostream& out, const std::vector<PastRun>& runs) {
    std::vector<std::vector<std::string>> rows{{"TIME", "MODEL", "SERIAL", "FROM", "TO", "RESULT", "STATUS", "LOG"}};
    for (const PastRun& run : runs) {
        std::string result(RunResultName(run.result));
        if (run.resumed) result += " (resumed)";
        rows.push_back({DisplayText(ShortTime(run.startTime)), Cell(run.model), Cell(run.serial),
                        Cell(FormattedVersion(run.fromVersion)), Cell(FormattedVersion(run.toVersion)), result,
                        run.status.empty() ? "-" : DisplayText(run.status), DisplayText(run.logPath)});
    }
    PrintTable(out, rows);
}

}  // namespace

int HistoryCommand(const CommandLine& line, CliIo& io) {
    // The folder the runs of this process write their logs to.
    const std::string folder = io.stateFolders ? io.stateFolders->own : StateFolder();
    const std::vector<PastRun> runs = folder.empty() ? std::vector<PastRun>{} : ReadRunHistory(folder);
    if (line.json)
        PrintJson(io.out, runs);
    else if (runs.empty())
        io.out << CatalogueText(text_id::kNoRunsRecorded, io.language) << "\n";
    else
        PrintRuns(io.out, runs);
    return kExitDone;
}
