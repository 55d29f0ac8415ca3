// quillon-cli history over the logs of real runs: a completed update, one cut
// by a power loss, the run that resumed it, one still going, and a file that
// is no run log, through the table and through JSON.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/run_log.h"
#include "app/state_folder.h"
#include "app/run_log_testing.h"
#include "cli/cli_testing.h"
#include "common/temp_dir_testing.h"

namespace {

using namespace app_testing;
using namespace cli_testing;

struct ListedRun {
    std::string program, model, serial, fromVersion, toVersion;
    bool resumed = false;
    std::string result, status;
    bool operator==(const ListedRun&) const = default;
};

void PrintTo(const ListedRun& r, std::ostream* out) {
    *out << r.program << " " << r.model << " " << r.serial << " " << r.fromVersion << "->" << r.toVersion
         << (r.resumed ? " resumed " : " ") << r.result << " " << r.status;
}

std::string Shown(const VersionFields& fields) {
    const VersionLines lines = MergedVersionLines(MemoryText(fields), "");
    return lines.head + lines.tail;
}

// Each test's runs in a state folder of its own.
class HistoryTest : public ::testing::Test {
protected:
    std::string Folder() const { return stateHome.File("quillon"); }
    TempDir stateHome;
};

TEST_F(HistoryTest, NoRunsIsSaidAndExitsZero) {
    Bench bench;
    CliRun text(bench);
    EXPECT_EQ(text.Run({"history"}), 0);
    EXPECT_EQ(text.out.str(), CatalogueText(text_id::kNoRunsRecorded) + "\n");
    CliRun json(bench);
    EXPECT_EQ(json.Run({"history", "--json"}), 0);
    EXPECT_EQ(json.out.str(), "{\"runs\":[]}\n");
}

// The "runLog" and "status" of a run's JSON result line.
struct RunResultLine {
    std::string runLog, status;
};
RunResultLine ResultOf(const CliRun& run) {
    if (run.json.empty()) return {};
    return {run.json.back().StringAt("runLog").value_or(""), run.json.back().StringAt("status").value_or("")};
}

// Each bench has a state folder of its own; these runs, on several benches,
// all keep their records and logs in one.
void ShareStateFolder(CliRun& run, const std::string& folder) { run.io.stateFolders = StateFolders{folder, {}}; }

TEST_F(HistoryTest, ListsEachRunNewestFirstAsItEnded) {
    RunResultLine completed, cut;
    {
        Bench first;
        first.Plug(MonitorKind::OlderTunnel);
        first.WritePackage();
        CliRun run(first);
        ShareStateFolder(run, Folder());
        ASSERT_EQ(run.Run({"update", "--yes", "--json"}), 0) << run.err.str();
        completed = ResultOf(run);
    }
    {
        // Cut by a power loss while writing, then resumed by the next run.
        Bench second;
        Monitor& monitor = second.Plug(MonitorKind::CombinedTunnel);
        second.WritePackage();
        FaultPlan plan;
        plan.unplugAtTransfer = 250;
        monitor.AddFaults(plan);
        CliRun run(second);
        ShareStateFolder(run, Folder());
        ASSERT_EQ(run.Run({"update", "--yes", "--json"}), 1);
        cut = ResultOf(run);
        ASSERT_TRUE(std::filesystem::exists(Folder() + "/" + kBackupFileName));
        second.clock.Advance(60'000);
        CliRun resumed(second);
        ShareStateFolder(resumed, Folder());
        ASSERT_EQ(resumed.Run({"update", "--yes"}), 0) << resumed.err.str();
    }
    // A run that has not ended (or was killed): its log has no result.
    std::string going;
    {
        RunLog log(Folder());
        log.Write("quillon 1.0.0 (quillon, process 4711)");
        log.Write("monitor selected");
        going = log.Path();
    }
    // Named as the oldest run would be, but no run log.
    std::ofstream(Folder() + "/run-20000101-000000-000-1.log") << "not a log\n";
    ASSERT_NE(cut.status, "");
    ASSERT_NE(cut.status, "0x00000000");

    const std::string from = Shown(kBefore), to = Shown(kAfter);
    const std::vector<ListedRun> expected{
        {"quillon", "", "", "", "", false, "incomplete", ""},
        {"quillon-cli", "QX2701", "SN000001", from, to, true, "completed", "0x00000000"},
        {"quillon-cli", "QX2701", "SN000001", from, to, false, "failed", cut.status},
        {"quillon-cli", "QX2701", "SN000001", from, to, false, "completed", "0x00000000"},
    };

    Bench bench;
    CliRun json(bench);
    ShareStateFolder(json, Folder());
    ASSERT_EQ(json.Run({"history", "--json"}), 0) << json.err.str();
    ASSERT_EQ(json.json.size(), 1u) << json.out.str();
    const JsonValue* runs = json.json[0].Member("runs");
    ASSERT_NE(runs, nullptr);
    std::vector<ListedRun> listed;
    std::vector<std::string> logs;
    for (const JsonValue& run : std::get<JsonValue::Array>(runs->value)) {
        const JsonValue* resumedField = run.Member("resumed");
        listed.push_back({run.StringAt("program").value_or("-"), run.StringAt("model").value_or("-"),
                          run.StringAt("serial").value_or("-"), run.StringAt("fromVersion").value_or("-"),
                          run.StringAt("toVersion").value_or("-"),
                          resumedField != nullptr && std::get<bool>(resumedField->value),
                          run.StringAt("result").value_or("-"), run.StringAt("status").value_or("-")});
        logs.push_back(run.StringAt("runLog").value_or(""));
        // "2026-12-10T22:15:00.123+01:00"
        EXPECT_EQ(run.StringAt("time").value_or("").size(), 29u) << run.StringAt("time").value_or("");
    }
    EXPECT_EQ(listed, expected);
    ASSERT_EQ(logs.size(), 4u);
    EXPECT_EQ(logs[0], going);
    EXPECT_EQ(logs[2], cut.runLog);
    EXPECT_EQ(logs[3], completed.runLog);

    CliRun text(bench);
    ShareStateFolder(text, Folder());
    ASSERT_EQ(text.Run({"history"}), 0);
    const std::vector<std::string> lines = text.OutLines();
    ASSERT_EQ(lines.size(), 5u) << text.out.str();
    EXPECT_TRUE(lines[0].starts_with("TIME  ")) << lines[0];
    const std::size_t model = lines[0].find("MODEL"), log = lines[0].find("LOG");
    const std::vector<std::string> results{"incomplete", "completed (resumed)", "failed", "completed"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string& line = lines[i + 1];
        SCOPED_TRACE(line);
        // Aligned: each row's model and log start under their headings.
        EXPECT_EQ(line.substr(model, 6), i == 0 ? "?     " : "QX2701");
        EXPECT_EQ(line.substr(log), logs[i]);
        EXPECT_NE(line.find("  " + results[i] + "  "), std::string::npos);
        EXPECT_NE(line.find("  " + (expected[i].status.empty() ? "-" : expected[i].status) + "  "), std::string::npos);
        if (i > 0) {
            EXPECT_NE(line.find(from + "  " + to), std::string::npos);
        }
    }
}

}  // namespace
