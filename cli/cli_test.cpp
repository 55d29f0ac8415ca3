// quillon-cli's commands, run in-process against emulated monitors on the
// virtual clock, as the window's workflow tests run the window.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "app/app_testing.h"
#include "app/update_lock.h"
#include "cli/cli_io.h"
#include "cli/cli_testing.h"
#include "cli/cli_view.h"
#include "cli/command_line.h"
#include "cli/progress_output.h"
#include "monitor/layer_fixture_testing.h"

namespace {

using namespace app_testing;
using namespace cli_testing;

// A catalogue text as the runs show it, in the tests' language.
std::string Text(TextId id, const std::vector<MessageArgument>& arguments = {}) {
    return LocalText(id, CatalogueLanguage(), arguments);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Shown(const VersionFields& fields) {
    const VersionLines lines = MergedVersionLines(MemoryText(fields), "");
    return lines.head + lines.tail;
}

// The "runLog" of a JSON result line, "" without one.
std::string RunLogOf(const std::string& resultLine) {
    const std::string key = "\"runLog\":\"";
    const std::size_t start = resultLine.find(key);
    if (start == std::string::npos) return {};
    const std::size_t end = resultLine.find('"', start + key.size());
    return resultLine.substr(start + key.size(), end - start - key.size());
}

std::string LastLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last;
}

// The log named by the line under a failure's message, "" without that line.
std::string RunLogNamedIn(const std::string& err) {
    const std::string marker = "@PATH@";  // printable: the message shows a control character escaped
    const std::string line = "quillon-cli: " + Text(text_id::kRunLogWritten, {marker});
    const std::string before = line.substr(0, line.find(marker));
    const std::string after = line.substr(line.find(marker) + marker.size());
    for (const std::string& shown : Lines(err))
        if (shown.starts_with(before) && shown.ends_with(after))
            return shown.substr(before.size(), shown.size() - before.size() - after.size());
    return {};
}

// --- The command line ---------------------------------------------------------

struct BadCommandLine {
    const char* name;
    std::vector<std::string> arguments;
    const char* error;  // part of the message
    Command usageOf;
};

const BadCommandLine kBadCommandLines[] = {
    {"Nothing", {}, "no command", Command::Help},
    {"UnknownCommand", {"upgrade"}, "unknown command \"upgrade\"", Command::Help},
    {"UnknownGlobalOption", {"--verbose"}, "unknown option --verbose", Command::Help},
    {"VersionWithArguments", {"--version", "list"}, "--version takes no arguments", Command::Help},
    {"UnknownListOption", {"list", "--all"}, "unknown option --all", Command::List},
    {"YesIsForUpdateOnly", {"list", "--yes"}, "unknown option --yes", Command::List},
    {"ListArgument", {"list", "extra"}, "unexpected argument \"extra\"", Command::List},
    {"StatusPackage", {"status", "--package", "a.vfw"}, "unknown option --package", Command::Status},
    {"PackageWithoutValue", {"update", "--package"}, "--package needs a value", Command::Update},
    {"EmptyPackage", {"update", "--package="}, "--package needs a value", Command::Update},
    {"MonitorTwice", {"update", "--monitor", "A", "--monitor=B"}, "--monitor given twice", Command::Update},
    {"JsonWithValue", {"update", "--json=1"}, "unknown option --json", Command::Update},
    {"HelpForUnknown", {"help", "frobnicate"}, "unknown command", Command::Help},
};

class BadCommandLineTest : public ::testing::TestWithParam<BadCommandLine> {
protected:
    Bench bench;
};
INSTANTIATE_TEST_SUITE_P(Cases, BadCommandLineTest, ::testing::ValuesIn(kBadCommandLines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(BadCommandLineTest, ExitsTwoWithWhatIsWrongAndTheUsageLine) {
    CliRun run(bench);
    EXPECT_EQ(run.Run(GetParam().arguments), 2);
    const std::vector<std::string> lines = Lines(run.err.str());
    ASSERT_EQ(lines.size(), 2u) << run.err.str();
    EXPECT_TRUE(Contains(lines[0], GetParam().error)) << lines[0];
    EXPECT_EQ(lines[1], UsageLine(GetParam().usageOf));
    EXPECT_EQ(run.out.str(), "");
}

TEST(CommandLineTest, HelpAndVersionAnswerWithoutTouchingAMonitor) {
    Bench bench;
    for (const auto& [arguments, start] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--help"}, UsageLine(Command::Help)},
             {{"help", "update"}, UsageLine(Command::Update)},
             {{"update", "--help"}, UsageLine(Command::Update)},
             {{"list", "-h"}, UsageLine(Command::List)},
             {{"status", "--json", "--help"}, UsageLine(Command::Status)},
         }) {
        CliRun run(bench);
        EXPECT_EQ(run.Run(arguments), 0);
        EXPECT_TRUE(run.out.str().starts_with(start)) << run.out.str();
    }
    CliRun version(bench);
    EXPECT_EQ(version.Run({"--version"}), 0);
    EXPECT_EQ(version.out.str(), std::string("quillon-cli ") + QUILLON_VERSION + "\n");
}

TEST(CommandLineTest, OptionsTakeTheirValueEitherWay) {
    const ParsedCommandLine parsed =
        ParseCommandLine({"update", "--package=/tmp/x.vfw", "--monitor", "SN000002", "-y", "--json"});
    ASSERT_TRUE(parsed.line.has_value()) << parsed.error;
    EXPECT_EQ(parsed.line->command, Command::Update);
    EXPECT_EQ(parsed.line->package, "/tmp/x.vfw");
    EXPECT_EQ(parsed.line->monitor, "SN000002");
    EXPECT_TRUE(parsed.line->yes);
    EXPECT_TRUE(parsed.line->json);
}

// --- list ---------------------------------------------------------------------

class PerKindTest : public ::testing::TestWithParam<MonitorKind> {
protected:
    Bench bench;
};
INSTANTIATE_TEST_SUITE_P(AllKinds, PerKindTest, ::testing::ValuesIn(kAllKinds), KindTestName);

TEST_P(PerKindTest, ListShowsTheMonitorAsItRuns) {
    bench.Plug(GetParam());
    CliRun run(bench);
    ASSERT_EQ(run.Run({"list", "--json"}), 0) << run.err.str();
    const std::string json = run.out.str();
    EXPECT_TRUE(Contains(json, "{\"monitors\":[{\"model\":\"QX2701\",\"serial\":\"SN000001\",\"version\":\"" +
                                   Shown(kBefore) + "\",\"state\":\"running\",\"device\":\""))
        << json;
    EXPECT_EQ(Lines(json).size(), 1u);

    CliRun table(bench);
    ASSERT_EQ(table.Run({"list"}), 0);
    const std::vector<std::string> lines = table.OutLines();
    ASSERT_EQ(lines.size(), 2u) << table.out.str();
    EXPECT_TRUE(lines[0].starts_with("MODEL"));
    EXPECT_TRUE(lines[1].starts_with("QX2701  SN000001  " + Shown(kBefore) + "  running  ")) << lines[1];
}

TEST_P(PerKindTest, AWholeUpdateEndsWithTheNewFirmwareAndAResultLine) {
    bench.Plug(GetParam());
    bench.WritePackage();
    CliRun run(bench);
    EXPECT_EQ(run.Run({"update", "--yes", "--json"}), 0) << run.err.str();
    const std::vector<std::string> lines = run.OutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(lines.front().starts_with("{\"event\":\"summary\",\"model\":\"QX2701\",\"serial\":\"SN000001\""))
        << lines.front();
    EXPECT_TRUE(Contains(lines.front(), "\"newVersion\":\"" + Shown(kAfter) + "\"")) << lines.front();
    const std::string complete = MessageText(
        {text_id::kComplete,
         {MergedVersionLines(MemoryText(kAfter), "").head, MergedVersionLines(MemoryText(kAfter), "").tail}});
    EXPECT_TRUE(lines.back().starts_with("{\"event\":\"result\",\"status\":\"0x00000000\",\"message\":\"" + complete +
                                         "\",\"version\":\"" + Shown(kAfter) + "\",\"runLog\":\""))
        << lines.back();
    // The result names the run's log, which ends with the same result.
    const std::string log = RunLogOf(lines.back());
    EXPECT_TRUE(log.starts_with(bench.StateFolder() + "/run-")) << log;
    EXPECT_TRUE(LastLineOf(log).ends_with("result: completed")) << LastLineOf(log);
    std::ifstream logFile(log);
    std::string header;
    std::getline(logFile, header);
    EXPECT_TRUE(Contains(header, "quillon " QUILLON_VERSION " (quillon-cli, process ")) << header;
    for (const std::string& line : lines) EXPECT_TRUE(line.starts_with("{\"event\":\"")) << line;
    EXPECT_EQ(run.err.str(), "");

    EXPECT_FALSE(bench.BackupExists());
    const MonitorHandle monitor = bench.Open();
    EXPECT_EQ(bench.VersionOf(monitor), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(monitor), bench.before);
}

// A cut while the components are written leaves the monitor waiting in its
// update and the backup file at the stage it reached.
// The power fails at transfer `atTransfer` and the monitor stays in its update.
void CutAnUpdate(Bench& bench, Monitor& monitor, std::uint32_t atTransfer = 250) {
    bench.WritePackage();
    FaultPlan plan;
    plan.unplugAtTransfer = atTransfer;
    monitor.AddFaults(plan);
    CliRun cut(bench);
    EXPECT_EQ(cut.Run({"update", "--yes"}), 1);
    EXPECT_TRUE(Contains(cut.err.str(), Text(text_id::kCommunicationError))) << cut.err.str();
    // The status (and the failed system call, when one failed) are said as quillon-cli's, like its other lines.
    bool statusLine = false;
    for (const std::string& line : Lines(cut.err.str())) {
        EXPECT_FALSE(line.starts_with("quillon: ")) << line;
        statusLine = statusLine || (line.starts_with("quillon-cli: ") && Contains(line, "status 0x"));
    }
    EXPECT_TRUE(statusLine) << cut.err.str();
    // Under the message, the log that tells at which step it failed.
    const std::string log = RunLogNamedIn(cut.err.str());
    EXPECT_TRUE(Contains(LastLineOf(log), "result: failed with status 0x")) << cut.err.str();
    ASSERT_TRUE(bench.BackupExists());
    bench.clock.Advance(60'000);  // the monitor is back a while later
}

TEST(ListTest, AMonitorWaitingInAnInterruptedUpdateIsListedInUpdate) {
    Bench bench;
    // A cut the run's automatic restarts cannot recover (they find the monitor
    // waiting in its update after many other cuts).
    CutAnUpdate(bench, bench.Plug(MonitorKind::OlderTunnel), 450);
    CliRun run(bench);
    ASSERT_EQ(run.Run({"list", "--json"}), 0) << run.err.str();
    EXPECT_TRUE(Contains(run.out.str(), "\"state\":\"in-update\"")) << run.out.str();
    EXPECT_FALSE(Contains(run.out.str(), "\"state\":\"running\"")) << run.out.str();
}

TEST(ListTest, NoMonitorIsSaidAsSuch) {
    Bench bench;
    CliRun json(bench);
    ASSERT_EQ(json.Run({"list", "--json"}), 0);
    EXPECT_EQ(json.out.str(), "{\"monitors\":[],\"refused\":0}\n");
    CliRun text(bench);
    ASSERT_EQ(text.Run({"list"}), 0);
    EXPECT_EQ(text.out.str(), Text(text_id::kNoMonitor) + "\n");
}

// A monitor this user may not open (its device rule is missing) is not "no
// monitor": it is said with the window's message, as a failure.
TEST(ListTest, AMonitorThatCannotBeOpenedIsSaidWithThePermissionMessage) {
    Bench bench;
    bench.platform.RefuseAccess(bench.Plug(MonitorKind::CombinedTunnel));
    const std::string said = "quillon-cli: " + Text(text_id::kDevicesRefused) + "\nquillon-cli: status 0x80000030\n";
    CliRun text(bench);
    EXPECT_EQ(text.Run({"list"}), 1);
    EXPECT_EQ(text.out.str(), "");
    EXPECT_EQ(text.err.str(), said);
    CliRun json(bench);
    EXPECT_EQ(json.Run({"list", "--json"}), 1);
    EXPECT_EQ(json.out.str(), "{\"monitors\":[],\"refused\":1}\n");
    EXPECT_EQ(json.err.str(), said);
}

// The ones that open are listed, and the run succeeds as the window's list
// does; standard error says how many more there are and why they are missing.
TEST(ListTest, BesideAMonitorThatCannotBeOpenedTheOthersAreListed) {
    Bench bench;
    bench.Plug(MonitorKind::OlderNative, "SN000001");
    bench.platform.RefuseAccess(bench.Plug(MonitorKind::CombinedTunnel, "SN000002"));
    const std::string said =
        "quillon-cli: " + Text(text_id::kMonitorsNotOpened, {1}) + "\nquillon-cli: " + Text(text_id::kDevicesRefused) + "\n";
    CliRun text(bench);
    EXPECT_EQ(text.Run({"list"}), 0);
    const std::vector<std::string> rows = text.OutLines();
    ASSERT_EQ(rows.size(), 2u) << text.out.str();
    EXPECT_TRUE(Contains(rows[1], "SN000001")) << rows[1];
    EXPECT_EQ(text.err.str(), said);
    CliRun json(bench);
    EXPECT_EQ(json.Run({"list", "--json"}), 0);
    EXPECT_TRUE(Contains(json.out.str(), "\"serial\":\"SN000001\"")) << json.out.str();
    EXPECT_FALSE(Contains(json.out.str(), "SN000002")) << json.out.str();
    EXPECT_TRUE(Contains(json.out.str(), "],\"refused\":1}")) << json.out.str();
    EXPECT_EQ(json.err.str(), said);
}

// --- status and resumption ------------------------------------------------------

TEST(StatusTest, NothingRecordedAndThenTheInterruptedUpdateWhichTheNextUpdateFinishes) {
    Bench bench;
    CliRun none(bench);
    ASSERT_EQ(none.Run({"status", "--json"}), 0);
    EXPECT_EQ(none.out.str(), "{\"interrupted\":false}\n");

    Monitor& monitor = bench.Plug(MonitorKind::CombinedTunnel);
    CutAnUpdate(bench, monitor);
    const auto before = std::filesystem::last_write_time(bench.BackupPath());
    CliRun status(bench);
    ASSERT_EQ(status.Run({"status", "--json"}), 0) << status.err.str();
    const std::string json = status.out.str();
    EXPECT_TRUE(
        json.starts_with("{\"interrupted\":true,\"model\":\"QX2701\",\"serial\":\"SN000001\",\"currentVersion\":\"" +
                         Shown(kBefore) + "\",\"targetVersion\":\"" + Shown(kAfter) + "\",\"stage\":"))
        << json;
    CliRun text(bench);
    ASSERT_EQ(text.Run({"status"}), 0);
    EXPECT_TRUE(text.out.str().starts_with(
        MessageText({text_id::kInterruptedUpdate,
                     {std::string("QX2701"), std::string("SN000001"), Shown(kBefore), Shown(kAfter), 0, std::string()}})
            .substr(0, 20)));
    // Cut while the components were written: the stage's name in JSON, the user's words in the text.
    EXPECT_TRUE(Contains(json, "\"step\":\"writing\"")) << json;
    // The file it read, in both forms.
    EXPECT_TRUE(Contains(json, "\"recordFile\":\"" + bench.BackupPath() + "\"")) << json;
    EXPECT_TRUE(Contains(text.out.str(), "\n" + Text(text_id::kRecordReadFrom, {bench.BackupPath()}) + "\n"))
        << text.out.str();
    for (const Language language : {Language::English, Language::Japanese}) {
        CliRun inLanguage(bench);
        inLanguage.io.language = language;
        ASSERT_EQ(inLanguage.Run({"status"}), 0);
        const std::string said = inLanguage.out.str();
        EXPECT_TRUE(Contains(said, "(" + CatalogueText(text_id::kStoppedWriting, language) + ")")) << said;
        EXPECT_FALSE(Contains(said, "(writing)")) << said;
    }
    EXPECT_EQ(std::filesystem::last_write_time(bench.BackupPath()), before) << "status changed the backup file";

    // Resumed without naming anything: the record names the monitor.
    CliRun resumed(bench);
    EXPECT_EQ(resumed.Run({"update", "--yes"}), 0) << resumed.err.str();
    EXPECT_FALSE(bench.BackupExists());
    const MonitorHandle handle = bench.Open();
    EXPECT_EQ(bench.VersionOf(handle), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(handle), bench.before);
}

// status looks where an update looks, in the same order: a record beside the
// executable (an earlier version's) is found and named, and left where it is.
TEST(StatusTest, FindsTheRecordWhereAnUpdateWouldAndNamesIt) {
    Bench bench;
    CliRun none(bench);
    ASSERT_EQ(none.Run({"status"}), 0);
    const std::string beside = bench.Folder().substr(0, bench.Folder().size() - 1);
    EXPECT_EQ(none.out.str(), Text(text_id::kNoInterruptedUpdate) + "\n" +
                                  Text(text_id::kNoRecordFound, {bench.StateFolder() + ", " + beside}) + "\n");

    Monitor& monitor = bench.Plug(MonitorKind::CombinedTunnel);
    CutAnUpdate(bench, monitor);
    const std::string besidePath = bench.Folder() + kBackupFileName;
    std::filesystem::rename(bench.BackupPath(), besidePath);
    CliRun status(bench);
    ASSERT_EQ(status.Run({"status", "--json"}), 0) << status.err.str();
    EXPECT_TRUE(Contains(status.out.str(), "{\"interrupted\":true,")) << status.out.str();
    EXPECT_TRUE(Contains(status.out.str(), "\"recordFile\":\"" + besidePath + "\"")) << status.out.str();
    EXPECT_TRUE(std::filesystem::exists(besidePath));
    EXPECT_FALSE(bench.BackupExists());

    // One in the state folder comes first.
    std::filesystem::copy_file(besidePath, bench.BackupPath());
    CliRun first(bench);
    ASSERT_EQ(first.Run({"status", "--json"}), 0) << first.err.str();
    EXPECT_TRUE(Contains(first.out.str(), "\"recordFile\":\"" + bench.BackupPath() + "\"")) << first.out.str();
}

// A monitor waits in an update and no record is found: after the window's
// message, where records were looked for.
TEST(StatusTest, AWaitingMonitorWithoutARecordNamesTheFoldersLookedIn) {
    Bench bench;
    bench.WritePackage();
    // Begun on another computer.
    bench.PlugWaiting(MonitorKind::OlderTunnel);
    CliRun run(bench);
    EXPECT_EQ(run.Run({"update", "--yes"}), 1);
    const std::string beside = bench.Folder().substr(0, bench.Folder().size() - 1);
    EXPECT_TRUE(Contains(run.err.str(), "quillon-cli: " + Text(text_id::kSamePc) + "\n")) << run.err.str();
    EXPECT_TRUE(Contains(run.err.str(), "quillon-cli: " + Text(text_id::kNoRecordFound, {bench.StateFolder() + ", " + beside}) + "\n"))
        << run.err.str();
}

TEST(StatusTest, AnInterruptedUpdateIsFinishedBeforeAnyOtherMonitor) {
    Bench bench;
    Monitor& first = bench.Plug(MonitorKind::OlderNative);
    CutAnUpdate(bench, first);
    CliRun other(bench);
    EXPECT_EQ(other.Run({"update", "--yes", "--monitor", "SN000009"}), 1);
    EXPECT_TRUE(Contains(other.err.str(), "0x800000C3")) << other.err.str();
    EXPECT_TRUE(bench.BackupExists());
}

// --- refusals -------------------------------------------------------------------

struct Refusal {
    const char* name;
    int packages;
    Bench::PackageContents contents;
    TextId message;
    const char* status;
    int exitCode;
    bool logged;  // the run chose a monitor, so it has a log
};

const Refusal kRefusals[] = {
    {"NoPackage", 0, {}, text_id::kNoPackageFile, "0x80000024", 1, false},
    {"TwoPackages", 2, {}, text_id::kSeveralPackageFiles, "0x80000025", 1, false},
    {"AlreadyApplied", 1, WithVersion("0010200201000030000400005"), text_id::kAlreadyApplied, "0x80000028", 3, true},
    {"ModelMismatch", 1, WithModel("QY27*"), text_id::kNoFileForMonitor, "", 1, true},
    {"NoFittingSet", 1, ForVersion({101, 201, 3, 4, 5}), text_id::kCannotUpdateWithFile, "", 1, true},
};

class RefusalTest : public ::testing::TestWithParam<Refusal> {
protected:
    Bench bench;
};
INSTANTIATE_TEST_SUITE_P(Cases, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(RefusalTest, SaysTheWindowsMessageWithItsStatusAndLeavesTheMonitorAsItWas) {
    const Refusal& c = GetParam();
    Monitor& monitor = bench.Plug(MonitorKind::OlderNative);
    for (int i = 0; i < c.packages; ++i) bench.WritePackage(c.contents, "update" + std::to_string(i) + ".vfw");
    CliRun run(bench);
    EXPECT_EQ(run.Run({"update", "--yes", "--json"}), c.exitCode);
    const std::string message = Text(c.message);
    EXPECT_TRUE(Contains(run.err.str(), "quillon-cli: " + message)) << run.err.str();
    EXPECT_TRUE(Contains(run.err.str(), std::string("status ") + c.status)) << run.err.str();
    const std::vector<std::string> lines = run.OutLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().starts_with(std::string("{\"event\":\"result\",\"status\":\"") + c.status))
        << lines.back();
    // Without exactly one package the run ends before it opens a monitor.
    const std::string version = c.packages == 1 ? Shown(kBefore) : "";
    EXPECT_TRUE(Contains(lines.back(), "\"version\":\"" + version + "\"")) << lines.back();
    // A refusal says where its log is, under its message; "nothing to do" is no failure.
    const std::string log = RunLogOf(lines.back());
    EXPECT_EQ(!log.empty(), c.logged) << lines.back();
    const bool logLineShown = Contains(run.err.str(), "quillon-cli: " + Text(text_id::kRunLogWritten, {log}));
    EXPECT_EQ(logLineShown, c.logged && c.exitCode == 1) << run.err.str();
    if (c.logged) {
        EXPECT_TRUE(Contains(LastLineOf(log), "result: ")) << LastLineOf(log);
    }
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(ReadSettings(bench.Open()), bench.before);
    EXPECT_EQ(monitor.RunningVersion()[0], 102);
}

TEST(MonitorChoiceTest, NoMonitorIsNothingToDo) {
    Bench bench;
    bench.WritePackage();
    CliRun run(bench);
    EXPECT_EQ(run.Run({"update", "--yes"}), 3);
    EXPECT_TRUE(Contains(run.err.str(), Text(text_id::kNoMonitor))) << run.err.str();
}

// Taking the first of several monitors with the named serial number would
// update whichever the system listed first.
TEST(MonitorChoiceTest, ASerialNumberOfSeveralMonitorsChoosesNone) {
    Bench bench;
    MonitorConfig other = Bench::Config(MonitorKind::CombinedTunnel, "SN000001");
    other.model = "QX2702";
    bench.Plug(MonitorKind::OlderNative, "SN000001");
    bench.Plug(other);
    bench.WritePackage();

    CliRun run(bench);
    EXPECT_EQ(run.Run({"update", "--yes", "--monitor", "SN000001"}), 1);
    const std::string err = run.err.str();
    EXPECT_TRUE(Contains(err, Text(text_id::kSeveralWithSerial, {std::string("SN000001")}))) << err;
    EXPECT_TRUE(Contains(err, "  QX2701  SN000001  ") && Contains(err, "  QX2702  SN000001  ")) << err;
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(bench.VersionOf(bench.Open("SN000001")), MemoryText(kBefore));
}

TEST(MonitorChoiceTest, SeveralMonitorsNeedOneNamedAndTheNamedOneIsUpdated) {
    Bench bench;
    bench.Plug(MonitorKind::OlderNative, "SN000001");
    bench.Plug(MonitorKind::CombinedTunnel, "SN000002");
    bench.WritePackage();

    CliRun several(bench);
    EXPECT_EQ(several.Run({"update", "--yes"}), 1);
    const std::string err = several.err.str();
    EXPECT_TRUE(Contains(err, Text(text_id::kSeveralMonitors))) << err;
    EXPECT_TRUE(Contains(err, "  QX2701  SN000001\n") && Contains(err, "  QX2701  SN000002\n")) << err;

    CliRun unknown(bench);
    EXPECT_EQ(unknown.Run({"update", "--yes", "--monitor", "SN000003"}), 1);
    EXPECT_TRUE(Contains(unknown.err.str(), Text(text_id::kNoMonitorWithSerial, {std::string("SN000003")})));
    EXPECT_FALSE(bench.BackupExists());

    CliRun named(bench);
    EXPECT_EQ(named.Run({"update", "--yes", "--monitor", "SN000002"}), 0) << named.err.str();
    EXPECT_EQ(bench.VersionOf(bench.Open("SN000002")), MemoryText(kAfter));
    EXPECT_EQ(bench.VersionOf(bench.Open("SN000001")), MemoryText(kBefore));
}

// --- confirmation, signals, the lock ----------------------------------------------

TEST(ConfirmationTest, WithoutATerminalTheUpdateNeedsYes) {
    Bench bench;
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    CliRun run(bench);
    EXPECT_EQ(run.Run({"update"}), 2);
    EXPECT_TRUE(Contains(run.err.str(), "--yes")) << run.err.str();
    EXPECT_FALSE(bench.BackupExists());
}

TEST(ConfirmationTest, OnATerminalTheSummaryIsAskedAboutOnce) {
    for (const auto& [answer, code] :
         std::vector<std::pair<std::optional<std::string>, int>>{{"n", 1}, {std::nullopt, 1}, {"yes", 0}}) {
        Bench bench;
        bench.Plug(MonitorKind::OlderNative);
        bench.WritePackage();
        CliRun run(bench);
        run.io.inputIsTerminal = true;
        int asked = 0;
        run.io.readLine = [&, answer = answer] {
            ++asked;
            return answer;
        };
        EXPECT_EQ(run.Run({"update"}), code) << run.err.str();
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(
            Contains(run.out.str(), Text(text_id::kSummaryMonitor, {std::string("QX2701"), std::string("SN000001")})));
        EXPECT_TRUE(Contains(run.err.str(), CatalogueText(text_id::kConfirmUpdate)));
        if (code == 1) {
            EXPECT_TRUE(Contains(run.err.str(), Text(text_id::kNotConfirmed)));
            EXPECT_FALSE(bench.BackupExists()) << "the settings were not put back";
            EXPECT_EQ(ReadSettings(bench.Open()), bench.before);
        }
    }
}

TEST(SignalTest, AStopBeforeTheUpdateTakesTheWindowsExitPath) {
    Bench bench;
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    CliRun run(bench);
    run.io.inputIsTerminal = true;
    bool signalled = false;
    // Ctrl-C at the question.
    run.io.readLine = [&] {
        signalled = true;
        return std::nullopt;
    };
    run.io.takeStopSignal = [&]() -> std::optional<int> {
        if (!signalled) return std::nullopt;
        signalled = false;
        return SIGINT;
    };
    EXPECT_EQ(run.Run({"update"}), 128 + SIGINT);
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(ReadSettings(bench.Open()), bench.before);
}

TEST(SignalTest, AStopWhileThePackageIsCheckedEndsTheRunBeforeTheUpdateBegins) {
    Bench bench;
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    CliRun run(bench);
    bool sent = false;
    run.io.takeStopSignal = [&]() -> std::optional<int> {
        if (sent) return std::nullopt;
        sent = true;
        return SIGTERM;
    };
    EXPECT_EQ(run.Run({"update", "--yes", "--json"}), 128 + SIGTERM);
    EXPECT_TRUE(Contains(run.out.str(), R"({"event":"result","status":"0x800000C6")")) << run.out.str();
    EXPECT_FALSE(Contains(run.out.str(), "\"event\":\"summary\"")) << "the update was offered";
    EXPECT_FALSE(bench.BackupExists());
    const MonitorHandle monitor = bench.Open();
    EXPECT_EQ(bench.VersionOf(monitor), MemoryText(kBefore));
    EXPECT_EQ(ReadSettings(monitor), bench.before);
}

TEST(SignalTest, AStopDuringTheUpdateIsRefusedWithTheTimeLeftAndTheUpdateCompletes) {
    Bench bench;
    bench.Plug(MonitorKind::OlderTunnel);
    bench.WritePackage();
    CliRun run(bench);
    int offered = 0;
    run.io.takeStopSignal = [&]() -> std::optional<int> {
        ++offered;
        return offered <= 3 ? std::optional<int>(offered == 1   ? SIGTERM
                                                 : offered == 2 ? SIGHUP
                                                                : SIGINT)
                            : std::nullopt;
    };
    // The signals come once the summary is out: the update thread starts next.
    const std::string summaryEnd = Text(text_id::kSummaryKeepConnected);
    run.io.takeStopSignal = [&, inner = run.io.takeStopSignal]() -> std::optional<int> {
        return Contains(run.out.str(), summaryEnd) ? inner() : std::nullopt;
    };
    EXPECT_EQ(run.Run({"update", "--yes"}), 0) << run.err.str();
    EXPECT_GT(offered, 3) << "the three signals were not all taken";
    const std::string err = run.err.str();
    std::size_t refusals = 0;
    for (std::size_t at = 0; (at = err.find("quillon-cli: ", at)) != std::string::npos; at += 1) ++refusals;
    EXPECT_EQ(refusals, 3u) << err;
    EXPECT_TRUE(Contains(err, CatalogueText(text_id::kCannotStopMinutes).substr(0, 30))) << err;
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
}

// Before the update begins, Ctrl-Z and the other job control signals suspend
// the run, which goes on when continued; Ctrl-\ ends it as Ctrl-C does.
TEST(SignalTest, BeforeTheUpdateJobControlSuspendsTheRunAndAQuitEndsIt) {
    struct Case {
        int signal;
        int code;
        bool suspends;
    };
    const Case cases[] = {
        {SIGQUIT, 128 + SIGQUIT, false},
        {SIGTSTP, 0, true},
        {SIGTTIN, 0, true},
        {SIGTTOU, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sigabbrev_np(c.signal));
        Bench bench;
        bench.Plug(MonitorKind::CombinedTunnel);
        bench.WritePackage();
        CliRun run(bench);
        bool sent = false;  // while the package is checked
        run.io.takeStopSignal = [&]() -> std::optional<int> {
            if (sent) return std::nullopt;
            sent = true;
            return c.signal;
        };
        std::vector<int> suspended;
        run.io.suspend = [&](int signal) { suspended.push_back(signal); };
        EXPECT_EQ(run.Run({"update", "--yes"}), c.code) << run.err.str();
        EXPECT_EQ(suspended, c.suspends ? std::vector<int>{c.signal} : std::vector<int>{});
        EXPECT_FALSE(Contains(run.err.str(), CatalogueText(text_id::kCannotStopMinutes).substr(0, 30))) << run.err.str();
        const MonitorHandle monitor = bench.Open();
        EXPECT_EQ(bench.VersionOf(monitor), MemoryText(c.suspends ? kAfter : kBefore));
        EXPECT_EQ(ReadSettings(monitor), bench.before);
    }
}

// Once it has begun, the update neither ends nor stops for them: each is refused.
TEST(SignalTest, DuringTheUpdateQuitAndJobControlAreRefusedAsCtrlCIs) {
    for (const int signal : {SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU}) {
        SCOPED_TRACE(sigabbrev_np(signal));
        Bench bench;
        bench.Plug(MonitorKind::OlderTunnel);
        bench.WritePackage();
        CliRun run(bench);
        const std::string summaryEnd = Text(text_id::kSummaryKeepConnected);
        bool sent = false;  // once the summary is out: the update thread starts next
        run.io.takeStopSignal = [&]() -> std::optional<int> {
            if (sent || !Contains(run.out.str(), summaryEnd)) return std::nullopt;
            sent = true;
            return signal;
        };
        std::vector<int> suspended;
        run.io.suspend = [&](int s) { suspended.push_back(s); };
        EXPECT_EQ(run.Run({"update", "--yes"}), 0) << run.err.str();
        EXPECT_TRUE(sent);
        EXPECT_TRUE(suspended.empty());
        EXPECT_TRUE(Contains(run.err.str(), "quillon-cli: " + CatalogueText(text_id::kCannotStopMinutes).substr(0, 30)))
            << run.err.str();
        EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
    }
}

// The holder is named as the kernel knows it: here, this test binary.
TEST(UpdateLockSharingTest, WhileAnotherUpdateRunsUpdateRefusesAndListOpensNoMonitor) {
    Bench bench;
    bench.Plug(MonitorKind::OlderTunnel);
    bench.WritePackage();
    const UpdateLock window;
    ASSERT_TRUE(window.Held());
    const std::string holder = std::string(program_invocation_short_name) + " (process " + std::to_string(getpid()) + ")";

    CliRun update(bench);
    EXPECT_EQ(update.Run({"update", "--yes"}), 1);
    EXPECT_TRUE(Contains(update.err.str(), Text(text_id::kUpdateRunning, {holder}))) << update.err.str();
    EXPECT_FALSE(bench.BackupExists());

    CliRun list(bench);
    EXPECT_EQ(list.Run({"list", "--json"}), 0);
    EXPECT_EQ(list.out.str(), "{\"monitors\":[],\"refused\":0,\"updateRunning\":" + std::string("\"") + holder + "\"}\n");
    MonitorHandle opened = kNoMonitor;
    EXPECT_NE(MonGetDevice(0xFFFFFFFF, 0, &opened), kStatusSuccess) << "list opened a monitor";
    CliRun text(bench);
    EXPECT_EQ(text.Run({"list"}), 0);
    EXPECT_EQ(text.out.str(), Text(text_id::kListDuringUpdate, {holder}) + "\n");
}

// Notes, each time the monitors are listed, whether an update could take the lock then.
class LockWatchingPlatform final : public HidPlatform {
public:
    explicit LockWatchingPlatform(HidPlatform& monitors) : monitors_(monitors) {}
    std::optional<std::vector<std::string>> EnumeratePaths() override {
        lockFree.push_back(UpdateLock().Held());
        return monitors_.EnumeratePaths();
    }
    std::unique_ptr<HidConnection> Open(const std::string& path, bool readAccess) override {
        return monitors_.Open(path, readAccess);
    }
    std::unique_ptr<DeviceEvents> WatchDevices() override { return monitors_.WatchDevices(); }
    bool PermissionDenied(const std::string& path) override { return monitors_.PermissionDenied(path); }

    std::vector<bool> lockFree;

private:
    HidPlatform& monitors_;
};

// A list only looks at the lock: an update that starts while it lists the monitors is not refused.
TEST(UpdateLockSharingTest, ListNeverHoldsTheLock) {
    Bench bench;
    bench.Plug(MonitorKind::OlderTunnel);
    LockWatchingPlatform watching(bench.platform);
    const ScopedHidPlatform useWatching(watching);
    CliRun list(bench);
    EXPECT_EQ(list.Run({"list"}), 0) << list.err.str();
    EXPECT_TRUE(Contains(list.out.str(), "SN000001")) << list.out.str();
    ASSERT_FALSE(watching.lockFree.empty());
    for (const bool free : watching.lockFree) EXPECT_TRUE(free);
}

// The lock is no file: whatever lies in the programs' folder under the name the
// lock file once had, the update neither fails on it, nor reports it, nor touches it.
TEST(UpdateLockSharingTest, NothingInTheFolderSpoilsTheLock) {
    const struct {
        const char* what;
        std::function<void(const std::string&)> make;
        std::filesystem::file_type type;
    } cases[] = {
        {"a file nobody may open", [](const std::string& path) {
             std::ofstream{path} << "someone 1\n";
             std::filesystem::permissions(path, std::filesystem::perms::none);
         }, std::filesystem::file_type::regular},
        {"a FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); },
         std::filesystem::file_type::fifo},
        {"a symlink to nowhere", [](const std::string& path) { std::filesystem::create_symlink("missing/file", path); },
         std::filesystem::file_type::symlink},
        {"a folder", [](const std::string& path) { std::filesystem::create_directory(path); },
         std::filesystem::file_type::directory},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bench bench;
        bench.Plug(MonitorKind::OlderTunnel);
        bench.WritePackage();
        const std::string path = bench.Folder() + ".backup.lock";
        c.make(path);
        CliRun update(bench);
        EXPECT_EQ(update.Run({"update", "--yes"}), 0) << update.err.str();
        EXPECT_FALSE(Contains(update.err.str(), ".backup.lock")) << update.err.str();
        EXPECT_EQ(std::filesystem::symlink_status(path).type(), c.type);
        EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
    }
}

// --- progress --------------------------------------------------------------------

ProgressSnapshot Snapshot(UpdateStep step, std::uint32_t component, std::uint32_t progress,
                          std::optional<std::uint32_t> secondsLeft) {
    ProgressSnapshot s;
    s.started = true;
    s.step = step;
    s.component = component;
    s.components = component ? 2 : 0;
    s.progress = progress;
    s.secondsLeft = secondsLeft;
    return s;
}

// The same reports in the three forms: a step change, a move within the step,
// a tick that changed nothing, and a wait whose end is unknown.
std::string Shown(ProgressForm form) {
    std::ostringstream out;
    ProgressOutput output(out, form, Language::English);
    output.Show(ProgressSnapshot{});  // before the update has begun: nothing
    output.ShowStep(Snapshot(UpdateStep::WritingComponent, 1, 1234, 200));
    output.Show(Snapshot(UpdateStep::WritingComponent, 1, 1234, 200));
    output.Show(Snapshot(UpdateStep::WritingComponent, 1, 4567, 90));
    output.Show(Snapshot(UpdateStep::WritingComponent, 1, 4567, 90));
    output.ShowStep(Snapshot(UpdateStep::Restarting, 0, 8000, std::nullopt));
    ProgressSnapshot waiting = Snapshot(UpdateStep::Restarting, 0, 8000, std::nullopt);
    waiting.waitEndUnknown = true;
    waiting.waitElapsedSeconds = 10;
    waiting.waitLongestSeconds = 40;
    output.Show(waiting);
    output.EndLine();
    return out.str();
}

TEST(ProgressOutputTest, JsonHasOneStepEventPerStepAndOneProgressEventPerChange) {
    EXPECT_EQ(Lines(Shown(ProgressForm::Json)),
              (std::vector<std::string>{
                  R"({"event":"step","step":"writing","component":1,"components":2,"text":"Writing component 1 of 2"})",
                  R"({"event":"progress","percent":12,"secondsLeft":200})",
                  R"({"event":"progress","percent":45,"secondsLeft":90})",
                  R"({"event":"step","step":"restarting","text":"Restarting the monitor"})",
                  R"({"event":"progress","percent":80,"secondsLeft":null,"waitLongestSeconds":40})",
              }));
}

TEST(ProgressOutputTest, WithoutATerminalOneLinePerStep) {
    EXPECT_EQ(Shown(ProgressForm::Lines), "Writing component 1 of 2 (12%)\nRestarting the monitor (80%)\n");
}

// Steps the update thread enters between two snapshots each keep their line,
// in their order, before the progress that follows them.
TEST(ProgressOutputTest, StepsShorterThanASnapshotsSecondStillHaveTheirLines) {
    std::ostringstream out, err;
    CliIo io{out, err};
    io.language = Language::English;
    CommandLine line;
    line.json = true;
    CliView view(line, io);
    view.QueueStep(Snapshot(UpdateStep::Preparing, 0, 0, std::nullopt));
    view.QueueStep(Snapshot(UpdateStep::EnteringUpdateState, 0, 10, std::nullopt));
    std::thread updateThread([&] { view.QueueStep(Snapshot(UpdateStep::WritingComponent, 1, 20, 300)); });
    updateThread.join();
    view.ShowProgress(Snapshot(UpdateStep::WritingComponent, 1, 500, 290));
    view.QueueStep(Snapshot(UpdateStep::RestoringSettings, 0, 9900, 1));
    view.QueueStep(Snapshot(UpdateStep::Finishing, 0, 9950, 1));
    view.EndDialog();
    EXPECT_EQ(
        Lines(out.str()),
        (std::vector<std::string>{
            R"({"event":"step","step":"preparing","text":"Preparing the update"})",
            R"({"event":"step","step":"entering-update-mode","text":"Restarting the monitor into its update mode"})",
            R"({"event":"step","step":"writing","component":1,"components":2,"text":"Writing component 1 of 2"})",
            R"({"event":"progress","percent":5,"secondsLeft":290})",
            R"({"event":"step","step":"restoring-settings","text":"Restoring the monitor's settings"})",
            R"({"event":"step","step":"finishing","text":"Finishing the update"})",
        }));
}

TEST(ProgressOutputTest, OnATerminalOneLineRewritesItself) {
    const std::string shown = Shown(ProgressForm::Terminal);
    EXPECT_EQ(Lines(shown).size(), 1u) << shown;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\r'), 3) << "one rewrite per change";
    EXPECT_TRUE(Contains(shown, "] 45%  Writing component 1 of 2 - about 2 min left")) << shown;
    EXPECT_TRUE(Contains(shown, "] 80%  Restarting the monitor - waiting for the monitor to come back (at most 30 s)"))
        << shown;
    EXPECT_TRUE(shown.ends_with("\n"));
}

TEST(ProgressOutputTest, TheEstimateStandsInUntilTheUpdateReportsAndNeverSaysDone) {
    std::ostringstream out;
    ProgressOutput output(out, ProgressForm::Json, Language::English);
    output.ShowEstimate(30, 120);
    output.ShowEstimate(30, 119);  // the same percent: nothing new
    output.ShowEstimate(140, 0);
    EXPECT_EQ(Lines(out.str()), (std::vector<std::string>{
                                     R"({"event":"progress","percent":30,"secondsLeft":120,"estimated":true})",
                                     R"({"event":"progress","percent":99,"secondsLeft":0,"estimated":true})",
                                 }));
}

// --- the package named on the command line -------------------------------------------

TEST(PackageOptionTest, ANamedPackageStandsForTheOneBesideTheExecutable) {
    Bench bench;
    bench.Plug(MonitorKind::OlderNative);
    TempDir elsewhere;
    WritePackageFile(elsewhere.File("fleet.vfw"), PackageContents{});
    bench.WritePackage(WithModel("QY27*"));  // would not fit: not used

    CliRun missing(bench);
    EXPECT_EQ(missing.Run({"update", "--yes", "--package", elsewhere.File("missing.vfw")}), 1);
    EXPECT_TRUE(Contains(missing.err.str(), Text(text_id::kNoPackageFile))) << missing.err.str();

    CliRun named(bench);
    EXPECT_EQ(named.Run({"update", "--yes", "--package", elsewhere.File("fleet.vfw")}), 0) << named.err.str();
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
}

// --- a FIFO or a link in a file's place ----------------------------------------
// Opening a FIFO for reading waits for a writer: were the package or the backup
// file opened so, these runs would never end and the test would hang (ctest --timeout ends it).

TEST(PackageOptionTest, AFifoNamedAsThePackageCannotBeReadAndALinkToAPackageIsFollowed) {
    Bench bench;
    Monitor& monitor = bench.Plug(MonitorKind::OlderNative);
    TempDir elsewhere;
    const std::string fifo = elsewhere.File("fleet.vfw");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    CliRun refused(bench);
    EXPECT_EQ(refused.Run({"update", "--yes", "--package", fifo}), 1);
    EXPECT_TRUE(Contains(refused.err.str(), "quillon-cli: " + Text(text_id::kFileOpenFailed))) << refused.err.str();
    EXPECT_TRUE(Contains(refused.err.str(), fifo + " (a FIFO, not a regular file)")) << refused.err.str();
    EXPECT_EQ(monitor.RunningVersion()[0], 102);
    EXPECT_FALSE(bench.BackupExists());

    WritePackageFile(elsewhere.File("package.vfw"), PackageContents{});
    std::filesystem::create_symlink("package.vfw", elsewhere.File("link.vfw"));
    CliRun linked(bench);
    EXPECT_EQ(linked.Run({"update", "--yes", "--package", elsewhere.File("link.vfw")}), 0) << linked.err.str();
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
}

// The updater writes the backup file itself, so anything else under its name is
// refused, never followed, read as damaged, moved aside or replaced.
struct OddBackupFile {
    const char* name;
    std::function<void(const std::string& path, const TempDir& elsewhere)> make;
    const char* said;  // in the line under the message
};

const OddBackupFile kOddBackupFiles[] = {
    {"Fifo", [](const std::string& path, const TempDir&) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
     "(a FIFO, not a regular file)"},
    {"LinkToADamagedFile",
     [](const std::string& path, const TempDir& elsewhere) {
         std::ofstream(elsewhere.File("damaged")) << "not a record";
         std::filesystem::create_symlink(elsewhere.File("damaged"), path);
     },
     "(a symbolic link is not followed)"},
    {"LinkToNothing",
     [](const std::string& path, const TempDir& elsewhere) {
         std::filesystem::create_symlink(elsewhere.File("none"), path);
     },
     "(a symbolic link is not followed)"},
};

class OddBackupFileTest : public ::testing::TestWithParam<OddBackupFile> {
protected:
    Bench bench;
    TempDir elsewhere;
};
INSTANTIATE_TEST_SUITE_P(Cases, OddBackupFileTest, ::testing::ValuesIn(kOddBackupFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// In the state folder, and beside the executable (never taken over from there).
TEST_P(OddBackupFileTest, IsRefusedAndLeftInPlace) {
    const OddBackupFile& c = GetParam();
    Monitor& monitor = bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    for (const std::string& path : {bench.BackupPath(), bench.Folder() + kBackupFileName}) {
        SCOPED_TRACE(path);
        c.make(path, elsewhere);
        const std::filesystem::file_type type = std::filesystem::symlink_status(path).type();

        CliRun status(bench);
        EXPECT_EQ(status.Run({"status"}), 1);
        EXPECT_TRUE(Contains(status.err.str(), path + " " + c.said)) << status.err.str();

        CliRun update(bench);
        EXPECT_EQ(update.Run({"update", "--yes"}), 1);
        EXPECT_TRUE(Contains(update.err.str(), "quillon-cli: " + Text(text_id::kFileOpenFailed))) << update.err.str();
        EXPECT_TRUE(Contains(update.err.str(), path + " " + c.said)) << update.err.str();
        EXPECT_EQ(std::filesystem::symlink_status(path).type(), type);
        for (const std::string& name : bench.dir.Names()) EXPECT_FALSE(Contains(name, "damaged")) << name;
        for (const auto& entry : std::filesystem::directory_iterator(bench.StateFolder()))
            EXPECT_FALSE(Contains(entry.path().filename().string(), "damaged")) << entry.path();
        EXPECT_EQ(monitor.RunningVersion()[0], 102);
        std::filesystem::remove(path);
    }
}

}  // namespace
