// The line on standard error that goes with a failure message, and the cause
// of a real failure reaching it once, from the thread that met the failure.
#include "app/failure_report.h"

#include <cerrno>
#include <sstream>

#include "app/app_testing.h"
#include "common/file_size_limit_testing.h"
#include "monitor/monitor_status.h"

namespace {

using namespace app_testing;

TEST(FailureReport, NamesTheFailedCallWithTheStatusOrTheStatusAlone) {
    const struct {
        Status status;
        std::optional<SystemFailure> cause;
        const char* line;
    } cases[] = {
        {kMonTransferFailed, SystemFailure{"HIDIOCSFEATURE /dev/hidraw3", EIO},
         "quillon: HIDIOCSFEATURE /dev/hidraw3: Input/output error (status 0x80000015)\n"},
        {kAppNoPackageFile, std::nullopt, "quillon: status 0x80000024\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        ReportFailure(out, c.status, c.cause);
        EXPECT_EQ(out.str(), c.line);
    }
}

// Whole runs that end in a failure message. The window's thread meets some
// failures, the update thread others (and is started again three times before
// the message); either way one line carries the failed call, and a failure
// noted before the run is not taken for the cause.
TEST(FailureLine, CarriesTheCauseOfARealFailureOnce) {
    const struct {
        const char* name;
        bool package;
        bool fileSizeLimitAtStart;      // the backup file cannot be written when the run makes it
        bool directoryInsteadOfBackup;  // nor when the update rewrites it
        TextId message;
        std::string line;  // {backup}: the backup file's path
        // The file size limit stops the run log too, which says so on a line of its own.
        bool logTooLarge;
    } cases[] = {
        {"no package file", false, false, false, text_id::kNoPackageFile, "quillon: status 0x80000024\n", false},
        {"backup file too large to write", true, true, false, text_id::kFileOpenFailed,
         "quillon: cannot write {backup}: File too large (status 0x80000011)\n", true},
        {"backup file replaced by a directory during the update", true, false, true, text_id::kFileOpenFailed,
         "quillon: cannot replace {backup}: Is a directory (status 0x80000011)\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ScriptedView view;
        std::ostringstream lines;
        bench.Plug(MonitorKind::CombinedTunnel);
        if (c.package) bench.WritePackage();
        MainWorkflow run(view, lines);
        bench.UseFolders(run.Run());

        NoteSystemFailure("an earlier failure", EIO);
        {
            std::optional<ScopedFileSizeLimit> limit;
            if (c.fileSizeLimitAtStart) limit.emplace(16);
            run.Start();
        }
        TickWhileWorking(run);
        if (!run.Ended()) {
            if (c.directoryInsteadOfBackup) {
                std::filesystem::remove(bench.BackupPath());
                std::filesystem::create_directory(bench.BackupPath());
            }
            run.PressUpdate();
            TickWhileWorking(run);
        }

        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(view.MessageIds(), std::vector<TextId>{c.message});
        std::string line = c.line;
        if (const auto at = line.find("{backup}"); at != std::string::npos) line.replace(at, 8, bench.BackupPath());
        if (c.logTooLarge)
            line += "quillon: the run log cannot be written: write " + run.RunLogPath() + ": File too large\n";
        EXPECT_EQ(lines.str(), line);
    }
}

}  // namespace
