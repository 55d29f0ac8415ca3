// Where a run finds the record of an interrupted update: in its own state
// folder, whichever copy of the programs runs; in the invoking user's folder
// when run through sudo; beside the executable, where the portable layout and
// earlier versions kept it, from where it is taken over. No record is missed,
// and none is lost on the way.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_testing.h"
#include "app/failure_report.h"
#include "app/record_file_move.h"
#include "common/temp_dir_testing.h"

namespace {

using namespace app_testing;

bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

class RecordPlacesTest : public ::testing::Test {
protected:
    // An update of an older tunnel monitor that loses its power while the
    // components are written, started in the bench's folders: its record stays.
    void InterruptAnUpdate(const StateFolders& state) {
        FaultPlan plan;
        plan.unplugAtTransfer = 200;
        monitor.AddFaults(plan);
        ScriptedView view;
        std::ostringstream interrupted;
        MainWorkflow run(view, interrupted);
        bench.UseFolders(run.Run());
        run.Run().stateFolders = state;
        RunToEnd(run, view);
        ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kCommunicationError});
        bench.clock.Advance(60'000);  // the monitor is back
    }
    void InterruptAnUpdate() { InterruptAnUpdate(StateFolders{bench.StateFolder(), {}}); }

    // The monitor runs the package's firmware with its settings as they were.
    void ExpectUpdated() {
        const MonitorHandle handle = bench.Open();
        EXPECT_EQ(bench.VersionOf(handle), MemoryText(kAfter));
        EXPECT_EQ(ReadSettings(handle), bench.before);
    }

    std::string Beside() const { return bench.Folder() + kBackupFileName; }

    Bench bench;
    Monitor& monitor = [this]() -> Monitor& {
        Monitor& plugged = bench.Plug(MonitorKind::OlderTunnel);
        bench.WritePackage();
        return plugged;
    }();
    std::ostringstream failures;
};

// Two copies of the programs, in two folders, keep one record: each finds the
// update the other began, and either finishes it.
TEST_F(RecordPlacesTest, TwoCopiesOfTheProgramsFindAndResumeTheSameRecord) {
    InterruptAnUpdate();
    TempDir otherCopy{BenchFolderBase()};
    std::filesystem::copy_file(bench.Folder() + "update.vfw", otherCopy.File("update.vfw"));

    // The other copy finds the record and offers to resume it; its user closes it.
    {
        ScriptedView view;
        MainWorkflow run(view, failures);
        bench.UseFolders(run.Run());
        run.Run().packageFolder = otherCopy.File("");
        run.Start();
        EXPECT_FALSE(run.WorkerExists()) << "a resumed update has no file phase";
        EXPECT_TRUE(view.updateEnabled);
        EXPECT_EQ(run.Run().record.filePath, bench.BackupPath());
        ASSERT_TRUE(run.Close());
        EXPECT_TRUE(bench.BackupExists());
    }
    // The first copy finishes it.
    ScriptedView view;
    auto run = bench.NewRun(view);
    RunToEnd(*run, view);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_FALSE(Exists(otherCopy.File(kBackupFileName)));
    ExpectUpdated();
}

// A record beside the executable, as an earlier version left it, is resumed and
// moved into the state folder; the run goes on with the moved one.
TEST_F(RecordPlacesTest, ARecordBesideTheExecutableIsResumedAndTakenOver) {
    InterruptAnUpdate(StateFolders{bench.Folder(), {}});  // an earlier version's layout
    const std::string left = ReadFile(Beside());
    ASSERT_FALSE(left.empty());
    // A state folder that does not exist yet.
    const std::string state = bench.StateFolder() + "/new/quillon";
    const std::string moved = state + "/" + kBackupFileName;

    ScriptedView view;
    auto run = bench.NewRun(view);
    run->Run().stateFolders = StateFolders{state, {}};
    run->Start();
    EXPECT_TRUE(view.updateEnabled);
    EXPECT_FALSE(Exists(Beside()));
    EXPECT_EQ(ReadFile(moved), left);
    EXPECT_EQ(run->Run().record.filePath, moved);
    struct stat folder {};
    ASSERT_EQ(::stat(state.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    run->PressUpdate();
    TickWhileWorking(*run);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_FALSE(Exists(Beside()));
    EXPECT_FALSE(Exists(moved));
    ExpectUpdated();
    const std::string log = ReadFile(run->RunLogPath());
    EXPECT_NE(log.find("moved from " + Beside() + " to " + moved), std::string::npos) << log;
    EXPECT_EQ(failures.str(), "");
}

// A take-over cut short between the copy and the removal of the old file (a
// crash, a power loss) leaves two equal records: the next run resumes the one
// in the state folder and removes the other, which would otherwise be found
// again once the update is done.
TEST_F(RecordPlacesTest, ATakeOverCutShortLosesNothingAndLeavesNoStaleCopy) {
    InterruptAnUpdate();
    std::filesystem::copy_file(bench.BackupPath(), Beside());

    ScriptedView view;
    auto run = bench.NewRun(view);
    run->Start();
    EXPECT_TRUE(view.updateEnabled);
    EXPECT_EQ(run->Run().record.filePath, bench.BackupPath());
    EXPECT_FALSE(Exists(Beside()));
    run->PressUpdate();
    TickWhileWorking(*run);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    ExpectUpdated();

    // Nothing is left to resume.
    ScriptedView later;
    auto next = bench.NewRun(later);
    next->Start();
    EXPECT_FALSE(next->Run().backupFound);
}

// A record beside the executable that differs from the one in the state folder
// is no leftover of a take-over: it stays for the run after this one.
TEST_F(RecordPlacesTest, ADifferentRecordBesideTheExecutableIsLeftAlone) {
    InterruptAnUpdate();
    std::filesystem::copy_file(bench.BackupPath(), Beside());
    std::fstream(Beside(), std::ios::in | std::ios::out | std::ios::binary).put('\x7f');

    ScriptedView view;
    auto run = bench.NewRun(view);
    run->Start();
    EXPECT_EQ(run->Run().record.filePath, bench.BackupPath());
    EXPECT_TRUE(Exists(Beside()));
    ASSERT_TRUE(run->Close());
}

// Across file systems the record is copied whole and flushed before the old one goes.
TEST(RecordFileMove, CopyThenRemoveLeavesTheRecordWholeInItsNewPlace) {
    TempDir from, to;
    std::ofstream(from.File(".backup"), std::ios::binary) << std::string("record\0bytes", 12);
    EXPECT_EQ(CopyThenRemove(from.File(".backup"), to.File(".backup")), std::nullopt);
    EXPECT_FALSE(Exists(from.File(".backup")));
    EXPECT_EQ(ReadFile(to.File(".backup")), std::string("record\0bytes", 12));
    EXPECT_EQ(to.Names(), std::vector<std::string>{".backup"});  // no temporary file left
}

// A FIFO, a link or a folder in the record's place is never moved, opened for
// reading nor waited on; a record already in the new place is never replaced.
TEST(RecordFileMove, OnlyARegularFileIsMovedAndNothingIsReplaced) {
    const struct {
        const char* name;
        void (*make)(const std::string& path);
    } cases[] = {
        {"a FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
        {"a link", [](const std::string& path) { std::filesystem::create_symlink("/etc/hostname", path); }},
        {"a folder", [](const std::string& path) { std::filesystem::create_directory(path); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir from, to;
        c.make(from.File(".backup"));
        const std::optional<SystemFailure> moved = MoveRecordFile(from.File(".backup"), to.File(".backup"));
        ASSERT_NE(moved, std::nullopt);
        EXPECT_EQ(moved->error, EINVAL);
        const std::optional<SystemFailure> copied = CopyThenRemove(from.File(".backup"), to.File(".backup"));
        EXPECT_NE(copied, std::nullopt);
        EXPECT_TRUE(Exists(from.File(".backup")));
        EXPECT_FALSE(Exists(to.File(".backup")));
    }
    TempDir from, to;
    std::ofstream(from.File(".backup")) << "old";
    std::ofstream(to.File(".backup")) << "new";
    const std::optional<SystemFailure> moved = MoveRecordFile(from.File(".backup"), to.File(".backup"));
    ASSERT_NE(moved, std::nullopt);
    EXPECT_EQ(moved->error, EEXIST);
    EXPECT_EQ(ReadFile(to.File(".backup")), "new");
    EXPECT_EQ(ReadFile(from.File(".backup")), "old");
}

// Run through sudo, the updater finds the record of an update its user began,
// resumes it where it is and leaves it that user's: when the power fails again,
// the user's own run and a later sudo run both find it.
TEST_F(RecordPlacesTest, ARunThroughSudoResumesTheInvokingUsersRecordInPlace) {
    TempDir home{BenchFolderBase()};
    StateEnvironment user;
    user.effectiveUid = 1000;
    user.home = home.Path();
    const StateFolders userFolders = StateFoldersFor(user);
    InterruptAnUpdate(userFolders);
    const std::string record = userFolders.own + "/" + kBackupFileName;
    ASSERT_TRUE(Exists(record));
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(record.c_str(), 1000, 1000), 0);
    }

    StateEnvironment sudo;
    sudo.effectiveUid = 0;
    sudo.home = "/root";
    sudo.sudoUid = "1000";
    sudo.sudoUser = "ann";
    sudo.userById = [&home](uid_t uid) -> std::optional<UserEntry> {
        if (uid == 1000) return UserEntry{1000, home.Path()};
        return std::nullopt;
    };
    StateFolders sudoFolders = StateFoldersFor(sudo);
    ASSERT_EQ(sudoFolders.own, kSystemStateFolder);
    ASSERT_EQ(sudoFolders.invokingUser, userFolders.own);
    TempDir rootState{BenchFolderBase()};
    sudoFolders.own = rootState.Path();  // root's own folder, not the machine's

    // The sudo run resumes it, and the power fails again.
    {
        FaultPlan plan;
        plan.unplugAtTransfer = 100;
        monitor.AddFaults(plan);
        ScriptedView view;
        MainWorkflow run(view, failures);
        bench.UseFolders(run.Run());
        run.Run().stateFolders = sudoFolders;
        run.Start();
        EXPECT_TRUE(view.updateEnabled);
        EXPECT_EQ(run.Run().record.filePath, record);
        run.PressUpdate();
        TickWhileWorking(run);
        EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kCommunicationError});
        bench.clock.Advance(60'000);
    }
    ASSERT_TRUE(Exists(record));
    EXPECT_FALSE(Exists(rootState.File(kBackupFileName)));
    if (root) {
        struct stat st {};
        ASSERT_EQ(::stat(record.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 1000u) << "the record rewritten by root is still the user's";
    }

    // The user's own run finds it and finishes the update.
    ScriptedView view;
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    run.Run().stateFolders = userFolders;
    RunToEnd(run, view);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kComplete});
    EXPECT_FALSE(Exists(record));
    ExpectUpdated();
}

// A FIFO in place of the record in the state folder is refused with the
// message for a file that cannot be opened, and a line that says what is
// there; the run never waits on it, and nothing is moved or written.
TEST_F(RecordPlacesTest, AFifoInPlaceOfTheRecordIsRefusedNeverWaitedOn) {
    std::string failedAt;
    ASSERT_EQ(MakeStateFolder(bench.StateFolder(), failedAt), 0);
    ASSERT_EQ(::mkfifo(bench.BackupPath().c_str(), 0600), 0);
    ScriptedView view;
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    RunToEnd(run, view);
    EXPECT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kFileOpenFailed});
    EXPECT_EQ(failures.str(), "quillon: cannot read " + bench.BackupPath() +
                                  " (a FIFO, not a regular file): Invalid argument (status " +
                                  StatusCodeText(kPkgCannotOpen) + ")\n");
    struct stat st {};
    ASSERT_EQ(::lstat(bench.BackupPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kBefore));
}

// A monitor waits in an update and no record is found: the message says where
// records were looked for, on a line of its own under the unchanged text 600.
TEST_F(RecordPlacesTest, AWaitingMonitorWithoutARecordNamesTheFoldersLookedIn) {
    // Begun on another computer.
    bench.PlugWaiting(MonitorKind::OlderTunnel, "SN000002");
    TempDir userState{BenchFolderBase()};

    ScriptedView view;
    MainWorkflow run(view, failures);
    bench.UseFolders(run.Run());
    run.Run().stateFolders = StateFolders{bench.StateFolder(), userState.Path()};
    RunToEnd(run, view);
    ASSERT_EQ(view.MessageIds(), std::vector<TextId>{text_id::kSamePc});
    const UserMessage& message = view.messages.front();
    const std::string beside = bench.Folder().substr(0, bench.Folder().size() - 1);
    EXPECT_EQ(message.recordFolders, (std::vector<std::string>{bench.StateFolder(), userState.Path(), beside}));
    for (const Language language : {Language::English, Language::Japanese}) {
        const std::string text = MessageBoxText(message, language);
        EXPECT_TRUE(text.starts_with(CatalogueText(text_id::kSamePc, language) + "\n\n")) << text;
        EXPECT_NE(text.find(bench.StateFolder() + ", " + userState.Path() + ", " + beside), std::string::npos) << text;
    }
    EXPECT_EQ(MessageBoxText(message, Language::English),
              CatalogueText(text_id::kSamePc, Language::English) + "\n\nNo record of an interrupted update was found in " +
                  bench.StateFolder() + ", " + userState.Path() + ", " + beside + ".");
}

}  // namespace
