// The run log: what a whole run writes into it, that it is on disk line by
// line, that a log that cannot be written leaves the update alone, and that
// only the last runs' logs are kept.
#include "app/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "app/app_testing.h"
#include "app/run_log_lines.h"
#include "app/run_log_testing.h"
#include "common/temp_dir_testing.h"

namespace {

using namespace app_testing;

// Every line whole: it starts with the local time and the time since the log was
// opened, and the text ends with a line feed.
void ExpectWholeLines(const std::string& log) {
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    static const std::regex kStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d{4} \+\d+\.\d{3} s \S.*)");
    for (const std::string& line : Lines(log)) EXPECT_TRUE(std::regex_match(line, kStamp)) << line;
}

// A bench with one monitor and its package, and a state folder of the test's own.
class RunLogTest : public ::testing::Test {
protected:
    RunLogTest() {
        bench.Plug(MonitorKind::CombinedTunnel);
        bench.WritePackage();
    }
    std::string LogFolder() const { return bench.StateFolder(); }

    Bench bench;
    ScriptedView view;
    std::ostringstream failures;
};

TEST_F(RunLogTest, AWholeUpdateIsRecordedFromTheProgramsVersionToItsResult) {
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    std::vector<std::string> observed;  // the steps as the command line sees them
    run.SetStepObserver([&](const ProgressSnapshot& step) { observed.push_back(LogStepText(step)); });
    run.Start();
    TickWhileWorking(run);
    ASSERT_TRUE(view.updateEnabled);

    // In one file of its own in the state folder, written as the run goes.
    const std::string path = run.RunLogPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::filesystem::path(path).parent_path(), LogFolder());
    EXPECT_TRUE(std::regex_match(std::filesystem::path(path).filename().string(),
                                 std::regex(R"(run-\d{8}-\d{6}-\d{3}-\d+\.log)")));
    struct stat folder {};
    ASSERT_EQ(::stat(LogFolder().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    const std::string beforeUpdate = ReadFile(path);
    EXPECT_TRUE(Holds(beforeUpdate, "quillon " QUILLON_VERSION)) << beforeUpdate;
    EXPECT_TRUE(Holds(beforeUpdate, "QX2701 S/N SN000001")) << beforeUpdate;
    EXPECT_TRUE(Holds(beforeUpdate, "firmware before the update " + MemoryText(kBefore))) << beforeUpdate;
    EXPECT_TRUE(Holds(beforeUpdate, "package file: " + bench.Folder() + "update.vfw")) << beforeUpdate;
    EXPECT_TRUE(Holds(beforeUpdate, "package: version " + MemoryText(kAfter) + ", firmware set for " +
                                        MemoryText(kBefore)))
        << beforeUpdate;
    EXPECT_FALSE(Holds(beforeUpdate, "result:"));

    // The steps are on disk as the update thread enters them, before the run takes its result.
    run.PressUpdate();
    run.WaitForWorker();
    const std::string afterUpdate = ReadFile(path);
    EXPECT_TRUE(Holds(afterUpdate, "Preparing the update\n")) << afterUpdate;
    EXPECT_TRUE(Holds(afterUpdate, "Writing component 1 of ")) << afterUpdate;
    EXPECT_TRUE(Holds(afterUpdate, "Restarting the monitor\n")) << afterUpdate;
    EXPECT_FALSE(Holds(afterUpdate, "result:"));
    // Every step the observer saw is a line of the log, in the same order.
    ASSERT_FALSE(observed.empty());
    std::size_t at = 0;
    for (const std::string& step : observed) {
        at = afterUpdate.find(" s " + step + "\n", at);
        ASSERT_NE(at, std::string::npos) << step;
        ++at;
    }

    TickWhileWorking(run);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_TRUE(view.messages.back().runLogPath.empty());  // no line under a completion
    const std::string log = ReadFile(path);
    ExpectWholeLines(log);
    EXPECT_TRUE(Holds(log, "firmware after the update " + MemoryText(kAfter))) << log;
    EXPECT_EQ(Lines(log).back().substr(Lines(log).back().find(" s ") + 3), "result: completed");
    EXPECT_EQ(failures.str(), "");
}

TEST_F(RunLogTest, AFailedUpdateNamesItsStepStatusAndSystemError) {
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    run.Start();
    TickWhileWorking(run);
    ASSERT_TRUE(view.updateEnabled);
    // The backup file cannot be replaced when the update rewrites it.
    std::filesystem::remove(bench.BackupPath());
    std::filesystem::create_directory(bench.BackupPath());
    run.PressUpdate();
    TickWhileWorking(run);
    ASSERT_TRUE(run.Ended());

    const std::string log = ReadFile(run.RunLogPath());
    ExpectWholeLines(log);
    const std::string cause = "status 0x80000011 (cannot replace " + bench.BackupPath() + ": Is a directory)";
    // Started again three times, then the message.
    for (int restart = 1; restart <= 3; ++restart)
        EXPECT_TRUE(Holds(log, cause + "; starting it again (" + std::to_string(restart) + " of 3)")) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("failed at step \"[A-Z][^\"]+\": " +
                                                  std::regex_replace(cause, std::regex(R"([()./])"), R"(\$&)"))))
        << log;
    EXPECT_TRUE(Holds(Lines(log).back(), "result: failed with " + cause)) << log;

    // The message says where the log is.
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kFileOpenFailed});
    EXPECT_EQ(view.messages.back().runLogPath, run.RunLogPath());
}

TEST_F(RunLogTest, TheUserEndingTheRunIsItsResult) {
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    view.acceptWarning = false;
    RunToEnd(run, view);
    ASSERT_FALSE(run.Ended());
    ASSERT_TRUE(run.Close());
    const std::vector<std::string> lines = Lines(ReadFile(run.RunLogPath()));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(lines[lines.size() - 2].ends_with("the warning was not confirmed"));
    EXPECT_TRUE(lines.back().ends_with("result: ended by the user"));
}

TEST_F(RunLogTest, NoLogBeforeAMonitorIsSelected) {
    view.listChoice = std::nullopt;
    view.acceptReadMe = false;
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    RunToEnd(run, view);
    EXPECT_TRUE(run.Ended());
    EXPECT_EQ(run.RunLogPath(), "");
    EXPECT_TRUE(std::filesystem::is_empty(LogFolder()));
}

// The package's bytes never reach the log: no run of the package's distinctive
// bytes shows up in it.
TEST_F(RunLogTest, NeverHoldsThePackagesBytes) {
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    RunToEnd(run, view);
    ASSERT_TRUE(run.Ended());
    const std::string log = ReadFile(run.RunLogPath());
    const std::string package = ReadFile(bench.Folder() + "update.vfw");
    ASSERT_GT(package.size(), 1000u);
    constexpr std::size_t kRun = 12;
    std::size_t checked = 0;
    for (std::size_t at = 0; at + kRun <= package.size(); at += 7) {
        const std::string part = package.substr(at, kRun);
        if (std::set<char>(part.begin(), part.end()).size() < 6) continue;  // filler, or text like a version
        bool printable = std::all_of(part.begin(), part.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
        if (printable) continue;  // names and versions are the package's words, which the log may quote
        ++checked;
        EXPECT_FALSE(Holds(log, part)) << "package bytes at " << at;
    }
    EXPECT_GT(checked, 100u);
}

// The log and the backup file share the state folder: one that cannot be made
// refuses the update before anything is written, and the failure line says why.
TEST_F(RunLogTest, AStateFolderThatCannotBeMadeRefusesTheUpdateBeforeItBegins) {
    const struct {
        const char* name;
        std::function<std::string(const std::string& base)> block;  // the state folder to use
        std::string why;  // {base}: the test's folder
    } cases[] = {
        {"a file where the folder should be",
         [](const std::string& base) {
             std::ofstream(base + "/quillon") << "in the way";
             return base + "/quillon";
         },
         "cannot create a file beside {base}/quillon/.backup: Not a directory"},
        {"a file where a parent of the folder should be",
         [](const std::string& base) {
             std::ofstream(base + "/parent") << "in the way";
             return base + "/parent/state/quillon";
         },
         "mkdir {base}/parent/state/quillon: Not a directory"},
        {"nothing names a state folder", [](const std::string&) { return std::string(); },
         "no state folder for the backup file: neither XDG_STATE_HOME, HOME nor the user database names one: No such "
         "file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench caseBench;
        caseBench.Plug(MonitorKind::OlderNative);
        caseBench.WritePackage();
        TempDir base;
        ScriptedView caseView;
        std::ostringstream caseFailures;
        MainWorkflow run(caseView, caseFailures);
        caseBench.UseFolders(run.Run());
        run.Run().stateFolders = StateFolders{c.block(base.Path()), {}};
        RunToEnd(run, caseView);

        ASSERT_TRUE(run.Ended());
        EXPECT_EQ(caseView.MessageIds(), std::vector<TextId>{text_id::kFileOpenFailed});
        EXPECT_EQ(caseBench.VersionOf(caseBench.Open()), MemoryText(kBefore));
        EXPECT_EQ(ReadSettings(caseBench.Open()), caseBench.before);
        EXPECT_EQ(run.RunLogPath(), "");
        std::string why = c.why;
        if (const auto at = why.find("{base}"); at != std::string::npos) why.replace(at, 6, base.Path());
        EXPECT_TRUE(Holds(caseFailures.str(), "quillon: " + why + " (status ")) << caseFailures.str();
    }
}

// An error message of a run without a log has no line under it. (A file in
// place of the state folder: neither the log nor the backup file can be made.)
TEST_F(RunLogTest, AnErrorWithoutALogHasNoLineUnderIt) {
    std::ofstream(LogFolder() + "/blocked") << "in the way";
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    run.Run().stateFolders = StateFolders{LogFolder() + "/blocked", {}};
    RunToEnd(run, view);
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kFileOpenFailed});
    EXPECT_EQ(view.messages[0].runLogPath, "");
    EXPECT_EQ(MessageBoxText(view.messages[0], Language::English), MessageText(view.messages[0], Language::English));
}

// Only our own logs are counted and deleted: with this run's, the last 20 remain.
TEST(RunLogFiles, KeepsTheLastTwentyOfItsOwn) {
    TempDir folder;
    std::vector<std::string> old;
    for (int i = 0; i < 25; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "run-20250101-0000%02d-000-42.log", i);
        // The sixth and seventh runs of one process began within one millisecond:
        // the seventh's name has a number, and it is the newer of the two.
        if (i == 6) std::snprintf(name, sizeof name, "run-20250101-000005-000-42-2.log");
        old.push_back(name);
        std::ofstream(folder.File(name)) << "old run\n";
    }
    for (const char* other : {"notes.txt", "run-mine.log", "zz-run-20250101-000000-000-1.log"})
        std::ofstream(folder.File(other)) << "not a run log\n";

    RunLog log(folder.Path());
    ASSERT_NE(log.Path(), "");
    std::vector<std::string> expected(old.end() - 19, old.end());
    expected.push_back(std::filesystem::path(log.Path()).filename().string());
    expected.insert(expected.end(), {"notes.txt", "run-mine.log", "zz-run-20250101-000000-000-1.log"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folder.Names(), expected);
    EXPECT_EQ(log.TakeProblem(), std::nullopt);
}

// Lines from several threads at once stay whole, each on its own line.
TEST(RunLogFiles, LinesFromSeveralThreadsStayWhole) {
    TempDir folder;
    RunLog log(folder.Path());
    constexpr int kThreads = 4, kLines = 200;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&log, t] {
                for (int i = 0; i < kLines; ++i)
                    log.Write("thread " + std::to_string(t) + " line " + std::to_string(i));
            });
    }
    const std::string text = ReadFile(log.Path());
    ExpectWholeLines(text);
    std::set<std::string> seen;
    for (const std::string& line : Lines(text)) seen.insert(line.substr(line.find(" thread ") + 1));
    EXPECT_EQ(seen.size(), std::size_t{kThreads * kLines});
    // A line feed in a text does not start a line of its own, nor does a
    // carriage return or a terminal's escape sequence act (a model name may hold them).
    log.Write("two\nlines\r\x1b[2J\xff");
    EXPECT_TRUE(ReadFile(log.Path()).ends_with(" two\\x0alines\\x0d\\x1b[2J\\xff\n"));
}

// The About box's line names as many runs as are kept, in either language.
TEST(RunLogLine, TheAboutBoxTellsHowManyLogsAreKept) {
    for (const Language language : {Language::English, Language::Japanese})
        EXPECT_TRUE(Holds(CatalogueText(text_id::kRunLogFolder, language), std::to_string(kKeptRunLogs)));
}

// Under an error message, where the run's log is: once, in the message's language,
// after the catalogue text, which stays as it is.
TEST(RunLogLine, FollowsAnErrorMessageOnceInEitherLanguage) {
    for (const Language language : {Language::English, Language::Japanese}) {
        SCOPED_TRACE(language == Language::English ? "English" : "Japanese");
        UserMessage message{text_id::kFileOpenFailed, {}};
        EXPECT_EQ(MessageBoxText(message, language), MessageText(message, language));
        message.runLogPath = "/home/user/.local/state/quillon/run-20261210-211500-000-7.log";
        const std::string text = MessageBoxText(message, language);
        const std::string head = MessageText(message, language) + "\n\n";
        ASSERT_TRUE(text.starts_with(head));
        const std::string line = text.substr(head.size());
        EXPECT_EQ(line, language == Language::English
                            ? "A record of this run was written to " + message.runLogPath + "."
                            : "この実行の記録を " + message.runLogPath + " に書き込みました。");
        EXPECT_EQ(text.find(message.runLogPath), text.rfind(message.runLogPath));
    }
}

}  // namespace
