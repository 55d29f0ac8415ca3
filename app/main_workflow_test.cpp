// The window's workflow end to end against emulated monitors: start-up
// messages, the file phase, the update with its automatic restarts, resumed
// updates and the exit path.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <variant>

#include "app/main_workflow.h"

#include "app/app_testing.h"
#include "app/update_estimate.h"
#include "conflict/fake_proc_testing.h"
#include "conflict/own_process_table_testing.h"
#include "conflict/process_linux.h"
#include "conflict/system_tools.h"

namespace {

using namespace app_testing;

class FreshUpdateTest : public ::testing::TestWithParam<MonitorKind> {
protected:
    Bench bench;
    ScriptedView view;
};
INSTANTIATE_TEST_SUITE_P(AllKinds, FreshUpdateTest, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST_P(FreshUpdateTest, EndsWithTheNewFirmwareTheSettingsBackAndNoBackupFile) {
    bench.Plug(GetParam());
    bench.WritePackage();
    auto run = bench.NewRun(view);
    std::optional<ProgressSnapshot> atMessage;
    view.onMessage = [&](const UserMessage&) { atMessage = view.progress.back(); };
    RunToEnd(*run, view);
    // The bar is full when the completion shows, and not before.
    ASSERT_TRUE(atMessage.has_value());
    EXPECT_TRUE(atMessage->completed);
    EXPECT_EQ(atMessage->Percent(), 100u);
    for (std::size_t i = 0; i + 1 < view.progress.size(); ++i) {
        EXPECT_LT(view.progress[i].progress, 10000u) << i;
        EXPECT_LE(view.progress[i].progress, view.progress[i + 1].progress) << i;
    }

    ASSERT_TRUE(run->Ended());
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    const UserMessage& done = view.messages.back();
    EXPECT_EQ(done.icon, MessageIcon::Information);
    EXPECT_EQ(done.caption, MessageCaption::ExecutableName);
    const VersionLines after = MergedVersionLines(MemoryText(kAfter), "");
    EXPECT_EQ(done.arguments, (std::vector<MessageArgument>{after.head, after.tail}));
    EXPECT_EQ(view.lists, (std::vector<std::vector<std::string>>{{"Name:QX2701  S/N:SN000001"}}));
    EXPECT_EQ(view.title, "QX2701 (S/N:SN000001)");
    EXPECT_TRUE(view.ended);

    EXPECT_FALSE(bench.BackupExists());
    const MonitorHandle monitor = bench.Open();
    EXPECT_EQ(bench.VersionOf(monitor), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(monitor), bench.before);
}

}  // namespace

namespace {

using namespace app_testing;

class WorkflowTest : public ::testing::Test {
protected:
    // A run from start to end on an older native monitor, pressing Update when it can.
    std::unique_ptr<MainWorkflow> RunOnce(bool pressUpdate = true) {
        auto run = bench.NewRun(view);
        RunToEnd(*run, view, pressUpdate);
        return run;
    }

    Bench bench;
    ScriptedView view;
};

struct StartupCase {
    const char* name;
    int packages;                     // package files beside the updater
    Bench::PackageContents contents;
    bool calibrating;
    TextId message;
    MessageIcon icon;
};

const StartupCase kStartupCases[] = {
    {"NoPackage", 0, {}, false, text_id::kNoPackageFile, MessageIcon::Error},
    {"TwoPackages", 2, {}, false, text_id::kSeveralPackageFiles, MessageIcon::Error},
    {"AlreadyApplied", 1, WithVersion("0010200201000030000400005"), false, text_id::kAlreadyApplied,
     MessageIcon::Information},
    {"ModelMismatch", 1, WithModel("QY27*"), false, text_id::kNoFileForMonitor, MessageIcon::Error},
    {"NoFittingSet", 1, ForVersion({101, 201, 3, 4, 5}), false, text_id::kCannotUpdateWithFile, MessageIcon::Error},
    {"Calibrating", 1, {}, true, text_id::kCalibrating, MessageIcon::Error},
};

class StartupMessageTest : public WorkflowTest, public ::testing::WithParamInterface<StartupCase> {};
INSTANTIATE_TEST_SUITE_P(Cases, StartupMessageTest, ::testing::ValuesIn(kStartupCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(StartupMessageTest, ShowsOneMessageAndLeavesTheMonitorAsItWas) {
    const StartupCase& c = GetParam();
    Monitor& monitor = bench.Plug(MonitorKind::OlderNative);
    if (c.calibrating) {
        FaultPlan plan;
        plan.calibratingReads = FaultPlan::kAlways;
        monitor.AddFaults(plan);
    }
    for (int i = 0; i < c.packages; ++i) bench.WritePackage(c.contents, "update" + std::to_string(i) + ".vfw");

    auto run = RunOnce();

    EXPECT_TRUE(run->Ended());
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{c.message});
    EXPECT_EQ(view.messages[0].icon, c.icon);
    EXPECT_TRUE(view.estimates.empty()) << "the update was offered";
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(ReadSettings(bench.Open()), bench.before);
    EXPECT_EQ(monitor.RunningVersion()[0], 102);
}

// Where the package comes from: named on the command line, else the one beside
// the executable, else the one the user chooses (asked only when none is beside).
enum class Installed { Named, Beside, Nothing };
struct PackageSourceCase {
    const char* name;
    bool named;  // a package named on the command line
    int beside;  // package files beside the executable
    bool asked;  // the user is asked to choose one
    bool chosen; // ... and chooses one (else cancels)
    std::vector<TextId> messages;
    Installed installed;
};
const PackageSourceCase kPackageSources[] = {
    {"Named", true, 0, false, false, {text_id::kComplete}, Installed::Named},
    {"NamedBesideTwo", true, 2, false, false, {text_id::kComplete}, Installed::Named},
    {"Beside", false, 1, false, false, {text_id::kComplete}, Installed::Beside},
    {"Chosen", false, 0, true, true, {text_id::kComplete}, Installed::Named},
    {"ChooserCancelled", false, 0, true, false, {text_id::kNoPackageFile}, Installed::Nothing},
    {"TwoBeside", false, 2, false, false, {text_id::kSeveralPackageFiles}, Installed::Nothing},
};

TEST(PackageSourceTest, ThePackageIsTheNamedOneTheOneBesideOrTheOneTheUserChooses) {
    // The named or chosen package (elsewhere) installs another version than those beside the executable.
    PackageContents elsewhereContents;
    elsewhereContents.images = VersionFields{103, 202, 4, 4, 5};
    elsewhereContents.version = MemoryText(elsewhereContents.images);
    for (const PackageSourceCase& c : kPackageSources) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ScriptedView view;
        bench.Plug(MonitorKind::OlderNative);
        for (int i = 0; i < c.beside; ++i) bench.WritePackage({}, "update" + std::to_string(i) + ".vfw");
        const TempDir elsewhere;
        const std::string other = elsewhere.File("other.vfw");
        WritePackageFile(other, elsewhereContents);
        if (c.chosen) view.chosenPackage = other;
        auto run = bench.NewRun(view);
        if (c.named) run->Run().packagePath = other;
        RunToEnd(*run, view);
        EXPECT_EQ(view.packageChoices, c.asked ? 1u : 0u);
        EXPECT_EQ(view.MessageIds(), c.messages);
        const std::string expected = c.installed == Installed::Named    ? elsewhereContents.version
                                     : c.installed == Installed::Beside ? MemoryText(kAfter)
                                                                        : MemoryText(kBefore);
        EXPECT_EQ(bench.VersionOf(bench.Open()), expected);
    }
}

TEST_F(WorkflowTest, TheFilePhaseShowsBothVersionsAndOffersTheUpdate) {
    bench.Plug(MonitorKind::OlderTunnel);
    Bench::PackageContents contents;
    contents.version = "00103" "00000" "00004" "00000" "0001a";  // wildcards come from the monitor
    bench.WritePackage(contents);
    auto run = bench.NewRun(view);
    run->Start();
    EXPECT_TRUE(run->FilePhaseRunning());
    EXPECT_TRUE(view.waitCursor);
    EXPECT_FALSE(view.updateEnabled);
    EXPECT_FALSE(view.progress.back().started);  // the bar stands at 0 until the update begins
    EXPECT_EQ(view.currentVersion, (VersionLines{"00102-00201-00003", "-00004-00005"}));

    TickWhileWorking(*run);
    EXPECT_FALSE(view.waitCursor);
    EXPECT_TRUE(view.updateEnabled);
    EXPECT_EQ(view.newVersion, (VersionLines{"00103-00201-00004", "-00004-0001a"}));
    EXPECT_TRUE(bench.BackupExists());

    EXPECT_TRUE(run->Close());  // the user leaves without updating
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(ReadSettings(bench.Open()), bench.before);
}

TEST_F(WorkflowTest, ADamagedBackupFileIsKeptAndNamedOnceAndTheRunGoesOn) {
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    testing_support::WriteBytes(bench.BackupPath(), std::vector<std::uint8_t>(16, 0x5A));  // fails its checksum

    RunOnce(/*pressUpdate=*/false)->Close();  // the user leaves without updating
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kDamagedBackupKept});
    const UserMessage& said = view.messages.front();
    EXPECT_EQ(said.icon, MessageIcon::Information);
    ASSERT_EQ(said.arguments.size(), 1u);
    const std::string kept = std::get<std::string>(said.arguments.front());
    EXPECT_EQ(testing_support::ReadBytes(kept), std::vector<std::uint8_t>(16, 0x5A));
    EXPECT_EQ(view.lists.size(), 1u) << "the run went on to the monitor list";

    // The next start finds nothing to say.
    view = ScriptedView{};
    RunOnce(/*pressUpdate=*/false)->Close();
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{});
    EXPECT_TRUE(std::filesystem::exists(kept));
}

// What can be known before anything is written refuses the update then: every
// monitor keeps its firmware, settings and lock, and no record is left behind.
struct RefusedBeforeWritingCase {
    const char* name;
    std::vector<std::pair<MonitorKind, const char*>> monitors;  // kind and serial number
    const char* model;
    TextId message;
    const char* shownModel;
};

class RefusedBeforeWritingTest : public ::testing::TestWithParam<RefusedBeforeWritingCase> {
protected:
    Bench bench;
    ScriptedView view;
};

const RefusedBeforeWritingCase kRefusedBeforeWriting[] = {
    {"TwoMonitorsOfOneIdentity", {{MonitorKind::OlderNative, "SN000001"}, {MonitorKind::CombinedTunnel, "SN000001"}},
     "QX2701", text_id::kSameIdentityTwice, "QX2701"},
    {"TwoOlderMonitorsOfOneShortIdentity", {{MonitorKind::OlderTunnel, "SN12"}, {MonitorKind::OlderNative, "SN12"}},
     "QX2701", text_id::kSameIdentityTwice, "QX2701"},
    // The record holds 16 characters of a model name: cut, it would name no monitor.
    {"AModelNameOneLongerThanTheRecordHolds", {{MonitorKind::OlderNative, "SN000001"}}, "QX2701-ABCDEFGHIJ",
     text_id::kIdentityNotRecordable, "QX2701-ABCDEFGHIJ"},
    {"AModelNameLongerThanTheMonitorLayerHands", {{MonitorKind::CombinedTunnel, "SN000001"}},
     "QX2701-ABCDEFGHIJKLMN", text_id::kIdentityNotRecordable, "QX2701-ABCDEFGHIJKLMN"},
};
INSTANTIATE_TEST_SUITE_P(Cases, RefusedBeforeWritingTest, ::testing::ValuesIn(kRefusedBeforeWriting),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(RefusedBeforeWritingTest, LeavesEveryMonitorAsItWas) {
    const RefusedBeforeWritingCase& c = GetParam();
    std::vector<Monitor*> monitors;
    std::vector<MonitorState> before;
    for (const auto& [kind, serial] : c.monitors) {
        MonitorConfig config = Bench::Config(kind, serial);
        config.model = c.model;
        monitors.push_back(&bench.Plug(config));
        before.push_back(monitors.back()->State());
    }
    bench.WritePackage();
    view.listChoice = 0;
    auto run = bench.NewRun(view);
    RunToEnd(*run, view);

    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{c.message});
    const std::vector<MessageArgument>& arguments = view.messages.front().arguments;
    ASSERT_GE(arguments.size(), 2u);
    EXPECT_EQ(arguments[0], MessageArgument(std::string(c.shownModel)));
    EXPECT_EQ(arguments[1], MessageArgument(std::string(c.monitors.front().second)));
    if (c.message == text_id::kSameIdentityTwice) {
        ASSERT_EQ(arguments.size(), 3u);
        const std::string devices = std::get<std::string>(arguments[2]);
        EXPECT_EQ(std::count(devices.begin(), devices.end(), ','), 1) << devices;  // both devices are named
    }
    EXPECT_FALSE(bench.BackupExists());
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        EXPECT_EQ(monitors[i]->State(), before[i]) << i;
        EXPECT_FALSE(monitors[i]->LockHeld()) << i;
    }
}

TEST_F(WorkflowTest, CancellingAnEarlyDialogEndsTheRunSilently) {
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    view.acceptReadMe = false;
    RunOnce();
    EXPECT_TRUE(view.ended);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.lists.empty());

    ScriptedView second;
    second.listChoice = std::nullopt;
    auto run = bench.NewRun(second);
    RunToEnd(*run, second);
    EXPECT_TRUE(second.ended);
    EXPECT_TRUE(second.messages.empty());
    EXPECT_EQ(second.lists.size(), 1u);
    EXPECT_FALSE(bench.BackupExists());
}

TEST_F(WorkflowTest, ClosingIsRefusedWhileAWorkerExists) {
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    auto run = bench.NewRun(view);
    run->Start();
    ASSERT_TRUE(run->WorkerExists());
    EXPECT_FALSE(run->Close());
    EXPECT_FALSE(view.ended);
    TickWhileWorking(*run);

    run->PressUpdate();
    ASSERT_TRUE(run->WorkerExists());
    EXPECT_FALSE(run->Close());
    EXPECT_FALSE(view.updateEnabled);
    TickWhileWorking(*run);
    EXPECT_TRUE(view.ended);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
}

TEST_F(WorkflowTest, CancellingTheWarningOffersTheUpdateAgain) {
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    auto run = bench.NewRun(view);
    run->Start();
    TickWhileWorking(*run);
    view.acceptWarning = false;
    run->PressUpdate();
    EXPECT_TRUE(view.updateEnabled);
    EXPECT_FALSE(run->WorkerExists());
    EXPECT_EQ(view.estimates, std::vector<std::uint32_t>{4});  // five components of 30 s: 150 s

    view.acceptWarning = true;
    run->PressUpdate();
    TickWhileWorking(*run);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_EQ(run->Run().retryCount, 0u);
}

TEST_F(WorkflowTest, AFailingUpdateIsStartedThreeTimesMoreWhileTheMonitorIsHeld) {
    Monitor& monitor = bench.Plug(MonitorKind::CombinedTunnel);
    FaultPlan plan;
    plan.wrongCrcs = FaultPlan::kAlways;
    monitor.AddFaults(plan);
    bench.WritePackage();

    auto run = RunOnce();

    EXPECT_EQ(run->Run().retryCount, kAutomaticRestarts);
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kUpdateFailed});
    // The restarts repeat the writing, yet the bar never went back, nor was ever full.
    for (std::size_t i = 0; i < view.progress.size(); ++i) {
        EXPECT_LT(view.progress[i].progress, 10000u) << i;
        if (i > 0) {
            EXPECT_LE(view.progress[i - 1].progress, view.progress[i].progress) << i;
        }
    }
    EXPECT_EQ(view.messages[0].arguments, std::vector<MessageArgument>{std::string("0001010100")});
    EXPECT_TRUE(bench.BackupExists());  // the next start resumes
}

TEST_F(WorkflowTest, AnUpdateThatLostTheMonitorIsReportedAtOnce) {
    Monitor& monitor = bench.Plug(MonitorKind::OlderNative);
    FaultPlan plan;
    plan.noReturn = true;
    monitor.AddFaults(plan);
    bench.WritePackage();
    auto run = RunOnce();
    EXPECT_EQ(run->Run().retryCount, 0u);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kCommunicationError});
    EXPECT_TRUE(bench.BackupExists());
}

// Records what would be started instead of starting it.
class RecordingTools final : public SystemTools {
public:
    void Start(const std::vector<std::string>& argv) override { started.push_back(argv); }
    bool IsAdministrator() override { return false; }
    std::vector<std::vector<std::string>> started;
};

TEST_F(WorkflowTest, TheExitPathStartsAgainTheProgramsTheRunClosed) {
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    RecordingTools tools;
    ScopedSystemTools useTools(tools);
    auto run = bench.NewRun(view);
    run->Start();
    TickWhileWorking(*run);
    ASSERT_TRUE(view.updateEnabled);
    // As the update thread leaves them: a program started again from its
    // executable, and one that is not started again.
    const auto& table = GetKnownPrograms();
    run->Run().closedPrograms = {RunningProgram(table.at("TTNetAgent.exe"), 1, "/opt/t/TTNetAgent.exe"),
                                 RunningProgram(table.at("otpro.exe"), 2, "/opt/o/otpro.exe")};

    EXPECT_TRUE(run->Close());  // the user leaves
    EXPECT_EQ(tools.started, std::vector<std::vector<std::string>>{{"/opt/t/TTNetAgent.exe"}});
    EXPECT_TRUE(run->Run().closedPrograms.empty());
    EXPECT_TRUE(run->Close());  // the run has ended: nothing is started twice
    EXPECT_EQ(tools.started.size(), 1u);
}

// Programs in a fake process table: another user's, which refuses every signal
// (EPERM), and this user's, which end when signalled.
class AnotherUsersProgramTools final : public SystemTools {
public:
    AnotherUsersProgramTools(const conflict_testing::FakeProc& proc, pid_t refusing) : proc_(proc), refusing_(refusing) {}
    void Start(const std::vector<std::string>& argv) override { started.push_back(argv); }
    bool IsAdministrator() override { return false; }
    int SendSignal(int, pid_t pid, int signal) override {
        signals.emplace_back(pid, signal);
        if (pid == refusing_) return EPERM;
        std::filesystem::remove_all(proc_.Path() + "/" + std::to_string(pid));  // it ends
        return 0;
    }
    std::vector<std::vector<std::string>> started;
    std::vector<std::pair<pid_t, int>> signals;

private:
    const conflict_testing::FakeProc& proc_;
    pid_t refusing_;
};

TEST_F(WorkflowTest, AProgramThatCannotBeClosedStopsTheUpdateBeforeAnyWriteAndIsNamed) {
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    conflict_testing::FakeProc proc;
    const pid_t ours = conflict_testing::kFirstFakePid;
    const pid_t root = ours + 1;  // a service under root: its executable link is refused
    proc.Add(ours, "/opt/t/TTNetAgent.exe", {"/opt/t/TTNetAgent.exe"});
    proc.Add(root, "/usr/lib/scanvell/Scanvell5Service.exe", {"/usr/lib/scanvell/Scanvell5Service.exe"});
    AnotherUsersProgramTools tools(proc, root);
    ScopedSystemTools useTools(tools);

    auto run = RunOnce();

    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kProgramNotClosed});
    EXPECT_EQ(view.messages[0].arguments, std::vector<MessageArgument>{std::string("Scanvell 5 Service")});
    EXPECT_EQ(run->Run().retryCount, 0u);  // it would refuse again
    // Asked once each; the refusing one is not forced, and nothing was written.
    EXPECT_EQ(tools.signals, (std::vector<std::pair<pid_t, int>>{{ours, SIGTERM}, {root, SIGTERM}}));
    const MonitorHandle monitor = bench.Open();
    EXPECT_EQ(bench.VersionOf(monitor), MemoryText(kBefore));
    EXPECT_EQ(ReadSettings(monitor), bench.before);
    EXPECT_FALSE(bench.BackupExists());
    // Only the program this run closed is started again; another user's never is.
    EXPECT_EQ(tools.started, std::vector<std::vector<std::string>>{{"/opt/t/TTNetAgent.exe"}});
}

// A package whose components are larger than the monitor's areas: known once
// the monitor is in its update state, before the first component is announced.
// The monitor goes back to its firmware with its settings, the record is
// dropped, and the run ends as a file that does not fit, without a restart.
class ComponentLargerThanTheAreaTest : public ::testing::TestWithParam<MonitorKind> {
protected:
    Bench bench;
    ScriptedView view;
};
INSTANTIATE_TEST_SUITE_P(AllKinds, ComponentLargerThanTheAreaTest, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST_P(ComponentLargerThanTheAreaTest, LeavesTheMonitorAsItWasAndDropsTheRecord) {
    Monitor& monitor = bench.Plug(GetParam());
    const MonitorState before = monitor.State();
    PackageContents contents;
    contents.areaScale = 2;  // made for a monitor with areas twice as large
    bench.WritePackage(contents);

    for (int start = 0; start < 2; ++start) {  // a later start ends the same way
        view = ScriptedView{};
        auto run = bench.NewRun(view);
        RunToEnd(*run, view);
        ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kFileBroken}) << start;
        EXPECT_EQ(run->Run().retryCount, 0u) << "a restart would meet the same areas";
        EXPECT_FALSE(bench.BackupExists()) << start;
        bench.clock.Advance(60'000);
        EXPECT_EQ(monitor.Mode(), MonitorMode::Running) << start;
        EXPECT_FALSE(monitor.LockHeld()) << start;
        EXPECT_EQ(monitor.State(), before) << start;  // firmware, boot selector, settings: nothing written
        EXPECT_EQ(ReadSettings(bench.Open()), bench.before) << start;
    }
}

// A run that made its record and broke off before writing anything left the
// version the monitor ran then; the monitor was updated by other means since.
// The firmware set is chosen for what the monitor runs now, and the record says so.
TEST_F(WorkflowTest, ARecordOfAnEarlierVersionChoosesTheSetForThePresentOne) {
    constexpr VersionFields kEarlier{101, 200, 3, 4, 5};
    Monitor& earlier = bench.Plug(MonitorKind::OlderNative, "SN000001", kEarlier);
    {
        UpdateRun made;
        bench.UseFolders(made);
        made.target.monitorHandle = bench.Open();
        ASSERT_EQ(MakeBackupRecord(made), 0u);
        MonCloseDevices(kAllRunFamilies);
        PkgCloseAll();
    }
    bench.platform.Unplug(earlier);
    bench.Plug(MonitorKind::OlderNative, "SN000001", kBefore);  // the same monitor, updated elsewhere
    bench.WritePackage();  // its set updates kBefore, not kEarlier

    auto run = RunOnce();

    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
    EXPECT_FALSE(bench.BackupExists());
    std::ifstream log(run->RunLogPath());
    const std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(logged.find("the monitor runs " + MemoryText(kBefore) + ", not " + MemoryText(kEarlier)),
              std::string::npos)
        << logged;
}

// A program that cannot be closed but must not stop the update: the update
// completes, and the run log and standard error name the program.
struct ProgramLeftRunningCase {
    const char* name;
    bool exeReadable;     // false: known only by its command line (another user's process)
    bool monitorInUpdate; // the monitor left its firmware in an earlier run that broke off
};

class ProgramLeftRunningTest : public ::testing::TestWithParam<ProgramLeftRunningCase> {
protected:
    Bench bench;
    ScriptedView view;
};

const ProgramLeftRunningCase kProgramsLeftRunning[] = {
    // Any local user can start a process under a maker's program name.
    {"KnownOnlyByItsCommandLineOnAFreshUpdate", false, false},
    // Stopping now would strand the monitor in its update state.
    {"KnownByItsExecutableWhenResuming", true, true},
};
INSTANTIATE_TEST_SUITE_P(Cases, ProgramLeftRunningTest, ::testing::ValuesIn(kProgramsLeftRunning),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ProgramLeftRunningTest, DoesNotStopTheUpdateAndIsNamed) {
    const ProgramLeftRunningCase& c = GetParam();
    Monitor& monitor = bench.Plug(MonitorKind::OlderTunnel);
    bench.WritePackage();
    if (c.monitorInUpdate) {
        FaultPlan plan;
        plan.unplugAtTransfer = 200;  // the power fails while the components are written
        monitor.AddFaults(plan);
        ScriptedView first;
        auto broken = bench.NewRun(first);
        RunToEnd(*broken, first);
        ASSERT_EQ(first.MessageIds(), std::vector<TextId>{text_id::kCommunicationError});
        bench.clock.Advance(60'000);
    }
    conflict_testing::FakeProc proc;
    const pid_t service = conflict_testing::kFirstFakePid;
    const std::string path = "/usr/lib/scanvell/Scanvell5Service.exe";
    proc.Add(service, c.exeReadable ? path : "", {path});
    AnotherUsersProgramTools tools(proc, service);
    ScopedSystemTools useTools(tools);

    std::ostringstream failures;
    auto run = std::make_unique<MainWorkflow>(view, failures);
    bench.UseFolders(run->Run());
    RunToEnd(*run, view);

    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete}) << failures.str();
    EXPECT_EQ(tools.signals, (std::vector<std::pair<pid_t, int>>{{service, SIGTERM}}));
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
    const std::string line = "Scanvell 5 Service could not be closed and ran beside the update";
    EXPECT_NE(failures.str().find("quillon: " + line + "\n"), std::string::npos) << failures.str();
    std::ifstream log(run->RunLogPath());
    const std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(logged.find(line), std::string::npos) << logged;
    EXPECT_TRUE(tools.started.empty()) << "a program this run did not close is not started again";
}

// The run lists, closes and starts again only what is in the test binary's own
// process table: the programs the user runs are asked to end (their entries
// go), the listed one is named, the update completes, and the exit path starts
// again the one whose row says so.
TEST_F(WorkflowTest, RunningProgramsAreClosedForTheUpdateAndStartedAgainAfterIt) {
    conflict_testing::OwnProcessTable& table = conflict_testing::ProcessTable();
    ASSERT_EQ(ProcRoot(), table.Path());
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    const pid_t panel = table.Add("/opt/p/Pnlctrl.exe", {"/opt/p/Pnlctrl.exe"});
    const pid_t agent = table.Add("/opt/t/TTNetAgent.exe", {"/opt/t/TTNetAgent.exe"});
    table.signals.clear();
    table.started.clear();

    auto run = RunOnce();
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_EQ(view.programLists, std::vector<std::vector<std::string>>{{"Panelwarden Pro"}});
    std::sort(table.signals.begin(), table.signals.end());
    EXPECT_EQ(table.signals, (std::vector<std::pair<pid_t, int>>{{panel, SIGTERM}, {agent, SIGTERM}}));
    EXPECT_FALSE(table.Has(panel));
    EXPECT_FALSE(table.Has(agent));
    EXPECT_TRUE(run->Close());
    EXPECT_EQ(table.started, std::vector<std::vector<std::string>>{{"/opt/t/TTNetAgent.exe"}});
}

TEST_F(WorkflowTest, AWorkerThatCannotBeCreatedEndsTheRunWithTheCommunicationError) {
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    worker_thread_testing::FailThreadCreation(true);
    auto run = RunOnce();
    worker_thread_testing::FailThreadCreation(false);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kCommunicationError});
    EXPECT_FALSE(bench.BackupExists());  // nothing was written: the settings went back
}

TEST_F(WorkflowTest, AnInterruptedUpdateResumesWithoutItsPackageAndWithTheRecordsEstimate) {
    Monitor& monitor = bench.Plug(MonitorKind::OlderTunnel);
    bench.WritePackage();
    FaultPlan plan;
    plan.unplugAtTransfer = 200;  // the power fails while the components are written
    monitor.AddFaults(plan);
    RunOnce();
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kCommunicationError});
    ASSERT_TRUE(bench.BackupExists());

    // The monitor is back a while later; the package file is still needed to start.
    bench.clock.Advance(60'000);
    std::filesystem::rename(bench.dir.File("update.vfw"), bench.dir.File("kept"));
    ScriptedView noPackage;
    auto refused = bench.NewRun(noPackage);
    RunToEnd(*refused, noPackage);
    EXPECT_EQ(noPackage.MessageIds(), std::vector<TextId>{text_id::kNoPackageFile});
    ASSERT_TRUE(bench.BackupExists());
    std::filesystem::rename(bench.dir.File("kept"), bench.dir.File("update.vfw"));

    ScriptedView resumed;
    auto run = bench.NewRun(resumed);
    run->Start();
    EXPECT_FALSE(run->WorkerExists()) << "no file phase";
    EXPECT_TRUE(resumed.updateEnabled);
    EXPECT_EQ(resumed.newVersion, MergedVersionLines(MemoryText(kAfter), MemoryText(kBefore)));
    EXPECT_EQ(run->Run().selectedPackage, kNoPackageHandle);
    run->PressUpdate();
    EXPECT_EQ(resumed.estimates, std::vector<std::uint32_t>{4});
    TickWhileWorking(*run);
    EXPECT_EQ(resumed.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_FALSE(bench.BackupExists());
    const MonitorHandle handle = bench.Open();
    EXPECT_EQ(bench.VersionOf(handle), MemoryText(kAfter));
    EXPECT_EQ(ReadSettings(handle), bench.before);
}

TEST(VersionDisplay, WildcardFieldsAreFilledLineByLine) {
    EXPECT_EQ(MergedVersionLines("0001200000000070000000000", "0001100045000060001200034"),
              (VersionLines{"00012-00045-00007", "-00012-00034"}));
    EXPECT_EQ(FormatVersionHead("00012000450000"), "");  // shorter than three fields
    EXPECT_EQ(FormatVersionTail("000120004500007000120003"), "");
    // Only the fields that lie wholly inside the text are examined.
    EXPECT_EQ(MergeWildcardFields("000000000000", "111112222233333", VersionLine::Head), "111112222200");
    EXPECT_EQ(MergeWildcardFields("00000000000000000000", "1111122222333334444455555", VersionLine::Tail),
              "00000000000000044444");
    EXPECT_EQ(MergeWildcardFields("0000000000", "11111", VersionLine::Head), "1111100000");
}

TEST(UpdateEstimate, SecondsRoundedUpToMinutesPlusOne) {
    auto descriptors = [](std::initializer_list<std::uint16_t> seconds) {
        ComponentDescriptors d;
        std::uint16_t type = 1;
        for (std::uint16_t s : seconds) d[type++].writeSeconds = s;
        return d;
    };
    EXPECT_EQ(EstimateUpdateMinutes(descriptors({300, 45})), 7u);
    EXPECT_EQ(EstimateUpdateMinutes({}), 1u);
    EXPECT_EQ(EstimateUpdateMinutes(descriptors({60})), 2u);
    EXPECT_EQ(EstimateUpdateMinutes(descriptors({61})), 3u);
    // More than 65535 s in all is not taken for a few seconds.
    EXPECT_EQ(EstimateUpdateMinutes(descriptors({65535, 65535})), (2u * 65535 + 59) / 60 + 1);
}

}  // namespace
