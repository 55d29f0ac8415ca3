// Past runs read back from run logs written by the run log itself: each way a
// run ends, a resumed one, one cut short, and files that are no run log.
#include "app/run_history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "app/run_log.h"
#include "common/temp_dir_testing.h"

namespace {

constexpr char kHeader[] = "quillon 1.0.0 (quillon-cli, process 4711)";
constexpr char kMonitor[] =
    "monitor: QX2701 S/N SN000001, firmware before the update 0010200201000030000400005";

struct HistoryCase {
    const char* name;
    std::vector<std::string> lines;  // written through RunLog, in order
    std::string cut;                 // then these bytes, without a line feed
    std::optional<PastRun> expected; // logPath and startTime left out; nullopt: not listed
};

PastRun Run(std::string model, std::string serial, std::string from, std::string to, bool resumed, RunResult result,
            std::string status, std::string program = "quillon-cli") {
    return {{}, {}, std::move(program), std::move(model), std::move(serial), std::move(from), std::move(to),
            resumed, result, std::move(status)};
}

const HistoryCase kCases[] = {
    {"Completed",
     {kHeader, "monitor selected", kMonitor, "backup file: /x/.backup", "package file: /x/a.vfw",
      "package: version 0010300201000040000400005, firmware set for 0010200201000030000400005; the monitor reports "
      "0010200201000030000400005",
      "update started, estimated at 4 min", "Writing component 1 of 5",
      "firmware after the update 0010300201000040000400005", "update completed", "result: completed"},
     "",
     Run("QX2701", "SN000001", "0010200201000030000400005", "0010300201000040000400005", false,
         RunResult::Completed, "0x00000000")},
    {"FailedWithStatus",
     {kHeader, kMonitor, "package: version 0010300201000040000400005, firmware set for x; the monitor reports y",
      "failed at step \"Writing component 2 of 5\": status 0x80000011 (cannot replace /x/.backup: Is a directory); "
      "message 650 shown",
      "result: failed with status 0x80000011 (cannot replace /x/.backup: Is a directory)"},
     "",
     Run("QX2701", "SN000001", "0010200201000030000400005", "0010300201000040000400005", false, RunResult::Failed,
         "0x80000011")},
    {"EndedWithStatus",
     {kHeader, kMonitor, "result: ended with status 0x80000031"},
     "",
     Run("QX2701", "SN000001", "0010200201000030000400005", "", false, RunResult::Ended, "0x80000031")},
    {"EndedByTheUser",
     {"quillon 1.0.0 (quillon, process 12)", "monitor selected", "result: ended by the user"},
     "",
     Run("", "", "", "", false, RunResult::Cancelled, "", "quillon")},
    {"Resumed",
     {kHeader, "monitor selected: QX2701 S/N SN000001",
      "monitor: QX2701 S/N SN000001, firmware before the update 0010200201000030000400005, waiting in its update mode",
      "resuming the interrupted update recorded in /x/.backup at stage 300, to firmware 0010300201000040000400005",
      "result: completed"},
     "",
     Run("QX2701", "SN000001", "0010200201000030000400005", "0010300201000040000400005", true,
         RunResult::Completed, "0x00000000")},
    {"Incomplete",
     {kHeader, kMonitor, "update started, estimated at 4 min", "Writing component 3 of 5"},
     "",
     Run("QX2701", "SN000001", "0010200201000030000400005", "", false, RunResult::Incomplete, "")},
    // The power failed while the result was written: a half line is no result.
    {"CutInItsLastLine", {kHeader, kMonitor}, "2026-12-10 22:15:00.123 +0100 +9.000 s result: compl",
     Run("QX2701", "SN000001", "0010200201000030000400005", "", false, RunResult::Incomplete, "")},
    // A monitor's name with a line feed and a backslash: the log escapes them, the history has the bytes back.
    {"DeviceTextWithControlBytes",
     {kHeader, "monitor: QX\n27\\01 S/N SN\x1b[2J, firmware before the update 0010200201000030000400005",
      "result: ended by the user"},
     "",
     Run("QX\n27\\01", "SN\x1b[2J", "0010200201000030000400005", "", false, RunResult::Cancelled, "")},
    {"NotOurs", {"hello", "result: completed"}, "", std::nullopt},
    {"Empty", {}, "", std::nullopt},
    {"HeaderCutShort", {}, "2026-12-10 22:15:00.123 +0100 +0.000 s quillon 1.0.0 (quillon-cli, pro", std::nullopt},
};

TEST(RunHistoryTest, EachRunLogReadsBackAsItsRun) {
    for (const HistoryCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const TempDir folder;
        std::string path;
        {
            RunLog log(folder.Path());
            path = log.Path();
            for (const std::string& line : c.lines) log.Write(line);
        }
        ASSERT_FALSE(path.empty());
        if (!c.cut.empty()) std::ofstream(path, std::ios::app) << c.cut;

        const std::vector<PastRun> runs = ReadRunHistory(folder.Path());
        if (!c.expected) {
            EXPECT_TRUE(runs.empty());
            continue;
        }
        ASSERT_EQ(runs.size(), 1u);
        PastRun expected = *c.expected;
        expected.logPath = path;
        expected.startTime = runs[0].startTime;
        EXPECT_EQ(runs[0], expected);
        // "2026-12-10 22:15:00.123 +0100"
        EXPECT_EQ(runs[0].startTime.size(), 29u) << runs[0].startTime;
    }
}

// Newest first; whatever else lies in the folder, or cannot be read, is left
// out, and nothing waits on a FIFO that carries a run log's name.
TEST(RunHistoryTest, NewestFirstAndWhatIsNoReadableRunLogIsLeftOut) {
    const TempDir folder;
    std::vector<std::string> written;
    for (const char* program : {"quillon", "quillon-cli", "quillon"}) {
        RunLog log(folder.Path());
        log.Write(std::string("quillon 1.0.0 (") + program + ", process 1)");
        written.push_back(log.Path());
    }
    // Named as the newest runs would be.
    ASSERT_EQ(::mkfifo(folder.File("run-99991231-235959-999-1.log").c_str(), 0600), 0);
    std::filesystem::create_directory(folder.File("run-99991231-235959-999-2.log"));
    std::ofstream(folder.File("run-99991231-235959-999-3.log")) << std::string("\0\xff\n\x01garbage\n", 12);
    const std::string unreadable = folder.File("run-99991231-235959-999-4.log");
    std::ofstream(unreadable) << "2026-12-10 22:15:00.123 +0100 +0.000 s " << kHeader << "\n";
    ::chmod(unreadable.c_str(), 0);
    std::ofstream(folder.File("notes.log")) << "2026-12-10 22:15:00.123 +0100 +0.000 s " << kHeader << "\n";
    ::symlink(written.front().c_str(), folder.File("run-99991231-235959-999-5.log").c_str());

    std::vector<std::string> listed;
    for (const PastRun& run : ReadRunHistory(folder.Path())) listed.push_back(run.logPath);
    // Root reads a file of mode 0: then it is listed too, as the run it is.
    if (::geteuid() == 0) {
        ASSERT_FALSE(listed.empty());
        EXPECT_EQ(listed.front(), unreadable);
        listed.erase(listed.begin());
    }
    EXPECT_EQ(listed, (std::vector<std::string>{written[2], written[1], written[0]}));
    EXPECT_TRUE(ReadRunHistory(folder.File("missing")).empty());
}

}  // namespace
