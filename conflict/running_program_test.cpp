#include "conflict/running_program.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/clock.h"
#include "common/system_failure.h"
#include "conflict/fake_proc_testing.h"
#include "conflict/process_linux.h"
#include "conflict/quit_request.h"
#include "conflict/system_tools.h"

namespace {

namespace fs = std::filesystem;

// Virtual time, except that a wait between the checks after SIGTERM (or, when
// asked, after the quit request) lasts until the child has really ended, so the
// check after it finds the child gone however slow or loaded the machine is.
// Only for a child that does end there.
class ChildEndClock final : public Clock {
public:
    explicit ChildEndClock(pid_t child, std::uint32_t checkIntervalMs = kTerminateCheckIntervalMs)
        : child_(child), checkIntervalMs_(checkIntervalMs) {}
    void SleepMs(std::uint32_t ms) override {
        clock_.SleepMs(ms);
        siginfo_t info{};
        if (ms == checkIntervalMs_) waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOWAIT);
    }
    std::uint64_t NowMs() override { return clock_.NowMs(); }
    std::vector<std::uint32_t> Waits() { return clock_.Waits(); }

private:
    VirtualClock clock_;
    pid_t child_;
    std::uint32_t checkIntervalMs_;
};

class RecordingTools final : public SystemTools {
public:
    void Start(const std::vector<std::string>& argv) override { started.push_back(argv); }
    bool IsAdministrator() override { return administrator; }
    std::vector<std::vector<std::string>> started;
    bool administrator = true;
};

// Starts stand-ins of the maker's programs from a temporary directory, under
// their names, and ends every one of them afterwards.
class ProgramsTest : public ::testing::Test {
protected:
    ProgramsTest() {
        std::string pattern = (fs::temp_directory_path() / "programs-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        setenv("QUILLON_PIPE_DIR", dir_.c_str(), 1);
    }
    ~ProgramsTest() override {
        for (const pid_t pid : started_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        for (const ProcessInfo& p : SnapshotProcesses())  // restarted ones, not our children
            if (FindModulePath(p.pid, p.exeName).starts_with(dir_)) kill(p.pid, SIGKILL);
        unsetenv("QUILLON_PIPE_DIR");
        fs::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Copies the stand-in under `file`, starts it with argv[0] (default: its
    // path) and waits until it says it is set up (its socket listening, its file
    // mapped): through a pipe, not a timer, so a loaded machine changes nothing.
    pid_t Start(const std::string& file, std::vector<std::string> args = {"sleep"}, std::string argv0 = "") {
        const std::string path = Path(file);
        if (!fs::exists(path)) fs::copy_file(FAKE_PROGRAM_PATH, path);
        int ready[2];
        EXPECT_EQ(pipe2(ready, O_CLOEXEC), 0);
        const int childEnd = fcntl(ready[1], F_DUPFD, 10);  // without close-on-exec: the child inherits it
        close(ready[1]);
        std::vector<std::string> argv = {argv0.empty() ? path : argv0, "--ready-fd", std::to_string(childEnd)};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> raw;
        for (auto& a : argv) raw.push_back(a.data());
        raw.push_back(nullptr);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, raw.data(), environ), 0);
        close(childEnd);
        started_.push_back(pid);
        char byte = 0;
        EXPECT_EQ(read(ready[0], &byte, 1), 1) << file << " ended before it was set up";
        close(ready[0]);
        return pid;
    }

    // How a started program ended: its exit status, or -signal.
    int Ended(pid_t pid) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1000;
        started_.erase(std::remove(started_.begin(), started_.end(), pid), started_.end());
        return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    }

    bool Alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

    // The listed records of the programs this test started.
    std::vector<RunningProgram> OurPrograms() {
        std::vector<RunningProgram> ours;
        for (auto& p : ListRunningPrograms())
            if (std::count(started_.begin(), started_.end(), static_cast<pid_t>(p.processId))) ours.push_back(p);
        return ours;
    }

    std::string dir_;
    std::vector<pid_t> started_;
};

TEST_F(ProgramsTest, ListingOrdersByCloseOrderAndKnowsOnlyExactNames) {
    const pid_t core = Start("tt6_hubcore.exe");
    const pid_t pro = Start("otpro.exe");
    Start("OTPRO.exe");          // differs only in case: not a known program
    Start("Tintorra 6");         // without ".exe"
    const pid_t spaced = Start("Tintorra Aurel.exe");
    const auto list = OurPrograms();
    ASSERT_EQ(list.size(), 3u);
    // Close order 0 before 100; equal orders in process order.
    EXPECT_EQ(list[0].processId, static_cast<std::uint32_t>(pro));
    EXPECT_EQ(list[1].processId, static_cast<std::uint32_t>(spaced));
    EXPECT_EQ(list[2].processId, static_cast<std::uint32_t>(core));
    EXPECT_EQ(list[0].program.displayName, "Omnitint Pro");
    EXPECT_FALSE(list[0].program.hiddenFromList);
    EXPECT_TRUE(list[2].program.hiddenFromList);
    EXPECT_EQ(list[1].exePath, Path("Tintorra Aurel.exe"));
    EXPECT_FALSE(list[1].underWine);
}

TEST_F(ProgramsTest, AWindowsProgramUnderWineIsKnownByItsArgv0) {
    // Wine's loader runs the program; argv[0] holds the Windows path, and the .exe is mapped.
    std::ofstream(Path("Scanvell5.exe")) << "MZ not really a Windows program";
    const pid_t pid = Start("wine64-preloader", {"--map", Path("Scanvell5.exe"), "sleep"},
                            R"(C:\Program Files\Scanvell\Scanvell5.exe)");
    const std::vector<RunningProgram> list = OurPrograms();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].processId, static_cast<std::uint32_t>(pid));
    EXPECT_EQ(list[0].program.exeName, "Scanvell5.exe");
    EXPECT_TRUE(list[0].underWine);
    EXPECT_EQ(list[0].exePath, Path("Scanvell5.exe"));
}

TEST_F(ProgramsTest, AProgramThatQuitsOnRequestIsNotTerminated) {
    const pid_t pid = Start("Tintorra 7.exe", {"listen", Path("Tintorra 7"), Path("received")});
    const auto list = OurPrograms();
    ASSERT_EQ(list.size(), 1u);
    ChildEndClock clock(pid, kQuitCheckIntervalMs);
    ScopedClock installed(clock);
    list[0].CloseProgram();
    EXPECT_EQ(Ended(pid), 0);  // exited by itself, not killed
    std::ifstream in(Path("received"), std::ios::binary);
    const std::string received{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(received, QuitRequestMessage());
    const std::vector<std::uint32_t> waits = clock.Waits();
    EXPECT_FALSE(waits.empty());
    EXPECT_LE(waits.size(), 5u);
    for (const auto w : waits) EXPECT_EQ(w, 1000u);
}

TEST_F(ProgramsTest, AProgramThatIgnoresTheRequestIsTerminatedAfterFiveChecks) {
    const pid_t pid = Start("Scanvell5.exe", {"ignore", Path("Scanvell")});
    const auto list = OurPrograms();
    ASSERT_EQ(list.size(), 1u);
    ChildEndClock clock(pid);
    ScopedClock installed(clock);
    EXPECT_TRUE(list[0].RequestQuit());  // still running
    EXPECT_EQ(clock.Waits(), std::vector<std::uint32_t>(5, 1000));
    EXPECT_TRUE(list[0].CloseProgram());
    EXPECT_EQ(Ended(pid), -SIGTERM);
}

TEST_F(ProgramsTest, ClosingOneOfTwoInstancesEndsOnlyThatOne) {
    const pid_t first = Start("Tintorra 6.exe");
    const pid_t second = Start("Tintorra 6.exe");
    const auto list = OurPrograms();
    ASSERT_EQ(list.size(), 2u);
    ASSERT_EQ(list[0].processId, static_cast<std::uint32_t>(first));
    ChildEndClock clock(first);
    ScopedClock installed(clock);
    EXPECT_TRUE(list[0].CloseProgram());  // no pipe, no service: terminated at once
    EXPECT_EQ(Ended(first), -SIGTERM);
    // Only the closed instance was waited for, though the other runs on.
    EXPECT_EQ(clock.Waits(), std::vector<std::uint32_t>{kTerminateCheckIntervalMs});
    EXPECT_TRUE(Alive(second));
    EXPECT_TRUE(list[1].IsRunning());
}

TEST_F(ProgramsTest, ARecordWhoseProcessEndedSignalsNobody) {
    // The listed instance ends; another instance runs on, so the program is
    // still "running", but the record must not touch the other process.
    const pid_t listed = Start("Pnlctrl.exe");
    const auto list = OurPrograms();
    ASSERT_EQ(list.size(), 1u);
    kill(listed, SIGKILL);
    Ended(listed);
    const pid_t other = Start("Pnlctrl.exe");
    VirtualClock clock;
    ScopedClock installed(clock);
    EXPECT_TRUE(list[0].CloseProgram());  // nothing left to close
    EXPECT_TRUE(Alive(other));

    // Without a process handle, a process ID now used by an unrelated program is left alone.
    const pid_t unrelated = Start("unrelated-program");
    const RunningProgram stale(list[0].program, static_cast<std::uint32_t>(unrelated), "");
    EXPECT_TRUE(stale.CloseProgram());
    EXPECT_TRUE(Alive(unrelated));
    EXPECT_TRUE(Alive(other));
    EXPECT_TRUE(clock.Waits().empty());  // nobody was asked to end
}

// A program without a pipe is asked to end (SIGTERM) so that it can save its
// work, and forced (SIGKILL) only when it is still there five seconds later.
TEST_F(ProgramsTest, TerminationAsksFirstAndForcesOnlyAProgramThatStaysOn) {
    const struct {
        const char* what;
        std::vector<std::string> options;
        int endedBy;
        std::vector<std::uint32_t> waits;
    } cases[] = {
        {"ends on SIGTERM", {}, -SIGTERM, {kTerminateCheckIntervalMs}},
        {"ignores SIGTERM", {"--ignore-term"}, -SIGKILL, std::vector<std::uint32_t>(kTerminateChecks, kTerminateCheckIntervalMs)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"ignore", Path("ready")});  // set up once SIGTERM is handled and the socket listens
        const pid_t pid = Start("Tintorra 6.exe", args);
        const auto list = OurPrograms();
        ASSERT_EQ(list.size(), 1u);
        ChildEndClock endClock(pid);
        VirtualClock virtualClock;  // a child that stays must not be waited for really
        Clock& clock = c.endedBy == -SIGTERM ? static_cast<Clock&>(endClock) : virtualClock;
        {
            ScopedClock installed(clock);
            EXPECT_TRUE(list[0].CloseProgram());
        }
        EXPECT_EQ(Ended(pid), c.endedBy);
        EXPECT_EQ(c.endedBy == -SIGTERM ? endClock.Waits() : virtualClock.Waits(), c.waits);
        std::filesystem::remove(Path("ready"));
    }
}

// Signals that stand in for another user's program, which refuses them (EPERM).
class RefusingTools final : public SystemTools {
public:
    void Start(const std::vector<std::string>& argv) override { started.push_back(argv); }
    bool IsAdministrator() override { return false; }
    int SendSignal(int, pid_t, int signal) override {
        signals.push_back(signal);
        return EPERM;
    }
    std::vector<std::vector<std::string>> started;
    std::vector<int> signals;
};

TEST_F(ProgramsTest, AProgramThatRefusesTheSignalIsNotClosedAndNotesWhy) {
    conflict_testing::FakeProc proc;  // a service under root, as a normal user sees it
    const pid_t pid = conflict_testing::kFirstFakePid;
    proc.Add(pid, "", {"/usr/lib/scanvell/Scanvell5Service.exe"});
    const auto list = ListRunningPrograms();
    ASSERT_EQ(list.size(), 1u);
    RefusingTools tools;
    ScopedSystemTools installedTools(tools);
    VirtualClock clock;
    ScopedClock installed(clock);
    EXPECT_FALSE(list[0].CloseProgram());
    EXPECT_EQ(tools.signals, std::vector<int>{SIGTERM});  // not forced: it would be refused as well
    EXPECT_TRUE(clock.Waits().empty());
    EXPECT_EQ(TakeSystemFailure(), (SystemFailure{"kill " + std::to_string(pid), EPERM}));
    EXPECT_TRUE(list[0].IsRunning());
}

TEST_F(ProgramsTest, ServicesAreStoppedAndStartedThroughTheServiceManager) {
    const pid_t pid = Start("ScanvellService.exe");
    const auto list = OurPrograms();
    ASSERT_EQ(list.size(), 1u);
    RecordingTools tools;
    ScopedSystemTools installedTools(tools);
    ChildEndClock clock(pid);
    ScopedClock installed(clock);

    EXPECT_TRUE(list[0].CloseProgram());  // the stand-in ignores the stop, so it is terminated after six checks
    EXPECT_EQ(Ended(pid), -SIGTERM);
    ASSERT_EQ(tools.started.size(), 1u);
    EXPECT_EQ(tools.started[0], (std::vector<std::string>{"systemctl", "stop", "ScanvellService"}));
    std::vector<std::uint32_t> waits(6, 5000);
    waits.push_back(kTerminateCheckIntervalMs);
    EXPECT_EQ(clock.Waits(), waits);

    list[0].RestartProgram();
    ASSERT_EQ(tools.started.size(), 2u);
    EXPECT_EQ(tools.started[1], (std::vector<std::string>{"systemctl", "start", "ScanvellService"}));
}

TEST_F(ProgramsTest, WithoutAdministratorRightsAServiceIsTerminatedDirectly) {
    const pid_t pid = Start("Scanvell5Service.exe");
    const auto list = OurPrograms();
    ASSERT_EQ(list.size(), 1u);
    RecordingTools tools;
    tools.administrator = false;
    ScopedSystemTools installedTools(tools);
    ChildEndClock clock(pid);
    ScopedClock installed(clock);
    EXPECT_TRUE(list[0].CloseProgram());
    EXPECT_EQ(Ended(pid), -SIGTERM);
    EXPECT_TRUE(tools.started.empty());
    // No service stop was waited for: only the one check that it ended on SIGTERM.
    EXPECT_EQ(clock.Waits(), std::vector<std::uint32_t>{kTerminateCheckIntervalMs});
}

TEST_F(ProgramsTest, RestartRules) {
    RecordingTools tools;
    ScopedSystemTools installed(tools);
    const auto& table = GetKnownPrograms();
    RunningProgram(table.at("TTNetAgent.exe"), 1, "/opt/t/TTNetAgent.exe").RestartProgram();
    RunningProgram(table.at("Glowkeeper.exe"), 1, "/home/u/.wine/drive_c/G/Glowkeeper.exe", true).RestartProgram();
    RunningProgram(table.at("TTNetAgent.exe"), 1, "").RestartProgram();    // path unknown: nothing
    RunningProgram(table.at("otpro.exe"), 1, "/opt/o/otpro.exe").RestartProgram();  // not restarted
    ASSERT_EQ(tools.started.size(), 2u);
    EXPECT_EQ(tools.started[0], std::vector<std::string>{"/opt/t/TTNetAgent.exe"});
    EXPECT_EQ(tools.started[1], (std::vector<std::string>{"wine", "/home/u/.wine/drive_c/G/Glowkeeper.exe"}));
}

TEST_F(ProgramsTest, RestartFromTheExecutablePathRunsTheProgramAgain) {
    const pid_t pid = Start("TTNetAgent.exe");
    const auto list = OurPrograms();
    ASSERT_EQ(list.size(), 1u);
    {
        ChildEndClock clock(pid);
        ScopedClock installed(clock);
        EXPECT_TRUE(list[0].CloseProgram());
    }
    EXPECT_EQ(Ended(pid), -SIGTERM);
    EXPECT_FALSE(list[0].IsRunning());
    list[0].RestartProgram();  // the real tools: a new process from exePath
    // posix_spawn returns once the new program has been executed, so it is listed at once.
    EXPECT_TRUE(list[0].IsRunning());
}

// A signal set of /proc/PID/status ("SigBlk", "SigIgn"): bit n-1 for signal n.
std::uint64_t ProcSignalSet(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field + ":")) return std::stoull(line.substr(field.size() + 1), nullptr, 16);
    ADD_FAILURE() << "no " << field << " for process " << pid;
    return ~0ull;
}

// The signals a program is sent: the standard ones and the real-time ones from
// SIGRTMIN. The two between belong to the C library, whose posix_spawn leaves
// them ignored in every child; it sets its own handlers when it needs them.
std::uint64_t ProgramSignals() {
    std::uint64_t set = 0;
    for (int signal = 1; signal <= 64; ++signal)
        if (signal < 32 || signal >= SIGRTMIN) set |= 1ull << (signal - 1);
    return set;
}

// The updater blocks the stop signals and ignores SIGPIPE; a program it starts
// again must not inherit that, or it would outlive logout and SIGTERM.
TEST_F(ProgramsTest, ARestartedProgramBlocksAndIgnoresNoSignal) {
    fs::copy_file(FAKE_PROGRAM_PATH, Path("TTNetAgent.exe"));
    const RunningProgram program(GetKnownPrograms().at("TTNetAgent.exe"), 1, Path("TTNetAgent.exe"));
    sigset_t updaters;
    sigemptyset(&updaters);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU}) sigaddset(&updaters, signal);
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &updaters, &before), 0);
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    program.RestartProgram();
    sigaction(SIGPIPE, &previous, nullptr);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);

    std::vector<pid_t> restarted;
    for (const ProcessInfo& p : SnapshotProcesses())
        if (FindModulePath(p.pid, p.exeName) == Path("TTNetAgent.exe")) restarted.push_back(p.pid);
    ASSERT_EQ(restarted.size(), 1u);
    EXPECT_EQ(ProcSignalSet(restarted[0], "SigBlk"), 0u);
    EXPECT_EQ(ProcSignalSet(restarted[0], "SigIgn") & ProgramSignals(), 0u)
        << std::hex << ProcSignalSet(restarted[0], "SigIgn");
}

// A program that cannot be started again leaves the call and its path.
TEST_F(ProgramsTest, AStartThatFailsIsNoted) {
    ActiveSystemTools().Start({Path("missing")});
    EXPECT_EQ(TakeSystemFailure(), (SystemFailure{"posix_spawn " + Path("missing"), ENOENT}));
}

}  // namespace
