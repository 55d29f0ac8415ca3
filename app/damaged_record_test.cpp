// A backup file whose record is out of shape, damaged or made by hand: it is
// kept aside like a file that fails its checksum, and the run goes on without
// it. And no version text shorter than five fields makes the updater throw.
#include <regex>

#include "app/app_testing.h"
#include "app/update_run.h"
#include "app/version_display.h"
#include "app/worker_threads.h"
#include "package/content.h"

namespace {

using namespace app_testing;

const std::string kWellFormed = MemoryText(kBefore);
// The package's version with wildcards in fields 2 and 4.
const std::string kWildcardTarget = "00103" "00000" "00004" "00000" "0001a";

// A record of the bench's monitor, as an update would have left it in `stage`.
BackupRecord RecordOfTheMonitor(std::uint32_t stage, const std::string& target, const std::string& current) {
    BackupRecord record;
    BackupInfo& info = record.info;
    info.stage = stage;
    std::copy_n("QX2701", 6, info.modelName.begin());
    std::copy_n("SN000001", 8, info.serialNumber.begin());
    std::copy(target.begin(), target.end(), info.targetVersion.begin());
    std::copy(current.begin(), current.end(), info.currentVersion.begin());
    return record;
}

void WriteRecord(const std::string& path, const BackupRecord& record) {
    testing_support::WritePayload(path, SerializeBackupRecord(record).value());
}

TEST(DamagedRecord, ARecordOutOfShapeIsKeptAsideAndTheRunGoesOnWithoutIt) {
    struct Case {
        const char* what;
        BackupRecord record;
        bool damaged;
    };
    const Case cases[] = {
        {"a well-formed record", RecordOfTheMonitor(300, MemoryText(kAfter), kWellFormed), false},
        {"a current version of two fields", RecordOfTheMonitor(300, MemoryText(kAfter), kWellFormed.substr(0, 10)),
         true},
        {"no current version", RecordOfTheMonitor(100, "", ""), true},
        {"a target one character short", RecordOfTheMonitor(300, MemoryText(kAfter).substr(0, 24), kWellFormed), true},
        {"a stage no update has", RecordOfTheMonitor(700, MemoryText(kAfter), kWellFormed), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench bench;
        WriteRecord(bench.BackupPath(), c.record);
        const std::vector<std::uint8_t> bytes = testing_support::ReadBytes(bench.BackupPath());
        UpdateRun run;
        bench.UseFolders(run);

        EXPECT_EQ(LoadBackupFile(run), 0u);

        EXPECT_EQ(run.backupFound, !c.damaged);
        EXPECT_EQ(bench.BackupExists(), !c.damaged);
        EXPECT_EQ(run.target.modelName, c.damaged ? "" : "QX2701");
        if (!c.damaged) {
            EXPECT_EQ(run.keptBackupPath, "");
            continue;
        }
        const std::regex keptName(".*/\\.backup\\.damaged-[0-9]{8}-[0-9]{6}(-[0-9]+)?");
        EXPECT_TRUE(std::regex_match(run.keptBackupPath, keptName)) << run.keptBackupPath;
        EXPECT_EQ(testing_support::ReadBytes(run.keptBackupPath), bytes);
    }
}

// The file a finished update leaves when the updater stops before deleting it:
// its current version, two fields long, made every start resume it and then
// throw while it logged the version the update left.
TEST(DamagedRecord, AFinishedUpdatesRecordWithAShortVersionIsKeptAndAFreshUpdateRuns) {
    Bench bench;
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    WriteRecord(bench.BackupPath(), RecordOfTheMonitor(1000, kWildcardTarget, kWellFormed.substr(0, 10)));
    const std::vector<std::uint8_t> crafted = testing_support::ReadBytes(bench.BackupPath());

    ScriptedView view;
    auto run = bench.NewRun(view);
    RunToEnd(*run, view);

    ASSERT_EQ(view.MessageIds(), (std::vector<TextId>{text_id::kDamagedBackupKept, text_id::kComplete}));
    const std::string kept = std::get<std::string>(view.messages.front().arguments.at(0));
    EXPECT_EQ(testing_support::ReadBytes(kept), crafted);
    EXPECT_FALSE(bench.BackupExists());
    const MonitorHandle monitor = bench.Open();
    EXPECT_EQ(bench.VersionOf(monitor), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(monitor), bench.before);
}

// What the window and the log show of a package's or record's version with
// its wildcards filled from a current version, when either text is short.
TEST(ShortVersionText, WildcardsTheCurrentVersionDoesNotHoldStayWildcards) {
    struct Case {
        const char* what;
        std::string version, current;
        std::string expected;  // ExpectedVersion
        VersionLines lines;    // MergedVersionLines
    };
    const Case cases[] = {
        {"a whole current version", kWildcardTarget, kWellFormed, "001030020100004000040001a",
         {"00103-00201-00004", "-00004-0001a"}},
        {"a current version of two fields", kWildcardTarget, "0010200201", "001030020100004000000001a",
         {"00103-00201-00004", "-00000-0001a"}},
        {"a current version ending inside field 2", kWildcardTarget, "00102002", kWildcardTarget,
         {"00103-00000-00004", "-00000-0001a"}},
        {"no current version", kWildcardTarget, "", kWildcardTarget, {"00103-00000-00004", "-00000-0001a"}},
        {"a version of one wildcard field", "00000", kWellFormed, "00102", {"", ""}},
        {"neither", "", "", "", {"", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ExpectedVersion(c.version, c.current), c.expected);
        EXPECT_EQ(MergedVersionLines(c.version, c.current), c.lines);
        EXPECT_EQ(FormatVersionHead(c.current) + FormatVersionTail(c.current),
                  c.current == kWellFormed ? "00102-00201-00003-00004-00005" : "");
    }
}

}  // namespace
